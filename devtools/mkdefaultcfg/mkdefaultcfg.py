#!/usr/bin/env python3
"""Writes the default panel configurations, one per panel model.

    mkdefaultcfg.py [OUTDIR]      (default: resources/config of the source tree)

Each file is a panel configuration file: "CONFIG", the file's total length
as a 4-byte big-endian number, then plain PCSL text that starts with a line
of 43 '#'. The objects come in the order a panel's setup tool writes them:
settings, sources, destinations, the first menu with one Btn per key,
colours, joystick, subpanels, displays, levels and the two reset keys.

LCD-key models leave every key undefined; the operator labels them. The
menu models (lamp keys under display windows) come with their fixed keys:
levels, destinations, sources, menu pages, locks and take.
"""

import os
import sys

HASH_LINE = "#" * 43 + "\n"

# name: (keys, reset keys, colour entries, predefined keys or None). The
# SK1100A, SK1300A, SK1400A and SK1500A carry 19 colour entries, the others
# 17.
# A predefined key list holds (ButtonType name, value, legend) per key, in
# key order. Level keys: values 0 and 1 both select the first level (a value
# is stored minus one, 0 stays 0); the files write 0 for it.


def levels(n):
    return [("Level", 0 if i == 0 else i + 1, "Level %d" % i) for i in range(n)]


def dests(n):
    return [("Destination", i + 1, "Dst %d" % (i + 1)) for i in range(n)]


def sources(n):
    return [("Source", i + 1, "Src %d" % (i + 1)) for i in range(n)]


def menus(n):
    return [("Primary Menu", i + 1, "Menu %d" % (i + 1)) for i in range(n)]


PANEL_LOCK = ("Panel Lock", 0, "Pnl Lock")
TAKE = ("Take", 0, "Take")
TAKE_CLEAR = ("Take Clear", 0, "Clear")
LOCK_DEST = ("Locks", 1, "Lock Dest")
LOCK_SYS = ("Locks", 2, "Lock Sys")
LOCK_PROT = ("Locks", 3, "Lock Prot")

MODELS = {
    "SK1100A": (16, (1, 16), 19, None),
    "SK1200A": (20, (1, 20), 17, None),
    "SK1300A": (48, (33, 48), 19, None),
    "SK1400A": (32, (17, 32), 19, None),
    "SK1500A": (48, (33, 48), 19, None),
    "SK1600A": (29, (5, 29), 17,
                levels(4) + [PANEL_LOCK] + dests(8) + sources(12) + menus(2) + [LOCK_SYS, TAKE]),
    "SK1700A": (36, (1, 36), 17,
                [PANEL_LOCK] + levels(4) + dests(8) + sources(16) + menus(3)
                + [LOCK_SYS, LOCK_PROT, TAKE_CLEAR, TAKE]),
    "SK1800A": (40, (21, 40), 17, None),
    "SK1900A": (40, (25, 40), 17,
                levels(4) + dests(8) + sources(12) + [PANEL_LOCK] + menus(4)
                + [("Previous Destination", 0, "Prev Dst"), ("Next Destination", 0, "Next Dst"),
                   LOCK_DEST, LOCK_SYS, LOCK_PROT,
                   ("System Salvo", 1, "Salvo 1"), ("System Salvo", 2, "Salvo 2"),
                   ("Destination Mode", 0, "Dst Mode"), ("Preset Clear", 0, "Pre Clear"),
                   TAKE_CLEAR, TAKE]),
    "SK2000A": (47, (5, 47), 17,
                levels(4) + [PANEL_LOCK] + dests(8) + sources(24) + menus(4)
                + [LOCK_DEST, LOCK_SYS, LOCK_PROT,
                   ("Previous Destination", 0, "Prev Dst"), ("Next Destination", 0, "Next Dst"),
                   TAKE]),
    "SK2100A": (80, (61, 80), 17, None),
    "SK2200A": (44, (4, 44), 17,
                levels(3) + [PANEL_LOCK] + dests(8) + sources(24) + menus(4)
                + [LOCK_SYS, LOCK_PROT, TAKE_CLEAR, TAKE]),
}


def button(n, key):
    if key is None:
        return '        obj Btn(%d) { bP=0 bL="" }\n' % n
    btype, value, legend = key
    return ('        obj Btn(%d) { bT="%s" bV=%d bL="%s" bP=0 sPI=0 }\n'
            % (n, btype, value, legend))


def text(name):
    count, reset, colours, keys = MODELS[name]
    if keys is not None and len(keys) != count:
        raise SystemExit("%s: %d keys defined, the model has %d" % (name, len(keys), count))
    t = [HASH_LINE]
    t.append('obj Configsettings() { configName="Default" numDestinations=0 numSources=0 '
             'numLevels=1 }\n')
    t.append("obj KnownSources() { }\n")
    t.append("obj KnownDestinations() { }\n")
    t.append('obj KnownMenus() {\n  obj Menu(1) {\n    menuName="" secMenuName=""\n'
             '    obj MenuButtons() {\n')
    for n in range(1, count + 1):
        t.append(button(n, keys[n - 1] if keys else None))
    t.append("    }\n  }\n}\n")
    t.append("obj KnownColours() {\n")
    t.extend("  obj Clr(%d) { cV=1 }\n" % n for n in range(1, colours + 1))
    t.append("}\nobj JoyStick() {\n")
    t.extend("  obj jsMapping(%d) { jsDest=1 jsSrc=1 jsMode=0 jsLevel=1 }\n" % n
             for n in range(1, 9))
    t.append("}\nobj KnownSubpanels() {\n")
    t.extend("  obj Subpanel(%d) { defDest=1 defLvl=1 }\n" % n for n in range(1, 9))
    t.append("}\nobj KnownDisplays() {\n")
    t.extend("  obj Display(%d) { disDest=0 disLvl=1 disType=6 }\n" % n for n in range(1, 11))
    t.append('}\nobj KnownLevels() {\n  obj Level(1) { lvlName="Video" }\n}\n')
    t.append("obj KnownResetButtons() {\n")
    t.extend("  obj reset_button(%d) { reset_value=%d }\n" % (i + 1, k) for i, k in enumerate(reset))
    t.append("}\n")
    return "".join(t).encode("ascii")


def container(payload):
    size = 10 + len(payload)
    if size > 0x1FFFF:
        raise SystemExit("configuration too big: %d bytes" % size)
    return b"CONFIG" + size.to_bytes(4, "big") + payload


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources", "config")
    os.makedirs(out, exist_ok=True)
    for name in MODELS:
        data = container(text(name))
        path = os.path.join(out, "cfg" + name)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
        print("%s: %d bytes" % (path, len(data)))


if __name__ == "__main__":
    main()
