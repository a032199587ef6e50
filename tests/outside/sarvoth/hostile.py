#!/usr/bin/env python3
"""A hostile Telnet server for the tests of the Telnet device.

Usage: hostile.py PORT LOGFILE

Listens on 127.0.0.1:PORT for one connection and sends, in this order:
random data with random commands, storms of DO/DONT/WILL/WONT for every
option, DO TTYPE and 10,000 TTYPE SENDs, a subnegotiation without its end
(ended by IAC NOP), a subnegotiation of 1 MB, data with an IAC at every read
boundary ("MARK", then "a" IAC IAC "b" IAC NOP "c", each byte in a send of
its own), and "END\\r\\n". Meanwhile it counts the requests it sent and the
replies it got. It then waits (at most 20 s) for the client to send "ping",
answers "pong\\r\\n", and ends inside a subnegotiation (IAC SB TTYPE, then
the connection closes). LOGFILE gets one line: requests, replies, bytes
received, and whether the ping came.
"""
import random
import select
import socket
import sys
import time

IAC, DONT, DO, WONT, WILL, SB, SE, NOP = 255, 254, 253, 252, 251, 250, 240, 241
TTYPE = 24


class Peer:
    def __init__(self, conn):
        self.conn = conn
        self.received = bytearray()
        self.requests = 0

    def pump(self, wait=0.0):
        """Takes what the client sent (so neither side blocks)."""
        while True:
            r, _, _ = select.select([self.conn], [], [], wait)
            if not r:
                return
            data = self.conn.recv(65536)
            if not data:
                return
            self.received += data
            wait = 0.0

    def send(self, data):
        view = memoryview(bytes(data))
        while view:
            _, w, _ = select.select([], [self.conn], [], 5)
            self.pump()
            if w:
                n = self.conn.send(view)
                view = view[n:]

    def replies(self):
        """Negotiations and subnegotiations in what the client sent."""
        count, i, data = 0, 0, self.received
        while i < len(data) - 1:
            if data[i] == IAC:
                if data[i + 1] in (WILL, WONT, DO, DONT, SB):
                    count += 1
                i += 2
            else:
                i += 1
        return count


def main():
    port, log = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(33)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(1)
    conn, _ = server.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    p = Peer(conn)

    # Random data with random commands (no subnegotiation), then bytes that
    # bring any state back to data.
    out = bytearray()
    for _ in range(20000):
        kind = rng.random()
        if kind < 0.8:
            out.append(rng.randrange(0, 255))
        elif kind < 0.9:
            out += bytes([IAC, rng.choice([WILL, WONT, DO, DONT]), rng.randrange(0, 256)])
            p.requests += 1
        else:
            out += bytes([IAC, rng.choice([NOP, 242, 243, 244, 245, 246, 247, 248, 249, 239, IAC])])
    p.send(out + bytes([0, IAC, NOP, IAC, NOP]))

    # Storms.
    for _ in range(20):
        storm = bytearray()
        for opt in range(256):
            storm += bytes([IAC, DO, opt, IAC, DONT, opt, IAC, WILL, opt, IAC, WONT, opt])
            p.requests += 4
        p.send(storm)

    # Terminal types, again and again.
    p.send(bytes([IAC, DO, TTYPE]) + bytes([IAC, SB, TTYPE, 1, IAC, SE]) * 10000)
    p.requests += 1 + 10000

    # A subnegotiation without its end, and one of 1 MB.
    p.send(bytes([IAC, SB, TTYPE, 1]) + b"junk" + bytes([IAC, NOP]))
    p.send(bytes([IAC, SB, TTYPE, 1]) + b"x" * (1 << 20) + bytes([IAC, SE]))
    p.requests += 2

    # An IAC at every read boundary.
    p.send(b"MARK")
    for b in [ord("a"), IAC, IAC, ord("b"), IAC, NOP, ord("c")]:
        p.send(bytes([b]))
        time.sleep(0.02)
    p.send(b"END\r\n")

    end = time.time() + 20
    while b"ping" not in p.received and time.time() < end:
        p.pump(0.1)
    pinged = b"ping" in p.received
    p.send(b"pong\r\n")
    time.sleep(0.2)
    p.pump(0.2)
    with open(log, "w") as f:
        f.write("%d %d %d %d\n" % (p.requests, p.replies(), len(p.received), int(pinged)))
    conn.sendall(bytes([IAC, SB, TTYPE]))
    conn.close()


if __name__ == "__main__":
    main()
