#!/usr/bin/env python3
"""Builds the benchmark trees, the same bytes and shape on every run.

  gen_tree.py small DIR      ~50,000 files of 0-16 KiB (log-uniform sizes) in
                             ~2,500 directories nested up to 6 levels
  gen_tree.py large DIR      4 files of 512 MiB
  gen_tree.py empty N DIR    N empty files, 1,000 to a directory
  gen_tree.py scale N DIR    N files of 0-32 bytes, 20 to a directory, the
                             directories three levels deep
  gen_tree.py flat N DIR     N files of 0-32 bytes in the one directory flat/
"""
import math
import os
import random
import sys

SEED = 20240606
MIB = 1 << 20
# Fixed times so the dumps and archives do not depend on when they were made.
MTIME = 1_700_000_000


def small(root, files=50_000, dirs=2_500, max_level=6, max_size=16 * 1024):
    rng = random.Random(SEED)
    levels = {root: 0}
    all_dirs = [root]
    nestable = [root]
    for i in range(dirs):
        parent = rng.choice(nestable)
        path = os.path.join(parent, f"d{i:04d}")
        os.mkdir(path)
        levels[path] = levels[parent] + 1
        all_dirs.append(path)
        if levels[path] < max_level:
            nestable.append(path)
    log_max = math.log(max_size + 1)
    total = 0
    for i in range(files):
        size = int(math.exp(rng.uniform(0.0, log_max))) - 1
        path = os.path.join(rng.choice(all_dirs), f"f{i:05d}.dat")
        with open(path, "wb") as f:
            f.write(rng.randbytes(size))
        os.utime(path, (MTIME, MTIME + i))
        total += size
    print(f"small: {files} files, {dirs} directories, {total} bytes")


def large(root, count=4, size=512 * MIB):
    rng = random.Random(SEED)
    # Generating 2 GiB of random bytes in Python takes too long; slices of an
    # 8 MiB random block at shifting offsets are as good for a copy benchmark.
    block = rng.randbytes(8 * MIB)
    for n in range(count):
        path = os.path.join(root, f"big{n}.bin")
        with open(path, "wb") as f:
            for k in range(size // MIB):
                off = (k * 4099 + n * 65537) % (7 * MIB)
                f.write(block[off:off + MIB])
        os.utime(path, (MTIME, MTIME + n))
    print(f"large: {count} files of {size} bytes")


def empty(root, count):
    per_dir = 1000
    for d in range((count + per_dir - 1) // per_dir):
        sub = os.path.join(root, f"d{d:04d}")
        os.mkdir(sub)
        for i in range(min(per_dir, count - d * per_dir)):
            open(os.path.join(sub, f"e{i:04d}"), "wb").close()
    print(f"empty: {count} files")


def tiny_files(rng, folder, first, count):
    """Files first..first+count-1 of a scale tree: 0-32 bytes each."""
    for i in range(first, first + count):
        path = os.path.join(folder, f"f{i:07d}")
        with open(path, "wb") as f:
            f.write(rng.randbytes(rng.randrange(33)))
        os.utime(path, (MTIME, MTIME + i))


def scale(root, count, per_dir=20):
    # Leaf directories of per_dir files under two levels of the same fan-out,
    # so every level of every size of the series has about as many entries.
    rng = random.Random(SEED)
    leaves = (count + per_dir - 1) // per_dir
    fan = 1
    while fan ** 3 < leaves:
        fan += 1
    for n in range(leaves):
        folder = os.path.join(root, f"a{n // (fan * fan):02d}", f"b{n // fan % fan:02d}", f"c{n % fan:02d}")
        os.makedirs(folder)
        tiny_files(rng, folder, n * per_dir, min(per_dir, count - n * per_dir))
    print(f"scale: {count} files in {leaves} directories, fan-out {fan}")


def flat(root, count):
    # One directory below the target: the restore hands files to its writers
    # only in directories it made.
    rng = random.Random(SEED)
    folder = os.path.join(root, "flat")
    os.mkdir(folder)
    tiny_files(rng, folder, 0, count)
    print(f"flat: {count} files in one directory")


def main(argv):
    if len(argv) == 3 and argv[1] in ("small", "large"):
        os.makedirs(argv[2], exist_ok=True)
        (small if argv[1] == "small" else large)(argv[2])
    elif len(argv) == 4 and argv[1] in ("empty", "scale", "flat"):
        os.makedirs(argv[3], exist_ok=True)
        {"empty": empty, "scale": scale, "flat": flat}[argv[1]](argv[3], int(argv[2]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
