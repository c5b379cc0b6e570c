#!/usr/bin/env bash
# How fsrestore's cost per entry and its memory grow with the size of a dump,
# on tmpfs, and what reading the dump through named pipes costs.
#
#   bench/scale.sh [STAGE ...]      (default: 10000 100000 fifo 1000000 flat small)
#
# Stages:
#   N       a tree of N files of 0-32 bytes, 20 to a directory, three levels
#           of directories (gen_tree.py scale)
#   flat    FLAT_FILES (default 200,000) such files in one directory
#   fifo    the FIFO_FILES (default 100,000) tree restored from named pipes,
#           the three streams written into them by `cat`, against the same
#           streams as regular files on tmpfs, alternating
#   small   the run.sh "small" tree: --compare against `tar -d`, and --resume
#           over a whole tree against a restore from nothing, alternating
#
# The numbered and flat trees run first, whatever their place in the list,
# taking turns within each round. A round of a tree restores it at -j 1,
# compares it at -j 1 and the default writers, resumes over it
# (every file is already whole), then restores it at the default writers and
# resumes over that. Every restore writes a fresh directory; each restored
# tree is removed outside the timed part. Round 0 is a warm-up. Rounds: RUNS
# (default 5), and BIG_RUNS (default 3) for trees of 500,000 files or more,
# which take ~10 s a restore. The whole default series took 13 minutes on two
# processors shared with other work.
#
# Each run adds a row to the raw table SCALE_RESULTS (default
# /tmp/fsbench-scale.tsv): stage, entries, command, writers (1 or "def"),
# round, wall, user and system seconds, peak RSS in KiB and the 1-minute load
# average just before the run (our own previous runs count in it). At the end
# summarize_scale.py prints the medians and spreads; bench/plot.sh draws them.
#
# The dumps (a few tens of MB) stay until the end; the generated source trees
# are removed once dumped.
#
# Env: BENCH_ROOT (default /dev/shm/fsbench-scale: apart from run.sh's), BUILD,
# SETTLE (default 0.3), RUNS, BIG_RUNS, FLAT_FILES, FIFO_FILES; KEEP=1 keeps
# the dumps.
set -euo pipefail
BENCH_ROOT=${BENCH_ROOT:-/dev/shm/fsbench-scale}
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

