#!/usr/bin/env python3
"""The source tree's layering, checked from its #include lines.

    check_layering.py [SOURCE_DIR] [--graph]

Two rules, each a failure when broken (exit status 1):

1. The firmware core (panels/common without panels/common/platform/qt,
   pcsl/, lib/util/) is plain C++: none of its files includes a Qt header,
   and every header it includes with quotes is one of the core's own (a
   header of another folder could bring Qt in with it).
2. No cycle between folders. A folder is a directory with a CMakeLists.txt
   of its own (one CMake target each); a file belongs to the nearest such
   directory above it. Folder A uses folder B when a file of A includes a
   header of B. tests/ is left out: tests use whatever they test.

Quoted includes are found beside the including file first, then by their
file name anywhere in the source folders (every header name is unique
there; a name found twice is reported). `--graph` prints every folder with
the folders it uses. Python's standard library only.
"""

import os
import re
import sys

SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc", ".c")
SKIP_DIRS = {".git", "tests", "node_modules"}
CORE = ("panels/common", "pcsl", "lib/util")
CORE_EXCLUDED = ("panels/common/platform/qt",)
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# QtCore, QString, QtWidgets/QWidget, qglobal.h ...
QT_HEADER_RE = re.compile(r"^(Qt[A-Za-z]*(/.*)?|Q[A-Z][A-Za-z0-9]*|q[a-z0-9_]+\.h)$")


def under(path, folder):
    return path == folder or path.startswith(folder + "/")


def in_core(path):
    return any(under(path, c) for c in CORE) and not any(under(path, c) for c in CORE_EXCLUDED)


def scan(root):
    """Source files (relative paths) and the folders that own targets."""
    files, folders = [], set()
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root).replace(os.sep, "/")
        rel = "" if rel == "." else rel
        dirnames[:] = sorted(d for d in dirnames
                             if d not in SKIP_DIRS and not d.startswith("build")
                             and not os.path.exists(os.path.join(dirpath, d, "CMakeCache.txt")))
        if rel and "CMakeLists.txt" in filenames:
            folders.add(rel)
        for f in filenames:
            if f.endswith(SOURCE_EXT):
                files.append((rel + "/" + f) if rel else f)
    return sorted(files), folders


def owner(path, folders):
    d = os.path.dirname(path)
    while d:
        if d in folders:
            return d
        d = os.path.dirname(d)
    return "."


def includes(root, path):
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        for n, line in enumerate(f, 1):
            m = INCLUDE_RE.match(line)
            if m:
                yield n, m.group(1) == "<", m.group(2).strip()


def check(root):
    files, folders = scan(root)
    by_name = {}
    for p in files:
        by_name.setdefault(os.path.basename(p), []).append(p)
    problems = []
    edges = {}  # (from folder, to folder) -> first "file:line includes header"

    for p in files:
        core = in_core(p)
        for line, angled, name in includes(root, p):
            where = "%s:%d" % (p, line)
            if angled:
                if core and QT_HEADER_RE.match(name):
                    problems.append("%s: the firmware core includes the Qt header <%s>" % (where, name))
                continue
            beside = os.path.normpath(os.path.join(os.path.dirname(p), name)).replace(os.sep, "/")
            if beside in files:
                target = beside
            else:
                found = by_name.get(os.path.basename(name), [])
                if len(found) > 1:
                    problems.append('%s: "%s" is ambiguous: %s' % (where, name, ", ".join(found)))
                    continue
                target = found[0] if found else None
            if core and (target is None or not in_core(target)):
                problems.append('%s: the firmware core includes "%s", %s' % (
                    where, name, "which is not in the source tree" if target is None
                    else "a header outside it (" + target + ")"))
            if target is None:
                continue  # a generated or system header
            a, b = owner(p, folders), owner(target, folders)
            if a != b:
                edges.setdefault((a, b), "%s includes %s" % (where, target))

    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
        graph.setdefault(b, set())
    for cycle in strongly_connected(graph):
        lines = ["  %s -> %s (%s)" % (a, b, edges[(a, b)])
                 for a in sorted(cycle) for b in sorted(graph[a]) if b in cycle]
        problems.append("the folders %s use each other:\n%s" % (", ".join(sorted(cycle)),
                                                                  "\n".join(lines)))
    return files, folders, graph, problems


def strongly_connected(graph):
    """Tarjan's algorithm; only the components of more than one folder."""
    index, low, stack, on_stack, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = set()
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.add(w)
                if w == v:
                    break
            if len(comp) > 1:
                out.append(comp)

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), "..", ".."))
    files, folders, graph, problems = check(root)
    if "--graph" in argv:
        for a in sorted(graph):
            print("%s: %s" % (a, " ".join(sorted(graph[a])) or "-"))
    core_files = sum(1 for p in files if in_core(p))
    for p in problems:
        print("layering: " + p)
    print("layering: %d source files in %d folders, %d uses between folders; "
          "firmware core %d files: %s" % (
              len(files), len(folders), sum(len(v) for v in graph.values()), core_files,
              "%d problem(s)" % len(problems) if problems else "no Qt, no cycle"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
