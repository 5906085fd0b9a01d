#!/usr/bin/env python3
"""The layering check on small trees made for it: it passes a clean tree
and fails each fault it exists for, naming the file and line.

    test_layering.py CHECK_LAYERING_PY
"""

import os
import shutil
import subprocess
import sys
import tempfile

CHECK = sys.argv[1]


def tree(files):
    root = tempfile.mkdtemp(prefix="layering-")
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    return root


def run(files):
    root = tree(files)
    try:
        r = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
    finally:
        shutil.rmtree(root)
    return r.returncode, r.stdout


# A core with its host above it: core <- platform <- host.
CLEAN = {
    "lib/util/CMakeLists.txt": "", "lib/util/crc.h": "#include <cstdint>\n",
    "pcsl/CMakeLists.txt": "", "pcsl/parser.cpp": '#include "crc.h"\n#include <vector>\n',
    "panels/common/CMakeLists.txt": "", "panels/common/link/msg.cpp": '#include "parser.h"\n',
    "pcsl/parser.h": "",
    "panels/common/platform/qt/CMakeLists.txt": "",
    "panels/common/platform/qt/plat.cpp": '#include <QString>\n#include "msg.h"\n',
    "panels/common/link/msg.h": "",
    "host/CMakeLists.txt": "", "host/a.cpp": '#include "plat.h"\n#include <QWidget>\n',
    "panels/common/platform/qt/plat.h": "",
    "tests/CMakeLists.txt": "", "tests/t.cpp": '#include "a.h"\n',
    "host/a.h": "",
}


def main():
    failures = []

    def expect(name, files, status, *words):
        code, out = run(files)
        if code != status or any(w not in out for w in words):
            failures.append("%s: status %d, output:\n%s" % (name, code, out))

    expect("clean tree", CLEAN, 0, "no Qt, no cycle")
    # A folder of the core includes Qt, directly or through a host header.
    expect("Qt header in the core", dict(CLEAN, **{"lib/util/crc.h": "#include <cstdint>\n#include <QtCore/QByteArray>\n"}),
           1, "lib/util/crc.h:2", "<QtCore/QByteArray>")
    expect("host header in the core", dict(CLEAN, **{"panels/common/link/msg.cpp": '#include "a.h"\n'}),
           1, "panels/common/link/msg.cpp:1", "host/a.h")
    # Two folders that use each other, one of them through a subfolder's
    # header; tests/ including anything is no cycle.
    expect("cycle", dict(CLEAN, **{"panels/common/platform/qt/plat.h": '#include "a.h"\n'}),
           1, "host, panels/common/platform/qt use each other",
           "panels/common/platform/qt/plat.h:1 includes host/a.h")

    for f in failures:
        print("FAIL " + f)
    print("%d passed, %d failed" % (4 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
