"""Running Keystead (and the router simulator) as a user does, for the
program's process-level tests: separate processes, their output lines
with the time each arrived, a panel set file written as the program writes
it, and the X tools for the tests on a virtual screen."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time


class Fail(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Fail(what)


class Lines:
    """A pipe read on a thread of its own: every line with its arrival time."""

    def __init__(self, stream):
        self.lines = []  # (monotonic time, text)
        self.cond = threading.Condition()
        self.closed = False
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            text = raw.decode("utf-8", "replace").rstrip("\n")
            with self.cond:
                self.lines.append((time.monotonic(), text))
                self.cond.notify_all()
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def find(self, pattern, start=0):
        """(index, time, match) of the first line from start matching pattern."""
        rx = re.compile(pattern)
        with self.cond:
            for i in range(start, len(self.lines)):
                m = rx.search(self.lines[i][1])
                if m:
                    return i, self.lines[i][0], m
        return None

    def wait(self, pattern, timeout, start=0):
        deadline = time.monotonic() + timeout
        while True:
            hit = self.find(pattern, start)
            if hit:
                return hit
            with self.cond:
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    break
                self.cond.wait(min(left, 0.1))
        hit = self.find(pattern, start)
        if hit:
            return hit
        raise Fail("no line matching %r within %.0f s; got:\n%s" % (pattern, timeout, self.text()))

    def text(self, last=60):
        with self.cond:
            return "\n".join(t for _, t in self.lines[-last:])


class Proc:
    """A child process with its standard output and error read as lines."""

    def __init__(self, args, env=None, cwd=None, stdin=subprocess.DEVNULL):
        self.args = args
        self.p = subprocess.Popen(args, env=env, cwd=cwd, stdin=stdin,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out = Lines(self.p.stdout)
        self.err = Lines(self.p.stderr)

    def alive(self):
        return self.p.poll() is None

    def signal(self, sig):
        if self.alive():
            self.p.send_signal(sig)

    def wait(self, timeout):
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Fail("%s did not end within %d s" % (self.args[0], timeout))

    def stop(self, timeout=20):
        """SIGTERM and wait; SIGKILL when it does not end."""
        if not self.alive():
            return self.p.returncode
        self.p.send_signal(signal.SIGTERM)
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait(10)
            raise Fail("%s did not end within %d s of SIGTERM" % (self.args[0], timeout))


class Sandbox:
    """A temporary directory with a base directory and a lock directory of
    its own, so that tests running side by side never share an instance
    lock or a panel set."""

    def __init__(self, name):
        self.root = tempfile.mkdtemp(prefix="kst-%s-" % name)
        self.base = os.path.join(self.root, "base")
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.base)
        os.makedirs(self.tmp)

    def env(self, offscreen=True, **extra):
        env = dict(os.environ)
        env["TMPDIR"] = self.tmp
        env.pop("TESSALINE_BASE_DIR", None)
        if offscreen:
            env["QT_QPA_PLATFORM"] = "offscreen"
        else:
            env.pop("QT_QPA_PLATFORM", None)
        # No syslog daemon is needed; no sound device either.
        env.update(extra)
        return env

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


def panel_set_xml(racks):
    """cfg.xml text for racks = [(rack name, visible, [panel dict, ...])];
    a panel dict has uid, name, type (index), ip, port, autostart."""
    out = ["<?xml version = '1.0'?>", "<!DOCTYPE arch SYSTEM 'arch'>", "<arch>", " <racks>"]
    puid = 0
    for name, visible, panels in racks:
        out += ["  <e>", "   <name>%s</name>" % name, "   <desc/>", "   <expanded>1</expanded>",
                "   <visible>%d</visible>" % (1 if visible else 0), "   <panel>"]
        for p in panels:
            puid = max(puid, p["uid"])
            out += ["    <e>",
                    "     <uid>%d</uid>" % p["uid"],
                    "     <name>%s</name>" % p.get("name", "p%d" % p["uid"]),
                    "     <description/>",
                    "     <paneltype>%d</paneltype>" % p["type"],
                    "     <visible>1</visible>",
                    "     <firmware_ip>%s</firmware_ip>" % p.get("ip", "127.0.0.1"),
                    "     <panelPort>%d</panelPort>" % p["port"],
                    "     <should_autostart>%d</should_autostart>" % (1 if p.get("autostart") else 0),
                    "    </e>"]
        out += ["   </panel>", "   <ui_data/>", "  </e>"]
    out += [" </racks>", " <puid>%d</puid>" % puid, " <ui_data/>", "</arch>", ""]
    return "\n".join(out)


def stored_panels(path):
    """{uid: {field: text}} of the panels in a cfg.xml."""
    text = open(path, encoding="utf-8").read()
    panels = {}
    for body in re.findall(r"<panel>(.*?)</panel>", text, re.S):
        for entry in re.findall(r"<e>(.*?)</e>", body, re.S):
            fields = dict(re.findall(r"<(\w+)>([^<]*)</\1>", entry))
            if "uid" in fields:
                panels[int(fields["uid"])] = fields
    return panels


def pack_config(pcslpack, pcsl_path, out_path):
    os.makedirs(os.path.dirname(out_path), exist_ok=True)
    subprocess.run([pcslpack, "pack", pcsl_path, out_path], check=True,
                   stdout=subprocess.DEVNULL)


def free_udp(ip, port):
    """Whether ip:port can be bound for UDP (nothing holds it)."""
    import socket
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind((ip, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def run_tests(tests):
    """Runs each (name, function); prints PASS/FAIL lines; exit status 1
    when one failed."""
    import sys
    import traceback
    failed = 0
    for name, fn in tests:
        t0 = time.monotonic()
        try:
            fn()
            print("PASS   : %s (%.1f s)" % (name, time.monotonic() - t0), flush=True)
        except Exception as e:  # noqa: BLE001 - any failure fails the test
            failed += 1
            print("FAIL!  : %s: %s" % (name, e), flush=True)
            if not isinstance(e, Fail):
                traceback.print_exc()
    print("Totals: %d passed, %d failed" % (len(tests) - failed, failed), flush=True)
    sys.exit(1 if failed else 0)


class Xvfb:
    """A virtual X screen of its own (the display number Xvfb picks)."""

    def __init__(self, width=1600, height=1200):
        r, w = os.pipe()
        self.p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0",
                                   "%dx%dx24" % (width, height), "-nolisten", "tcp"],
                                  pass_fds=(w,), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        with os.fdopen(r, "rb") as f:
            number = f.readline().strip()
        if not number:
            self.p.kill()
            raise Fail("Xvfb did not start")
        self.display = ":" + number.decode()

    def env(self, env):
        env = dict(env)
        env["DISPLAY"] = self.display
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def stop(self):
        self.p.terminate()
        try:
            self.p.wait(10)
        except subprocess.TimeoutExpired:
            self.p.kill()


def xdotool(env, *args, check_rc=True):
    r = subprocess.run(["xdotool"] + [str(a) for a in args], env=env, capture_output=True,
                       text=True, timeout=30)
    if check_rc and r.returncode != 0:
        raise Fail("xdotool %s: %s" % (" ".join(map(str, args)), r.stderr.strip()))
    return r.stdout


def find_window(env, name, timeout=30):
    """Id of the first visible window whose title matches name (a regex)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = xdotool(env, "search", "--onlyvisible", "--name", name, check_rc=False).split()
        if out:
            return int(out[0])
        time.sleep(0.2)
    raise Fail("no window named %r" % name)


