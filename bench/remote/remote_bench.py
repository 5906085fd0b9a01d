#!/usr/bin/env python3
"""Remote API latency, one panelrun panel against routersim:

- a press on the wire: from the request's last byte leaving the client to
  the take (".SV") reaching the router, for a POST on a connection opened
  beforehand (so no connection set-up is counted) and for a press sent on
  the event stream;
- a tally to the event: from the router sending the tally (".UV") to the
  item event of the routed source's key (key 27) reaching a WebSocket
  client, end to end (the panel's handling and button refresh included);
- the host's own share of that, from the host applying the panel's records
  to the event being written to the client's socket, as panelrun measures
  it with TESSALINE_REMOTE_STATS=1 (the "remote events:" line).

    remote_bench.py BUILD_DIR [--rounds N]

The panel is the demonstration's SK1400A; each round taps destination MON 2,
then a source (CAM 3 and CAM 4 in turn), half the rounds over HTTP and half
over the event stream. The router's lines are read from its standard output
as they come, each stamped on arrival. A press waits for the firmware's next
10 ms key scan, so a press on the wire cannot be faster than the panel's own
take (tools/takebench: p99 about 10 ms).
"""

import argparse
import json
import os
import random
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
# The event stream client of tools/remote/wait_tally.py.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "remote"))
from wait_tally import EventStream  # noqa: E402

ADDR, PORT, HTTP_PORT = "127.0.35.1", 35012, 35080
DEST, SOURCES, SHOW = 2, ((11, "CAM 3"), (12, "CAM 4")), 27


def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(round(p / 100.0 * (len(xs) - 1))))]


class Lines:
    """A child's output lines, each stamped when it arrived."""

    def __init__(self, stream):
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in iter(stream.readline, b""):
            now = time.perf_counter()
            with self.cond:
                self.lines.append((now, line.decode(errors="replace")))
                self.cond.notify_all()

    def wait_for(self, pattern, start, timeout=5.0):
        """The (time, line) of the first line from index start on that
        matches, and the index after it; None on time-out."""
        end = time.monotonic() + timeout
        rx = re.compile(pattern)
        with self.cond:
            while True:
                while start < len(self.lines):
                    t, line = self.lines[start]
                    start += 1
                    if rx.search(line):
                        return t, line, start
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self.cond.wait(left)


class Events:
    """The event stream read on a thread of its own, item events stamped."""

    def __init__(self, url, panel):
        self.stream = EventStream(url, None, panel)
        self.stream.sock.settimeout(None)
        self.items = []
        self.replies = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        try:
            while True:
                e = self.stream.recv()
                now = time.perf_counter()
                with self.cond:
                    (self.items if e.get("type") == "item" else self.replies).append((now, e))
                    self.cond.notify_all()
        except (OSError, ConnectionError, ValueError):
            pass

    def wait_item(self, key, text, start, timeout=5.0):
        end = time.monotonic() + timeout
        with self.cond:
            while True:
                while start < len(self.items):
                    t, e = self.items[start]
                    start += 1
                    if e["item"]["id"] == key and " ".join(e["item"]["lines"]) == text:
                        return t, start
                left = end - time.monotonic()
                if left <= 0:
                    return None, start
                self.cond.wait(left)


