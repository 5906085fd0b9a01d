#!/usr/bin/env python3
"""Presses keys of a running panel through its injector, as any outside
program would: framed collector messages over a plain TCP connection.

usage: send_keys.py HOST PORT framing
       send_keys.py HOST PORT keys KEY...

framing: sends, on one connection, presses of keys 5 and 9 in one segment; a
press of key 7 split over three segments; an empty frame; the release of key
5. Then, on a second connection, a frame length over 64 KiB, which the panel
answers by closing that connection. Prints "keys sent" and "closed" as it
goes.

keys: presses and releases each key in turn, the way a hand would (80 ms
apart, so the panel's key scan sees every change), then prints "keys sent".

Exit status 0 when everything happened as expected.
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


def press_in_turn(host, port, key_ids):
    s = connect(host, port)
    for k in key_ids:
        s.sendall(frame(key(k, 1)))
        time.sleep(0.08)
        s.sendall(frame(key(k, 0)))
        time.sleep(0.08)
    s.close()
    print("keys sent", flush=True)
    return 0


def framing(host, port):
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


def main():
    host, port, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    if mode == "keys":
        return press_in_turn(host, port, [int(k) for k in sys.argv[4:]])
    return framing(host, port)


if __name__ == "__main__":
    sys.exit(main())
