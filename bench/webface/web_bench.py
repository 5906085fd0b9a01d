#!/usr/bin/python3
"""The browser pages under load, in headless Chromium against panelrun and
routersim on 127.0.37.1:

 1. click to take: a click on a source key of a panel's page (the demo's
    SK1400A, destination MON 2 chosen first) to the take's line in the
    router's log (polled every 0.2 ms), p50/p99 over --rounds clicks. The
    click is dispatched through the browser's own input pipeline (CDP), so
    the figure holds the page's press, the event stream, the host, the
    firmware's 10 ms key scan and the router link;
 2. a tally storm: --faces panels (default 50) in one panelrun, each
    showing the sources routed to destinations 1..24 as legends on keys
    1..24 and 8 source keys lit by routing, routersim changing --storm-rate
    random crosspoints a second (default 400) on every panel. The faces are
    open in the browser, as one rack page (default) or one page each
    (--tabs). Measured over --seconds: panelrun's CPU (cores) with the
    faces open and without any browser, and the frames each face drew per
    second (mean, slowest face).

    web_bench.py BUILD_DIR [--rounds N] [--faces N] [--storm-rate R] [--seconds S] [--tabs]
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import browser  # noqa: E402

ADDR = "127.0.37.1"
SRC = os.path.dirname(os.path.dirname(HERE))


def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(round(p / 100.0 * (len(xs) - 1))))]


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def storm_config(keys=32, dests=24, sources=24):
    """Keys 1..dests show the source routed to their destination; the rest
    are source keys of destination 1."""
    t = "obj Configsettings() { numSources=%d numDestinations=%d numLevels=1 }\n" % (sources, dests)
    t += 'obj KnownLevels() { obj Level(1) { lN="Video" } }\nobj KnownSources() {\n'
    t += "".join(' obj Source(%d) { sN="CAM %d" }\n' % (s, s) for s in range(1, sources + 1))
    t += "}\nobj KnownDestinations() {\n"
    t += "".join(' obj Destination(%d) { dN="MON %d" }\n' % (d, d) for d in range(1, dests + 1))
    t += "}\nobj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
    t += "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    for k in range(1, keys + 1):
        if k <= dests:
            t += ' obj Btn(%d) { bT="Current Source Display" bV=%d }\n' % (k, k)
        else:
            t += ' obj Btn(%d) { bT="Source" bV=%d }\n' % (k, k - dests)
    t += "} } }\n"
    payload = ("#" * 43 + "\n" + t).encode()
    n = len(payload) + 10
    return b"CONFIG" + bytes([n >> 24 & 255, n >> 16 & 255, n >> 8 & 255, n & 255]) + payload


def wait_http(url, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            return json.load(urllib.request.urlopen(url + "/api/v1/panels", timeout=2))
        except Exception:  # noqa: BLE001
            time.sleep(0.1)
    raise RuntimeError("no remote API at " + url)


def key_centre(d, kid):
    return d.execute_script("const r = document.querySelector('.item[data-id=\"%d\"]')"
                            ".getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2];"
                            % kid)


def click(d, xy):
    for kind in ("mousePressed", "mouseReleased"):
        d.execute_cdp_cmd("Input.dispatchMouseEvent", {"type": kind, "x": xy[0], "y": xy[1],
                                                       "button": "left", "clickCount": 1})


def click_to_take(build, tmp, rounds):
    cfg = os.path.join(tmp, "cfgSK1400A")
    subprocess.run([os.path.join(build, "tools/pcslpack/pcslpack"), "pack",
                    os.path.join(SRC, "resources/demo/cfgSK1400A.pcsl"), cfg], check=True,
                   stdout=subprocess.DEVNULL)
    log = os.path.join(tmp, "routersim1.log")
    procs = [subprocess.Popen([os.path.join(build, "tools/routersim/routersim"), "--bind", ADDR + ":2001",
                               "--panel", ADDR + ":37012", "--levels", "2", "--sources", "24", "--dests", "8"],
                              stdin=subprocess.DEVNULL, stdout=open(log, "w"), stderr=subprocess.STDOUT)]
    procs.append(subprocess.Popen([os.path.join(build, "tools/panelrun/panelrun"), "--type", "SK1400A",
                                   "--ip", ADDR, "--port", "37012", "--config", cfg, "--workdir",
                                   os.path.join(tmp, "p1"), "--http", ADDR + ":37080", "--until-signal"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL))
    d = None
    try:
        url = "http://%s:37080" % ADDR
        wait_http(url)
        d = browser.start(width=1300, height=700)
        d.get(url + "/panel/37012?width=1200")
        browser.wait(d, "const e = document.querySelector('.item[data-id=\"25\"]');"
                        "return e && e.getAttribute('aria-label') === 'Video' &&"
                        " !document.querySelector('.face').classList.contains('offline')", 60)
        time.sleep(1.0)
        click(d, key_centre(d, 2))  # MON 2
        time.sleep(0.5)
        f = open(log)
        f.seek(0, 2)
        times, buf = [], ""
        for r in range(rounds):
            k = 9 + r % 8                # sources 1..8 in turn: every take changes the routing
            want = 'Q ".SV002,%03d' % (k - 8)
            xy = key_centre(d, k)
            t0 = time.monotonic()
            click(d, xy)
            end = t0 + 5
            while time.monotonic() < end:
                buf += f.read()
                if want in buf:
                    times.append((time.monotonic() - t0) * 1000)
                    break
                time.sleep(0.0002)
            buf = ""
            time.sleep(0.25)
        return times
    finally:
        if d:
            browser.finish(d)
        for p in reversed(procs):
            p.terminate()
            p.wait(20)


def storm(build, tmp, faces, rate, seconds, tabs):
    cfg = os.path.join(tmp, "cfgstorm")
    with open(cfg, "wb") as f:
        f.write(storm_config())
    base = 37101
    rs = subprocess.Popen([os.path.join(build, "tools/routersim/routersim"), "--bind", ADDR + ":2001",
                           "--panel-range", "%s:%d-%d" % (ADDR, base, base + faces - 1), "--levels", "1",
                           "--sources", "24", "--dests", "24", "--storm", str(rate), "--quiet"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pr = subprocess.Popen([os.path.join(build, "tools/panelrun/panelrun"), "--type", "SK1400A", "--ip", ADDR,
                           "--panels", str(faces), "--port-base", str(base), "--config", cfg, "--workdir",
                           os.path.join(tmp, "rack"), "--http", ADDR + ":37081", "--until-signal"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    d = None
    url = "http://%s:37081" % ADDR
    try:
        end = time.monotonic() + 180
        while time.monotonic() < end:
            l = wait_http(url)
            if sum(1 for p in l["panels"] if p["online"]) == faces:
                break
            time.sleep(0.5)
        time.sleep(3)
        c0, t0 = cpu_seconds(pr.pid), time.monotonic()
        time.sleep(seconds)
        alone = (cpu_seconds(pr.pid) - c0) / (time.monotonic() - t0)

        d = browser.start(width=1300, height=900)
        uids = [p["uid"] for p in wait_http(url)["panels"]]
        if tabs:
            first = True
            for uid in uids:
                if not first:
                    d.switch_to.new_window("tab")
                first = False
                d.get(url + "/panel/%d?width=600" % uid)
        else:
            d.get(url + "/rack/?width=600")
        browser.wait(d, "return Tess.faces.length === %d && Tess.faces.every(f => f.W)" % (1 if tabs else faces),
                     120)
        time.sleep(3)
        handles = d.window_handles
        for h in handles:
            d.switch_to.window(h)
            d.execute_script("tessFaceStats(true); Tess.Stream.received = 0")
        c0, t0 = cpu_seconds(pr.pid), time.monotonic()
        time.sleep(seconds)
        withfaces = (cpu_seconds(pr.pid) - c0) / (time.monotonic() - t0)
        rates, received = [], 0
        for h in handles:
            d.switch_to.window(h)
            received += d.execute_script("return Tess.Stream.received")
            print("page:", d.execute_script("return document.getElementById('conn').textContent"), file=sys.stderr)
        for h in handles:
            d.switch_to.window(h)
            for s in d.execute_script("return tessFaceStats(false)"):
                rates.append(s["frames"] / s["seconds"])
        print("events received by the pages: %.0f a second" % (received / seconds), file=sys.stderr)
        return alone, withfaces, rates
    finally:
        if d:
            browser.finish(d)
        for p in (pr, rs):
            if p and p.poll() is None:
                p.terminate()
                p.wait(30)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=100)
    ap.add_argument("--faces", type=int, default=50)
    ap.add_argument("--storm-rate", type=int, default=400)
    ap.add_argument("--seconds", type=float, default=20)
    ap.add_argument("--tabs", action="store_true")
    ap.add_argument("--no-storm", action="store_true")
    a = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix="web-bench-")
    try:
        if a.rounds > 0:
            t = click_to_take(a.build, tmp, a.rounds)
            print("click to take: %d of %d clicks, p50 %.1f ms, p99 %.1f ms, worst %.1f ms"
                  % (len(t), a.rounds, pct(t, 50), pct(t, 99), max(t)), flush=True)
        if not a.no_storm:
            alone, withfaces, rates = storm(a.build, tmp, a.faces, a.storm_rate, a.seconds, a.tabs)
            print("storm of %d crosspoints/s on %d panels: panelrun %.3f cores without a browser, %.3f with "
                  "%d faces open (%s); frames a face draws per second: mean %.1f, slowest %.1f"
                  % (a.storm_rate, a.faces, alone, withfaces, len(rates),
                     "one page each" if a.tabs else "one rack page", sum(rates) / max(1, len(rates)),
                     min(rates) if rates else 0), flush=True)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