stages=("$@")
if ((${#stages[@]} == 0)); then stages=(10000 100000 fifo 1000000 flat small); fi
for s in "${stages[@]}"; do
  [[ $s =~ ^([0-9]+|flat|fifo|small)$ ]] || { echo "usage: bench/scale.sh [N|flat|fifo|small ...]" >&2; exit 2; }
done
results=${SCALE_RESULTS:-/tmp/fsbench-scale.tsv}
runs=${RUNS:-5}
big_runs=${BIG_RUNS:-3}
flat_files=${FLAT_FILES:-200000}
fifo_files=${FIFO_FILES:-100000}
out=$BENCH_ROOT/out
tf=$BENCH_ROOT/time.txt
# shellcheck disable=SC2016  # the stream names hold a literal "$"
streams=('$content' '$fsnames' '$fsnodes')

cleanup() {
  if [[ ${KEEP:-0} != 1 ]]; then rm -rf "${BENCH_ROOT:?}"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# room BYTES: refuses to start a stage that would not fit on the tmpfs.
room() {
  local avail
  avail=$(df -B1 --output=avail "$BENCH_ROOT" | tail -1)
  if ((avail < $1)); then
    echo "$BENCH_ROOT: needs $(($1 / 1000000)) MB, has $((avail / 1000000)) MB" >&2
    exit 1
  fi
}

# make_dump NAME MODE FILES: $BENCH_ROOT/NAME/dump_* from gen_tree.py MODE, the
# source tree removed once dumped; the counts of files and entries in
# $BENCH_ROOT/NAME/files and entries.
make_dump() {
  local dir=$BENCH_ROOT/$1
  [[ -f $dir/entries ]] && return
  # A file of a few bytes takes a 4 KiB page and an inode of about 1 KiB.
  room $(($3 * 6000 + 1000000000))
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "== $1: generating $3 files" >&2
  python3 "$bench_dir/gen_tree.py" "$2" "$3" "$dir/src" >&2
  "$MKDUMP" "$dir/src" "$dir/dump_"
  rm -rf "$dir/src"
  echo "$3" >"$dir/files"
  echo $(($(stat -c %s "$dir/dump_\$fsnodes") / 32)) >"$dir/entries"
}

# timed STAGE ENTRIES CMD WRITERS ROUND COMMAND...: runs COMMAND from
# $BENCH_ROOT/cwd (fsrestore writes its $errors there), output thrown away,
# and adds its row. Wall time from the shell's clock, the rest from time(1).
# With feed set to "SOURCE FIFO" (two base paths), a `cat` a stream writes
# SOURCE's streams into FIFO's pipes, started and waited for inside the wall
# time; time(1) still measures COMMAND alone.
feed=
timed() {
  local stage=$1 entries=$2 cmd=$3 writers=$4 round=$5 load t0 t1 u s m rc=0 src fifo st pids=()
  shift 5
  sleep "${SETTLE:-0.3}"
  read -r load _ </proc/loadavg
  t0=$EPOCHREALTIME
  if [[ -n $feed ]]; then
    read -r src fifo <<<"$feed"
    # Each blocks in its open until fsrestore opens that stream.
    for st in "${streams[@]}"; do
      cat "$src$st" >"$fifo$st" &
      pids+=($!)
    done
  fi
  (cd "$BENCH_ROOT/cwd" && exec "$TIME" -f '%U %S %M' -o "$tf" "$@" >/dev/null) || rc=$?
  if ((${#pids[@]})); then wait "${pids[@]}"; fi
  t1=$EPOCHREALTIME
  if ((rc != 0)); then echo "warning: status $rc from $*" >&2; fi
  read -r u s m < <(tail -1 "$tf")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$stage" "$entries" "$cmd" "$writers" "$round" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')" "$u" "$s" "$m" "$load" >>"$results"
}

# fresh: an empty $out, the old one removed before any timing.
fresh() {
  rm -rf "$out"
  mkdir "$out"
}

load_line() { echo "== $1: load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2; }

# tree_round STAGE ROUND: one round of a tree stage.
tree_round() {
  local stage=$1 round=$2 dir=$BENCH_ROOT/$1 entries
  entries=$(cat "$dir/entries")
  echo "== $stage: round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  fresh
  timed "$stage" "$entries" restore 1 "$round" "$FSRESTORE" -q -j 1 "$dir/dump_" "$out"
  timed "$stage" "$entries" compare 1 "$round" "$FSRESTORE" --compare -q -j 1 "$dir/dump_" "$out"
  timed "$stage" "$entries" compare def "$round" "$FSRESTORE" --compare -q "$dir/dump_" "$out"
  timed "$stage" "$entries" resume 1 "$round" "$FSRESTORE" -q --resume -j 1 "$dir/dump_" "$out"
  fresh
  timed "$stage" "$entries" restore def "$round" "$FSRESTORE" -q "$dir/dump_" "$out"
  timed "$stage" "$entries" resume def "$round" "$FSRESTORE" -q --resume "$dir/dump_" "$out"
  rm -rf "$out"
}

# tree_stages STAGE...: every dump made first, then the rounds, the trees
# taking turns within each round, so a slow spell of the machine (other work
# on it) falls on every size alike and the sizes compare round by round.
# Trees of 500,000 files or more sit out the rounds past BIG_RUNS.
tree_stages() {
  local stage round last=$((runs > big_runs ? runs : big_runs))
  for stage in "$@"; do
    if [[ $stage == flat* ]]; then make_dump "$stage" flat "$flat_files"; else make_dump "$stage" scale "$stage"; fi
  done
  load_line "trees $*"
  for ((round = 0; round <= last; round++)); do
    for stage in "$@"; do
      if (($(cat "$BENCH_ROOT/$stage/files") >= 500000 ? round > big_runs : round > runs)); then continue; fi
      tree_round "$stage" "$round"
    done
  done
}

fifo_stage() {
  local dir=$BENCH_ROOT/$fifo_files fifo=$BENCH_ROOT/fifo/dump_ round entries w j st
  make_dump "$fifo_files" scale "$fifo_files"
  entries=$(cat "$dir/entries")
  mkdir -p "$BENCH_ROOT/fifo"
  for st in "${streams[@]}"; do [[ -p $fifo$st ]] || mkfifo "$fifo$st"; done
  load_line fifo
  for ((round = 0; round <= runs; round++)); do
    echo "== fifo: round $round of $runs" >&2
    for w in 1 def; do
      j=()
      if [[ $w == 1 ]]; then j=(-j 1); fi
      fresh
      timed fifo "$entries" file "$w" "$round" "$FSRESTORE" -q "${j[@]}" "$dir/dump_" "$out"
      fresh
      feed="$dir/dump_ $fifo"
      timed fifo "$entries" pipe "$w" "$round" "$FSRESTORE" -q "${j[@]}" "$fifo" "$out"
      feed=
    done
  done
  rm -rf "$out" "$BENCH_ROOT/fifo"
}

# --compare against `tar -d`, each over a tree its own program restored, and
# --resume over a whole tree against a restore into an empty directory.
small_stage() {
  local dir=$BENCH_ROOT/small tarout=$BENCH_ROOT/tar-out round entries
  prepare small
  read -r entries _ _ < <(counts small)
  rm -rf "$tarout" && mkdir "$tarout"
  tar -xf "$dir/tree.tar" -C "$tarout"
  fresh
  (cd "$BENCH_ROOT/cwd" && "$FSRESTORE" -q "$dir/dump_" "$out")
  load_line small
  for ((round = 0; round <= runs; round++)); do
    echo "== small: round $round of $runs" >&2
    timed small "$entries" compare 1 "$round" "$FSRESTORE" --compare -q -j 1 "$dir/dump_" "$out"
    timed small "$entries" compare def "$round" "$FSRESTORE" --compare -q "$dir/dump_" "$out"
    timed small "$entries" tar-d 1 "$round" tar -d -f "$dir/tree.tar" -C "$tarout"
    timed small "$entries" resume def "$round" "$FSRESTORE" -q --resume "$dir/dump_" "$out"
    rm -rf "$BENCH_ROOT/new" && mkdir "$BENCH_ROOT/new"
    timed small "$entries" restore def "$round" "$FSRESTORE" -q "$dir/dump_" "$BENCH_ROOT/new"
  done
  rm -rf "$out" "$tarout" "$BENCH_ROOT/new"
}

need_tools
echo "== $(nproc) processors, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo), kernel $(uname -r)" >&2
printf 'stage\tentries\tcmd\twriters\tround\twall_s\tuser_s\tsys_s\tmaxrss_kib\tload1\n' >"$results"
trees=()
for s in "${stages[@]}"; do
  case $s in
    flat) trees+=("flat$flat_files") ;;
    fifo | small) ;;
    *) trees+=("$s") ;;
  esac
done
if ((${#trees[@]})); then tree_stages "${trees[@]}"; fi
for s in "${stages[@]}"; do
  case $s in
    fifo) fifo_stage ;;
    small) small_stage ;;
  esac
done
python3 "$bench_dir/summarize_scale.py" "$results"
echo "raw runs: $results" >&2
