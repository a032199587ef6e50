#!/usr/bin/env python3
"""Reader and writer of the record, record list and line-file text forms.

Written from the description of the forms alone (not from the C++ code), so
that the tests can check the library against a second, independent
implementation in both directions.

The forms:
  * Escape form ("quoted") of bytes with a set of extra characters: bytes
    0x20-0x7F other than backslash and the extra characters are copied;
    backslash -> \\\\, NUL -> \\0, CR -> \\r, LF -> \\n, TAB -> \\t, 0x1A -> \\z;
    every other byte -> \\x and two lower-case hex digits. Reading: the named
    escapes, \\x with two hex digits (either case); any other backslash pair
    is kept as it is.
  * Line file: one item per line, each ended by LF; quoted items use the
    escape form with no extra characters. Reading takes every line (a last
    line without LF too); a CR before the LF stays in the item.
  * Record: "#Handle=<signed decimal>" when the handle is not 0, "#Key=<key
    text as it is>" when the key text is set (or, for a key text that holds
    LF or NUL or ends in CR, "#KeyQuoted=<key text escaped with '={}'>"),
    then one line per item in key order (ascending, ASCII letters compared
    without case, equal keys in their old order): key, "=", and the value
    escaped with "={}", or for binary values "={{" + Base64 + "}}". A key that would not read back as it
    is (it holds '=', CR, LF or NUL, or starts with '#', '//', '[' or a \\x
    escape) is written escaped with '={}' and its first byte always as \\xHH;
    a reader unescapes keys that start with \\x and two hex digits. Reading
    skips empty lines, lines starting with '//', lines starting with '#' other
    than '#Handle=', '#Key=' and '#KeyQuoted=' (without case), removes
    trailing CRs, and splits at the first '='. The "#Key=" text is taken as it
    stands (no escapes, no Base64).
  * Record list: for each record "[#<index>]", the record, an empty line.
    Reading starts a record at every line starting with '['; lines before the
    first header belong to the first record; CR LF reads as LF.

Command line (used by the tests):
  hashform.py dump-list FILE          print the records of a list file
  hashform.py build-list DUMP OUT     write a list file from a dump
  hashform.py dump-lines FILE quoted|plain
  hashform.py build-lines DUMP OUT quoted|plain
  hashform.py selftest GOLDENDIR      read and rewrite the golden files

Dump format: one entry per line, bytes as "x" + lower-case hex:
  R <handle> <key text or -> | I <key> <value> <t|b> | S <item>
"""

import base64
import os
import sys

HEX = b"0123456789abcdefABCDEF"


def quote(data: bytes, extra: bytes = b"") -> bytes:
    out = bytearray()
    for c in data:
        if c == 0x5C:
            out += b"\\\\"
        elif c == 0:
            out += b"\\0"
        elif c == 0x0D:
            out += b"\\r"
        elif c == 0x0A:
            out += b"\\n"
        elif c == 0x09:
            out += b"\\t"
        elif c == 0x1A:
            out += b"\\z"
        elif 0x20 <= c <= 0x7F and c not in extra:
            out.append(c)
        else:
            out += b"\\x%02x" % c
    return bytes(out)


def unquote(data: bytes) -> bytes:
    named = {ord("r"): 0x0D, ord("n"): 0x0A, ord("0"): 0, ord("z"): 0x1A, ord("t"): 0x09, 0x5C: 0x5C}
    out = bytearray()
    i = 0
    while i < len(data):
        c = data[i]
        if c != 0x5C or i + 1 >= len(data):
            out.append(c)
            i += 1
            continue
        n = data[i + 1]
        if n in named:
            out.append(named[n])
            i += 2
        elif n == ord("x") and i + 3 < len(data) and data[i + 2] in HEX and data[i + 3] in HEX:
            out.append(int(data[i + 2:i + 4], 16))
            i += 4
        else:
            out += bytes([c, n])
            i += 2
    return bytes(out)