def window_geometry(env, wid):
    """(x, y, width, height) of a window on the screen."""
    out = xdotool(env, "getwindowgeometry", "--shell", wid)
    g = dict(line.split("=", 1) for line in out.split())
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def lock_holder(lock_dir):
    """PID in a keystead.lock, or None."""
    try:
        with open(os.path.join(lock_dir, "keystead.lock")) as f:
            return int(f.readline())
    except (OSError, ValueError):
        return None


def layout_items(path):
    """(panel width, panel height, {item id: (x, y, w, h)}) of a face layout
    file, in the layout's own units: groups add their offsets to their
    parent's, a group's items (listed ids first, then its range) run left
    to right, each its size's width plus the group's spacing apart."""
    import xml.etree.ElementTree as ET
    root = ET.parse(path).getroot()
    sizes = {}
    for s in root.iter("item_size"):
        sizes[s.findtext("name")] = (float(s.findtext("width")), float(s.findtext("height")))
    items = {}

    def walk(group, ox, oy):
        x = ox + float(group.findtext("offset_x") or 0)
        y = oy + float(group.findtext("offset_y") or 0)
        size = group.findtext("size")
        if size in sizes:
            ids = [int(e.text) for e in group.findall("item_id")]
            rng = group.find("item_range")
            if rng is not None:
                first, last = int(rng.findtext("id_first")), int(rng.findtext("id_last"))
                if first != -1 and last != -1:
                    ids += list(range(first, last + 1))
            w, h = sizes[size]
            step = w + float(group.findtext("spacing") or 0)
            for i, item in enumerate(ids):
                if item != -1:
                    items[item] = (x + i * step, y, w, h)
        for child in group.findall("group"):
            walk(child, x, y)

    for g in root.findall("group"):
        walk(g, 0.0, 0.0)
    pw, ph = sizes.get("Panel", (0.0, 0.0))
    return pw, ph, items