def post_on_open_connection(key, hold_ms):
    """A tap over a connection opened beforehand; the time its request's
    last byte was handed to the kernel."""
    s = socket.create_connection((ADDR, HTTP_PORT), timeout=5)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    body = json.dumps({"action": "tap", "hold_ms": hold_ms}).encode()
    req = ("POST /api/v1/panels/%d/keys/%d HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: application/json\r\n"
           "Content-Length: %d\r\n\r\n" % (PORT, key, ADDR, HTTP_PORT, len(body))).encode() + body
    time.sleep(0.002)  # the connection is accepted and waiting
    t0 = time.perf_counter()
    s.sendall(req)
    reply = b""
    while b"\r\n\r\n" not in reply:
        data = s.recv(4096)
        if not data:
            break
        reply += data
    s.close()
    if not reply.startswith(b"HTTP/1.1 200"):
        raise RuntimeError("press refused: %r" % reply[:200])
    return t0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=200)
    a = ap.parse_args()
    src = os.path.dirname(os.path.dirname(HERE))
    tmp = tempfile.mkdtemp(prefix="remote-bench-")
    cfg = os.path.join(tmp, "cfgSK1400A")
    subprocess.run([os.path.join(a.build, "tools/pcslpack/pcslpack"), "pack",
                    os.path.join(src, "resources/demo/cfgSK1400A.pcsl"), cfg], check=True,
                   stdout=subprocess.DEVNULL)
    rs = subprocess.Popen([os.path.join(a.build, "tools/routersim/routersim"), "--bind", ADDR + ":2001",
                           "--panel", "%s:%d" % (ADDR, PORT), "--levels", "2", "--sources", "24",
                           "--dests", "8"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    router = Lines(rs.stdout)
    err = os.path.join(tmp, "panelrun.err")
    pr = subprocess.Popen([os.path.join(a.build, "tools/panelrun/panelrun"), "--type", "SK1400A", "--ip",
                           ADDR, "--port", str(PORT), "--config", cfg, "--workdir", os.path.join(tmp, "pr"),
                           "--http", "%s:%d" % (ADDR, HTTP_PORT), "--until-signal"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(err, "w"),
                          env=dict(os.environ, TESSALINE_REMOTE_STATS="1"))
    url = "http://%s:%d" % (ADDR, HTTP_PORT)
    status = 0
    try:
        # A take needs a router that has spoken: the panel's answer to the
        # router's first poll.
        if router.wait_for(r"^rx .* y$", 0, timeout=60) is None:
            raise RuntimeError("the panel never answered the router")
        for _ in range(300):
            try:
                p = json.load(urllib.request.urlopen(url + "/api/v1/panels/%d/keys/25" % PORT, timeout=2))
                if p["text"] == "Video":
                    break
            except OSError:
                pass
            time.sleep(0.05)
        events = Events(url, PORT)
        at = len(router.lines)
        seen = 0
        press = {"http": [], "ws": []}
        tally = []
        for i in range(a.rounds):
            key, name = SOURCES[i % 2]
            how = "http" if i % 4 < 2 else "ws"
            post_on_open_connection(DEST, 20)
            # Presses fall anywhere in the firmware's 10 ms loop tick.
            time.sleep(0.05 + random.uniform(0, 0.01))
            if how == "http":
                t0 = post_on_open_connection(key, 20)
            else:
                t0 = time.perf_counter()
                events.stream.send({"action": "tap", "uid": PORT, "key": key, "hold_ms": 20, "id": i})
            take = router.wait_for(r'^rx .*Q "\.SV002,%03d' % (key - 8), at)
            if take is None:
                print("round %d: no take" % i, file=sys.stderr)
                continue
            t_take, _, at = take
            uv = router.wait_for(r'^tx .*Q "\.UV002,%03d' % (key - 8), at)
            if uv is None:
                print("round %d: no tally" % i, file=sys.stderr)
                continue
            t_uv, _, at = uv
            t_event, seen = events.wait_item(SHOW, name, seen)
            if t_event is None:
                print("round %d: no event for key %d" % (i, SHOW), file=sys.stderr)
                continue
            press[how].append((t_take - t0) * 1000)
            tally.append((t_event - t_uv) * 1000)
            time.sleep(0.03 + random.uniform(0, 0.01))
        events.stream.close()
        for what, xs in (("press on the wire, HTTP POST", press["http"]),
                         ("press on the wire, event stream", press["ws"]),
                         ("tally sent to item event at the client", tally)):
            if xs:
                print("%s: %d rounds, median %.2f ms, p99 %.2f ms, worst %.2f ms" %
                      (what, len(xs), pct(xs, 50), pct(xs, 99), max(xs)))
            else:
                status = 1
    finally:
        pr.send_signal(signal.SIGTERM)
        try:
            pr.wait(30)
        except subprocess.TimeoutExpired:
            pr.kill()
        rs.stdin.write(b"quit\n")
        rs.stdin.close()
        try:
            rs.wait(10)
        except subprocess.TimeoutExpired:
            rs.kill()
    m = re.search(r"remote events: .*", open(err).read())
    print("host: " + (m.group(0) if m else "no figures"))
    with open("/proc/loadavg") as f:
        print("load average " + " ".join(f.read().split()[:3]))
    return status


if __name__ == "__main__":
    sys.exit(main())
