#!/usr/bin/env python3
"""Summarises bench/scale.sh's per-run table.

  summarize_scale.py RUNS.tsv

Round 0 is the warm-up and is left out. Per stage and command: wall time per
entry in microseconds and peak RSS, each as the median with the lowest and
highest round in brackets, the CPU time per entry, and the 1-minute load
averages seen before the runs. Then the three targets of the series, each
with its figures and whether it is met:
  - time per entry of the largest numbered tree within 15% of the smallest's
    (wall time: the verdict on the ratio of the medians, then the ratio in
    each round both ran and that of the best rounds, which other work on the
    machine, slowing some rounds, moves least; and the CPU time per entry);
  - peak RSS flat, within 1 MiB, across the numbered trees and the flat one;
  - a restore from pipes within 10% of one from regular files (per-round
    ratio pipe_time / file_time, median).
And for the "small" stage: --compare against `tar -d` and --resume against a
restore from nothing, as per-round ratios.
"""
import csv
import statistics
import sys

WRITERS = {"1": "-j 1", "def": "default"}


def load(path):
    """{stage: {(cmd, writers): {round: row}}}, in the order of the table, and entries per stage."""
    stages, entries = {}, {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if int(row["round"]) == 0:
                continue
            entries[row["stage"]] = int(row["entries"])
            runs = stages.setdefault(row["stage"], {}).setdefault((row["cmd"], row["writers"]), {})
            runs[int(row["round"])] = {
                "wall": float(row["wall_s"]),
                "cpu": float(row["user_s"]) + float(row["sys_s"]),
                "rss": int(row["maxrss_kib"]),
                "load": float(row["load1"]),
            }
    return stages, entries


def spread(values, fmt="{:.2f}"):
    return f"{fmt.format(statistics.median(values))} ({fmt.format(min(values))}..{fmt.format(max(values))})"


def us_per_entry(runs, n):
    return [r["wall"] * 1e6 / n for r in runs.values()]


def cpu_per_entry(runs, n):
    return [r["cpu"] * 1e6 / n for r in runs.values()]


def ratios(a, b):
    """a_time / b_time for each round both ran."""
    return [a[r]["wall"] / b[r]["wall"] for r in b if r in a and b[r]["wall"] > 0]


def verdict(ok):
    return "met" if ok else "NOT met"


def tables(stages, entries):
    for stage, by_cmd in stages.items():
        n = entries[stage]
        rounds = max(len(runs) for runs in by_cmd.values())
        print(f"\n{stage}: {n} entries, {rounds} rounds after a warm-up")
        print(f"  {'command':<9} {'writers':<8} {'us/entry':>24} {'cpu us/entry':>13} "
              f"{'peak RSS MiB':>22} {'load':>11}")
        for (cmd, writers), runs in by_cmd.items():
            cpu = statistics.median(cpu_per_entry(runs, n))
            loads = [r["load"] for r in runs.values()]
            print(f"  {cmd:<9} {WRITERS.get(writers, writers):<8} {spread(us_per_entry(runs, n)):>24} "
                  f"{cpu:13.2f} {spread([r['rss'] / 1024 for r in runs.values()]):>22} "
                  f"{min(loads):5.2f}..{max(loads):<5.2f}")


def targets(stages, entries):
    numbered = sorted((s for s in stages if s.isdigit()), key=int)
    series = numbered + [s for s in stages if s.startswith("flat")]
    if len(numbered) >= 2:
        lo, hi = numbered[0], numbered[-1]
        print(f"\ntime per entry, {hi} against {lo} entries (target: within 15%):")
        for key in stages[lo]:
            if key not in stages[hi]:
                continue
            a = statistics.median(us_per_entry(stages[lo][key], entries[lo]))
            b = statistics.median(us_per_entry(stages[hi][key], entries[hi]))
            ca = statistics.median(cpu_per_entry(stages[lo][key], entries[lo]))
            cb = statistics.median(cpu_per_entry(stages[hi][key], entries[hi]))
            label = f"{key[0]} {WRITERS[key[1]]}"
            per_round = [x * entries[lo] / entries[hi] for x in ratios(stages[hi][key], stages[lo][key])]
            best = min(us_per_entry(stages[hi][key], entries[hi])) / min(us_per_entry(stages[lo][key], entries[lo]))
            print(f"  {label:<18} wall {a:6.2f} -> {b:6.2f} us: {b / a:.2f}x  {verdict(b / a <= 1.15):<8} "
                  f"per round {spread(per_round)}x; best rounds {best:.2f}x; "
                  f"cpu {ca:6.2f} -> {cb:6.2f} us: {cb / ca:.2f}x")
    if len(series) >= 2:
        print(f"\npeak RSS across {', '.join(series)} (target: within 1 MiB; medians, and every run):")
        for key in stages[series[0]]:
            meds = [statistics.median(r["rss"] for r in stages[s][key].values()) for s in series if key in stages[s]]
            every = [r["rss"] for s in series if key in stages[s] for r in stages[s][key].values()]
            label = f"{key[0]} {WRITERS[key[1]]}"
            print(f"  {label:<18} medians {min(meds) / 1024:.2f}..{max(meds) / 1024:.2f} MiB, "
                  f"every run {min(every) / 1024:.2f}..{max(every) / 1024:.2f} MiB: "
                  f"{verdict(max(meds) - min(meds) <= 1024)}")
    if "fifo" in stages:
        fifo = stages["fifo"]
        print(f"\npipes against regular files on tmpfs, {entries['fifo']} entries, "
              "pipe_time / file_time per round (target: within 10%):")
        for writers in WRITERS:
            if ("pipe", writers) in fifo and ("file", writers) in fifo:
                r = ratios(fifo[("pipe", writers)], fifo[("file", writers)])
                print(f"  {WRITERS[writers]:<8} {spread(r)}x  {verdict(statistics.median(r) <= 1.10)}")
    if "small" in stages:
        small = stages["small"]
        print(f"\nsmall, {entries['small']} entries on tmpfs: median seconds (lowest..highest), "
              "ratio per round (lowest..highest)")
        pairs = ((("compare", "1"), ("tar-d", "1")), (("compare", "def"), ("tar-d", "1")),
                 (("resume", "def"), ("restore", "def")))
        for a, b in pairs:
            if a in small and b in small:
                wa = [r["wall"] for r in small[a].values()]
                wb = [r["wall"] for r in small[b].values()]
                name_a = f"{a[0]} {WRITERS[a[1]]}"
                print(f"  {name_a} {spread(wa, '{:.3f}')} s, {b[0]} {spread(wb, '{:.3f}')} s: "
                      f"{name_a}/{b[0]} {spread(ratios(small[a], small[b]))}x")


def main(path):
    stages, entries = load(path)
    if not stages:
        sys.exit(f"{path}: no runs after the warm-up")
    tables(stages, entries)
    targets(stages, entries)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
