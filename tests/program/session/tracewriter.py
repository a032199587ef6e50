#!/usr/bin/env python3
"""Writes the text trace a trace file must hold, from a description of what
was traced: an independent reading of the trace format for the tests.

stdin: lines "begin MS", "end MS", "I MS HEX", "O MS HEX", "S MS" (a stored
secret sent). stdout: the bytes of the text trace file.
"""
import sys

NAMED = {0: "{nul}", 8: "{bs}", 9: "{tab}", 10: "{lf}", 12: "{ff}", 13: "{cr}", 14: "{so}", 15: "{si}",
         27: "{esc}", 32: ".", ord("."): "{dot}"}


def stamp(ms):
    return b"%05d.%02d" % (ms // 1000, (ms % 1000) // 10)


def form(b):
    if b in NAMED:
        return NAMED[b].encode()
    if 33 <= b <= 126 and b not in (ord("{"), ord("}")):
        return bytes([b])
    if 128 <= b <= 254:
        return b"{%02x/" % b + bytes([b]) + b"}"
    return b"{%02x}" % b


def record(direction, ms, data):
    out = stamp(ms) + b"  " + (b"<RECV " if direction in "Ii" else b" SEND>") + b"   "
    if direction == "S":
        return out + b"{secret}\n\n"
    count = 0
    for b in data:
        if count > 50:
            out += b"\n" + b" " * 13
            count = 0
        f = form(b)
        out += f
        count += len(f)
    return out + b"\n\n"


def main():
    out = bytearray()
    for line in sys.stdin.read().splitlines():
        parts = line.split()
        if not parts:
            continue
        kind, ms = parts[0], int(parts[1])
        if kind == "begin":
            out += b"\n\n" + stamp(ms) + b" ------ begin " + b"-" * 60 + b"\n\n"
        elif kind == "end":
            out += stamp(ms) + b" ------ end " + b"-" * 62 + b"\n\n\n"
        else:
            out += record(kind, ms, bytes.fromhex(parts[2]) if len(parts) > 2 else b"")
    sys.stdout.buffer.write(bytes(out))


main()
