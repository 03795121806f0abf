#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own layer, or when the
README's folder table does not list the layers the build has, in the build's order.

The layers come from one place, PIXORTA_LAYERS in the top-level CMakeLists.txt, lowest first.
A folder (with its sub-folders) may include from itself and from every layer before it; a test
folder tests/<layer>/... may include what its layer may, plus the shared test support."""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_layers(root):
    text = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
    match = re.search(r"set\(PIXORTA_LAYERS\s+([^)]*)\)", text)
    if not match:
        raise SystemExit("CMakeLists.txt does not set PIXORTA_LAYERS")
    return match.group(1).split()


def layer_index(folder, layers):
    """The index of the layer a folder belongs to (a sub-folder belongs to its parent)."""
    top = folder.split("/")[0]
    return layers.index(top) if top in layers else None


def include_problems(root, layers):
    problems = []
    for top in layers + ["tests"]:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                folder = os.path.dirname(rel)
                in_tests = folder.startswith("tests/")
                mirrored = folder[len("tests/"):] if in_tests else folder
                own = layer_index(mirrored, layers)
                if own is None:
                    continue
                text = open(path, encoding="utf-8", errors="replace").read()
                for header in INCLUDE.findall(text):
                    if "/" not in header:
                        continue  # a header beside the file
                    target = os.path.dirname(header)
                    if in_tests and (target == "tests/support" or target == folder):
                        continue
                    if in_tests and target.startswith("tests/"):
                        target = target[len("tests/"):]
                    index = layer_index(target, layers)
                    if index is None or index > own:
                        problems.append(f"{rel}: includes {header}")
    return problems


def readme_problems(root, layers):
    text = open(os.path.join(root, "README.md"), encoding="utf-8").read()
    rows = re.findall(r"^\|\s*`([a-z]+)/`\s*\|", text, re.M)
    listed = [r for r in rows if r in layers]
    if listed != layers:
        return [f"README.md: the folder table lists the layers {listed}, the build has {layers}"]
    return []


def main(root):
    layers = read_layers(root)
    problems = include_problems(root, layers) + readme_problems(root, layers)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))))
