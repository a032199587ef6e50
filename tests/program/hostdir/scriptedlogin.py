#!/usr/bin/env python3
"""A scripted login on the far end of the loopback device.

Prompts go to standard output (the device's far end); what the session
sent comes on standard input (the test relays the device's record of it).

  scriptedlogin.py USER PASSWORD
exits 0 after a good login, 1 for a wrong user name, 2 for a wrong
password, 3 when the input ended first.
"""
import os
import sys


def send(data):
    os.write(1, data)


def answer():
    got = b""
    while True:
        c = os.read(0, 1)
        if not c:
            sys.exit(3)
        if c == b"\r":
            return got
        got += c


def main():
    user = os.fsencode(sys.argv[1])
    password = os.fsencode(sys.argv[2])
    send(b"Welcome to the test host\r\n\r\nlogin: ")
    if answer() != user:
        send(b"\r\nLogin incorrect\r\n")
        return 1
    send(b"\r\nPassword: ")
    if answer() != password:
        send(b"\r\nLogin incorrect\r\n")
        return 2
    send(b"\r\nLast login: today\r\n$ ")
    return 0


if __name__ == "__main__":
    sys.exit(main())
