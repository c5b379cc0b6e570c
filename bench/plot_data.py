#!/usr/bin/env python3
"""Turns the benches' raw per-run tables into the points bench/plot.sh draws.

  plot_data.py jcurve RUNS.TSV TREE FS OUTDIR DEFAULT_WRITERS
  plot_data.py scale SCALE.TSV OUTDIR

Round 0 (the warm-up) is left out. Each point is the median over the rounds
with the lowest and highest round: "x median low high" per line, one file a
line of the plot, named after it.

jcurve (bench/run.sh's table): wall seconds against the number of writers,
in fsrestore.dat (-j 1, 2, 4 ...), default.dat (the default writers),
floor.dat and floor-par.dat (1 and DEFAULT_WRITERS threads), tar.dat (1).

scale (bench/scale.sh's table): per command and writers, wall and CPU
microseconds per entry and peak RSS in MiB against entries, in
CMD-WRITERS.us, .cpu and .rss, for the numbered trees; the flat stage's
points go to flat-CMD-WRITERS.us, .cpu and .rss.
"""
import csv
import os
import statistics
import sys


def rows(path):
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if int(row["round"]) != 0:
                yield row


def point(x, values):
    return f"{x} {statistics.median(values):.6g} {min(values):.6g} {max(values):.6g}\n"


def write(outdir, name, points):
    with open(os.path.join(outdir, name), "w") as f:
        f.writelines(point(x, v) for x, v in sorted(points.items()))


def jcurve(path, tree, fs, outdir, default_writers):
    walls = {}
    for row in rows(path):
        if row["tree"] == tree and row["fs"] == fs:
            walls.setdefault(row["cmd"], []).append(float(row["wall_s"]))
    if "fsrestore" not in walls:
        sys.exit(f"{path}: no fsrestore runs of {tree} on {fs}")
    curve = {int(c[len("fsrestore-j"):]): v for c, v in walls.items() if c.startswith("fsrestore-j")}
    write(outdir, "fsrestore.dat", curve)
    write(outdir, "default.dat", {default_writers: walls["fsrestore"]})
    for cmd, x in (("floor", 1), ("floor-par", default_writers), ("tar", 1)):
        if cmd in walls:
            write(outdir, f"{cmd}.dat", {x: walls[cmd]})


def scale(path, outdir):
    us, cpu, rss = {}, {}, {}
    for row in rows(path):
        stage = row["stage"]
        if stage.isdigit():
            name = f"{row['cmd']}-{row['writers']}"
        elif stage.startswith("flat"):
            name = f"flat-{row['cmd']}-{row['writers']}"
        else:
            continue
        n = int(row["entries"])
        us.setdefault(name, {}).setdefault(n, []).append(float(row["wall_s"]) * 1e6 / n)
        cpu.setdefault(name, {}).setdefault(n, []).append((float(row["user_s"]) + float(row["sys_s"])) * 1e6 / n)
        rss.setdefault(name, {}).setdefault(n, []).append(int(row["maxrss_kib"]) / 1024)
    if not us:
        sys.exit(f"{path}: no runs of a scale tree")
    for name in us:
        write(outdir, f"{name}.us", us[name])
        write(outdir, f"{name}.cpu", cpu[name])
        write(outdir, f"{name}.rss", rss[name])


def main(argv):
    if len(argv) == 7 and argv[1] == "jcurve":
        jcurve(argv[2], argv[3], argv[4], argv[5], int(argv[6]))
    elif len(argv) == 4 and argv[1] == "scale":
        scale(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
