#!/usr/bin/env python3
"""The include structure of src/: every #include "..." of a file of ours points into its own room
or into a room below it, and no module (a .h with its .cpp) reaches itself through includes.

Rooms, bottom up (a room may include the rooms listed for it and itself):
  core, console   the configuration, errors, thread pool; host/console.h, the printing the core
                  uses (its definitions come with the host layer it is linked with)
  signals         core
  apertures       signals, core
  elements        apertures, signals, core
  calculation     elements, apertures, signals, core
  imaging         signals, core
  host            host/host.* and host/embedded/*: the only code that calls the host; core
  gateway         everything above, the host layer included
  python          host/python: a host of its own that drives the module through the embedded
                  host, on top of everything
The console may be included from every room. Its functions are defined in host/host.cpp with
the host layer; that file's includes outside the host layer count as the console's own, so that
the console cannot come to depend on a module that prints through it.

Usage: check_includes.py SRC_DIR. Prints every violation and exits 1 if there is one.
"""
import os
import re
import sys

BELOW = {
    "core": {"core"},
    "console": {"core"},
    "signals": {"core"},
    "apertures": {"signals", "core"},
    "elements": {"apertures", "signals", "core"},
    "calculation": {"elements", "apertures", "signals", "core"},
    "imaging": {"signals", "core"},
    "host": {"core"},
    "gateway": {"calculation", "elements", "imaging", "apertures", "signals", "core", "host"},
    "python": {"gateway", "calculation", "elements", "imaging", "apertures", "signals", "core",
               "host"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Where the build looks for a quoted include besides the including file's folder.
SEARCH = [".", "host/embedded"]
# Modules whose header is defined in another module's file.
DEFINED_IN = {"host/console": "host/host.cpp"}


def room_of(path):
    parts = path.split("/")
    if path == "host/console.h":
        return "console"
    if parts[0] == "host":
        return "python" if len(parts) > 2 and parts[1] == "python" else "host"
    return parts[0]


def module_of(path):
    return os.path.splitext(path)[0]


def resolve(src, including, name):
    """The file of src/ that #include "name" in including means, or None for a header of the
    host's or of a library."""
    for base in [os.path.dirname(including)] + SEARCH:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(src, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def main(src):
    files = []
    for folder, _, names in os.walk(src):
        for name in names:
            if name.endswith((".h", ".cpp")):
                files.append(os.path.relpath(os.path.join(folder, name), src).replace(os.sep, "/"))
    faults = []
    edges = {}
    for path in sorted(files):
        room = room_of(path)
        if room not in BELOW:
            faults.append(f"{path}: the room '{room}' has no place in the order of rooms")
            continue
        with open(os.path.join(src, path), encoding="utf-8") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            target = resolve(src, path, name)
            if target is None:
                continue
            to_room = room_of(target)
            if to_room != room and to_room != "console" and to_room not in BELOW[room]:
                faults.append(f'{path}: includes "{name}" of the room {to_room}, which is not '
                              f"below the room {room}")
            a, b = module_of(path), module_of(target)
            if a != b:
                edges.setdefault(a, set()).add(b)
            for module, definitions in DEFINED_IN.items():
                if path == definitions and to_room != "host" and b != module:
                    edges.setdefault(module, set()).add(b)

    # Cycles among modules: a depth-first walk; a module met again while on the path closes one.
    state = {}  # 1 on the path, 2 done
    path_stack = []

    def visit(m):
        state[m] = 1
        path_stack.append(m)
        for n in sorted(edges.get(m, ())):
            if state.get(n) == 1:
                cycle = path_stack[path_stack.index(n):] + [n]
                faults.append("modules include each other in a circle: " + " -> ".join(cycle))
            elif n not in state:
                visit(n)
        path_stack.pop()
        state[m] = 2

    for m in sorted(edges):
        if m not in state:
            visit(m)

    for fault in faults:
        print(fault)
    print(f"{len(files)} files, {sum(len(v) for v in edges.values())} module includes, "
          f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src")))