B64 = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def unmime(text: bytes) -> bytes:
    """Base64 back: other characters skipped; the first '=' ends the text;
    the last group, padded or not, keeps the whole bytes it holds (two or
    three characters give one or two bytes)."""
    out = bytearray()
    group = []
    for c in text:
        if c == ord("="):
            break
        i = B64.find(bytes([c]))
        if i < 0:
            continue
        group.append(i)
        if len(group) == 4:
            v = group[0] << 18 | group[1] << 12 | group[2] << 6 | group[3]
            out += v.to_bytes(3, "big")
            group = []
    if len(group) >= 2:
        v = 0
        for d in group:
            v = v << 6 | d
        v <<= 6 * (4 - len(group))
        out += v.to_bytes(3, "big")[: len(group) - 1]
    return bytes(out)


def _is_escaped_key(key: bytes) -> bool:
    return len(key) >= 4 and key[0:2] == b"\\x" and key[2] in HEX and key[3] in HEX


def key_needs_escape(key: bytes) -> bool:
    if not key:
        return False
    if any(c in key for c in b"=\r\n\0"):
        return True
    return key[:1] in (b"#", b"[") or key[:2] == b"//" or _is_escaped_key(key)


def write_key(key: bytes) -> bytes:
    if not key_needs_escape(key):
        return key
    return b"\\x%02x" % key[0] + quote(key[1:], b"={}")


def read_key(key: bytes) -> bytes:
    return unquote(key) if _is_escaped_key(key) else key


def sort_key(key: bytes) -> bytes:
    return key.lower()


class Record:
    def __init__(self, handle=0, keytext=None, items=None):
        self.handle = handle  # unsigned 32-bit
        self.keytext = keytext  # None = unset
        self.items = items or []  # [(key, value, binary)]

    def sorted_items(self):
        return sorted(self.items, key=lambda it: sort_key(it[0]))


def record_to_text(rec: Record) -> bytes:
    out = bytearray()
    if rec.handle:
        signed = rec.handle - (1 << 32) if rec.handle >= (1 << 31) else rec.handle
        out += b"#Handle=%d\n" % signed
    if rec.keytext is not None:
        k = rec.keytext
        if b"\n" in k or b"\0" in k or k.endswith(b"\r"):
            out += b"#KeyQuoted=" + quote(k, b"={}") + b"\n"
        else:
            out += b"#Key=" + k + b"\n"
    for key, value, binary in rec.sorted_items():
        out += write_key(key) + b"="
        if binary:
            out += b"={{" + base64.b64encode(value) + b"}}"
        else:
            out += quote(value, b"={}")
        out += b"\n"
    return bytes(out)


def parse_record_lines(lines) -> Record:
    rec = Record()
    for line in lines:
        while line.endswith(b"\r"):
            line = line[:-1]
        if not line or line.startswith(b"//"):
            continue
        low = line.lower()
        if line.startswith(b"#") and not (low.startswith(b"#handle=") or low.startswith(b"#key=")
                                          or low.startswith(b"#keyquoted=")):
            continue
        if b"=" not in line:
            continue
        key, value = line.split(b"=", 1)
        if key.lower() == b"#key":
            rec.keytext = value
            continue
        if key.lower() == b"#keyquoted":
            rec.keytext = unquote(value)
            continue
        binary = False
        if len(value) >= 5 and value.startswith(b"={{") and value.endswith(b"}}"):
            value = unmime(value[3:-2])
            binary = True
        else:
            value = unquote(value)
        if key.lower() == b"#handle":
            rec.handle = int(value or b"0") & 0xFFFFFFFF
        else:
            rec.items.append((read_key(key), value, binary))
    rec.items = rec.sorted_items()
    return rec


def parse_record(text: bytes) -> Record:
    return parse_record_lines(text.split(b"\n"))


def list_to_text(records) -> bytes:
    out = bytearray()
    for i, rec in enumerate(records):
        out += b"[#%d]\n" % i + record_to_text(rec) + b"\n"
    return bytes(out)


