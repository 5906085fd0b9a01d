#!/usr/bin/python3
"""The browser pages end to end, in Debian's Chromium driven headless: the
demonstration's SK1400A panel in Keystead (offscreen) against the router
simulator. The page opened from the link with the token keeps it in a
cookie; a click on a destination and a source makes the take at the router
and the tally shows on the page; two keys touched at once; a reload shows
the same state; a stopped host shows as disconnected and the page takes no
presses; the host started again, the page recovers by itself. Also: a
?view=1 connection's presses and a panel switched to refuse presses are
refused by the server, and the switch is kept in cfg.xml.

    test_browser.py SOURCE_DIR BUILD_DIR
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

SRC, BUILD = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(SRC, "bench", "webface"))
import browser  # noqa: E402

ADDR = "127.0.36.1"             # this test's own loopback address: router, HTTP
PANEL_PORT = 36012
HTTP_PORT = 36080               # fixed: the page finds the host again after a restart
TOKEN = "browser-test-token-7"
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


def call(url, method="GET", body=None):
    req = urllib.request.Request(url, data=body, method=method)
    req.add_header("Authorization", "Bearer " + TOKEN)
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def http_url(log, deadline=60):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        m = re.search(r"^http (http://\S+)", open(log).read(), re.M)
        if m:
            return m.group(1).rstrip("/")
        time.sleep(0.05)
    raise RuntimeError("keystead printed no http line: " + open(log).read()[-2000:])


def until(pred, what, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if pred():
                return True
        except Exception:  # noqa: BLE001 (the page may be reloading)
            pass
        time.sleep(0.1)
    return check(False, what)


def key(d, kid):
    return d.find_element("css selector", '.item[data-id="%d"]' % kid)


def label(d, kid):
    return key(d, kid).get_attribute("aria-label")


def shown(d):
    """What every key and display of the page shows."""
    return d.execute_script(
        "return [...document.querySelectorAll('.item[aria-label]')].map(e => "
        "[e.dataset.id, e.getAttribute('aria-label'), e.dataset.lamp || '', e.dataset.color || ''])")


SHOTS = os.environ.get("TESS_BROWSER_SHOTS")  # a directory for the pages' screenshots


def shot(d, name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        d.save_screenshot(os.path.join(SHOTS, name + ".png"))


def as_api(url, uid):
    """What the remote API says the panel's keys and displays show, as the
    page names them."""
    status, body = call("%s/api/v1/panels/%d" % (url, uid))
    if status != 200:
        return None
    out = {}
    for it in json.loads(body)["face"]["items"]:
        if it["kind"] in ("lcd", "led") and it["pushable"] and 1 <= it["id"] <= 127:
            words = " ".join(l for l in it.get("lines", []) if l.strip())
            out[str(it["id"])] = words or "key %d" % it["id"]
    return out


def page_shows_api(d, url, uid):
    want = as_api(url, uid)
    got = {k: v for k, v, _, _ in shown(d) if k in (want or {})}
    return want and got == want


def touch(d, points, kind):
    d.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})


def centre(d, kid):
    r = d.execute_script("const r = arguments[0].getBoundingClientRect();"
                         "return [r.left + r.width / 2, r.top + r.height / 2];", key(d, kid))
    return {"x": r[0], "y": r[1]}


def main():
    tmp = tempfile.mkdtemp(prefix="browser-test-")
    env = dict(os.environ, TMPDIR=tmp, QT_QPA_PLATFORM="offscreen")
    procs, d, ks = [], None, None
    base = os.path.join(tmp, "ks")
    token_file = os.path.join(tmp, "token")
    ks_log = os.path.join(tmp, "keystead.err")

    def start_keystead():
        p = subprocess.Popen([os.path.join(BUILD, "keystead", "keystead"), "--basedir", base,
                              "--http", "%s:%d" % (ADDR, HTTP_PORT), "--http-token", token_file], cwd=base,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=open(ks_log, "w"), env=env)
        return p, http_url(ks_log)

    try:
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        os.makedirs(os.path.join(base, "data", "p1"))
        subprocess.run([os.path.join(BUILD, "tools", "pcslpack", "pcslpack"), "pack",
                        os.path.join(SRC, "resources", "demo", "cfgSK1400A.pcsl"),
                        os.path.join(base, "data", "p1", "cfgSK1400A")], check=True, stdout=subprocess.DEVNULL)
        # Panel 1: the demonstration's SK1400A (a file from before the
        # presses switch: presses allowed); panel 2 refuses presses.
        with open(os.path.join(base, "cfg.xml"), "w") as f:
            f.write("""<?xml version = '1.0'?>
