"""Panels marked for autostart start once the program's timed start-up has
run (100 ms + 300 ms + 1000 ms after the event loop starts), not at once at
launch; a marked panel without a type is not started, its mark is cleared
and the panel set saved.

    test_autostart.py KEYSTEAD
"""

import os
import re
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import Fail, Proc, Sandbox, check, panel_set_xml, run_tests, stored_panels

KEYSTEAD = os.path.abspath(sys.argv[1])
VERSION_LINE = r"############VERSION 1\.1\.1\.7"


def autostart():
    box = Sandbox("autostart")
    ks = None
    try:
        cfg = os.path.join(box.base, "cfg.xml")
        with open(cfg, "w") as f:
            f.write(panel_set_xml([("autostart rack", False, [
                {"uid": 1, "type": 10, "ip": "127.0.0.1", "port": 42611, "autostart": True},
                {"uid": 2, "type": 4, "ip": "127.0.0.1", "port": 42612, "autostart": True},
                {"uid": 3, "type": 0, "ip": "127.0.0.1", "port": 42613, "autostart": True},
                {"uid": 4, "type": 4, "ip": "127.0.0.1", "port": 42614, "autostart": False},
            ])]))
        ks = Proc([KEYSTEAD, "--basedir", box.base], env=box.env(), cwd=box.root)
        _, t0, _ = ks.err.wait(VERSION_LINE, 60)
        starts = {}
        for uid in (1, 2):
            _, t, _ = ks.err.wait(r"create panel dir .* p%d$" % uid, 30)
            starts[uid] = t - t0
        # The event loop starts right after the version line; the panels
        # follow the three timed steps. An upper bound leaves room for a
        # loaded machine; the lower one is the point.
        print("panel starts after launch: %s" % {u: round(t, 2) for u, t in starts.items()})
        for uid, dt in starts.items():
            check(dt >= 1.3, "panel %d started %.2f s after launch, before its time" % (uid, dt))
            check(dt < 8.0, "panel %d started only %.2f s after launch" % (uid, dt))
        check(ks.err.find(r"panel autostart failed .*") is not None,
              "no 'panel autostart failed' line:\n" + ks.err.text())
        check(ks.err.find(r"create panel dir .* p[34]$") is None, "panel 3 or 4 was started")
        check(not os.path.exists(os.path.join(box.base, "data", "p3")), "panel 3 has a directory")

        # The cleared mark is saved while the program runs.
        deadline = time.monotonic() + 15
        while True:
            stored = stored_panels(cfg)
            if stored.get(3, {}).get("should_autostart") == "0":
                break
            if time.monotonic() > deadline:
                raise Fail("panel 3's mark was not saved: %s" % stored.get(3))
            time.sleep(0.2)
        check(stored[1]["should_autostart"] == "1" and stored[2]["should_autostart"] == "1",
              "marks of the started panels: %s" % stored)
        # Both panels run their own firmware copy.
        for uid, model in ((1, "SK2000A"), (2, "SK1400A")):
            d = os.path.join(box.base, "data", "p%d" % uid)
            check(os.path.exists(os.path.join(d, "firm.")), "no firmware copy in %s" % d)
            check(os.path.exists(os.path.join(d, "cfg" + model)), "no configuration in %s" % d)

        rc = ks.stop(60)
        check(rc == 0, "status %d after SIGTERM:\n%s" % (rc, ks.err.text()))
        stored = stored_panels(cfg)
        check([stored[u]["should_autostart"] for u in (1, 2, 3, 4)] == ["1", "1", "0", "0"],
              "marks after the end: %s" % stored)
        # The main window handed its geometry (key 0) and tree header (key
        # 2) to the panel set before the set was saved and deleted.
        tail = open(cfg).read().rsplit("</racks>", 1)[1]
        keys = re.findall(r"<k>(\d+)</k>\s*<v>[^<]+</v>", tail)
        check("0" in keys and "2" in keys, "interface data not stored: %r" % tail)
    finally:
        if ks and ks.alive():
            ks.p.kill()
        box.cleanup()


run_tests([("autostart", autostart)])
