#!/usr/bin/env python3
"""Wait on the Tessaline event stream until a key shows a tally.

    wait_tally.py [--url http://127.0.0.1:8080] [--token TOKEN] --panel UID
                  --key ID [--text TEXT] [--lamp on|off|flashing] [--timeout S]

Connects to GET /api/v1/events?panel=UID (WebSocket, Python's standard
library only) and prints the item's JSON once key ID shows TEXT (its legend
or display text, each line stripped and joined by a space) and/or the lamp
state; exits 0 then, 1 on time-out. The state before connecting is read
first, so a tally that came already counts. Importable: EventStream.
"""

import argparse
import base64
import json
import os
import socket
import struct
import sys
import time
import urllib.parse
import urllib.request


class EventStream:
    """A WebSocket client of the event stream (text frames only)."""

    def __init__(self, url, token=None, panel=None, timeout=10.0):
        u = urllib.parse.urlparse(url)
        self.sock = socket.create_connection((u.hostname, u.port or 80), timeout=timeout)
        path = "/api/v1/events" + ("?panel=%d" % panel if panel is not None else "")
        key = base64.b64encode(os.urandom(16)).decode()
        head = ("GET %s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n" % (path, u.netloc, key))
        if token:
            head += "Authorization: Bearer %s\r\n" % token
        self.sock.sendall((head + "\r\n").encode())
        self.buf = b""
        while b"\r\n\r\n" not in self.buf:
            data = self.sock.recv(4096)
            if not data:
                raise ConnectionError("closed during the handshake")
            self.buf += data
        status, _, self.buf = self.buf.partition(b"\r\n\r\n")
        if not status.startswith(b"HTTP/1.1 101"):
            raise ConnectionError(status.split(b"\r\n")[0].decode(errors="replace"))

    def _read(self, n):
        while len(self.buf) < n:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("the server closed the stream")
            self.buf += data
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def recv(self):
        """The next message as a dict; raises socket.timeout when none comes."""
        message = b""
        while True:
            b0, b1 = self._read(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(n)
            opcode = b0 & 0x0F
            if opcode == 8:
                raise ConnectionError("closed: " + payload[2:].decode(errors="replace"))
            if opcode == 9:  # ping: answer with a pong
                self._send(0xA, payload)
                continue
            if opcode in (0, 1):
                message += payload
                if b0 & 0x80:
                    return json.loads(message.decode())

    def _send(self, opcode, payload):
        mask = os.urandom(4)
        head = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(head + mask + masked)

    def send(self, obj):
        self._send(1, json.dumps(obj).encode())

    def close(self):
        try:
            self._send(8, struct.pack(">H", 1000))
        except OSError:
            pass
        self.sock.close()


def shown_text(item):
    return " ".join(line.strip() for line in item.get("lines") or [])


def matches(item, text, lamp):
    if text is not None and shown_text(item) != text:
        return False
    if lamp is not None and item.get("lamp") != lamp:
        return False
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--url", default="http://127.0.0.1:8080")
    ap.add_argument("--token")
    ap.add_argument("--panel", type=int, required=True)
    ap.add_argument("--key", type=int, required=True)
    ap.add_argument("--text")
    ap.add_argument("--lamp", choices=["on", "off", "flashing"])
    ap.add_argument("--timeout", type=float, default=10.0)
    a = ap.parse_args()
    deadline = time.monotonic() + a.timeout
    stream = EventStream(a.url, a.token, a.panel, timeout=a.timeout)
    # What the key shows already (after subscribing, so nothing is missed).
    req = urllib.request.Request("%s/api/v1/panels/%d/keys/%d" % (a.url.rstrip("/"), a.panel, a.key))
    if a.token:
        req.add_header("Authorization", "Bearer " + a.token)
    item = json.load(urllib.request.urlopen(req, timeout=a.timeout))
    while not matches(item, a.text, a.lamp):
        left = deadline - time.monotonic()
        if left <= 0:
            print("wait_tally: key %d of panel %d shows %r, lamp %s" %
                  (a.key, a.panel, shown_text(item), item.get("lamp")), file=sys.stderr)
            return 1
        stream.sock.settimeout(left)
        try:
            event = stream.recv()
        except socket.timeout:
            continue
        if event.get("type") == "item" and event["item"]["id"] == a.key:
            item = event["item"]
    print(json.dumps(item))
    stream.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
