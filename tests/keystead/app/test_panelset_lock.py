"""One program per base directory: a Keystead refuses, with a message and
status 1, a panel set that a panelrun runs (touching nothing of it), and a
panelrun refuses one that a Keystead runs; the panel that panelrun ran until
the end keeps its autostart mark, so Keystead starts it again.

    test_panelset_lock.py KEYSTEAD PANELRUN
"""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import Proc, Sandbox, check, panel_set_xml, run_tests, stored_panels

KEYSTEAD = os.path.abspath(sys.argv[1])
PANELRUN = os.path.abspath(sys.argv[2])
VERSION_LINE = r"############VERSION 1\.1\.1\.7"


def run(args, env, timeout=30, cwd=None):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout,
                          cwd=cwd)


def panel_set_lock():
    box = Sandbox("psetlock")
    runner = ks = None
    try:
        cfg = os.path.join(box.base, "cfg.xml")
        with open(cfg, "w") as f:
            f.write(panel_set_xml([("desk", False, [dict(uid=4, type=10, port=44461, autostart=True)])]))
        runner = Proc([PANELRUN, "--basedir", box.base], env=box.env(), cwd=box.root)
        runner.err.wait(r"state 8 ST_RUNNING", 60)
        before = open(cfg).read()
        # Keystead gives up on the panel set panelrun runs, touching nothing.
        r = run([KEYSTEAD, "--basedir", box.base], box.env(), cwd=box.root)
        text = "keystead: The panel set in %s is in use by panelrun (process %d)." % (
            box.base, runner.p.pid)
        check(r.returncode == 1 and text in r.stderr, "Keystead on panelrun's set: %d %r"
              % (r.returncode, r.stderr))
        check(VERSION_LINE.replace("\\", "") not in r.stderr, "Keystead started up")
        check(open(cfg).read() == before, "Keystead changed the panel set")
        rc = runner.stop()
        check(rc == 0, "panelrun on SIGTERM: status %d\n%s" % (rc, runner.err.text()))
        # The panel ran until the end: it keeps its mark, and Keystead now
        # runs the same panel set, starting it again.
        check(stored_panels(cfg)[4]["should_autostart"] == "1", "panelrun dropped the mark")
        ks = Proc([KEYSTEAD, "--basedir", box.base], env=box.env(), cwd=box.root)
        ks.err.wait(r"FIRMWARE VERSION 1\.1\.1\.7", 60)
        r = run([PANELRUN, "--basedir", box.base], box.env(), cwd=box.root)
        text = "panelrun: The panel set in %s is in use by keystead (process %d)." % (
            box.base, ks.p.pid)
        check(r.returncode == 2 and text in r.stderr, "panelrun on Keystead's set: %d %r"
              % (r.returncode, r.stderr))
        rc = ks.stop()
        check(rc == 0, "Keystead on SIGTERM: status %d" % rc)
        check(not os.path.exists(os.path.join(box.base, "panelset.lock")), "lock left behind")
    finally:
        for p in (runner, ks):
            if p and p.alive():
                p.p.kill()
        box.cleanup()



run_tests([("panel_set_lock", panel_set_lock)])
