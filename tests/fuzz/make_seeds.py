#!/usr/bin/env python3
"""Seed corpus of the payload fuzz target from the test payloads.

Usage: make_seeds.py PAYLOAD_DIR OUT_DIR

Each payload goes in as it is (a whole attached payload), and, when its
frame decodes to at most 1 MiB (libFuzzer's longest input), also as its
decoded entry stream, which the target compresses itself.
"""
import os
import shutil
import subprocess
import sys

MAX_STREAM = 1 << 20


def main():
    src, out = sys.argv[1], sys.argv[2]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name in sorted(os.listdir(src)):
        if not name.endswith(".kay"):
            continue
        data = open(os.path.join(src, name), "rb").read()
        base = name[:-4]
        with open(os.path.join(out, base + ".kay"), "wb") as f:
            f.write(data)
        if not data.startswith(b"KAY") or len(data) < 13:
            continue
        frame = data[3:-10]
        r = subprocess.run(["zstd", "-q", "-d", "-c", "--long=31"], input=frame,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if r.returncode == 0 and 0 < len(r.stdout) <= MAX_STREAM:
            with open(os.path.join(out, base + ".stream"), "wb") as f:
                f.write(r.stdout)


if __name__ == "__main__":
    main()
