#!/usr/bin/env python3
"""An independent reader and writer of host-directory files, written from
the description of the host-entry record, the file layout and the option
codec, for checking the program's own reader and writer.

The scrambler of password values and the filler of password fields are
taken as data (the key template and the 55 filler characters).

Commands (or "batch" with one command a line on standard input):
  generate SEED CAPACITY PATH TIME OUT VALUES
      makes a random directory with hostile values, writes it as the
      program would (OUT) and its canonical dump (VALUES). PATH is the
      header's path text, TIME the "# LAST WRITTEN" stamp (UTC seconds).
  dump FILE OUT
      reads FILE and writes its canonical dump (after the conversions a
      load makes).
  write VALUES CAPACITY PATH TIME OUT
      writes the directory of a dump.
"""

import base64
import random
import sys
import time

# ---------------------------------------------------------------------------
# Data taken from the program: the scrambler's key template (without a
# password) and the password filler.

SHUFFLE_TEMPLATE = "Vm%02d;x8K-%02dpT3$fJ%02dg~"
FILLER = "q7Lz#Vd2!Rk9$Tp4%Xm6&Hb1*Wn8+Jc3=Fs5?Gy0@Ua-Oe~Ni^Bl;Pr"
assert len(FILLER) == 55

ESC = 27
# The default section names of the program settings ("BookSections").
BOOK_SECTIONS = [b"Hosts", b"Work", b"Private", b"Bulletin boards", b"Internet", b"Other"]

# ---------------------------------------------------------------------------
# The written rows of the host-entry key table: key, type, size.
FLAG, INT, STR, WSTR, SECRET = 1, 2, 3, 4, 8
ROWS = [
    ("section", INT, 4), ("folder", INT, 4), ("handle", INT, 4), ("name", WSTR, 260),
    ("number", STR, 65), ("deviceid", INT, 4), ("emu", INT, 4), ("deviceopts", STR, 128),
    ("emulationopts", STR, 128), ("first", FLAG, 4), ("dosimpledial", FLAG, 4), ("dialtype", INT, 4),
    ("qaccess", FLAG, 4), ("icon", INT, 4), ("username", STR, 33), ("password", SECRET, 96),
    ("authfile", STR, 128), ("authglobal", FLAG, 4), ("script", STR, 129), ("scriptparm", STR, 97),
    ("waitsend", STR, 401), ("learn", FLAG, 4), ("optfile", STR, 97), ("logname", STR, 129),
    ("dlpath", STR, 129), ("ulpath", STR, 128), ("keyboard", STR, 49), ("translate", STR, 49),
    ("charset", INT, 4), ("protocol", INT, 4), ("donewwinpos", FLAG, 4), ("newwinpos", STR, 32),
    ("ctrlfkey", INT, 4), ("newwindow", INT, 4), ("donewwinkeys", FLAG, 4), ("memo", WSTR, 512),
    ("calldue", INT, 4), ("iemsibits", FLAG, 4), ("iemsiwanted", FLAG, 4),
]
assert len(ROWS) == 39
ROW = {k: (t, s) for k, t, s in ROWS}
ALIASES = {"book": "section"}
RETIRED = {"calls", "lastcall", "multimaster", "totaltime", "zone", "monthmoney", "totalmoney", "uniqueid"}

# ---------------------------------------------------------------------------
# Scrambler


def swap_bits(b, pos):
    if pos % 2 == 0:
        return ((b & 0x55) << 1) | ((b & 0xAA) >> 1)
    return ((b & 0x33) << 2) | ((b & 0xCC) >> 2)


def shuffle_key(n):
    last = n % 100
    return SHUFFLE_TEMPLATE % (last, 99 - last, last)


def shuffle(data):
    key = shuffle_key(len(data))
    out = bytes(swap_bits(b, i) ^ ord(key[i % len(key)]) ^ ((i % 16) * 4) for i, b in enumerate(data))
    return base64.b64encode(out).decode("ascii")


