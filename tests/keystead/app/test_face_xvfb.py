"""Keystead on a virtual screen, used with the mouse: a prepared panel set
starts two panels against the router simulator, both come online, clicks
on a destination key and then a source key of each face put the take on
the wire and the face shows the new tally. Then the log window of
--logwindow, and the message box of a second copy.

    test_face_xvfb.py SOURCE_DIR BUILD_DIR

TESS_SHOTS_DIR, when set, keeps the screenshots (face-before.png,
face-after.png, logwindow.png, second-instance.png).
"""

import os
import sys
import re
import subprocess
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import (Fail, Proc, Sandbox, Xvfb, check, find_window, layout_items, pack_config,
                     panel_set_xml, run_tests, window_geometry, xdotool)

SRC = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2])
KEYSTEAD = os.path.join(BUILD, "keystead", "keystead")
ROUTERSIM = os.path.join(BUILD, "tools", "routersim", "routersim")
PCSLPACK = os.path.join(BUILD, "tools", "pcslpack", "pcslpack")
XSHOT = os.path.join(BUILD, "devtools", "xshot", "xshot")
VERSION_LINE = r"############VERSION 1\.1\.1\.7"
ROUTER = "127.0.0.175"
# Top to bottom in the rack window: (uid, model, type index, port).
FACES = [(1, "SK1400A", 4, 42711), (2, "SK2000A", 10, 42712)]
RACK = "Mouse rack"


