#!/usr/bin/env python3
"""The remote API end to end, through the API alone: against the router
simulator, a destination and a source are pressed on the same SK1400A panel
in Keystead (offscreen) and in panelrun; the right keys then show the routed
source (text and colour), the take reached the router, the event stream
reported it, and both hosts give the same JSON for the panel. Also: a
non-loopback address without a token is refused at start, a wrong or
missing token gets 401 and nothing else, bad input gets a JSON error.

    test_remote_api.py SOURCE_DIR BUILD_DIR
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
sys.path.insert(0, os.path.join(SRC, "tools", "remote"))
from wait_tally import EventStream  # noqa: E402

ADDR = "127.0.34.1"          # this test's own loopback address: router, HTTP
PANEL_ADDR = "127.0.0.1"     # an address Keystead lists as this machine's
KS_PORT, PR_PORT = 34012, 34013
DEST_KEY, SOURCE_KEY, SHOW_KEY = 2, 11, 27   # MON 2, CAM 3, the routed source's name
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)


def call(url, method="GET", body=None, token=None, cookie=None, timeout=10):
    req = urllib.request.Request(url, data=body, method=method)
    if token:
        req.add_header("Authorization", "Bearer " + token)
    if cookie:
        req.add_header("Cookie", cookie)
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def get_json(url, token=None):
    status, body = call(url, token=token)
    assert status == 200, (url, status, body)
    return json.loads(body)


def http_url(proc, log, name, deadline=60):
    """The 'http URL' line the host prints at start (its standard error
    goes to the file log)."""
    end = time.monotonic() + deadline
    while time.monotonic() < end and proc.poll() is None:
        m = re.search(r"^http (http://\S+)", open(log).read(), re.M)
        if m:
            return m.group(1).rstrip("/")
        time.sleep(0.05)
    raise RuntimeError("%s printed no http line: %s" % (name, open(log).read()[-2000:]))


def wait_for(pred, what, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.1)
    check(False, what)
    return False


def comparable(panel):
    """A panel's face without what is timing (flash phase) or host (name)."""
    items = []
    for item in panel["face"]["items"]:
        item = dict(item)
        if item.get("flash"):
            item["flash"] = dict(item["flash"], phase=None)
        items.append(item)
    return {"type": panel["type"], "state": panel["state"], "online": panel["online"],
            "configLoaded": panel["configLoaded"], "width": panel["face"]["width"],
            "height": panel["face"]["height"], "items": items}


