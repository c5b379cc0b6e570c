#!/usr/bin/env bash
# Draws the benches' figures as PNGs with gnuplot, from their raw tables.
#
#   bench/plot.sh [OUTDIR]        (default bench/plots)
#
#   jcurve.png     restore wall time against the writers (-j), from
#                  bench/run.sh's table (RESULTS, default
#                  /tmp/fsbench-runs.tsv), tree TREE (small) on FS (tmpfs),
#                  with the floors and tar beside it
#   scale-us.png   wall microseconds per entry against entries,
#   scale-cpu.png  CPU (user + system) microseconds per entry, and
#   scale-rss.png  peak RSS against entries, from bench/scale.sh's table
#                  (SCALE_RESULTS, default /tmp/fsbench-scale.tsv)
#
# A plot whose table is missing is skipped with a line on standard error.
# Every point is the median over the rounds after the warm-up, its bar the
# lowest to the highest round. MACHINE is the line under each title (default:
# this machine's processors, memory and kernel). gnuplot: apt-get install
# gnuplot-nox.
set -euo pipefail
bench_dir=$(cd "$(dirname "$0")" && pwd)
outdir=${1:-$bench_dir/plots}
results=${RESULTS:-/tmp/fsbench-runs.tsv}
scale_results=${SCALE_RESULTS:-/tmp/fsbench-scale.tsv}
tree=${TREE:-small}
fs=${FS:-tmpfs}
default_writers=$(n=$(nproc); echo $((n < 4 ? n : 4)))
machine=${MACHINE:-"$(nproc) processors, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), kernel $(uname -r)"}
command -v gnuplot >/dev/null || { echo "bench/plot.sh needs gnuplot (apt-get install gnuplot-nox)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$outdir"

# The settings every figure shares: 820x420, small type, a grid.
common="set terminal pngcairo size 820,420 font 'DejaVu Sans,9'
set grid lc rgb '#dddddd'
set key top right box opaque
set bars small"

if [[ -f $results ]]; then
  mkdir "$work/j"
  python3 "$bench_dir/plot_data.py" jcurve "$results" "$tree" "$fs" "$work/j" "$default_writers"
  plots=("'$work/j/fsrestore.dat' using 1:2:3:4 with yerrorlines lw 2 pt 7 title 'fsrestore -j N'")
  # The single points stand a little aside, so that bars at one x stay apart.
  for f in default:1.07:9:2:"fsrestore, default ($default_writers writers)" floor:0.93:5:3:"floor (one thread)" \
           floor-par:0.93:5:4:"parallel floor ($default_writers threads)" tar:1.07:13:8:"tar -xf"; do
    IFS=: read -r name shift pt lt title <<<"$f"
    if [[ -f $work/j/$name.dat ]]; then
      plots+=("'$work/j/$name.dat' using (\$1*$shift):2:3:4 with yerrorbars lt $lt pt $pt ps 1.4 title '$title'")
    fi
  done
  gnuplot <<EOF
$common
set output '$outdir/jcurve.png'
set title "restoring the $tree tree on $fs: wall time against writers\n{/*0.85 $machine}"
set xlabel 'writers (-j)'
set ylabel 'seconds (median, lowest..highest round)'
set logscale x 2
set xrange [0.8:5]
set xtics (1, 2, 4)
set yrange [0:*]
set key outside right top Left reverse
plot $(IFS=,; echo "${plots[*]}")
EOF
  echo "$outdir/jcurve.png" >&2
else
  echo "no $results (bench/run.sh's table): jcurve.png skipped" >&2
fi

if [[ -f $scale_results ]]; then
  mkdir "$work/s"
  python3 "$bench_dir/plot_data.py" scale "$scale_results" "$work/s"
  for fig in us cpu rss; do
    plots=()
    for line in restore-1:"restore -j 1":7:1 restore-def:"restore, default writers":7:2 \
                compare-1:"--compare -j 1":5:3 compare-def:"--compare, default":5:6 resume-1:"--resume -j 1":9:4 resume-def:"--resume, default":9:7; do
      IFS=: read -r name title pt lt <<<"$line"
      if [[ -f $work/s/$name.$fig ]]; then
        plots+=("'$work/s/$name.$fig' using 1:2:3:4 with yerrorlines lt $lt pt $pt lw 2 title '$title'")
      fi
      if [[ -f $work/s/flat-$name.$fig ]]; then
        plots+=("'$work/s/flat-$name.$fig' using 1:2:3:4 with yerrorbars lt $lt pt $((pt - 1)) ps 1.6 notitle")
      fi
    done
    if [[ $fig == us ]]; then
      what="time per entry" ylabel="microseconds per entry (wall, median, lowest..highest)"
    elif [[ $fig == cpu ]]; then
      what="CPU time per entry" ylabel="CPU microseconds per entry (median, lowest..highest)"
    else
      what="peak RSS" ylabel="peak RSS, MiB (median, lowest..highest)"
    fi
    gnuplot <<EOF
$common
set output '$outdir/scale-$fig.png'
set title "$what against the size of the dump, tmpfs; open marks: all files in one directory\n{/*0.85 $machine}"
set xlabel 'entries'
set ylabel '$ylabel'
set logscale x
set xrange [5000:2000000]
set format x '10^{%L}'
set yrange [0:*]
set key outside right top Left reverse
plot $(IFS=,; echo "${plots[*]}")
EOF
    echo "$outdir/scale-$fig.png" >&2
  done
else
  echo "no $scale_results (bench/scale.sh's table): scale plots skipped" >&2
fi
