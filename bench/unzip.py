#!/usr/bin/env python3
"""Extraction of a page package: ExtractZip against unzip.

A 50 MiB mixed package (thousands of small page files and a few large ones,
deflated by zip) is extracted by our extraction (build/bin/stub-unzip) and by
`unzip -q` in the same run, five pairs; the median ratio of wall times is
printed.

    bench/unzip.py [--pairs N]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
WORDS = b"install page wizard script style image config language product channel".split()


def text(rng, size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(WORDS) + b" "
    return bytes(out[:size])


def make_pages(folder):
    rng = random.Random(7)
    total = 0
    for index in range(4000):
        name = os.path.join(folder, "pages", "p%02d" % (index % 40), "f%04d.html" % index)
        os.makedirs(os.path.dirname(name), exist_ok=True)
        size = rng.randint(512, 8192)
        with open(name, "wb") as out:
            out.write(text(rng, size))
        total += size
    os.makedirs(os.path.join(folder, "media"), exist_ok=True)
    for index, size in enumerate((12 << 20, 8 << 20)):
        with open(os.path.join(folder, "media", "video%d.bin" % index), "wb") as out:
            out.write(os.urandom(size))  # already compressed data
        total += size
    remaining = (50 << 20) - total
    with open(os.path.join(folder, "media", "script.js"), "wb") as out:
        out.write(text(rng, max(remaining, 1 << 20)))


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", type=int, default=5)
    options = parser.parse_args()
    # In memory when the machine has room: disk write-back would drown the
    # difference between the two in noise.
    shm = "/dev/shm" if os.path.isdir("/dev/shm") and shutil.disk_usage("/dev/shm").free > 400 << 20 else None
    work = tempfile.mkdtemp(prefix="bench-unzip-", dir=shm)
    try:
        source = os.path.join(work, "source")
        make_pages(source)
        archive = os.path.join(work, "pages.zip")
        subprocess.run(["zip", "-q", "-r", archive, "."], cwd=source, check=True)
        print("package: %.1f MiB on disk, %.1f MiB of files"
              % (os.path.getsize(archive) / 2**20,
                 sum(os.path.getsize(os.path.join(r, n)) for r, _, ns in os.walk(source)
                     for n in ns) / 2**20))
        ratios = []
        for pair in range(options.pairs):
            ours_dir = os.path.join(work, "ours")
            unzip_dir = os.path.join(work, "unzip")
            for folder in (ours_dir, unzip_dir):
                shutil.rmtree(folder, ignore_errors=True)
            # Alternate who goes first, so neither always meets a warm cache.
            runs = [("ours", [os.path.join(BIN, "stub-unzip"), archive, ours_dir]),
                    ("unzip", ["unzip", "-q", archive, "-d", unzip_dir])]
            if pair % 2:
                runs.reverse()
            times = {name: timed(command) for name, command in runs}
            ours, reference = times["ours"], times["unzip"]
            ratios.append(ours / reference)
            print("pair %d: ours %.3f s, unzip %.3f s, ratio %.2f"
                  % (pair + 1, ours, reference, ours / reference))
        print("median ratio %.2f (target <= 1.2)" % statistics.median(ratios))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
