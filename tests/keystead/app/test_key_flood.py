"""Keys injected in floods into a panel running in Keystead: 300 presses
and one release of key 20 in one write, then 100000 press and release pairs
of key 21. Both keys end released in the panel (its protocol trace shows
each key's last event reaching the panel logic), and neither Keystead's log
nor the panel's trace grows with the flood.

    test_key_flood.py KEYSTEAD
"""

import os
import re
import socket
import struct
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from harness import Fail, Proc, Sandbox, check, panel_set_xml, run_tests

KEYSTEAD = os.path.abspath(sys.argv[1])
VERSION_LINE = r"############VERSION 1\.1\.1\.7"
PORT = 42660
INJECTOR = PORT + 20000


def key(key_id, pressed):
    return struct.pack(">I", 16) + struct.pack(">iiii", 1, key_id, pressed, 0)


def connect(timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            s = socket.create_connection(("127.0.0.1", INJECTOR), timeout=10)
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            return s
        except OSError:
            if time.monotonic() > deadline:
                raise Fail("the panel's injector never listened on port %d" % INJECTOR)
            time.sleep(0.2)


def last_event(trace, key_id):
    events = re.findall(r"--- key %d (pressed|released)" % key_id, trace)
    return events[-1] if events else None


def flood():
    box = Sandbox("keyflood")
    ks = None
    try:
        with open(os.path.join(box.base, "cfg.xml"), "w") as f:
            f.write(panel_set_xml([("flood rack", False, [
                {"uid": 1, "type": 10, "ip": "127.0.0.1", "port": PORT, "autostart": True}])]))
        panel_dir = os.path.join(box.base, "data", "p1")
        os.makedirs(panel_dir)
        open(os.path.join(panel_dir, "TRACE"), "w").close()
        ks = Proc([KEYSTEAD, "--basedir", box.base], env=box.env(), cwd=box.root)
        ks.err.wait(VERSION_LINE, 60)
        s = connect(60)
        time.sleep(0.5)
        log = os.path.join(box.root, "log.txt")
        log_before = os.path.getsize(log)

        s.sendall(b"".join(key(20, 1) for _ in range(300)) + key(20, 0))
        time.sleep(0.5)
        pairs = key(21, 1) + key(21, 0)
        for _ in range(100):
            s.sendall(pairs * 1000)
        s.close()

        trace_path = os.path.join(panel_dir, "trace.txt")
        deadline = time.monotonic() + 20
        while True:
            trace = open(trace_path, errors="replace").read() if os.path.exists(trace_path) else ""
            if last_event(trace, 20) == "released" and last_event(trace, 21) == "released":
                break
            if time.monotonic() > deadline:
                raise Fail("keys left pressed: key 20 %s, key 21 %s; Keystead said:\n%s"
                           % (last_event(trace, 20), last_event(trace, 21), ks.err.text()))
            time.sleep(0.2)
        time.sleep(1.5)  # whatever the flood still makes anyone write

        grown = os.path.getsize(log) - log_before
        print("log.txt grew by %d bytes, trace.txt is %d bytes" % (grown, os.path.getsize(trace_path)))
        check(not os.path.exists(log + ".1"), "log.txt was rotated away")
        check(grown < 20000, "the flood wrote %d bytes into Keystead's log" % grown)
        check(os.path.getsize(trace_path) < 1000000, "the flood filled the panel's trace")
        check(ks.alive(), "Keystead ended")
        rc = ks.stop(60)
        check(rc == 0, "status %d after SIGTERM:\n%s" % (rc, ks.err.text()))
    finally:
        if ks and ks.alive():
            ks.p.kill()
        box.cleanup()


run_tests([("key flood", flood)])
