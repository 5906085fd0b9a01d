"""Debian's Chromium, headless, driven by Selenium (python3-selenium and
chromium-driver): the browser of the pages' tests and measurements. It
starts with a new empty profile and without the browser's own network
traffic (the machine's closed network refuses it)."""

import shutil
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"


def start(width=1300, height=900, scale=1, touch=False):
    """A headless Chromium (Selenium driver); quit() it, then remove its
    profile with finish()."""
    profile = tempfile.mkdtemp(prefix="tess-chromium-")
    o = webdriver.ChromeOptions()
    o.binary_location = CHROMIUM
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-extensions", "--disable-default-apps", "--mute-audio",
              "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height),
              "--force-device-scale-factor=%s" % scale):
        o.add_argument(a)
    if touch:
        o.add_argument("--touch-events=enabled")
    d = webdriver.Chrome(service=Service(DRIVER), options=o)
    d.tess_profile = profile
    return d


def finish(d):
    try:
        d.quit()
    finally:
        shutil.rmtree(getattr(d, "tess_profile", ""), ignore_errors=True)


def wait(d, script, seconds=20, what="the page"):
    """Runs script (returning a value) until it returns something true."""
    import time
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        v = d.execute_script(script)
        if v:
            return v
        time.sleep(0.05)
    raise TimeoutError("%s: %s stayed false" % (what, script))
