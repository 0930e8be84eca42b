#!/usr/bin/env python3
"""The structure of src/ as its #include lines draw it: no file may include one of a higher
layer (or of another folder on its own layer), and no files may include each other, directly or
round a circle. A header and its .cpp count as one unit, so that a .cpp reaching back into a
header that includes its own is a circle too. Prints what is wrong and fails; silent otherwise.

    include_layers.py SRC_DIR
"""
import os
import re
import sys

# Lower numbers are lower layers. A folder may include its own files and those of lower layers.
LAYERS = {
    "platform": 0,
    "digest": 1,
    "settings": 1,
    "relay": 2,
    "app": 3,
    "gui/models": 3,
    "headless": 4,
    "gui": 4,
    "": 5,  # main.cpp
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path):
    return os.path.dirname(path).replace(os.sep, "/")


def unit_of(path):
    return os.path.splitext(path)[0]


def main():
    src = sys.argv[1]
    files = []
    for root, _, names in os.walk(src):
        for name in names:
            if name.endswith((".h", ".cpp")):
                files.append(os.path.relpath(os.path.join(root, name), src))
    known = set(files)
    problems = []
    edges = {}
    for path in sorted(files):
        folder = folder_of(path)
        if folder not in LAYERS:
            problems.append("%s: the folder %r has no layer in %s" % (path, folder, __file__))
            continue
        with open(os.path.join(src, path), encoding="utf-8") as source:
            included = INCLUDE.findall(source.read())
        for target in included:
            if target not in known:
                continue  # generated or outside src
            target_folder = folder_of(target)
            if target_folder != folder and LAYERS.get(target_folder, 99) >= LAYERS[folder]:
                problems.append("%s includes %s: %s is not below %s" %
                                (path, target, target_folder or "src", folder or "src"))
            if unit_of(target) != unit_of(path):
                edges.setdefault(unit_of(path), set()).add(unit_of(target))

    # Circles among units, by depth-first search.
    state = {}
    stack = []

    def visit(unit):
        state[unit] = "open"
        stack.append(unit)
        for target in sorted(edges.get(unit, ())):
            if state.get(target) == "open":
                circle = stack[stack.index(target):] + [target]
                problems.append("include circle: " + " -> ".join(circle))
            elif target not in state:
                visit(target)
        stack.pop()
        state[unit] = "done"

    for unit in sorted(edges):
        if unit not in state:
            visit(unit)

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
