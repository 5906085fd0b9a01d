#!/usr/bin/env python3
"""Presses keys of a running panel through its injector, as any outside
program would: framed collector messages over a plain TCP connection.

usage: send_keys.py HOST PORT

Sends, on one connection: presses of keys 5 and 9 in one segment; a press of
key 7 split over three segments; an empty frame; the release of key 5. Then,
on a second connection, a frame length over 64 KiB, which the panel answers
by closing that connection. Prints "keys sent" and "closed" as it goes; exit
status 0 when everything happened as expected.
"""

import socket
import struct
import sys
import time


def frame(payload):
    return struct.pack(">I", len(payload)) + payload


def key(key_id, pressed):
    return struct.pack(">iiii", 1, key_id, pressed, 0)


def connect(host, port):
    s = socket.create_connection((host, port), timeout=10)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def main():
    host, port = sys.argv[1], int(sys.argv[2])

    keys = connect(host, port)
    keys.sendall(frame(key(5, 1)) + frame(key(9, 1)))
    msg = frame(key(7, 1))
    for part in (msg[:3], msg[3:11], msg[11:]):
        keys.sendall(part)
        time.sleep(0.05)
    keys.sendall(frame(b""))
    time.sleep(0.05)
    keys.sendall(frame(key(5, 0)))
    # Give the panel time to take everything before this side goes.
    time.sleep(0.2)
    keys.close()
    print("keys sent", flush=True)

    bad = connect(host, port)
    bad.sendall(struct.pack(">I", 64 * 1024 + 1) + b"x" * 32)
    try:
        if bad.recv(1) != b"":
            print("connection not closed", flush=True)
            return 1
    except ConnectionResetError:
        pass
    except socket.timeout:
        print("connection not closed", flush=True)
        return 1
    bad.close()
    print("closed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
