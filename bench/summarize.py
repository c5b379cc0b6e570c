#!/usr/bin/env python3
"""Summarises bench/run.sh's per-run table for one tree.

  summarize.py RUNS.tsv TREE ENTRIES FILES BYTES

Round 0 is the warm-up and is left out. For each command: median and best
wall time, median CPU (user + system) time, files/s and MB/s from the median
wall time, and the highest peak RSS seen. Then fsrestore against each other
command: the median over rounds of other_time / fsrestore_time, so above 1
means fsrestore is faster, and the same ratio of the best times. On this
machine the noise is one-sided (some runs take twice as long, in system time,
for every command alike), so the best times are the steadier comparison when
the medians disagree.
"""
import csv
import statistics
import sys


def main(path, tree, entries, files, nbytes):
    entries, files, nbytes = int(entries), int(files), int(nbytes)
    runs = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if row["tree"] != tree or int(row["round"]) == 0:
                continue
            runs.setdefault(row["cmd"], {})[int(row["round"])] = (
                float(row["wall_s"]),
                float(row["user_s"]) + float(row["sys_s"]),
                int(row["maxrss_kib"]),
            )
    if "fsrestore" not in runs:
        sys.exit(f"no runs for {tree}")
    rounds = len(runs["fsrestore"])
    print(f"\n{tree}: {entries} entries ({files} files), {nbytes / 1e6:.1f} MB of content, "
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
    print("  speed of fsrestore relative to X (median of per-round X_time / fsrestore_time):")
    fs = runs["fsrestore"]
    for cmd, by_round in runs.items():
        if cmd == "fsrestore":
            continue
        common = [r for r in fs if r in by_round]
        wall = statistics.median(by_round[r][0] / fs[r][0] for r in common)
        cpu = [by_round[r][1] / fs[r][1] for r in common if fs[r][1] > 0]
        cpu_text = f"{statistics.median(cpu):.2f}" if cpu else "n/a"
        best = min(r[0] for r in by_round.values()) / min(r[0] for r in fs.values())
        print(f"    vs {cmd:<8} wall {wall:.2f}x   cpu {cpu_text}x   best {best:.2f}x")


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