def main():
    tmp = tempfile.mkdtemp(prefix="remote-api-")
    env = dict(os.environ, TMPDIR=tmp, QT_QPA_PLATFORM="offscreen")
    procs = []
    try:
        pack = os.path.join(BUILD, "tools", "pcslpack", "pcslpack")
        cfg = os.path.join(tmp, "cfgSK1400A")
        subprocess.run([pack, "pack", os.path.join(SRC, "resources", "demo", "cfgSK1400A.pcsl"), cfg],
                       check=True, stdout=subprocess.DEVNULL)

        # A non-loopback address without a token is refused at start.
        r = subprocess.run([os.path.join(BUILD, "tools", "panelrun", "panelrun"), "--http", "0.0.0.0:0",
                            "--run-ms", "100"], env=env, capture_output=True, text=True, timeout=30)
        check(r.returncode == 2 and "token is required" not in r.stdout and "--http-token" in r.stderr,
              "panelrun --http 0.0.0.0:0 without a token: status %d, %r" % (r.returncode, r.stderr))
        base = os.path.join(tmp, "ks")
        r = subprocess.run([os.path.join(BUILD, "keystead", "keystead"), "--basedir", base,
                            "--http", "0.0.0.0:0"], env=env, capture_output=True, text=True, timeout=60)
        check(r.returncode == 2 and "--http-token" in r.stderr,
              "keystead --http 0.0.0.0:0 without a token: status %d, %r" % (r.returncode, r.stderr))

        # A router for each host, so that both panels see the same traffic.
        for n, port in ((1, KS_PORT), (2, PR_PORT)):
            log = open(os.path.join(tmp, "routersim%d.log" % n), "w")
            procs.append(subprocess.Popen(
                [os.path.join(BUILD, "tools", "routersim", "routersim"), "--bind",
                 "127.0.34.%d:2001" % n, "--panel", "%s:%d" % (PANEL_ADDR, port),
                 "--levels", "2", "--sources", "24", "--dests", "8"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, env=env))

        token_file = os.path.join(tmp, "token")
        with open(token_file, "w") as f:
            f.write("s3cret-token-for-this-test\n")
        pr = subprocess.Popen(
            [os.path.join(BUILD, "tools", "panelrun", "panelrun"), "--type", "SK1400A", "--ip", PANEL_ADDR,
             "--port", str(PR_PORT), "--config", cfg, "--workdir", os.path.join(tmp, "pr"),
             "--http", ADDR + ":0", "--http-token", token_file, "--until-signal"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(tmp, "panelrun.err"), "w"), env=env)
        procs.append(pr)
        pr_url = http_url(pr, os.path.join(tmp, "panelrun.err"), "panelrun")
        token = "s3cret-token-for-this-test"

        os.makedirs(os.path.join(base, "data", "p1"))
        shutil.copy(cfg, os.path.join(base, "data", "p1", "cfgSK1400A"))
        with open(os.path.join(base, "cfg.xml"), "w") as f:
            f.write("""<?xml version = '1.0'?>
<!DOCTYPE arch SYSTEM 'arch'>
<arch><racks><e><name>rack</name><desc/><expanded>1</expanded><visible>1</visible><panel>
<e><uid>1</uid><name>desk</name><description/><paneltype>4</paneltype><visible>1</visible>
<firmware_ip>127.0.0.1</firmware_ip><panelPort>%d</panelPort><should_autostart>1</should_autostart></e>
</panel><ui_data/></e></racks><puid>1</puid><ui_data/></arch>
""" % KS_PORT)
        ks = subprocess.Popen([os.path.join(BUILD, "keystead", "keystead"), "--basedir", base,
                               "--http", ADDR + ":0"], cwd=base, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL,
                              stderr=open(os.path.join(tmp, "keystead.err"), "w"), env=env)
        procs.append(ks)
        ks_url = http_url(ks, os.path.join(tmp, "keystead.err"), "keystead")

        # Tokens: none or a wrong one gets 401 and nothing else; the right
        # one as a header or a cookie gets in.
        status, body = call(pr_url + "/api/v1/panels")
        check(status == 401 and b"panels" not in body, "no token: %d %r" % (status, body))
        status, body = call(pr_url + "/api/v1/panels", token="wrong")
        check(status == 401 and json.loads(body) == {"error": "wrong token"}, "wrong token: %d %r" % (status, body))
        status, body = call(pr_url + "/api/v1/panels/%d/keys/%d" % (PR_PORT, DEST_KEY), "POST",
                            b'{"action":"tap"}', token="wrong")
        check(status == 401, "a press with a wrong token: %d" % status)
        check(call(pr_url + "/api/v1/panels", cookie="tessaline_token=" + token)[0] == 200, "token cookie")
        try:
            EventStream(pr_url, "wrong", PR_PORT)
            check(False, "event stream with a wrong token")
        except ConnectionError as e:
            check("401" in str(e), "event stream with a wrong token: %s" % e)

        uid_pr, uid_ks = PR_PORT, 1
        def started(url, uid, tok):
            p = get_json("%s/api/v1/panels/%d" % (url, uid), tok)
            return p["state"] == "started" and p["online"] and p["configLoaded"]
        wait_for(lambda: started(pr_url, uid_pr, token), "panelrun's panel online")
        if not wait_for(lambda: started(ks_url, uid_ks, None), "Keystead's panel online"):
            print(get_json("%s/api/v1/panels" % ks_url), open(os.path.join(tmp, "keystead.err")).read()[-3000:])

        # The faces have been drawn from the configuration (the level key
        # shows its legend). A panel is online as soon as its configuration
        # is loaded, before any router has polled it; a take then has no
        # router to go to and is dropped, so the presses wait until each
        # panel has answered its router's first poll.
        for url, uid, tok in ((ks_url, uid_ks, None), (pr_url, uid_pr, token)):
            wait_for(lambda: get_json("%s/api/v1/panels/%d/keys/25" % (url, uid), tok)["text"] == "Video",
                     "the level key's legend on %s" % url)
        for n in (1, 2):
            wait_for(lambda: re.search(r"^rx .* y$", open(os.path.join(tmp, "routersim%d.log" % n)).read(), re.M),
                     "the panel answered router %d's poll" % n)

        # Bad input changes nothing and says why.
        for url, method, body, want in [
                ("/api/v1/panels/999", "GET", None, 404),
                ("/api/v1/panels/%d/keys/99" % uid_pr, "GET", None, 404),
                ("/api/v1/panels/%d/keys/%d" % (uid_pr, DEST_KEY), "POST", b"{nope", 400),
                ("/api/v1/panels/%d/keys/%d" % (uid_pr, DEST_KEY), "POST", b'{"action":"tap","hold_ms":-1}', 400),
                ("/api/v1/panels/%d/keys/%d" % (uid_pr, DEST_KEY), "POST", b'{"action":"tap","hold_ms":1e9}', 400),
                ("/api/v1/panels/%d/keys/%d" % (uid_pr, DEST_KEY), "POST", b" " * (64 * 1024 + 1), 413),
                ("/api/v1/panels/%d/start" % uid_pr, "POST", b"", 409),
                ("/api/v1/nothing", "GET", None, 404)]:
            status, reply = call(pr_url + url, method, body, token=token)
            check(status == want and "error" in json.loads(reply),
                  "%s %s: %d %r (want %d)" % (method, url, status, reply[:100], want))

        # Subscribe, then press a destination and a source on both hosts.
        stream = EventStream(ks_url, None, uid_ks)
        for url, uid, tok in ((ks_url, uid_ks, None), (pr_url, uid_pr, token)):
            for key in (DEST_KEY, SOURCE_KEY):
                status, reply = call("%s/api/v1/panels/%d/keys/%d" % (url, uid, key), "POST",
                                     json.dumps({"action": "tap", "hold_ms": 80}).encode(), token=tok)
                check(status == 200, "tap %d on %s: %d %r" % (key, url, status, reply))
                time.sleep(0.3)

        # The take reached each router.
        take = '.SV%03d,%03d' % (2, 3)
        for n in (1, 2):
            wait_for(lambda: take in open(os.path.join(tmp, "routersim%d.log" % n)).read(),
                     "the take %s in router %d's log" % (take, n))

        def shows(url, uid, tok):
            item = get_json("%s/api/v1/panels/%d/keys/%d" % (url, uid, SHOW_KEY), tok)
            return " ".join(l.strip() for l in item["lines"]) == "CAM 3"
        wait_for(lambda: shows(ks_url, uid_ks, None), "Keystead: key %d shows CAM 3" % SHOW_KEY)
        wait_for(lambda: shows(pr_url, uid_pr, token), "panelrun: key %d shows CAM 3" % SHOW_KEY)

        # The event stream told of it.
        seen = False
        stream.sock.settimeout(5)
        try:
            while not seen:
                e = stream.recv()
                if e.get("type") == "item" and e["item"]["id"] == SHOW_KEY:
                    seen = " ".join(l.strip() for l in e["item"]["lines"]) == "CAM 3"
        except Exception as e:  # noqa: BLE001
            print("event stream:", e)
        check(seen, "an item event with CAM 3 on key %d" % SHOW_KEY)
        stream.close()

        time.sleep(1.0)  # let both settle
        ks_panel = get_json("%s/api/v1/panels/%d" % (ks_url, uid_ks))
        pr_panel = get_json("%s/api/v1/panels/%d" % (pr_url, uid_pr), token)
        src = [i for i in ks_panel["face"]["items"] if i["id"] == SOURCE_KEY][0]
        others = [i for i in ks_panel["face"]["items"] if i["kind"] == "lcd" and i["id"] in range(9, 25)
                  and i["id"] != SOURCE_KEY]
        check(src["lamp"] == "on" and all(o["color"] != src["color"] for o in others),
              "the routed source's key is lit alone: %s" % src)
        check(" ".join(l.strip() for l in src["lines"]) == "CAM 3", "source key legend %r" % src["lines"])
        a, b = comparable(ks_panel), comparable(pr_panel)
        if a != b:
            for x, y in zip(a["items"], b["items"]):
                if x != y:
                    print("Keystead:", x, "\npanelrun:", y)
        check(a == b, "Keystead and panelrun give the same JSON for the panel")

        # Keystead draws its keys.
        status, png = call("%s/api/v1/panels/%d/keys/%d.png" % (ks_url, uid_ks, SOURCE_KEY))
        check(status in (200, 501) and (status != 200 or png.startswith(b"\x89PNG")),
              "key picture: %d" % status)
        status, _ = call("%s/api/v1/panels/%d/face.png" % (pr_url, uid_pr), token=token)
        check(status == 501, "panelrun gives no pictures: %d" % status)
        # Stop through the API; panelrun keeps serving.
        status, _ = call("%s/api/v1/panels/%d/stop" % (pr_url, uid_pr), "POST", b"", token=token)
        check(status == 200, "stop: %d" % status)
        wait_for(lambda: get_json("%s/api/v1/panels/%d" % (pr_url, uid_pr), token)["state"] == "stopped",
                 "panelrun's panel stopped")
    finally:
        for p in reversed(procs):
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