<!DOCTYPE arch SYSTEM 'arch'>
<arch><racks><e><name>studio</name><desc/><expanded>1</expanded><visible>1</visible><panel>
<e><uid>1</uid><name>desk</name><description/><paneltype>4</paneltype><visible>1</visible>
<firmware_ip>127.0.0.1</firmware_ip><panelPort>%d</panelPort><should_autostart>1</should_autostart></e>
<e><uid>2</uid><name>guest</name><description/><paneltype>4</paneltype><visible>1</visible>
<firmware_ip>127.0.0.1</firmware_ip><panelPort>%d</panelPort><should_autostart>0</should_autostart>
<remote_presses>0</remote_presses></e>
</panel><ui_data/></e></racks><puid>2</puid><ui_data/></arch>
""" % (PANEL_PORT, PANEL_PORT + 1))
        router_log = os.path.join(tmp, "routersim.log")
        procs.append(subprocess.Popen(
            [os.path.join(BUILD, "tools", "routersim", "routersim"), "--bind", ADDR + ":2001",
             "--panel", "127.0.0.1:%d" % PANEL_PORT, "--levels", "2", "--sources", "24", "--dests", "8"],
            stdin=subprocess.DEVNULL, stdout=open(router_log, "w"), stderr=subprocess.STDOUT, env=env))
        ks, url = start_keystead()

        d = browser.start(width=1300, height=900)
        d.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})

        # The link with the token: the page drops it from its address and
        # keeps it in a cookie; the list shows the panels live.
        d.get(url + "/?token=" + TOKEN)
        check("token" not in d.current_url, "the token left the address: " + d.current_url)
        until(lambda: "started" in d.find_element("css selector", 'tr[data-uid="1"]').text,
              "the list shows panel 1 started", 60)
        check(d.find_element("css selector", 'tr[data-uid="1"] a').get_attribute("href").endswith("/panel/1"),
              "panel 1 links to its face")

        shot(d, "index")
        d.get(url + "/panel/1?width=1200")
        until(lambda: label(d, 25) == "Video", "the level key shows Video", 60)
        until(lambda: "presses refused" not in d.find_element("id", "mode").text
              and "offline" not in d.find_element("css selector", ".face").get_attribute("class"),
              "the face takes presses")
        time.sleep(1.0)

        # Mouse: a destination, then a source.
        key(d, 2).click()
        time.sleep(0.3)
        key(d, 11).click()
        take = ".SV002,003"
        until(lambda: take in open(router_log).read(), "the take %s at routersim" % take)
        until(lambda: label(d, 27) == "CAM 3", "the routed source's name on the page")
        until(lambda: key(d, 11).get_attribute("data-lamp") == "on", "the source key lit on the page")
        shot(d, "take")

        # Two fingers at once: a destination held while a source is touched.
        p3, p12 = centre(d, 3), centre(d, 12)
        touch(d, [dict(p3, id=1)], "touchStart")
        time.sleep(0.15)
        touch(d, [dict(p3, id=1), dict(p12, id=2)], "touchStart")
        both = d.execute_script("return [3, 12].map(k => document.querySelector("
                                "'.item[data-id=\"' + k + '\"]').getAttribute('aria-pressed'))")
        check(both == ["true", "true"], "both touched keys held at once: %s" % both)
        time.sleep(0.15)
        touch(d, [], "touchEnd")
        take2 = ".SV003,004"
        until(lambda: take2 in open(router_log).read(), "the take %s from two fingers" % take2)
        until(lambda: label(d, 27) == "CAM 4", "the page shows CAM 4 routed")
        time.sleep(1.0)

        # A key held by a client that goes away is let go by the server: the
        # next press of it is a press again (a take).
        reply = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const ws = new WebSocket('ws://' + location.host + '/api/v1/events?panel=1');
            ws.onopen = () => ws.send(JSON.stringify({action: 'press', uid: 1, key: 13, id: 9}));
            ws.onmessage = e => { const m = JSON.parse(e.data); if (m.type === 'reply') { ws.close(); done(m); } };
            setTimeout(() => done(null), 5000);""")
        check(reply and reply.get("status") == 200, "a press over the event stream: %s" % reply)
        until(lambda: ".SV003,005" in open(router_log).read(), "the take of the held key")
        time.sleep(0.5)
        key(d, 14).click()
        until(lambda: ".SV003,006" in open(router_log).read(), "the take of CAM 6")
        time.sleep(0.3)
        call(url + "/api/v1/panels/1/keys/13", "POST", b'{"action":"tap","hold_ms":80}')
        until(lambda: open(router_log).read().count(".SV003,005") >= 2,
              "the key the closed connection held was let go: pressed again, it takes")
        time.sleep(1.0)

        # A reload shows the same state.
        before = shown(d)
        d.refresh()
        until(lambda: shown(d) == before and page_shows_api(d, url, 1), "the same state after a reload")

        # A view-only connection and a panel that refuses presses: the
        # server says no.
        reply = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const ws = new WebSocket('ws://' + location.host + '/api/v1/events?panel=1&view=1');
            ws.onopen = () => ws.send(JSON.stringify({action: 'tap', uid: 1, key: 2, id: 7}));
            ws.onmessage = e => { const m = JSON.parse(e.data); if (m.type === 'reply') { ws.close(); done(m); } };
            setTimeout(() => done(null), 5000);""")
        check(reply and reply.get("status") == 403, "a ?view=1 press refused: %s" % reply)
        status, body = call(url + "/api/v1/panels/2/keys/2", "POST", b'{"action":"tap"}')
        check(status == 403 and b"refuses presses" in body, "panel 2 refuses presses: %d %r" % (status, body))
        # Pages of other sites are refused, whatever they carry.
        req = urllib.request.Request(url + "/api/v1/panels/1/keys/2", data=b'{"action":"tap"}', method="POST")
        req.add_header("Cookie", "tessaline_token=" + TOKEN)
        req.add_header("Origin", "http://elsewhere.example")
        try:
            status = urllib.request.urlopen(req, timeout=10).status
        except urllib.error.HTTPError as e:
            status = e.code
        check(status == 403, "a press from another site's page refused: %d" % status)
        # Without a token, only requests naming the server by its address.
        snap = subprocess.Popen([os.path.join(BUILD, "tools", "facesnap", "facesnap"), "--model", "SK1400A",
                                 "--serve", ADDR + ":0", os.path.join(tmp, "snap.png")], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
        procs.append(snap)
        snap_url = None
        for line in snap.stdout:
            m = re.match(r"http (\S+)", line)
            if m:
                snap_url = m.group(1).rstrip("/")
                break
        for host, want in (("elsewhere.example", 403), (snap_url.split("//")[1], 200)):
            req = urllib.request.Request(snap_url + "/api/v1/panels")
            req.add_header("Host", host)
            try:
                status = urllib.request.urlopen(req, timeout=10).status
            except urllib.error.HTTPError as e:
                status = e.code
            check(status == want, "tokenless server asked as %s: %d (want %d)" % (host, status, want))
        snap.stdin.close()

        d.get(url + "/panel/1?view=1&width=1200")
        until(lambda: d.find_element("id", "mode").text == "view only" and label(d, 27) == "CAM 5",
              "the view-only page")
        d.get(url + "/panel/1?width=1200")
        until(lambda: label(d, 27) == "CAM 5", "the panel page again")

        # The host goes away: the page says so and takes no presses.
        ks.terminate()
        ks.wait(30)
        until(lambda: "disconnected" in d.find_element("id", "conn").text
              and "offline" in d.find_element("css selector", ".face").get_attribute("class"),
              "the page says it is disconnected", 15)
        shot(d, "disconnected")
        key(d, 2).click()
        key(d, 9).click()
        check(key(d, 2).get_attribute("aria-pressed") == "false", "no key held while disconnected")
        cfg = open(os.path.join(base, "cfg.xml")).read()
        check(re.search(r"<uid>2</uid>.*?<remote_presses>0</remote_presses>", cfg, re.S)
              and re.search(r"<uid>1</uid>.*?<remote_presses>1</remote_presses>", cfg, re.S),
              "cfg.xml keeps each panel's presses switch")

        # Started again, the host is found again by the same page.
        ks, _ = start_keystead()
        until(lambda: "disconnected" not in d.find_element("id", "conn").text
              and "offline" not in d.find_element("css selector", ".face").get_attribute("class"),
              "the page reconnected by itself", 60)
        until(lambda: label(d, 25) == "Video" and "online" in d.find_element("id", "summary").text
              and page_shows_api(d, url, 1), "the face shows the panel as it is now", 60)
        shot(d, "recovered")
    finally:
        if d:
            browser.finish(d)
        for p in [ks] + list(reversed(procs)):
            if p is None:
                continue
            p.terminate()
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
        if failures:
            print("kept for a look:", tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
