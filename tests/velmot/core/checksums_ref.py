#!/usr/bin/env python3
"""Reference values for the checksum tests, computed by Python's own zlib,
hashlib and hmac. One case per line:

    crc  <data hex> <value as 8 hex digits>
    md5  <data hex> <digest hex>
    hmac <key hex> <data hex> <digest hex>

The CRC has no start or final inversion: that is ~crc32(d, 0xFFFFFFFF),
because zlib inverts the start value it is given and the result.
"""
import hashlib
import hmac
import random
import zlib

rng = random.Random(1321)


def data_cases():
    # RFC 1321 test suite.
    for text in ["", "a", "abc", "message digest", "abcdefghijklmnopqrstuvwxyz",
                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                 "1234567890" * 8, "123456789"]:
        yield text.encode()
    # Every length around the 64-byte block and its padding boundaries.
    for n in range(0, 200):
        yield bytes(rng.randrange(256) for _ in range(n))
    yield bytes(rng.randrange(256) for _ in range(100000))


def hmac_cases():
    # RFC 2202, HMAC-MD5 test cases 1 to 7.
    yield b"\x0b" * 16, b"Hi There"
    yield b"Jefe", b"what do ya want for nothing?"
    yield b"\xaa" * 16, b"\xdd" * 50
    yield bytes(range(1, 26)), b"\xcd" * 50
    yield b"\x0c" * 16, b"Test With Truncation"
    yield b"\xaa" * 80, b"Test Using Larger Than Block-Size Key - Hash Key First"
    yield b"\xaa" * 80, b"Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"
    # Keys shorter than, equal to and longer than the 64-byte block.
    for n in [0, 1, 63, 64, 65, 130]:
        key = bytes(rng.randrange(256) for _ in range(n))
        yield key, bytes(rng.randrange(256) for _ in range(rng.randrange(300)))


def main():
    for d in data_cases():
        crc = ~zlib.crc32(d, 0xFFFFFFFF) & 0xFFFFFFFF
        print("crc", d.hex() or "-", "%08x" % crc)
        print("md5", d.hex() or "-", hashlib.md5(d).hexdigest())
    for key, d in hmac_cases():
        print("hmac", key.hex() or "-", d.hex() or "-", hmac.new(key, d, "md5").hexdigest())


if __name__ == "__main__":
    main()