def parse_list(text: bytes):
    lines = text.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    records, section, headers, has_text = [], [], 0, False
    for line in lines:
        if line.endswith(b"\r"):
            line = line[:-1]
        if line.startswith(b"["):
            if headers > 0:
                records.append(parse_record_lines(section))
                section, has_text = [], False
            headers += 1
        elif line:
            section.append(line)
            has_text = True
    if headers > 0 or has_text:
        records.append(parse_record_lines(section))
    return records


def lines_to_text(items, quoted: bool) -> bytes:
    return b"".join((quote(it) if quoted else it) + b"\n" for it in items)


def parse_lines(text: bytes, quoted: bool):
    lines = text.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    return [unquote(l) if quoted else l for l in lines]


# --- dump format --------------------------------------------------------------

def _hx(b: bytes) -> str:
    return "x" + b.hex()


def _unhx(s: str) -> bytes:
    return bytes.fromhex(s[1:])


def dump_list(records) -> str:
    out = []
    for rec in records:
        out.append("R %d %s" % (rec.handle, "-" if rec.keytext is None else _hx(rec.keytext)))
        for key, value, binary in rec.items:
            out.append("I %s %s %s" % (_hx(key), _hx(value), "b" if binary else "t"))
    return "".join(l + "\n" for l in out)


def undump_list(text: str):
    records = []
    for line in text.splitlines():
        f = line.split(" ")
        if f[0] == "R":
            records.append(Record(int(f[1]), None if f[2] == "-" else _unhx(f[2])))
        elif f[0] == "I":
            records[-1].items.append((_unhx(f[1]), _unhx(f[2]), f[3] == "b"))
    return records


def dump_lines(items) -> str:
    return "".join("S %s\n" % _hx(it) for it in items)


def undump_lines(text: str):
    return [_unhx(l.split(" ")[1]) for l in text.splitlines() if l.startswith("S ")]


# --- self test on the golden files ----------------------------------------------

def selftest(folder: str) -> int:
    failures = 0
    checks = [
        ("stringarray_plain.txt", lambda t: lines_to_text(parse_lines(t, False), False)),
        ("stringarray_quoted.txt", lambda t: lines_to_text(parse_lines(t, True), True)),
        ("hash_record.txt", lambda t: record_to_text(parse_record(t))),
        ("hashlist.txt", lambda t: list_to_text(parse_list(t))),
        ("metahash.txt", lambda t: list_to_text(parse_list(t))),
    ]
    for name, rewrite in checks:
        with open(os.path.join(folder, name), "rb") as f:
            text = f.read()
        again = rewrite(text)
        if again != text:
            print("golden %s does not read back byte for byte:\n%r\n%r" % (name, text, again))
            failures += 1
    # The legacy file (CR LF, comments, header numbers out of order, no final
    # line feed) must read as the same records as its clean counterpart.
    with open(os.path.join(folder, "hashlist_legacy.txt"), "rb") as f:
        legacy = parse_list(f.read())
    with open(os.path.join(folder, "hashlist_legacy_clean.txt"), "rb") as f:
        clean = f.read()
    if list_to_text(legacy) != clean:
        print("legacy list reads as:\n%r" % list_to_text(legacy))
        failures += 1
    print("selftest: %d failure(s)" % failures)
    return 1 if failures else 0


def main(argv) -> int:
    if len(argv) < 3:
        print(__doc__)
        return 2
    cmd = argv[1]
    if cmd == "dump-list":
        with open(argv[2], "rb") as f:
            sys.stdout.write(dump_list(parse_list(f.read())))
    elif cmd == "build-list":
        with open(argv[2]) as f:
            records = undump_list(f.read())
        with open(argv[3], "wb") as f:
            f.write(list_to_text(records))
    elif cmd == "dump-lines":
        with open(argv[2], "rb") as f:
            sys.stdout.write(dump_lines(parse_lines(f.read(), argv[3] == "quoted")))
    elif cmd == "build-lines":
        with open(argv[2]) as f:
            items = undump_lines(f.read())
        with open(argv[3], "wb") as f:
            f.write(lines_to_text(items, argv[4] == "quoted"))
    elif cmd == "selftest":
        return selftest(argv[2])
    else:
        print(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
