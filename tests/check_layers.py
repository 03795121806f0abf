#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own layer.

Each folder may include from the folders listed for it (and from itself); tests may include
what the folder they mirror may include, plus the shared test support."""
import os
import re
import sys

ALLOWED = {
    "core": [],
    "ui": ["core"],
    "engine": ["engine/gif"],
    "engine/gif": ["engine"],
    "batch/io": ["core", "ui", "engine"],
    "media": ["core"],
    "tasks": ["core", "ui", "engine", "batch/io", "media", "tasks/movie"],
    "tasks/movie": ["core", "ui", "engine", "batch/io", "media", "tasks"],
    "imagelist": ["core", "ui", "engine", "batch/io", "media"],
    "batch": ["core", "ui", "engine", "batch/io", "media", "tasks", "tasks/movie", "imagelist"],
    "app": ["core", "ui", "engine", "batch/io", "media", "tasks", "tasks/movie", "batch",
            "imagelist"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(folder):
    return folder if folder in ALLOWED else None


def main(root):
    problems = []
    for top in list(ALLOWED) + ["tests"]:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                folder = os.path.dirname(rel)
                mirrored = folder[len("tests/"):] if folder.startswith("tests/") else folder
                own = layer_of(mirrored)
                if own is None:
                    continue
                allowed = set(ALLOWED[own]) | {own}
                if folder.startswith("tests/"):
                    allowed |= {"tests/support", folder}
                text = open(path, encoding="utf-8", errors="replace").read()
                for header in INCLUDE.findall(text):
                    if "/" not in header:
                        continue  # a header beside the file
                    target = os.path.dirname(header)
                    if target not in allowed:
                        problems.append(f"{rel}: includes {header}")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))))
