#!/usr/bin/env python3
"""Reference answers for the text tests, from python3's own codecs, Unicode
database and the base64, binascii and quopri modules.

Usage: text_reference.py MODE
Modes that take no input print a table:
  pages      one line per code page: the codec name and 256 tokens, the code
             point of each byte in hex or "--" for a byte the page leaves
             undefined
  wide       one line "first last" (hex) per range of East Asian Width W/F
  allutf8    the UTF-8 of every code point from U+0000 to U+10FFFF in order,
             surrogates left out
Modes that transform data read records from stdin and write records to
stdout; a record is a 4-byte little-endian length and that many bytes:
  b64 b64lines hex qpencode qptext qpdecode latin1utf8 utf8
"""
import base64
import binascii
import struct
import sys
import unicodedata

CODECS = ["cp1252", "cp437", "cp1250", "cp1251", "cp1253", "cp737", "cp866", "cp852", "mac_roman", "koi8_r"]


def pages():
    out = []
    for codec in CODECS:
        tokens = []
        for b in range(256):
            try:
                tokens.append("%04x" % ord(bytes([b]).decode(codec)))
            except UnicodeDecodeError:
                tokens.append("--")
        out.append(codec + " " + " ".join(tokens))
    return ("\n".join(out) + "\n").encode()


# Unassigned code points default to W only in these blocks and planes
# (EastAsianWidth.txt); python's database answers F for all of them.
DEFAULT_WIDE = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF), (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]


def width_is_wide(cp):
    if cp > 0x10FFFF or 0xD800 <= cp <= 0xDFFF:
        return False
    ch = chr(cp)
    if unicodedata.category(ch) == "Cn":
        return any(first <= cp <= last for first, last in DEFAULT_WIDE)
    return unicodedata.east_asian_width(ch) in ("W", "F")


def wide():
    lines = []
    first = None
    for cp in range(0x110001):
        is_wide = width_is_wide(cp)
        if is_wide and first is None:
            first = cp
        elif not is_wide and first is not None:
            lines.append("%x %x" % (first, cp - 1))
            first = None
    return ("\n".join(lines) + "\n").encode()


def allutf8():
    return "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF).encode("utf-8")


TRANSFORMS = {
    # Base64 in one line, and in 76-character lines ended by CR LF.
    "b64": base64.b64encode,
    "b64lines": lambda d: base64.encodebytes(d).replace(b"\n", b"\r\n"),
    "hex": binascii.hexlify,
    # Binary data (CR and LF encoded too), and text with its line ends kept.
    "qpencode": lambda d: binascii.b2a_qp(d, istext=False),
    "qptext": binascii.b2a_qp,
    "qpdecode": binascii.a2b_qp,
    "latin1utf8": lambda d: d.decode("latin-1").encode("utf-8"),
    # UTF-32LE code points of a strict UTF-8 text.
    "utf8": lambda d: d.decode("utf-8").encode("utf-32-le"),
}


def main():
    mode = sys.argv[1]
    if mode == "pages":
        sys.stdout.buffer.write(pages())
        return
    if mode == "wide":
        sys.stdout.buffer.write(wide())
        return
    if mode == "allutf8":
        sys.stdout.buffer.write(allutf8())
        return
    fn = TRANSFORMS[mode]
    data = sys.stdin.buffer.read()
    pos = 0
    out = []
    while pos < len(data):
        (n,) = struct.unpack_from("<I", data, pos)
        record = data[pos + 4:pos + 4 + n]
        pos += 4 + n
        result = fn(record)
        out.append(struct.pack("<I", len(result)) + result)
    sys.stdout.buffer.write(b"".join(out))


if __name__ == "__main__":
    main()
