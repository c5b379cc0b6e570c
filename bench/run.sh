#!/usr/bin/env bash
# Restore speed of fsrestore against GNU tar, a floor program and, for big
# files, cat and dd, into tmpfs and into the ext4 root file system.
#
#   bench/run.sh [small|large|real|all] [RUNS]      (default: all 9)
#
# Each tree is dumped with mkdump and archived with tar once, on tmpfs, where
# the inputs stay. Then, per file system, every round restores the tree once
# with each command, in the same order, into a fresh empty directory. Round 0
# is a warm-up and is discarded. Ratios are taken per round, so a slow spell
# of the machine hits both sides of a ratio alike.
#
# tmpfs: each output is deleted right after its run, outside the timed part.
# ext4: deleting many files slows the creation of new ones for minutes after
# (freed inodes are not reused at once), and deleting is slow itself (discard).
# So every run writes its own fresh directory, all are kept until the tree's
# last round, then deleted and the time stamped in $EXT4_ROOT/last-delete. No
# ext4 series starts until INODE_PAUSE seconds have passed since that stamp,
# across runs of the script too; each tree's tmpfs series runs first, so it
# fills most of the pause left by the previous tree. Each ext4 series starts
# by timing file creation alone and warns if it is slow. `sync` runs before
# each timed ext4 restore, so write-back of earlier runs stays out of it. The
# large tree (5 copies of 2 GiB a round) is deleted after every round instead:
# that frees a handful of inodes, which costs the next round's few creates
# nothing, and the sync before the next run commits the delete. Every timed
# run is preceded by a pause of SETTLE seconds. Trees run in the order small,
# real, large. The disk space and inodes the ext4 series need are checked
# after preparing the trees, before any timing: about 12 GB per tree at 9 runs.
#
# fuse: a FUSE pass-through (bindfs over a tmpfs directory), where every call
# waits for a user-space server: what parallel writers gain where each create
# is a wait (a network file system, say). Runs only when asked for.
#
# Env: FS=tmpfs|ext4|fuse|both (default both: tmpfs and ext4) or a list such
# as "tmpfs fuse"; EXT4_ROOT (default /var/tmp/fsbench,
# an ext4 directory; the stamp file is left there); INODE_PAUSE (default 300);
# SETTLE (default 0.3); BUILD (default build/native); BENCH_ROOT (default
# /dev/shm/fsbench); KEEP=1 keeps the small and real inputs; RESULTS names
# the raw per-run table (default /tmp/fsbench-runs.tsv); FSRESTORE_BEFORE
# names an earlier fsrestore binary to run as one more command, "before".
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

which=${1:-all}
runs=${2:-9}
results=${RESULTS:-/tmp/fsbench-runs.tsv}
pause=${INODE_PAUSE:-300}
stamp=$EXT4_ROOT/last-delete
case $which in
  all) trees=(small real large) ;;
  small | large | real) trees=("$which") ;;
  *) echo "usage: bench/run.sh [small|large|real|all] [RUNS]" >&2; exit 2 ;;
esac
systems=()
for fs in ${FS:-both}; do
  case $fs in
    both) systems+=(tmpfs ext4) ;;
    tmpfs | ext4 | fuse) systems+=("$fs") ;;
    *) echo "FS must be tmpfs, ext4, fuse or both" >&2; exit 2 ;;
  esac
done
fuse_back=$BENCH_ROOT/fuse-back
fuse_mnt=$BENCH_ROOT/fuse-mnt
if [[ " ${systems[*]} " == *" fuse "* ]] && ! command -v bindfs >/dev/null; then
  echo "FS=fuse needs bindfs (apt-get install bindfs)" >&2
  exit 1
fi

# Sets cmds to the commands run on TREE in file system FS.
commands() {
  # fsrestore runs at its default writers; fsrestore-jN with -j N.
  if [[ $2 == fuse ]]; then
    cmds=(fsrestore fsrestore-j1 fsrestore-j8 floor floor-par)
  elif [[ $1 == large ]]; then
    cmds=(fsrestore fsrestore-j1 tar cat dd floor)
  else
    cmds=(fsrestore fsrestore-j1 fsrestore-j2 fsrestore-j4 floor floor-par tar)
  fi
  if [[ -n ${FSRESTORE_BEFORE:-} ]]; then cmds+=(before); fi
}

# Deletes the ext4 outputs; with "stamp", records when (a big delete).
drop_ext4() {
  [[ -d $EXT4_ROOT/out ]] || return 0
  echo "== deleting the ext4 outputs" >&2
  rm -rf "${EXT4_ROOT:?}/out"
  if [[ $1 == stamp ]]; then touch "$stamp"; fi
}

