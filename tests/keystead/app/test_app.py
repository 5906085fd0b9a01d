"""Keystead as a program: its command line, one copy per machine (a second
gives up with a message and status 1, a lock left by a killed copy is taken
over), the crash report main.dmp.

    test_app.py KEYSTEAD
"""

import os
import sys
import re
import shutil
import signal
import subprocess

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import Proc, Sandbox, check, run_tests

KEYSTEAD = os.path.abspath(sys.argv[1])
VERSION_LINE = r"############VERSION 1\.1\.1\.7"


def no_display_env(box):
    env = box.env(offscreen=False)
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(k, None)
    return env


def run(args, env, timeout=30, cwd=None):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout,
                          cwd=cwd)


def command_line():
    box = Sandbox("cmdline")
    try:
        env = no_display_env(box)
        # Help and version need no display and start nothing.
        for opt in ("--version", "-v", "-version"):
            r = run([KEYSTEAD, opt], env, cwd=box.root)
            check(r.returncode == 0, "%s: status %d %s" % (opt, r.returncode, r.stderr))
            check(r.stdout == "keystead 1.1.1.7 (build date 2011-09-23T09:54:02.562000)\n",
                  "%s printed %r" % (opt, r.stdout))
        r = run([KEYSTEAD, "--basedir", "x", "--help"], env, cwd=box.root)
        check(r.returncode == 0, "--help: status %d" % r.returncode)
        for text in ("Usage: keystead", "--basedir <DIR>", "--logwindow", "--version",
                     "-imdir", "TESSALINE_BASE_DIR", "cfg.xml"):
            check(text in r.stdout, "--help lacks %r:\n%s" % (text, r.stdout))
        # "v" as the value of --basedir is no request for the version.
        r = run([KEYSTEAD, "--basedir", "v", "--bogus"], box.env(), cwd=box.root)
        check(r.returncode == 2, "--bogus: status %d" % r.returncode)
        check("Unknown option 'bogus'" in r.stderr and "keystead --help" in r.stderr,
              "--bogus: %r" % r.stderr)
        r = run([KEYSTEAD, "stray"], box.env(), cwd=box.root)
        check(r.returncode == 2 and "Unexpected argument 'stray'" in r.stderr,
              "positional: %d %r" % (r.returncode, r.stderr))
        # Without any display: a plain message, not Qt's abort.
        r = run([KEYSTEAD, "--basedir", box.base], env, cwd=box.root)
        check(r.returncode == 1 and "no display" in r.stderr,
              "no display: %d %r" % (r.returncode, r.stderr))
        check(not os.path.exists(os.path.join(box.tmp, "keystead.lock")),
              "a run without display left a lock")
    finally:
        box.cleanup()


def single_instance():
    box = Sandbox("instance")
    first = third = None
    try:
        other = os.path.join(box.root, "other")
        os.makedirs(other)
        junk = os.path.join(other, "cfg.xml")
        with open(junk, "w") as f:
            f.write("not a panel set")
        # A base directory given with --basedir is made when missing.
        new_base = os.path.join(box.root, "new", "base")
        first = Proc([KEYSTEAD, "--basedir", new_base], env=box.env(), cwd=box.root)
        first.err.wait(VERSION_LINE, 60)
        check(os.path.isdir(new_base), "--basedir directory not created")
        check(os.path.exists(os.path.join(box.tmp, "keystead.lock")), "no keystead.lock")

        second = Proc([KEYSTEAD, "--basedir", other], env=box.env(), cwd=box.root)
        rc = second.wait(30)
        check(rc == 1, "second instance: status %d" % rc)
        check(second.err.find(r"^Keystead is already running\.$"),
              "second instance said:\n" + second.err.text())
        check(not second.err.find(VERSION_LINE), "the second instance started up")
        # It touched nothing of its panel set: the unreadable file is still
        # there, not moved aside.
        check(open(junk).read() == "not a panel set", "second instance changed cfg.xml")
        check(os.listdir(other) == ["cfg.xml"], "second instance wrote %s" % os.listdir(other))
        check(first.alive(), "the first instance ended")

        # A copy killed outright leaves its lock behind; the next takes it.
        first.signal(signal.SIGKILL)
        first.wait(10)
        check(os.path.exists(os.path.join(box.tmp, "keystead.lock")), "killed copy left no lock")
        third = Proc([KEYSTEAD, "--basedir", box.base], env=box.env(), cwd=box.root)
        third.err.wait(VERSION_LINE, 60)
        check(third.alive(), "third instance ended")
        rc = third.stop()
        check(rc == 0, "SIGTERM: status %d\n%s" % (rc, third.err.text()))
        check(third.err.find(r"signal 15: quitting"), "no quit line")
        # A base directory that cannot be made is an error of the command line.
        blocker = os.path.join(box.root, "file")
        open(blocker, "w").close()
        r = run([KEYSTEAD, "--basedir", os.path.join(blocker, "sub")], box.env(), cwd=box.root)
        check(r.returncode == 2 and "cannot create the base directory" in r.stderr,
              "bad --basedir: %d %r" % (r.returncode, r.stderr))
    finally:
        for p in (first, third):
            if p and p.alive():
                p.p.kill()
        box.cleanup()


def crash_report():
    box = Sandbox("crash")
    try:
        # A copy of the program in a directory of its own, where it writes
        # main.dmp.
        prog_dir = os.path.join(box.root, "bin")
        os.makedirs(prog_dir)
        prog = os.path.join(prog_dir, "keystead")
        shutil.copy2(KEYSTEAD, prog)
        for sig, name in ((signal.SIGSEGV, "SIGSEGV"), (signal.SIGABRT, "SIGABRT")):
            dump = os.path.join(prog_dir, "main.dmp")
            if os.path.exists(dump):
                os.remove(dump)
            p = Proc([prog, "--basedir", box.base], env=box.env(), cwd=box.root)
            p.err.wait(VERSION_LINE, 60)
            p.signal(sig)
            rc = p.wait(30)
            check(rc == -sig, "%s: status %d, expected death by the signal" % (name, rc))
            check(os.path.exists(dump), "%s: no main.dmp" % name)
            text = open(dump, errors="replace").read()
            check(text.startswith("Keystead crash report\n"), "%s: report %r" % (name, text[:80]))
            check("signal: %d (%s)\n" % (sig, name) in text, "%s: no signal line" % name)
            check(re.search(r"\nprocess: %d\n" % p.p.pid, text), "%s: no process line" % name)
            check("\nbacktrace:\n" in text and "\nmaps:\n" in text, "%s: sections missing" % name)
            maps = text.split("\nmaps:\n", 1)[1]
            check(re.search(r"r-xp .*keystead", maps), "%s: no program mapping in maps" % name)
            check(p.err.find(r"Minidump created\."), "%s: no 'Minidump created.'" % name)
    finally:
        box.cleanup()


run_tests([("command_line", command_line), ("single_instance", single_instance),
           ("crash_report", crash_report)])
