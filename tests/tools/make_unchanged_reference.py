#!/usr/bin/python3
"""Writes the reference of what pixorta-batch makes of the public image suites when the tasks a
batch can do without are left off: for each configuration below, the SHA-256 of every result
file, of the rows printed, of the plan printed by --dry-run and of the job --save-job writes.

    make_unchanged_reference.py PIXORTA-BATCH TESTDATA > tests/tools/unchanged_outputs.tsv

The tools tests run the same configurations (read from the file this writes) with the program
as it is built and compare, so a change that should leave these batches alone cannot alter a
single byte of them unnoticed. Run it with a pixorta-batch known to be right.
"""

import hashlib
import os
import subprocess
import sys
import tempfile

# name, options. Every configuration writes into an output folder with --keep-folders, so
# the results keep the suites' layout.
CONFIGURATIONS = [
    ("default", ["--format", "png"]),
    ("old-tasks", ["--resize", "50%", "--grayscale", "--background", "--text", "%fTitle%",
                   "--format", "png"]),
    ("jpeg", ["--width", "300", "--blue", "120", "--format", "jpg", "--quality", "80"]),
]


def sha256_of(data):
    return hashlib.sha256(data).hexdigest()


def run(tool, args, env):
    done = subprocess.run([tool] + args, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=False)
    return done.stdout


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    tool, testdata = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    print("# What pixorta-batch makes of ../shared/testdata, written by "
          "tests/tools/make_unchanged_reference.py; see there.")
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
        for name, options in CONFIGURATIONS:
            print("config\t%s\t%s" % (name, "\t".join(options)))
            out = os.path.join(work, name)
            common = options + ["--keep-folders", "--no-journal", "--jobs", "2",
                                "--output-folder", out]
            plan = run(tool, common + ["--dry-run", testdata], env)
            plan = plan.replace(testdata.encode(), b"<testdata>").replace(out.encode(), b"<out>")
            print("plan\t%s\t%s" % (name, sha256_of(plan)))
            job = os.path.join(work, name + ".ini")
            run(tool, common + ["--save-job", job], env)
            with open(job, "rb") as f:
                saved = f.read().replace(out.encode(), b"<out>")
            print("job\t%s\t%s" % (name, sha256_of(saved)))
            rows = run(tool, common + [testdata], env)
            print("rows\t%s\t%s" % (name, sha256_of(rows)))
            for folder, _, files in sorted(os.walk(out)):
                for file in sorted(files):
                    path = os.path.join(folder, file)
                    with open(path, "rb") as f:
                        print("file\t%s\t%s\t%s" % (name, os.path.relpath(path, out),
                                                    sha256_of(f.read())))


if __name__ == "__main__":
    main()
