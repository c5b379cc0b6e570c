#!/usr/bin/env python3
"""Summarises bench/run.sh's per-run table for one tree, a table per file system.

  summarize.py RUNS.tsv TREE ENTRIES FILES BYTES

Round 0 is the warm-up and is left out. For each command: median and best
wall time, median CPU (user + system) time, files/s and MB/s from the median
wall time, and the highest peak RSS seen. Then fsrestore against each other
command: other_time / fsrestore_time per round, so above 1 means fsrestore is
faster, as the median over the rounds with the lowest and highest round in
brackets; then the ratio of the best times. On this machine the noise is
one-sided (some runs take twice as long, in system time, for every command
alike), so the best times are the steadier comparison when the medians
disagree.
"""
import csv
import statistics
import sys


def spread(ratios):
    if not ratios:
        return "n/a"
    return f"{statistics.median(ratios):.2f}x ({min(ratios):.2f}..{max(ratios):.2f})"


def ratios(slow, fast, field=0):
    """slow_time / fast_time for each round both ran."""
    return [slow[r][field] / fast[r][field] for r in fast if r in slow and fast[r][field] > 0]


def table(fs, runs, tree, entries, files, nbytes):
    rounds = len(runs["fsrestore"])
    print(f"\n{tree} on {fs}: {entries} entries ({files} files), {nbytes / 1e6:.1f} MB of content, "
          f"{rounds} rounds after a warm-up")
    print(f"  {'command':<10} {'wall s':>8} {'best s':>8} {'cpu s':>7} {'files/s':>10} {'MB/s':>8} "
          f"{'peak RSS':>10}")
    for cmd, by_round in runs.items():
        wall = statistics.median(r[0] for r in by_round.values())
        best = min(r[0] for r in by_round.values())
        cpu = statistics.median(r[1] for r in by_round.values())
        rss = max(r[2] for r in by_round.values())
        print(f"  {cmd:<10} {wall:8.3f} {best:8.3f} {cpu:7.2f} {files / wall:10.0f} {nbytes / wall / 1e6:8.0f} "
              f"{rss / 1024:8.1f} MiB")
    print(f"  speed of fsrestore relative to X on {fs}, X_time / fsrestore_time: "
          "median of the rounds (lowest..highest); best X / best fsrestore")
    fsr = runs["fsrestore"]
    for cmd, by_round in runs.items():
        if cmd == "fsrestore":
            continue
        wall, cpu = ratios(by_round, fsr), ratios(by_round, fsr, 1)
        best = min(r[0] for r in by_round.values()) / min(r[0] for r in fsr.values())
        print(f"    vs {cmd:<8} wall {spread(wall):<20} cpu {spread(cpu):<20} best {best:.2f}x")
    if "fsrestore-j1" in runs and "fsrestore-j8" in runs:
        wall = ratios(runs["fsrestore-j1"], runs["fsrestore-j8"])
        print(f"  -j 8 against -j 1 on {fs}, j1_time / j8_time: {spread(wall)}")
    if "floor" not in runs:
        return
    print(f"  speed relative to the sequential floor on {fs}, floor_time / X_time: median (lowest..highest)")
    fl = runs["floor"]
    for cmd, by_round in runs.items():
        if cmd == "floor":
            continue
        print(f"    {cmd:<13} {spread(ratios(fl, by_round))}")


def main(path, tree, entries, files, nbytes):
    by_fs = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if row["tree"] != tree or int(row["round"]) == 0:
                continue
            by_fs.setdefault(row["fs"], {}).setdefault(row["cmd"], {})[int(row["round"])] = (
                float(row["wall_s"]),
                float(row["user_s"]) + float(row["sys_s"]),
                int(row["maxrss_kib"]),
            )
    if not any("fsrestore" in runs for runs in by_fs.values()):
        sys.exit(f"no runs for {tree}")
    for fs, runs in by_fs.items():
        if "fsrestore" in runs:
            table(fs, runs, tree, int(entries), int(files), int(nbytes))


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