cleanup() {
  if mountpoint -q "$fuse_mnt" 2>/dev/null; then fusermount -u "$fuse_mnt"; fi
  rm -rf "$BENCH_ROOT/out"
  drop_ext4 stamp
  rmdir "$EXT4_ROOT" 2>/dev/null || true   # unless the stamp is in it
  if [[ ${KEEP:-0} != 1 ]]; then rm -rf "${BENCH_ROOT:?}"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# fits DIR BYTES INODES: refuses to go on unless DIR's file system has room.
fits() {
  local avail iavail
  read -r avail iavail < <(df -B1 --output=avail,iavail "$1" | tail -1)
  if ((avail < $2 || iavail < $3)); then
    echo "$1: needs $(($2 / 1000000)) MB and $3 inodes, has $((avail / 1000000)) MB and $iavail" >&2
    exit 1
  fi
}

# Waits until INODE_PAUSE seconds have passed since the last big ext4 delete.
inode_pause() {
  [[ -f $stamp ]] || return 0
  local left=$(($(stat -c %Y "$stamp") + pause - $(date +%s)))
  if ((left > 0)); then
    echo "== waiting ${left}s: ext4 reuses freed inodes only minutes after a delete" >&2
    sleep "$left"
  fi
}

# Times creating 2,000 empty files on ext4 (kept with the outputs). Well over
# ~15 us a file means freed inodes are in the way, perhaps from other work's
# deletes on this disk, and the series will measure that.
create_cost() {
  local d=$EXT4_ROOT/out/probe t0 t1
  mkdir -p "$d"
  sync
  t0=$EPOCHREALTIME
  touch "$d"/f{1..2000}
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { us = (b - a) * 1e6 / 2000
    printf "== ext4: %.0f us to create an empty file%s\n", us, (us > 40 ? " (slow: freed inodes in the way?)" : "") }' >&2
}

# One timed restore into the fresh directory OUT: wall time from the shell's
# clock (microseconds), CPU and peak RSS from time(1).
timed() {
  local tree=$1 fs=$2 name=$3 round=$4 out=$5 dir=$BENCH_ROOT/$1
  local tf=$BENCH_ROOT/time.txt sink=/dev/null cmd t0 t1 u s m
  mkdir "$out"
  if [[ $name == cat ]]; then sink=$out/content; fi
  if [[ $fs == ext4 ]]; then sync; fi
  # Let the kernel finish freeing or writing back earlier outputs.
  sleep "${SETTLE:-0.3}"
  cmd=$(restore_cmd "$name" "$dir" "$out")
  t0=$EPOCHREALTIME
  # shellcheck disable=SC2086  # the command line is split into words on purpose
  (cd "$BENCH_ROOT/cwd" && exec $TIME -f '%U %S %M' -o "$tf" $cmd >"$sink")
  t1=$EPOCHREALTIME
  read -r u s m <"$tf"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tree" "$fs" "$name" "$round" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')" "$u" "$s" "$m" >>"$results"
}

series() {
  local tree=$1 fs=$2 round name
  if [[ $fs == ext4 ]]; then inode_pause; create_cost; fi
  if [[ $fs == fuse ]]; then
    mkdir -p "$fuse_back" "$fuse_mnt"
    bindfs "$fuse_back" "$fuse_mnt"
  fi
  commands "$tree" "$fs"
  for ((round = 0; round <= runs; round++)); do
    echo "== $tree on $fs: round $round of $runs" >&2
    for name in "${cmds[@]}"; do
      if [[ $fs == fuse ]]; then
        # Deleted behind the server's back: quicker, and the same files.
        timed "$tree" fuse "$name" "$round" "$fuse_mnt/out"
        rm -rf "$fuse_back/out"
      elif [[ $fs == tmpfs ]]; then
        rm -rf "$BENCH_ROOT/out"
        timed "$tree" tmpfs "$name" "$round" "$BENCH_ROOT/out"
        rm -rf "$BENCH_ROOT/out"
      else
        mkdir -p "$EXT4_ROOT/out"
        timed "$tree" ext4 "$name" "$round" "$EXT4_ROOT/out/$tree.$round.$name"
      fi
    done
    if [[ $fs == ext4 && $tree == large ]]; then drop_ext4 nostamp; fi
  done
  if [[ $fs == ext4 ]]; then drop_ext4 stamp; fi
  if [[ $fs == fuse ]]; then fusermount -u "$fuse_mnt"; fi
}

need_tools
for tree in "${trees[@]}"; do
  echo "== $tree: preparing" >&2
  prepare "$tree"
done
for fs in "${systems[@]}"; do
  if [[ $fs == ext4 ]]; then
    mkdir -p "$EXT4_ROOT"
    [[ $(df --output=fstype "$EXT4_ROOT" | tail -1) == ext4 ]] || { echo "$EXT4_ROOT is not on ext4" >&2; exit 1; }
  fi
  for tree in "${trees[@]}"; do
    # tmpfs holds one output at a time; ext4 every output of a series (large:
    # of a round). 10% and 1 GB to spare.
    read -r entries _ _ < <(counts "$tree")
    commands "$tree" "$fs"
    where=$BENCH_ROOT copies=1
    if [[ $fs == ext4 ]]; then
      where=$EXT4_ROOT copies=$((${#cmds[@]} * (runs + 1)))
      if [[ $tree == large ]]; then copies=${#cmds[@]}; fi
    fi
    fits "$where" $(($(space "$tree") * copies * 11 / 10 + 1000000000)) $((entries * copies * 11 / 10))
  done
done

printf 'tree\tfs\tcmd\tround\twall_s\tuser_s\tsys_s\tmaxrss_kib\n' >"$results"
for tree in "${trees[@]}"; do
  for fs in "${systems[@]}"; do series "$tree" "$fs"; done
  read -r entries files bytes < <(counts "$tree")
  python3 "$bench_dir/summarize.py" "$results" "$tree" "$entries" "$files" "$bytes"
  # The large tree's dump and archive are 4 GiB: never kept, even with KEEP=1.
  if [[ $tree == large ]]; then remove_tree large; fi
done
echo "raw runs: $results" >&2