def unshuffle(text):
    alphabet = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=")
    clean = bytes(c for c in text if c in alphabet)
    if b"=" in clean:
        clean = clean[: clean.index(b"=")]
    clean = clean[: len(clean) - len(clean) % 4] if len(clean) % 4 == 1 else clean
    pad = (-len(clean)) % 4
    data = base64.b64decode(clean + b"=" * pad) if clean else b""
    key = shuffle_key(len(data))
    return bytes(swap_bits(b ^ ord(key[i % len(key)]) ^ ((i % 16) * 4), i) for i, b in enumerate(data))


# ---------------------------------------------------------------------------
# Values


def leading_number(text):
    i = 0
    neg = False
    if i < len(text) and text[i] in b"+-":
        neg = text[i] == ord("-")
        i += 1
    v = 0
    while i < len(text) and 48 <= text[i] <= 57:
        v = min(v * 10 + text[i] - 48, 2**63 - 1)
        i += 1
    return -v if neg else v


def flag_value(text):
    low = text.lower()
    if low == b"yes":
        return 1
    if low == b"no":
        return 0
    if low == b"maybe":
        return 2
    return leading_number(text)


def int32(v):
    return max(-(2**31), min(2**31 - 1, v))


def escape(text):
    if not any(c in text for c in (13, 10, ESC)):
        return text
    out = bytearray()
    for c in text:
        if c == 13:
            out += bytes([ESC]) + b"r"
        elif c == 10:
            out += bytes([ESC]) + b"n"
        elif c == ESC:
            out += bytes([ESC, ESC])
        else:
            out.append(c)
    return bytes(out)


def unescape(text):
    if ESC not in text:
        return text
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != ESC:
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(text):
            break
        n = text[i + 1]
        i += 2
        if n == ord("n"):
            out.append(10)
        elif n == ord("r"):
            out.append(13)
        elif n == ESC:
            out.append(ESC)
        else:
            out += bytes([ESC, n])
    return bytes(out)


def dequote_narrow(text, version):
    v = version.lower()
    if v == "0.00":
        old, esc = True, True
    elif v < "6.21":
        old, esc = True, False
    elif v <= "6.22":
        old, esc = True, True
    else:
        old, esc = False, True
    if old:
        text = text.replace(b"\xfb", b"\n").replace(b"\xfe", b"\r")
    if esc:
        text = unescape(text)
    return text


def fits_one_byte(ch):
    c = ord(ch)
    return c < 256 and not 0x80 <= c <= 0x9F


def format_value(key, typ, size, value):
    k = key.encode()
    if typ == FLAG:
        if value == 1:
            return k + b"=yes"
        if value == 0:
            return k + b"=no"
        return k + b"=%d" % value
    if typ == INT:
        return k + b"=%d" % value
    if typ == STR:
        return k + b'="' + escape(value) + b'"'
    if typ == WSTR:
        if all(fits_one_byte(c) for c in value):
            return k + b'="' + escape(bytes(ord(c) for c in value)) + b'"'
        return k + b'=utf8:"' + escape(value.encode("utf-8", "surrogatepass")) + b'"'
    if typ == SECRET:
        return k + b"=y'" + shuffle(value).encode("ascii") + b"'"
    raise ValueError(typ)


