#!/usr/bin/env python3
"""Remote API latency: an API press to the take on the wire, and a tally to
the item event at a WebSocket client, p50/p99 over N rounds.

    remote_bench.py BUILD_DIR [--rounds N]

Runs routersim and panelrun (one SK1400A panel of the demonstration) on
127.0.35.1; each round taps destination MON 2, then a source (CAM 3 and CAM
4 in turn). The take is timed from the POST being sent to its line in the
router's log (polled every 0.2 ms, so the figure includes up to that); the
tally from the router's "UV" line to the event of key 27 (the routed
source's name) at the client, which includes the firmware's handling and
the host applying the records.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
# The event stream client of tools/remote/wait_tally.py.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "remote"))
from wait_tally import EventStream  # noqa: E402


def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(round(p / 100.0 * (len(xs) - 1))))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=50)
    a = ap.parse_args()
    src = os.path.dirname(os.path.dirname(HERE))
    tmp = tempfile.mkdtemp(prefix="remote-bench-")
    cfg = os.path.join(tmp, "cfgSK1400A")
    subprocess.run([os.path.join(a.build, "tools/pcslpack/pcslpack"), "pack",
                    os.path.join(src, "resources/demo/cfgSK1400A.pcsl"), cfg], check=True,
                   stdout=subprocess.DEVNULL)
    log = os.path.join(tmp, "routersim.log")
    rs = subprocess.Popen([os.path.join(a.build, "tools/routersim/routersim"), "--bind", "127.0.35.1:2001",
                           "--panel", "127.0.35.1:35012", "--levels", "2", "--sources", "24", "--dests", "8"],
                          stdin=subprocess.DEVNULL, stdout=open(log, "w"), stderr=subprocess.STDOUT)
    err = os.path.join(tmp, "panelrun.err")
    pr = subprocess.Popen([os.path.join(a.build, "tools/panelrun/panelrun"), "--type", "SK1400A", "--ip",
                           "127.0.35.1", "--port", "35012", "--config", cfg, "--http", "127.0.35.1:35080",
                           "--until-signal"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=open(err, "w"))
    url = "http://127.0.35.1:35080"
    try:
        for _ in range(300):
            try:
                p = json.load(urllib.request.urlopen(url + "/api/v1/panels/35012/keys/25", timeout=2))
                if p["text"] == "Video":
                    break
            except OSError:
                pass
            time.sleep(0.1)
        time.sleep(1.0)
        stream = EventStream(url, None, 35012)
        logf = open(log)
        logf.seek(0, 2)
        press, tally = [], []
        for i in range(a.rounds):
            source, name = (11, "CAM 3") if i % 2 == 0 else (12, "CAM 4")
            for key in (2, source):
                req = urllib.request.Request("%s/api/v1/panels/35012/keys/%d" % (url, key),
                                             data=b'{"action":"tap","hold_ms":20}', method="POST")
                t0 = time.perf_counter()
                urllib.request.urlopen(req, timeout=5).read()
                if key == source:
                    t_take = t_uv = None
                    buf = ""
                    while t_uv is None and time.perf_counter() - t0 < 5:
                        chunk = logf.read()
                        now = time.perf_counter()
                        if chunk:
                            buf += chunk
                            if t_take is None and re.search(r'rx .*Q "\.SV002', buf):
                                t_take = now
                            if re.search(r'tx .*Q "\.UV002', buf):
                                t_uv = now
                        else:
                            time.sleep(0.0002)
                    if t_take is None or t_uv is None:
                        print("round %d: no take/tally seen" % i, file=sys.stderr)
                        continue
                    press.append((t_take - t0) * 1000)
                    stream.sock.settimeout(5)
                    while True:
                        e = stream.recv()
                        if os.environ.get("BENCH_DEBUG"):
                            print(e.get("type"), e.get("item", {}).get("id"), e.get("item", {}).get("lines"), file=sys.stderr)
                        if e.get("type") == "item" and e["item"]["id"] == 27 and \
                                " ".join(e["item"]["lines"]) == name:
                            tally.append((time.perf_counter() - t_uv) * 1000)
                            break
                time.sleep(0.05)
        stream.close()
        for what, xs in (("api press -> take on the wire", press), ("tally sent -> item event", tally)):
            if xs:
                print("%s: %d rounds, p50 %.2f ms, p99 %.2f ms, worst %.2f ms" %
                      (what, len(xs), pct(xs, 50), pct(xs, 99), max(xs)))
    finally:
        pr.terminate()
        rs.terminate()
        pr.wait(20)
        rs.wait(20)
    return 0


if __name__ == "__main__":
    sys.exit(main())
