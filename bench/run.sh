#!/usr/bin/env bash
# Restore speed of fsrestore against GNU tar, a floor program and, for big
# files, cat and dd.
#
#   bench/run.sh [small|large|real|all] [RUNS]      (default: all 9)
#
# Each tree is dumped with mkdump and archived with tar once; then every
# round restores it once with each command, in the same order, into a fresh
# empty directory on tmpfs. Round 0 is a warm-up and is discarded. Ratios are
# medians over the rounds of per-round ratios, so a slow spell of the machine
# hits both sides of a ratio alike. Old outputs are deleted between runs,
# outside the timed part, with a pause (SETTLE seconds, default 0.3) after. Env: BUILD (default build/native), BENCH_ROOT
# (default /dev/shm/fsbench), KEEP=1 keeps the small and real trees afterwards, RESULTS
# names the raw per-run table (default /tmp/fsbench-runs.tsv).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

which=${1:-all}
runs=${2:-9}
results=${RESULTS:-/tmp/fsbench-runs.tsv}
case $which in
  all) trees=(small large real) ;;
  small | large | real) trees=("$which") ;;
  *) echo "usage: bench/run.sh [small|large|real|all] [RUNS]" >&2; exit 2 ;;
esac

cleanup() {
  rm -rf "$BENCH_ROOT/out"
  if [[ ${KEEP:-0} != 1 ]]; then rm -rf "${BENCH_ROOT:?}"; fi
}
trap cleanup EXIT

need_tools
printf 'tree\tcmd\tround\twall_s\tuser_s\tsys_s\tmaxrss_kib\n' >"$results"

# One timed restore: wall time from the shell's clock (microseconds), CPU
# and peak RSS from time(1).
timed() {
  local tree=$1 name=$2 round=$3 dir=$BENCH_ROOT/$1 out=$BENCH_ROOT/out
  local tf=$BENCH_ROOT/time.txt cmd t0 t1
  rm -rf "$out"
  mkdir "$out"
  # Let the kernel finish freeing the previous output before the clock starts.
  sleep "${SETTLE:-0.3}"
  cmd=$(restore_cmd "$name" "$dir" "$out")
  t0=$EPOCHREALTIME
  if [[ $name == cat ]]; then
    (cd "$BENCH_ROOT/cwd" && exec $TIME -f '%U %S %M' -o "$tf" $cmd >"$out/content")
  else
    (cd "$BENCH_ROOT/cwd" && exec $TIME -f '%U %S %M' -o "$tf" $cmd >/dev/null)
  fi
  t1=$EPOCHREALTIME
  local u s m
  read -r u s m <"$tf"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tree" "$name" "$round" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')" "$u" "$s" "$m" >>"$results"
  rm -rf "$out"
}

for tree in "${trees[@]}"; do
  echo "== $tree: preparing" >&2
  prepare "$tree"
  case $tree in
    large) cmds=(fsrestore tar cat dd floor) ;;
    *) cmds=(fsrestore tar tar-nso floor) ;;
  esac
  for ((round = 0; round <= runs; round++)); do
    echo "== $tree: round $round of $runs" >&2
    for name in "${cmds[@]}"; do timed "$tree" "$name" "$round"; done
  done
  read -r entries files bytes < <(counts "$tree")
  python3 "$bench_dir/summarize.py" "$results" "$tree" "$entries" "$files" "$bytes"
  # The large tree's dump and archive are 4 GiB: never kept, even with KEEP=1.
  if [[ $tree == large ]]; then remove_tree large; fi
done
echo "raw runs: $results" >&2