def shot(env, box, name):
    keep = os.environ.get("TESS_SHOTS_DIR")
    path = os.path.join(keep if keep else box.root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run([XSHOT, path], env=env, check=True)
    return path


def region_colour(png, rect):
    """Mean (r, g, b) of a rectangle (x0, y0, x1, y1) of a PNG."""
    r = subprocess.run([XSHOT, "--mean", png] + [str(v) for v in rect], capture_output=True,
                       text=True, timeout=30)
    check(r.returncode == 0, "xshot --mean: " + r.stderr)
    return tuple(float(v) for v in r.stdout.split())


class FaceMap:
    """Where each key of the rack window's faces is on the screen: the faces
    stacked top to bottom, each scaled to the window's inner width."""

    def __init__(self, env, wid):
        self.x, self.y, self.w, self.h = window_geometry(env, wid)
        self.faces = []
        top = 0.0
        for uid, model, _, port in FACES:
            pw, ph, items = layout_items(os.path.join(SRC, "resources",
                                                      "layout_%s.xml" % model.lower()))
            self.faces.append((model, port, top, pw, ph, items))
            top += self.w * ph / pw + 2

    def key_rect(self, model, key):
        for m, _, top, pw, ph, items in self.faces:
            if m == model:
                s = self.w / pw
                x, y, w, h = items[key]
                return (int(self.x + x * s), int(self.y + top + y * s),
                        int(self.x + (x + w) * s), int(self.y + top + (y + h) * s))
        raise Fail("no face " + model)

    def click(self, env, model, key):
        x0, y0, x1, y1 = self.key_rect(model, key)
        xdotool(env, "mousemove", (x0 + x1) // 2, (y0 + y1) // 2)
        xdotool(env, "mousedown", 1)
        time.sleep(0.15)
        xdotool(env, "mouseup", 1)
        time.sleep(0.3)


def inner(rect, margin=0.25):
    x0, y0, x1, y1 = rect
    dx, dy = int((x1 - x0) * margin), int((y1 - y0) * margin)
    return (x0 + dx, y0 + dy, x1 - dx, y1 - dy)


def differs(a, b, by=8):
    return sum(abs(p - q) for p, q in zip(a, b)) > by


def mouse_takes():
    box = Sandbox("face")
    screen = Xvfb(1600, 1200)
    router = ks = None
    try:
        env = screen.env(box.env(offscreen=False))
        with open(os.path.join(box.base, "cfg.xml"), "w") as f:
            f.write(panel_set_xml([(RACK, True, [
                {"uid": uid, "name": model, "type": t, "ip": "127.0.0.1", "port": port,
                 "autostart": True} for uid, model, t, port in FACES])]))
        for uid, model, _, _ in FACES:
            pack_config(PCSLPACK, os.path.join(SRC, "resources", "demo", "cfg%s.pcsl" % model),
                        os.path.join(box.base, "data", "p%d" % uid, "cfg" + model))
        router = Proc([ROUTERSIM, "--bind", ROUTER + ":2001", "--levels", "2", "--sources", "24",
                       "--dests", "8", "--poll-ms", "500"]
                      + sum((["--panel", "127.0.0.1:%d" % p] for _, _, _, p in FACES), []),
                      env=env, stdin=subprocess.PIPE)
        ks = Proc([KEYSTEAD, "--basedir", box.base], env=env, cwd=box.root)
        ks.err.wait(VERSION_LINE, 60)
        for _, model, _, port in FACES:
            router.out.wait(r"^rx 127\.0\.0\.1:%d \[[^]]*\] y$" % port, 60)
        check(not xdotool(env, "search", "--name", "^Tessaline log$", check_rc=False).split(),
              "a log window without --logwindow")
        wid = find_window(env, re.escape(RACK))
        # A rack window without stored geometry opens wide enough to click
        # on, beside the main window, which does not cover it.
        time.sleep(1.5)
        faces = FaceMap(env, wid)
        check(faces.w >= 800, "rack window only %d wide" % faces.w)
        main = xdotool(env, "search", "--name", "^Tessaline$", check_rc=False).split()
        check(main, "no main window")
        mx, my, mw, mh = window_geometry(env, main[0])
        check(faces.y >= my + mh or faces.x >= mx + mw,
              "the main window (%d,%d %dx%d) covers the rack window at %d,%d"
              % (mx, my, mw, mh, faces.x, faces.y))
        time.sleep(1.5)  # the faces redrawn after the first poll
        before = shot(env, box, "face-before.png")

        # SK1400A: PGM (key 3), then VTR 1 (key 15, source 7).
        mark = len(router.out.lines)
        faces.click(env, "SK1400A", 3)
        faces.click(env, "SK1400A", 15)
        router.out.wait(r'^rx 127\.0\.0\.1:42711 .*Q "\.SV003,007\\r"', 20, mark)
        for _, _, _, port in FACES:
            router.out.wait(r"^tx 127\.0\.0\.1:%d .*\.UV003,007" % port, 20, mark)
        # SK2000A: MON 2 (key 7), then CAM 3 (key 16).
        faces.click(env, "SK2000A", 7)
        faces.click(env, "SK2000A", 16)
        router.out.wait(r'^rx 127\.0\.0\.1:42712 .*Q "\.SV002,003\\r"', 20, mark)
        time.sleep(1.5)
        after = shot(env, box, "face-after.png")

        # What changed on the faces: on the SK1400A the selected destination
        # (MON 1 -> PGM), the routed source's key (VTR 1, the tally), the
        # routed source's name key and the Take key's legend ("TAKE" over
        # the routed source); on the SK2000A the destination lamps (MON 1
        # -> MON 2).
        for model, key in (("SK1400A", 1), ("SK1400A", 3), ("SK1400A", 15), ("SK1400A", 27),
                           ("SK1400A", 32), ("SK2000A", 6), ("SK2000A", 7)):
            rect = inner(faces.key_rect(model, key))
            a, b = region_colour(before, rect), region_colour(after, rect)
            check(differs(a, b), "%s key %d looks the same: %s -> %s" % (model, key, a, b))
        # A key nothing happened to did not.
        rect = inner(faces.key_rect("SK1400A", 20))
        a, b = region_colour(before, rect), region_colour(after, rect)
        check(not differs(a, b, by=1), "SK1400A key 20 changed: %s -> %s" % (a, b))
        check(ks.stop(60) == 0, "status after SIGTERM:\n" + ks.err.text())
    finally:
        for p in (ks, router):
            if p and p.alive():
                p.p.kill()
        screen.stop()
        box.cleanup()


def log_window_and_second_copy():
    box = Sandbox("logwin")
    screen = Xvfb(1280, 900)
    ks = second = None
    try:
        env = screen.env(box.env(offscreen=False))
        ks = Proc([KEYSTEAD, "--basedir", box.base, "--logwindow"], env=env, cwd=box.root)
        ks.err.wait(VERSION_LINE, 60)
        find_window(env, r"^Tessaline log$")
        # The window opens with the revision the program was built from.
        ks.err.wait(r"source revision \S+", 10)
        check(not ks.err.find(r"could not read revision\.info"), "no revision info in the log window")
        shot(env, box, "logwindow.png")
        # A second copy on a screen: the message box, until it is closed.
        second = Proc([KEYSTEAD, "--basedir", box.base], env=env, cwd=box.root)
        box_id = find_window(env, r"^Keystead$")
        second.err.wait(r"^Keystead is already running\.$", 10)
        time.sleep(0.5)
        shot(env, box, "second-instance.png")
        check(second.alive(), "the second copy did not wait for its message box")
        # No window manager: give the box the keyboard, then press Return.
        xdotool(env, "windowfocus", "--sync", box_id, check_rc=False)
        xdotool(env, "key", "Return")
        check(second.wait(20) == 1, "second copy: status %s" % second.p.returncode)
        check(ks.stop(60) == 0, "status after SIGTERM:\n" + ks.err.text())
    finally:
        for p in (ks, second):
            if p and p.alive():
                p.p.kill()
        screen.stop()
        box.cleanup()


run_tests([("mouse_takes", mouse_takes), ("log_window_and_second_copy", log_window_and_second_copy)])
