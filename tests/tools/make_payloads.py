#!/usr/bin/env python3
"""Writes the test payloads, independently of kay-pack.

Usage: make_payloads.py OUTDIR PROBE_EXE MAIN_NAME

Every case is a payload file OUTDIR/<case>.kay. Entries are written by hand
here and compressed with the zstd command line tool, so that a fault shared
by kay-pack and the launcher's reader cannot hide.
"""
import os
import shutil
import struct
import subprocess
import sys
import threading
import zlib

WINDOW = 131072


def name_bytes(name):
    return name.encode("utf-16-le") + b"\0\0"


def entry(name, content, crc=None):
    if crc is None:
        crc = zlib.crc32(content) & 0xFFFFFFFF
        if crc == 0:
            crc = 1
    return name_bytes(name) + struct.pack("<QI", len(content), crc) + content


END = b"\0\0"


def compress(stream, extra=()):
    return subprocess.run(["zstd", "-q", "-c", "-3", "--long=27", *extra],
                          input=stream, stdout=subprocess.PIPE, check=True).stdout


def container(frame, magic=b"KAY"):
    body = magic + frame + b"\0\0"
    return body + struct.pack("<Q", len(body))


def pseudo_random(n, seed):
    out = bytearray()
    x = seed
    while len(out) < n:
        x = (x * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        out += (x >> 33).to_bytes(4, "little")
    return bytes(out[:n])


def zero_crc_content():
    """Bytes whose CRC-32 is 0: four bytes appended to force the register."""
    data = b"kay zero crc"
    # Table-driven reversal of the reflected CRC-32.
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    top = {t >> 24: i for i, t in enumerate(table)}
    reg = (zlib.crc32(data) ^ 0xFFFFFFFF) & 0xFFFFFFFF
    target = 0 ^ 0xFFFFFFFF
    # Walk backwards from the target register over four unknown bytes.
    idx = []
    r = target
    for _ in range(4):
        i = top[r >> 24]
        idx.append(i)
        r = ((r ^ table[i]) << 8) & 0xFFFFFFFF
    # r now holds the high 24 bits of the register before the 4 bytes.
    idx.reverse()
    forced = bytearray()
    cur = reg
    for i in idx:
        b = (i ^ cur) & 0xFF
        forced.append(b)
        cur = (cur >> 8) ^ table[(cur ^ b) & 0xFF]
    result = data + bytes(forced)
    assert zlib.crc32(result) == 0, hex(zlib.crc32(result))
    return result


def write_expected(out_dir, case, stream):
    root = os.path.join(out_dir, "expected", case)
    if os.path.isdir(root):
        shutil.rmtree(root)
    pos = 0
    while pos < len(stream):
        end = pos
        while stream[end:end + 2] != b"\0\0":
            end += 2
        name = stream[pos:end].decode("utf-16-le")
        pos = end + 2
        if not name:
            break
        size, crc = struct.unpack_from("<QI", stream, pos)
        pos += 12
        content = stream[pos:pos + size]
        pos += size
        if crc == 0:
            continue
        path = os.path.join(root, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


def compress_chunks(chunks):
    """Compresses a stream given in pieces, without holding it whole."""
    proc = subprocess.Popen(["zstd", "-q", "-c", "-3", "--long=27"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out = []
    reader = threading.Thread(target=lambda: out.append(proc.stdout.read()))
    reader.start()
    for chunk in chunks:
        proc.stdin.write(chunk)
    proc.stdin.close()
    reader.join()
    if proc.wait() != 0:
        raise RuntimeError("zstd failed")
    return out[0]


def slow_unpack_stream(main):
    yield main
    zeros = bytes(1 << 20)
    crc = 0
    for _ in range(32):
        crc = zlib.crc32(zeros, crc)
    for i in range(16):
        yield name_bytes("fill\\%02d.bin" % i) + struct.pack("<QI", 32 << 20, crc)
        for _ in range(32):
            yield zeros
    yield END


def main():
    out_dir, probe_path, main_name = sys.argv[1], sys.argv[2], sys.argv[3]
    sep = "\\"
    probe = open(probe_path, "rb").read()
    os.makedirs(out_dir, exist_ok=True)
    main = entry(main_name, probe)

    basic = (main
             + entry("data\\a.txt", b"hello from kay\n")
             + entry("data\\sub\\b.bin", pseudo_random(300000, 7))
             + entry("empty.txt", b"", crc=1)
             + entry("never.txt", b"never written", crc=0)
             + entry("zerocrc.bin", zero_crc_content()))
    cases = {}
    cases["basic"] = container(compress(basic + END))
    cases["badmagic_lower"] = container(compress(basic + END), magic=b"kay")
    cases["badmagic_kax"] = container(compress(basic + END), magic=b"KAX")
    cases["empty_stream"] = container(compress(END))
    cases["no_end_marker"] = container(compress(basic))
    frame = compress(basic + END)
    cases["truncated"] = b"KAY" + frame[: len(frame) // 2]
    # The same frame with its window descriptor raised to 2^28 bytes.
    wide = bytearray(compress(basic + END))
    assert wide[4] & 0x20 == 0 and wide[5] == 0x88, "frame without a window descriptor"
    wide[5] = 0x90
    cases["big_window"] = container(bytes(wide))
    # A byte of data\sub\b.bin changed in a frame without Zstandard's
    # checksum: it decodes, to content that is not the entry's.
    flipped = bytearray(compress(basic + END, ["--no-check"]))
    flipped[flipped.find(pseudo_random(300000, 7)[150000:150064]) + 32] ^= 0x10
    cases["flipped"] = container(bytes(flipped))
    cases["long_name"] = container(compress(main + name_bytes("n" * 1100) + struct.pack("<QI", 1, 1) + b"x" + END))
    cases["traversal"] = container(compress(main + entry("..\\evil.txt", b"evil") + END))
    cases["absolute"] = container(compress(main + entry("\\abs.txt", b"evil") + END))
    cases["drive"] = container(compress(main + entry("C:\\drive.txt", b"evil") + END))
    cases["empty_part"] = container(compress(main + entry("sub\\\\e.txt", b"evil") + END))
    cases["trailing_sep"] = container(compress(main + entry("sub\\", b"evil") + END))
    cases["device"] = container(compress(main + entry("sub\\nul.txt", b"evil") + END))
    # 320 folder levels, none there yet, and folders named with '/'.
    cases["deep_tree"] = container(compress(main + entry("a\\" * 320 + "f", b"deep tree") + entry("s/l/ash.txt", b"slash") + END))

    # A name whose second unit lies across a window boundary: pad the stream
    # so the next name starts one byte before 131072, then a request that
    # spans two boundaries.
    head = main + name_bytes("pad.bin") + struct.pack("<QI", 0, 0)
    pad_len = (WINDOW - 1 - len(head)) % WINDOW
    split = (main + entry("pad.bin", pseudo_random(pad_len, 3))
             + entry("split.txt", b"split name")
             + entry("span.bin", pseudo_random(3 * WINDOW + 77, 5)) + END)
    assert (len(main) + len(entry("pad.bin", pseudo_random(pad_len, 3)))) % WINDOW == WINDOW - 1
    cases["split"] = container(compress(split))

    # A name of 1023 units, the longest the name buffer holds, for the
    # path-length tests (components under 255).
    parts = []
    remaining = 1023
    i = 0
    while remaining > 0:
        n = min(200, remaining)
        if remaining - n == 1:
            n -= 2
        parts.append(chr(ord("a") + i % 26) * n)
        remaining -= n + 1
        i += 1
    deep_name = sep.join(parts)
    deep_name = deep_name[:1023]
    assert len(deep_name) == 1023 and not deep_name.endswith(sep)
    cases["deep"] = container(compress(main + entry(deep_name, b"deep") + END))

    many = main + b"".join(entry("d%04d\\f.txt" % i, b"%d" % i) for i in range(1100)) + END
    cases["many_dirs"] = container(compress(many))

    cases["big_file"] = container(compress(main + entry("big.bin", pseudo_random(1 << 20, 9)) + END))

    # A skippable frame ahead of the real one: the first decoder call
    # produces nothing.
    skip = struct.pack("<II", 0x184D2A50, 5) + b"skip!"
    cases["skippable"] = container(skip + compress(basic + END))
    # The main program with other content under the same name.
    cases["other_main"] = container(compress(entry(main_name, probe + b"other") + END))

    # Slow to unpack: the program, then 16 files of 32 MiB of zeros, so a
    # test can interrupt the launcher while it is still writing files.
    cases["slow_unpack"] = container(compress_chunks(slow_unpack_stream(main)))

    for name, data in cases.items():
        with open(os.path.join(out_dir, name + ".kay"), "wb") as f:
            f.write(data)
    with open(os.path.join(out_dir, "deep_name.txt"), "w") as f:
        f.write(deep_name)

    # What the launcher must leave on disk for some cases: every entry whose
    # stored crc is not 0, under expected/<case>/ with native separators.
    write_expected(out_dir, "basic", basic + END)
    write_expected(out_dir, "split", split)


def crowd_main():
    """make_payloads.py --crowd OUTDIR CHECKER_EXE MAIN_NAME: the payload for
    launchers started at once: the checker program first, then a manifest
    of every other file with its size and CRC-32, then some hundreds of
    small files and a few of several MiB."""
    out_dir, checker_path, main_name = sys.argv[2], sys.argv[3], sys.argv[4]
    os.makedirs(out_dir, exist_ok=True)
    files = []
    for i in range(300):
        files.append(("d%02d\\f%03d.bin" % (i % 12, i), pseudo_random(64 + (i * 977) % 6000, 100 + i)))
    # The big files come last and take long to write, so a launcher that
    # started later is still rewriting one when the first one's child runs.
    block = pseudo_random(1 << 20, 7000)
    for i in range(2):
        files.append(("big\\b%d.bin" % i,
                      b"".join(b"%d.%d" % (i, k) + block for k in range(16))))
    manifest = "".join("%08x %d %s\n" % (zlib.crc32(c) & 0xFFFFFFFF, len(c), n.replace("\\", "/"))
                       for n, c in files).encode()
    stream = (entry(main_name, open(checker_path, "rb").read()) + entry("manifest.txt", manifest)
              + b"".join(entry(n, c) for n, c in files) + END)
    with open(os.path.join(out_dir, "crowd.kay"), "wb") as f:
        f.write(container(compress(stream)))
    write_expected(out_dir, "crowd", stream)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--crowd":
        crowd_main()
    else:
        main()
