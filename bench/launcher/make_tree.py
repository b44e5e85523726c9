#!/usr/bin/env python3
"""Writes a deterministic tree of mixed file sizes for the launcher bench.

By default 1 GiB: many small files (1-64 KiB, about a sixth of the bytes,
in nested directories), some medium ones (256 KiB-8 MiB, about a third) and
a few of 100 MB and more (the rest). The content compresses about as well as
an application's files (Zstandard -19 to about a third) and never repeats
within a file or across files, so that a long window finds nothing to share:
runs of text over a skewed alphabet mixed with numbered records.
The same arguments always give the same tree, byte for byte.

usage: bench/launcher/make_tree.py OUT [--bytes N] [--seed N]
"""
import argparse
import os
import random
import sys

# 256 byte values onto a skewed alphabet: entropy near 3.5 bits per byte.
_WEIGHTS = " " * 60 + "e" * 36 + "t" * 26 + "a" * 22 + "o" * 20 + "n" * 16 + "i" * 16 + "s" * 14 + \
    "r" * 12 + "h" * 10 + "l" * 8 + "d" * 6 + "\n" * 4 + "_" * 2 + "(" * 2 + ")" * 2
assert len(_WEIGHTS) == 256, len(_WEIGHTS)
_TABLE = bytes.maketrans(bytes(range(256)), _WEIGHTS.encode())


def content(rng, size, serial):
    """`size` bytes, unique to (rng state, serial)."""
    parts, left, record = [], size, 0
    while left > 0:
        n = min(left, rng.randrange(512, 16384))
        if rng.random() < 0.5:
            chunk = rng.randbytes(n).translate(_TABLE)
        else:
            lines, got = [], 0
            while got < n:
                record += 1
                lines.append(f"{serial:06d}.{record:08d},item_{rng.randrange(64)},"
                             f"{rng.randrange(1000)},{rng.choice(('ok', 'warn', 'fail'))}\n")
                got += len(lines[-1])
            chunk = "".join(lines).encode()[:n]
        parts.append(chunk)
        left -= len(chunk)
    return b"".join(parts)


def plan(total, rng):
    """(relative path, size) of every file, adding up to `total` bytes."""
    files = []
    large = total // 2
    medium = total // 3
    small = total - large - medium
    # A few large files of 100 MB and more (fewer when the total is small).
    count = max(1, large // (120 << 20))
    for i in range(count):
        size = large // count if i < count - 1 else large - (large // count) * (count - 1)
        files.append((f"data/large_{i}.bin", size))
    # Medium files, then small ones in nested directories.
    for budget, low, high, name in (
            (medium, 256 << 10, 8 << 20, lambda i: f"lib/medium/module_{i:04d}.so"),
            (small, 1 << 10, 64 << 10, lambda i: f"share/d{i % 37:02d}/s{(i // 37) % 23:02d}/file_{i:05d}.txt")):
        made = i = 0
        while made < budget:
            size = min(budget - made, rng.randrange(low, high))
            files.append((name(i), size))
            made += size
            i += 1
    return files


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("out")
    ap.add_argument("--bytes", type=int, default=1 << 30)
    ap.add_argument("--seed", type=int, default=13)
    a = ap.parse_args()
    if os.path.exists(a.out):
        sys.exit(f"{a.out} exists; give a new directory")
    rng = random.Random(a.seed)
    files = plan(a.bytes, rng)
    for serial, (rel, size) in enumerate(files):
        path = os.path.join(a.out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            # Large files in pieces, so that memory stays small.
            for at in range(0, size, 16 << 20):
                f.write(content(rng, min(16 << 20, size - at), serial))
    print(f"{a.out}: {len(files)} files, {a.bytes} bytes")


if __name__ == "__main__":
    main()
