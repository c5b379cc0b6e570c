#!/usr/bin/env bash
# Does handing the per-entry calls to the kernel in batches (io_uring) beat
# the one-call-at-a-time floor program? Restores the small tree with floor
# and with uring_floor in its modes, alternated within every round, on tmpfs,
# on the ext4 root file system and on a FUSE pass-through (bindfs over a
# tmpfs directory), and prints per mode the median of the per-round ratios
# floor/mode with their spread.
#
#   bench/experiments/uring.sh [ROUNDS]        (default 9, plus a discarded warm-up round)
#
# Before timing it checks that every mode restores the same files as floor
# (names, bodies, both times, mode) and counts system calls per entry with
# strace -c -f. Env:
#   MODES       uring_floor modes to time (default "sync writes split link")
#   BATCH       files per batch (default 64)
#   FILESYSTEMS which series to run (default "tmpfs ext4 fuse")
#   EXT4_ROOT   a directory on ext4 (default fsbench-uring beside the source
#               tree); every
#               output is kept until the series ends, since creating many files
#               right after deleting many is slow there; sync before each run
#   FUSE_ROUNDS rounds on FUSE (default 5)
#   BENCH_ROOT  tmpfs work directory (default /dev/shm/fsbench-uring)
# Input is in the page cache and output stays in it during the timed part:
# the figures are kernel CPU figures, not disk figures.
set -euo pipefail
BENCH_ROOT=${BENCH_ROOT:-/dev/shm/fsbench-uring}
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"

rounds=${1:-9}
read -r -a modes <<<"${MODES:-sync writes split link}"
batch=${BATCH:-64}
read -r -a filesystems <<<"${FILESYSTEMS:-tmpfs ext4 fuse}"
ext4_root=${EXT4_ROOT:-$(cd "$(dirname "$0")/../../.." && pwd)/fsbench-uring}
fuse_rounds=${FUSE_ROUNDS:-5}
URING=$BENCH_ROOT/uring_floor
fuse_mnt=$BENCH_ROOT/fuse-mnt
fuse_back=$BENCH_ROOT/fuse-back

cleanup() {
  if mountpoint -q "$fuse_mnt" 2>/dev/null; then fusermount -u "$fuse_mnt"; fi
  rm -rf "${ext4_root:?}"
  if [[ ${KEEP:-0} != 1 ]]; then rm -rf "${BENCH_ROOT:?}"; fi
}
trap cleanup EXIT

need_tools
cc -O2 -Wall -Wextra -Werror -o "$URING" "$bench_dir/experiments/uring_floor.c"
prepare small
read -r entries files bytes < <(counts small)
dump=$BENCH_ROOT/small/dump_
echo "small: $entries entries ($files files), $bytes content bytes; batch $batch; $(uname -r)"
echo "io_uring_disabled=$(cat /proc/sys/kernel/io_uring_disabled 2>/dev/null || echo absent)"

# cmd NAME OUT: the command line restoring the dump into OUT.
cmd() {
  if [[ $1 == floor ]]; then echo "$FLOOR $dump $2"; else echo "$URING -m $1 -b $batch $dump $2"; fi
}

# What a restore made, read before anything else reads the files (reading
# would move their access times): regular files with size, both times and
# mode; directories by name.
listing() {
  (cd "$1" && find . -mindepth 1 \( -type f -printf '%p %s %A@ %T@ %m\n' \) -o \( -type d -printf '%p/\n' \) | sort)
}

echo "== same result as floor"
ref=$BENCH_ROOT/check-floor
mkdir "$ref"
$(cmd floor "$ref")
listing "$ref" >"$BENCH_ROOT/list-floor"
for m in "${modes[@]}"; do
  out=$BENCH_ROOT/check-$m
  mkdir "$out"
  $(cmd "$m" "$out")
  if listing "$out" | cmp -s - "$BENCH_ROOT/list-floor" && diff -r "$ref" "$out" >/dev/null; then
    echo "$m: same names, bodies, times and modes"
  else
    echo "$m: DIFFERS from floor" >&2
    exit 1
  fi
  rm -rf "$out"
done
rm -rf "$ref"

