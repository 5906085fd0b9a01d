"""`make run` on a virtual screen: the demonstration panel set is made, the
router simulator starts beside Keystead, both demonstration panels come
online, a take from a panel's keys reaches the router and its tally comes
back to both panels; closing Keystead stops the router simulator.

    test_demo.py SOURCE_DIR BUILD_DIR             the script `make run` runs,
                                                  with a new demo directory
    test_demo.py SOURCE_DIR BUILD_DIR --fresh-clone
                                                  `make run` itself in a clone
                                                  of HEAD (a full build)
    test_demo.py SOURCE_DIR BUILD_DIR --make-run  `make run` itself in
                                                  SOURCE_DIR on BUILD_DIR
                                                  (CI, on its fresh checkout)

TESS_SHOTS_DIR, when set, receives a screenshot of the running demo.
"""

import os
import sys
import re
import signal
import socket
import struct
import subprocess
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import (Fail, Sandbox, Xvfb, check, free_udp, lock_holder, run_tests,
                     stored_panels)

SRC = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2])
FRESH = "--fresh-clone" in sys.argv[3:]
MAKE_RUN = "--make-run" in sys.argv[3:]
PANELS = {"SK2000A": 2011, "SK1400A": 2012}


def wait_log(path, pattern, timeout, proc):
    rx = re.compile(pattern, re.M)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if rx.search(open(path, errors="replace").read()):
                return
        except OSError:
            pass
        if proc.poll() is not None:
            raise Fail("the demo ended (status %d) before %r" % (proc.returncode, pattern))
        time.sleep(0.2)
    raise Fail("no %r in %s within %d s" % (pattern, path, timeout))


def press(port, key):
    """A key press and release through the panel's injector."""
    with socket.create_connection(("127.0.0.1", port + 20000), timeout=10) as s:
        for value in (1, 0):
            s.sendall(struct.pack(">I4i", 16, 1, key, value, 0))
            time.sleep(0.15)


def demo():
    box = Sandbox("demo")
    screen = Xvfb()
    runner = None
    try:
        env = screen.env(box.env(offscreen=False))
        env["JOBS"] = env.get("JOBS", "2")
        if FRESH:
            clone = os.path.join(box.root, "clone")
            subprocess.run(["git", "clone", "-q", SRC, clone], check=True)
            cmd = ["make", "-C", clone, "run", "JOBS=" + env["JOBS"]]
            demo_dir = os.path.join(clone, "build", "demo")
            env.pop("DEMO_DIR", None)
            online_timeout = 3 * 3600
        elif MAKE_RUN:
            # The build is brought up to date first, as `make run` does.
            cmd = ["make", "-C", SRC, "run", "BUILD=" + BUILD, "JOBS=" + env["JOBS"]]
            demo_dir = os.path.join(box.root, "demo")
            env["DEMO_DIR"] = demo_dir
            online_timeout = 3 * 3600
        else:
            cmd = [os.path.join(SRC, "tools", "demo", "run-demo.sh"), BUILD]
            demo_dir = os.path.join(box.root, "demo")
            env["DEMO_DIR"] = demo_dir
            online_timeout = 120
        out = open(os.path.join(box.root, "run.log"), "wb")
        runner = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, start_new_session=True)
        log = os.path.join(demo_dir, "routersim.log")
        # Online: each panel answers the router's polls.
        for model, port in PANELS.items():
            wait_log(log, r"^rx 127\.0\.0\.1:%d \[[^]]*\] y$" % port, online_timeout, runner)
        stored = stored_panels(os.path.join(demo_dir, "cfg.xml"))
        check(sorted(p["paneltype"] for p in stored.values()) == ["10", "4"],
              "demo panel set: %s" % stored)

        # MON 1 (SK2000A key 6), then CAM 2 (key 15): routed on Video, and
        # the tally goes to both panels.
        press(PANELS["SK2000A"], 6)
        press(PANELS["SK2000A"], 15)
        wait_log(log, r'^rx 127\.0\.0\.1:2011 .*Q "\.SV001,002\\r"', 30, runner)
        for port in PANELS.values():
            wait_log(log, r'^tx 127\.0\.0\.1:%d .*\.UV001,002' % port, 30, runner)
        # PGM (SK1400A key 3), then VTR 1 (key 15: source 7).
        press(PANELS["SK1400A"], 3)
        press(PANELS["SK1400A"], 15)
        wait_log(log, r'^rx 127\.0\.0\.1:2012 .*Q "\.SV003,007\\r"', 30, runner)

        shots = os.environ.get("TESS_SHOTS_DIR")
        xshot = os.path.join(BUILD, "devtools", "xshot", "xshot")
        if shots and os.path.exists(xshot):
            time.sleep(1.0)
            os.makedirs(shots, exist_ok=True)
            subprocess.run([xshot, os.path.join(shots, "demo-running.png")], env=env,
                           check=True)

        # Closing Keystead ends the demo and the router simulator with it.
        pid = lock_holder(os.path.join(box.tmp))
        check(pid, "no keystead.lock holder")
        os.kill(pid, signal.SIGTERM)
        rc = runner.wait(60)
        check(rc == 0, "the demo ended with status %d:\n%s"
              % (rc, open(os.path.join(box.root, "run.log"), errors="replace").read()[-3000:]))
        deadline = time.monotonic() + 10
        while not free_udp("127.0.0.1", 2001):
            check(time.monotonic() < deadline, "routersim still holds 127.0.0.1:2001")
            time.sleep(0.2)
        stored = stored_panels(os.path.join(demo_dir, "cfg.xml"))
        check(all(p["should_autostart"] == "1" for p in stored.values()),
              "panels no longer marked to start: %s" % stored)
    finally:
        if runner and runner.poll() is None:
            os.killpg(runner.pid, signal.SIGKILL)
            runner.wait(10)
        screen.stop()
        box.cleanup()


run_tests([("demo", demo)])
