#!/usr/bin/python3
"""The browser's face beside Keystead's: for each panel model, facesnap
draws the face with a set of button-driver records and serves the same face
(--serve); headless Chromium shows /panel/1 at the same width; the two
pictures are compared pixel by pixel.

    compare_faces.py BUILD_DIR OUT_DIR [--records FILE] [--width W] [--models A,B]

OUT_DIR gets, per model, snap_<model>.png (facesnap), web_<model>.png (the
browser) and pair_<model>.png (the two one above the other, then their
differences magnified four times). Prints one line per model: the mean
absolute difference per colour component (0 to 255) and the share of pixels
differing by more than 48 in some component. Run it in a network namespace
of its own (unshare -n) or on a quiet loopback."""

import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import pngio  # noqa: E402

MODELS = ["SK1100A", "SK1200A", "SK1300A", "SK1400A", "SK1500A", "SK1600A", "SK1700A",
          "SK1800A", "SK1900A", "SK2000A", "SK2100A", "SK2200A"]
SRC = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def serve(build, model, records, width, out):
    p = subprocess.Popen([os.path.join(build, "tools/facesnap/facesnap"), "--model", model,
                          "--records", records, "--width", str(width), "--serve", "127.0.0.1:0", out],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True)
    while True:
        line = p.stdout.readline()
        if not line:
            raise RuntimeError("facesnap ended without serving " + model)
        m = re.match(r"http (\S+)", line)
        if m:
            return p, m.group(1).rstrip("/")


def shoot(d, url, width, out):
    d.get(url + "/panel/1?width=%d" % width)
    browser.wait(d, "return document.querySelector('.face:not(.offline)') !== null", what=url)
    # Every item drawn: the state applied and a frame painted since.
    time.sleep(0.5)
    d.find_element("css selector", ".face").screenshot(out)


def pair(snap, web, diff, out):
    w, h, a = snap
    _, _, b = web
    gap = [bytearray([255, 0, 255] * w) for _ in range(4)]
    pngio.write(out, w, a + gap + b + gap + diff)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("out")
    ap.add_argument("--records", default=os.path.join(SRC, "tools/facesnap/sample-records.txt"))
    ap.add_argument("--width", type=int, default=1200)
    ap.add_argument("--models", default=",".join(MODELS))
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    d = browser.start(width=args.width + 100)
    worst = 0.0
    try:
        for model in args.models.split(","):
            snap = os.path.join(args.out, "snap_%s.png" % model)
            web = os.path.join(args.out, "web_%s.png" % model)
            p, url = serve(args.build, model, args.records, args.width, snap)
            try:
                shoot(d, url, args.width, web)
            finally:
                p.stdin.close()
                p.wait(10)
            a, b = pngio.read(snap), pngio.read(web)
            mean, far, diff = pngio.compare(a, b)
            pair(a, b, diff, os.path.join(args.out, "pair_%s.png" % model))
            worst = max(worst, mean)
            print("%-8s %4dx%-4d mean difference %5.2f / 255, pixels off by more than 48: %5.2f %%"
                  % (model, a[0], a[1], mean, far * 100), flush=True)
    finally:
        browser.finish(d)
    print("worst mean difference %.2f" % worst)


if __name__ == "__main__":
    main()
