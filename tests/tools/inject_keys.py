#!/usr/bin/env python3
"""Key messages from a plain TCP client reach a panel's firmware through the
panel's injector.

Runs panelrun --inject, connects to the injector like any outside program,
sends framed collector messages built by hand and watches panelrun's lines:
a key id the firmware rejects comes back as its warning, which shows that the
message went all the way into the firmware thread.

usage: inject_keys.py PANELRUN UDP_PORT
"""

import queue
import signal
import socket
import struct
import subprocess
import sys
import threading
import time


def frame(payload):
    return struct.pack(">I", len(payload)) + payload


def key(key_id, pressed):
    return struct.pack(">iiii", 1, key_id, pressed, 0)


class Lines:
    """The lines of one output stream of a process, read as they come."""

    def __init__(self, stream):
        self.queue = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def wait_for(self, what, timeout=15.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.queue.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                line = None
            if line is None:
                raise AssertionError("no line with %r" % what)
            self.seen.append(line)
            if what in line:
                return line

    def rest(self):
        while True:
            line = self.queue.get(timeout=15)
            if line is None:
                return self.seen
            self.seen.append(line)


def rejected(key_id):
    return "log warning ignored key event (id,max): %d 128 " % key_id


def main():
    panelrun, port = sys.argv[1], int(sys.argv[2])
    proc = subprocess.Popen(
        [panelrun, "--inject", "--until-signal", "--port", str(port)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    err = Lines(proc.stderr)
    out = Lines(proc.stdout)
    try:
        line = err.wait_for("injector ")
        host, inject_port = line.split()[1].rsplit(":", 1)
        assert int(inject_port) == (port + 20000) % 65536, line
        err.wait_for("state 8 ST_RUNNING")

        client = socket.create_connection((host, int(inject_port)), timeout=5)
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        # Two messages in one segment, taken in order.
        client.sendall(frame(key(0, 1)) + frame(key(200, 1)))
        err.wait_for(rejected(0))
        err.wait_for(rejected(200))

        # One message over three segments.
        msg = frame(key(129, 1))
        for part in (msg[:3], msg[3:11], msg[11:]):
            client.sendall(part)
            time.sleep(0.05)
        err.wait_for(rejected(129))

        # A valid key goes in without a complaint; an empty payload is no
        # collector message and stops at the panel's unpacking.
        client.sendall(frame(key(5, 1)) + frame(key(5, 0)) + frame(b"") + frame(key(300, 1)))
        err.wait_for(rejected(300))
        out.wait_for("collector: CollectorMsg::unpack wrong message size 0")

        # A length over 64 KiB ends this connection.
        client.sendall(struct.pack(">I", 65537) + b"x" * 10)
        err.wait_for("frame length 65537 over 65536, connection closed")
        try:
            assert client.recv(1) == b""
        except ConnectionResetError:
            pass
        client.close()

        # The injector still takes new clients.
        again = socket.create_connection((host, int(inject_port)), timeout=5)
        again.sendall(frame(key(400, 1)))
        err.wait_for(rejected(400))
        again.close()

        proc.send_signal(signal.SIGTERM)
        assert proc.wait(timeout=15) == 0, "exit status %d" % proc.returncode
        states = [l for l in err.rest() if l.startswith("state ")]
        assert states[-1] == "state 10 ST_THREAD_FINISHED", states
        assert not [l for l in err.seen if "_firmware NULL" in l], "a key found no firmware"
    except BaseException:
        proc.kill()
        proc.wait()
        sys.stderr.write("panelrun stderr:\n" + "\n".join(err.seen) + "\n")
        raise
    print("ok")


if __name__ == "__main__":
    main()