echo "== system calls per entry (strace -c -f)"
for m in floor "${modes[@]}"; do
  out=$BENCH_ROOT/strace-out
  mkdir "$out"
  strace -c -f -o "$BENCH_ROOT/strace.$m" $(cmd "$m" "$out")
  rm -rf "$out"
  awk -v e="$entries" -v m="$m" '
    $1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" { c[$NF] = $4; t += $4 }
    END {
      line = sprintf("%-7s %5.2f:", m, t / e)
      n = 0
      for (s in c) order[++n] = s
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (c[order[j]] > c[order[i]]) { x = order[i]; order[i] = order[j]; order[j] = x }
      for (i = 1; i <= n && c[order[i]] / e >= 0.005; i++) line = line sprintf(" %s %.2f", order[i], c[order[i]] / e)
      print line
    }' "$BENCH_ROOT/strace.$m"
done

# One timed restore into OUT; appends "fs name round wall user sys" to runs.
runs=$BENCH_ROOT/runs.tsv
: >"$runs"
timed() {
  local fs=$1 name=$2 round=$3 out=$4 t0 t1 u s
  mkdir "$out"
  [[ $fs == ext4 ]] && sync
  t0=$EPOCHREALTIME
  $TIME -f '%U %S' -o "$BENCH_ROOT/time.txt" $(cmd "$name" "$out")
  t1=$EPOCHREALTIME
  read -r u s <"$BENCH_ROOT/time.txt"
  echo "$fs $name $round $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }') $u $s" >>"$runs"
}

series() {
  local fs=$1 n=$2 base
  case $fs in
    tmpfs) base=$BENCH_ROOT/out ;;
    ext4) base=$ext4_root ;;
    fuse)
      command -v bindfs >/dev/null || { echo "fuse: bindfs missing (apt-get install bindfs), skipped"; return; }
      mkdir -p "$fuse_back" "$fuse_mnt"
      bindfs "$fuse_back" "$fuse_mnt"
      base=$fuse_mnt
      ;;
  esac
  echo "== $fs: $n rounds after a warm-up, into $base"
  mkdir -p "$base"
  for ((round = 0; round <= n; round++)); do
    for name in floor "${modes[@]}"; do timed "$fs" "$name" "$round" "$base/r$round-$name"; done
    # tmpfs and FUSE over tmpfs can reuse freed inodes at once; ext4 keeps
    # every output until the series is over.
    [[ $fs == ext4 ]] || rm -rf "${base:?}"/r"$round"-*
  done
  [[ $fs == fuse ]] && fusermount -u "$fuse_mnt"
  [[ $fs == ext4 ]] && rm -rf "${ext4_root:?}"
  awk -v fs="$fs" -v list="${modes[*]}" '
    function stats(a, k,   i, j, x, lo, hi, med) {
      for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { x = a[i]; a[i] = a[j]; a[j] = x }
      med = k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
      return sprintf("%.3f (%.3f..%.3f)", med, a[1], a[k])
    }
    $1 == fs && $3 > 0 { w[$2, $3] = $4; u[$2, $3] = $5; s[$2, $3] = $6; if ($3 > last) last = $3 }
    END {
      n = split("floor " list, names, " ")
      printf "%-7s %-26s %-26s %-12s %s\n", "", "floor/mode, median (range)", "wall s", "user s", "sys s"
      for (i = 1; i <= n; i++) {
        m = names[i]
        for (r = 1; r <= last; r++) { q[r] = w["floor", r] / w[m, r]; ww[r] = w[m, r]; uu[r] = u[m, r]; ss[r] = s[m, r] }
        ratio = stats(q, last); wall = stats(ww, last); user = stats(uu, last); sys = stats(ss, last)
        sub(/ .*/, "", user); sub(/ .*/, "", sys)
        printf "%-7s %-26s %-26s %-12s %s\n", m, (m == "floor" ? "-" : ratio), wall, user, sys
      }
      printf "(%d rounds)\n", last
    }' "$runs"
}

for fs in "${filesystems[@]}"; do
  case $fs in
    fuse) series fuse "$fuse_rounds" ;;
    tmpfs | ext4) series "$fs" "$rounds" ;;
    *) echo "unknown file system $fs" >&2; exit 2 ;;
  esac
done
echo "raw runs: $runs (kept with KEEP=1)"