def parse_value(typ, size, raw, version):
    """The value a line gives a field, or None when the field stays."""
    if typ == FLAG:
        return int32(flag_value(raw))
    if typ == INT:
        if not raw or not 48 <= raw[0] <= 57:
            return int32(flag_value(raw))
        return int32(leading_number(raw))
    if typ == STR:
        if len(raw) >= 2 and raw[:1] == b'"' and raw[-1:] == b'"':
            raw = raw[1:-1]
        return dequote_narrow(raw, version)[: size - 1].split(b"\0")[0]
    if typ == WSTR:
        if len(raw) >= 7 and raw.startswith(b'utf8:"') and raw.endswith(b'"'):
            text = unescape(raw[6:-1]).decode("utf-8", "replace")
        elif len(raw) >= 2 and raw[:1] == b'"' and raw[-1:] == b'"':
            text = dequote_narrow(raw[1:-1], version).decode("cp1252", "replace")
        else:
            text = ""
        return text.split("\0")[0][: size // 4 - 1]
    if typ == SECRET:
        if raw.startswith(b"y'"):
            data = unshuffle(raw[2:-1])[: size - 1]
        elif raw.startswith(b'"'):
            if len(raw) >= 2 and raw[-1:] == b'"':
                raw = raw[1:-1]
            data = dequote_narrow(raw, version)[: size - 1]
        else:
            return None
        data = (data + b"\0" * size)[:size]
        return data.split(b"\0")[0]
    raise ValueError(typ)


# ---------------------------------------------------------------------------
# Records


def new_record():
    rec = {}
    for key, typ, size in ROWS:
        rec[key] = "" if typ == WSTR else b"" if typ in (STR, SECRET) else 0
    return rec


def fold(name):
    return "".join(c.lower() for c in name if c != "~")


def sort_key(rec):
    if rec["name"] == "":
        return (1, -rec["first"], "", "", rec["handle"])
    return (2, -rec["first"], fold(rec["name"]), rec["name"], rec["handle"])


def upgrade(rec, default_text="<Default>"):
    rec["name"] = rec["name"].replace("~", "&")
    if rec["optfile"] == b"" or rec["optfile"].lower() == default_text.encode().lower():
        rec["optfile"] = b"Standard.qor"
    if rec["keyboard"] == b"":
        rec["keyboard"] = b"Standard.qky"
    if rec["translate"] == b"":
        rec["translate"] = b"Standard.qtr"
    if rec["emu"] in (7, 16):
        rec["emu"] = 0
    if rec["deviceid"] == 0:
        rec["deviceid"] = -1
    if rec["waitsend"]:
        text = rec["waitsend"].replace(b"\r", b"").replace(b"|", b"\n")
        parts = text.split(b"\n")
        out = b""
        for i, item in enumerate(parts):
            broken = i < len(parts) - 1
            if item[:2].lower() == b"w=":
                item = b"Wait=" + item[2:]
            elif item[:2].lower() == b"s=":
                item = b"Send=" + item[2:]
            if item:
                out += item + (b"\r\n" if broken else b"")
        if len(out) < 401:
            rec["waitsend"] = out


def reorg_folders(folders):
    """Depth, section and path of each folder from its parent; sorted."""
    index = {}
    for i, f in enumerate(folders):
        index.setdefault(f["handle"], i)
    for f in folders:
        f["depth"] = 0 if f["parent"] == 0 else -1
        f["path"] = b""
    for _ in range(len(folders) + 1):
        open_, progress = False, False
        for i, f in enumerate(folders):
            if f["depth"] != -1:
                continue
            p = index.get(f["parent"], -1)
            if p < 0 or p == i or folders[p]["depth"] < 0:
                open_ = True
                continue
            par = folders[p]
            f["depth"] = par["depth"] + 1
            f["section"] = par["section"]
            f["path"] = (par["path"] + par["name"] + b">")[:510]
            progress = True
        if not open_:
            break
        if not progress:
            for f in folders:
                if f["depth"] == -1:
                    f["parent"], f["depth"], f["path"] = 0, 0, b""
    folders.sort(key=lambda f: (b"%03d." % f["section"]) + f["path"] + f["name"])
    return folders


# ---------------------------------------------------------------------------
# Writing


def protected(value):
    """A structure value the reader gives back as it is: between quotes
    when it has blanks at its ends or quotes around it."""
    blank = value[:1] in (b" ", b"\t") or value[-1:] in (b" ", b"\t")
    quoted = len(value) >= 2 and value[:1] == b'"' and value[-1:] == b'"'
    return b'"' + value + b'"' if blank or quoted else value


def write_directory(d, capacity, path, stamp):
    out = bytearray()
    t = time.gmtime(stamp)
    out += b"QOR6.44 // HOST DIRECTORY " + path.encode() + b"\n\n"
    out += time.strftime("# LAST WRITTEN %Y-%m-%d %H:%M:%S\n", t).encode()
    out += b"\n[STRUCTURE]\n\n"
    out += b"Flags=%d\n\n" % d["flags"]
    out += b"NumSections=%d\n" % len(d["sections"])
    out += b"\n// Section#<number>=<name>\n"
    for i, name in enumerate(d["sections"]):
        out += b"Section#%d=" % i + protected(name) + b"\n"
    out += b"\n// Folder#<handle>=<section>.<parenthandle>|<name>\n"
    for f in d["folders"]:
        out += b"Folder#%d=" % f["handle"] + protected(b"%d.%d|" % (f["section"], f["parent"]) + f["name"]) + b"\n"
    out += b"\n[/STRUCTURE]\n\n\n[DATA]\n"
    entries = sorted(d["entries"], key=sort_key)
    first_slot = capacity - 1 - len(entries)
    for k, rec in enumerate(entries):
        slot = first_slot + k
        out += b"\n[HOST]\n"
        for key, typ, size in ROWS:
            value = rec[key]
            if typ == SECRET:
                field = bytearray((value + b"\0" * size)[:size])
                n = len(value)
                c = slot % 55
                for i in range(n + 1, size - 2):
                    field[i] = ord(FILLER[c])
                    c = (c + 1) % 55
                value = bytes(field)
            out += format_value(key, typ, size, value) + b"\n"
        out += b"[/HOST]\n\n"
    out += b"[/DATA]\n\n"
    return bytes(out)


# ---------------------------------------------------------------------------
# Reading


def read_lines(data):
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [line[:1024].rstrip(b"\r\n") for line in lines]


def read_directory(data, book_sections):
    lines = read_lines(data)
    d = {"flags": 0, "sections": [], "folders": [], "entries": []}
    if not lines or not lines[0].startswith(b"QOR"):
        raise ValueError("no header")
    head = lines[0][3:].lstrip(b" ")
    version = head.split(b" ")[0].decode("latin-1") if head else ""
    pos = 2
    sections = [b""] * 64
    for i, s in enumerate(book_sections):
        sections[i] = s
    numsections = 0
    structure = False
    while pos < len(lines):
        line = lines[pos].strip(b" \t")
        pos += 1
        if not line or line.startswith(b"#") or line.startswith(b"//"):
            continue
        if line.lower() in (b"[data]", b"[host]", b"[entry]"):
            break
        if line.lower() in (b"[structure]", b"<sections>"):
            structure = True
            continue
        if not structure:
            continue
        if line.lower() in (b"[/structure]", b"</sections>"):
            break
        if b"=" not in line:
            continue
        key, value = line.split(b"=", 1)
        if len(value) >= 2 and value[:1] == b'"' and value[-1:] == b'"':
            value = value[1:-1]
        name, _, number = key.partition(b"#")
        number = leading_number(number) if number else 0
        name = name.lower()
        if name == b"flags":
            d["flags"] = leading_number(value) & 0xFFFFFFFF
        elif name == b"numsections":
            numsections = max(0, min(64, leading_number(value)))
        elif name == b"section":
            if 0 <= number < 64:
                sections[number] = value[:31]
        elif name == b"folder":
            if len(d["folders"]) < 1024 and 0 < number < 2**31 and number != 1023 and all(
                f["handle"] != number for f in d["folders"]
            ):
                left, bar, right = value.partition(b"|")
                sec, _, par = left.partition(b".")
                d["folders"].append({"handle": number, "section": int32(leading_number(sec)),
                                     "parent": int32(leading_number(par)),
                                     "name": (right if bar else b"Folder")[:31]})
    highest = -1
    while True:
        rec = new_record()
        done = False
        while pos < len(lines):
            line = lines[pos]
            pos += 1
            if line == b"[/DATA]":
                pos = len(lines)
                break
            if line in (b"[/HOST]", b"[ENDENTRY]"):
                done = True
                break
            if not line or line[:1] in (b"#", b"[") or line.startswith(b"//") or b"=" not in line:
                continue
            key, raw = line.split(b"=", 1)
            key = key.strip(b" \t").decode("latin-1").lower()
            key = ALIASES.get(key, key)
            if key in RETIRED or key not in ROW:
                continue
            typ, size = ROW[key]
            value = parse_value(typ, size, raw.strip(b" \t"), version)
            if value is not None:
                rec[key] = value
        if not done:
            break
        d["entries"].append(rec)
        highest = max(highest, rec["section"])
    if numsections == 0:
        numsections = max(0, min(64, highest + 1))
    d["sections"] = [sections[i] or (b"Section %d" % (i + 1)) for i in range(numsections)]
    for rec in d["entries"]:
        upgrade(rec)
    reorg_folders(d["folders"])
    byhandle = {f["handle"]: f for f in d["folders"]}
    for rec in d["entries"]:
        if rec["folder"]:
            f = byhandle.get(rec["folder"])
            if f:
                rec["section"] = f["section"]
            else:
                rec["folder"] = 0
    return d


# ---------------------------------------------------------------------------
# The canonical dump (the C++ test writes the same from the loaded table)


def dump(d):
    lines = ["dir.flags %u" % d["flags"], "dir.sections %d" % len(d["sections"])]
    for i, name in enumerate(d["sections"]):
        lines.append("dir.section %d %s" % (i, name.hex()))
    for f in d["folders"]:
        lines.append("dir.folder %d %d %d %d %s" % (f["handle"], f["section"], f["parent"], f["depth"], f["name"].hex()))
    for rec in sorted(d["entries"], key=sort_key):
        lines.append("entry")
        for key, typ, size in ROWS:
            v = rec[key]
            if typ == WSTR:
                lines.append("%s %s" % (key, " ".join("%x" % ord(c) for c in v)))
            elif typ in (STR, SECRET):
                lines.append("%s %s" % (key, v.hex()))
            else:
                lines.append("%s %d" % (key, v))
    return "\n".join(lines) + "\n"


def undump(text):
    d = {"flags": 0, "sections": [], "folders": [], "entries": []}
    rec = None
    for line in text.splitlines():
        parts = line.split(" ")
        if parts[0] == "dir.flags":
            d["flags"] = int(parts[1])
        elif parts[0] == "dir.section":
            d["sections"].append(bytes.fromhex(parts[2] if len(parts) > 2 else ""))
        elif parts[0] == "dir.folder":
            d["folders"].append({"handle": int(parts[1]), "section": int(parts[2]), "parent": int(parts[3]),
                                 "depth": int(parts[4]), "name": bytes.fromhex(parts[5] if len(parts) > 5 else "")})
        elif parts[0] == "entry":
            rec = new_record()
            d["entries"].append(rec)
        elif rec is not None and parts[0] in ROW:
            typ, size = ROW[parts[0]]
            rest = parts[1:]
            if typ == WSTR:
                rec[parts[0]] = "".join(chr(int(x, 16)) for x in rest if x)
            elif typ in (STR, SECRET):
                rec[parts[0]] = bytes.fromhex(rest[0] if rest else "")
            else:
                rec[parts[0]] = int(rest[0])
    return d


# ---------------------------------------------------------------------------
# Random directories with hostile values

WIDE_POOL = (
    [chr(c) for c in range(0x20, 0x7F)] + [chr(c) for c in range(0xA0, 0x100)] + ["\x1b", "\r", "\n", '"', "~"]
    + [chr(c) for c in range(0x391, 0x3AA)] + [chr(c) for c in range(0x3B1, 0x3CA)]
    + [chr(c) for c in range(0x410, 0x450)] + [chr(c) for c in range(0x4E00, 0x4E20)]
    + [chr(c) for c in range(0x1F600, 0x1F610)] + ["\u20ac", "\u2018", "\u2019"]
)
NARROW_POOL = list(range(1, 256))


def random_narrow(rnd, size, hostile=True):
    n = rnd.choice([0, 1, size - 1, rnd.randint(0, size - 1)])
    if hostile:
        return bytes(rnd.choice(NARROW_POOL) for _ in range(n))
    return bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz0123456789._-") for _ in range(n))


def random_wide(rnd, chars):
    n = rnd.choice([0, 1, chars - 1, rnd.randint(0, chars - 1)])
    latin = rnd.random() < 0.4
    pool = [c for c in WIDE_POOL if ord(c) < 256] if latin else WIDE_POOL
    return "".join(rnd.choice(pool) for _ in range(n))


def random_int(rnd):
    return rnd.choice([0, 1, -1, 2, 255, 300, 2**31 - 1, -(2**31), rnd.randint(-(2**31), 2**31 - 1)])


def plain_text(rnd, n):
    """A name of the structure part: any bytes but line ends and NUL,
    blanks and quotes at the ends included."""
    return bytes(rnd.choice(b"ABCdef 0123 xyz\"'|=#[]\t\xe4\xfc") for _ in range(n))


def generate(seed, capacity):
    rnd = random.Random(seed)
    d = {"flags": rnd.randint(0, 2**32 - 1), "sections": [], "folders": [], "entries": []}
    nsec = rnd.randint(1, 64)
    for i in range(nsec):
        name = plain_text(rnd, rnd.randint(0, 31))
        d["sections"].append(name[:31] or b"Section %d" % (i + 1))
    handles = set()

    def fresh():
        while True:
            h = rnd.randint(1, 2**31 - 1) if rnd.random() < 0.5 else rnd.randint(1, 20000)
            if h != 1023 and h not in handles:
                handles.add(h)
                return h

    for _ in range(rnd.randint(0, 12)):
        parent = rnd.choice([0] + [f["handle"] for f in d["folders"]])
        name = plain_text(rnd, rnd.randint(0, 31))
        d["folders"].append({"handle": fresh(), "section": rnd.randrange(nsec), "parent": parent, "name": name})
    reorg_folders(d["folders"])
    count = rnd.randint(0, min(40, capacity - 1))
    for _ in range(count):
        rec = new_record()
        for key, typ, size in ROWS:
            if typ == FLAG:
                rec[key] = rnd.choice([0, 1, 2, random_int(rnd)])
            elif typ == INT:
                rec[key] = random_int(rnd)
            elif typ == STR:
                rec[key] = random_narrow(rnd, size)
            elif typ == WSTR:
                rec[key] = random_wide(rnd, size // 4)
            elif typ == SECRET:
                n = rnd.choice([0, 1, 95, rnd.randint(0, 95)])
                rec[key] = bytes(rnd.randint(1, 255) for _ in range(n))
        rec["handle"] = fresh()
        if d["folders"] and rnd.random() < 0.5:
            f = rnd.choice(d["folders"])
            rec["folder"], rec["section"] = f["handle"], f["section"]
        else:
            rec["folder"] = 0
            rec["section"] = rnd.randrange(nsec)
        upgrade(rec)
        d["entries"].append(rec)
    return d


def main(argv):
    cmd = argv[1]
    if cmd == "batch":
        # One command per line of standard input (blank-separated
        # arguments): starting Python once for many files.
        for line in sys.stdin.read().splitlines():
            if line.strip():
                rc = main([argv[0]] + line.split(" "))
                if rc:
                    return rc
        return 0
    if cmd == "generate":
        seed, capacity, path, stamp, out, values = int(argv[2]), int(argv[3]), argv[4], int(argv[5]), argv[6], argv[7]
        d = generate(seed, capacity)
        with open(out, "wb") as f:
            f.write(write_directory(d, capacity, path, stamp))
        with open(values, "w") as f:
            f.write(dump(d))
        return 0
    if cmd == "dump":
        with open(argv[2], "rb") as f:
            d = read_directory(f.read(), BOOK_SECTIONS)
        with open(argv[3], "w") as f:
            f.write(dump(d))
        return 0
    if cmd == "write":
        with open(argv[2]) as f:
            d = undump(f.read())
        with open(argv[6], "wb") as f:
            f.write(write_directory(d, int(argv[3]), argv[4], int(argv[5])))
        return 0
    print(__doc__)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv))
