#!/usr/bin/env bash
# What writers gain where every call waits for a server but the server needs
# next to no processor time (a network file system): restores a tree of 5,000
# files in 250 directories into delayfs, a FUSE pass-through that waits
# DELAY_US in each request, at -j 1, the default, -j 8 and -j 16, with the
# floor programs beside them, alternated within each round.
#
#   bench/experiments/delay.sh [ROUNDS] [DELAY_US]     (default 3 rounds, 200 us)
#
# Needs libfuse3-dev and pkg-config (apt-get install libfuse3-dev pkg-config).
# Prints the median time of each command and its ratio to -j 1.
set -euo pipefail
BENCH_ROOT=${BENCH_ROOT:-/dev/shm/fsbench-delay}
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"

rounds=${1:-3}
delay=${2:-200}
back=$BENCH_ROOT/back
mnt=$BENCH_ROOT/mnt
cleanup() {
  if mountpoint -q "$mnt" 2>/dev/null; then fusermount -u "$mnt"; fi
  rm -rf "${BENCH_ROOT:?}"
}
trap cleanup EXIT

need_tools
# shellcheck disable=SC2046  # pkg-config gives several words on purpose
cc -O2 -Wall -Wextra $(pkg-config fuse3 --cflags) "$bench_dir/experiments/delayfs.c" \
  $(pkg-config fuse3 --libs) -o "$BENCH_ROOT/delayfs"
mkdir -p "$BENCH_ROOT/src" "$BENCH_ROOT/dump" "$back" "$mnt"
python3 - "$BENCH_ROOT/src" <<'EOF'
import os, sys
for d in range(250):
    os.makedirs(f"{sys.argv[1]}/d{d:03}")
    for f in range(20):
        with open(f"{sys.argv[1]}/d{d:03}/f{f:02}.dat", "wb") as out:
            out.write(os.urandom(1000 + 50 * f))
EOF
"$MKDUMP" "$BENCH_ROOT/src" "$BENCH_ROOT/dump/" >/dev/null
"$BENCH_ROOT/delayfs" "$back" "$mnt" "$delay" -o max_threads=64

cmds=("fsrestore -j 1" "fsrestore" "fsrestore -j 8" "fsrestore -j 16" "floor" "floor_par 2" "floor_par 8")
declare -A times
for ((round = 0; round <= rounds; round++)); do
  for name in "${cmds[@]}"; do
    rm -rf "$back/out"
    mkdir "$mnt/out"
    case $name in
      fsrestore*) cmd="$FSRESTORE -q ${name#fsrestore} $BENCH_ROOT/dump/ $mnt/out" ;;
      floor) cmd="$FLOOR $BENCH_ROOT/dump/ $mnt/out" ;;
      floor_par*) cmd="$FLOOR_PAR $BENCH_ROOT/dump/ $mnt/out ${name#floor_par }" ;;
    esac
    t0=$EPOCHREALTIME
    # shellcheck disable=SC2086  # split into words on purpose
    (cd "$BENCH_ROOT" && $cmd >/dev/null)
    t1=$EPOCHREALTIME
    ((round == 0)) && continue  # warm-up
    times[$name]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') "
  done
done
median() { tr ' ' '\n' <<<"${times[$1]}" | sed '/^$/d' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
echo "5,000 files in 250 directories into delayfs ($delay us a request), $rounds rounds after a warm-up"
base=$(median "fsrestore -j 1")
for name in "${cmds[@]}"; do
  awk -v n="$name" -v m="$(median "$name")" -v b="$base" 'BEGIN { printf "  %-16s %7.2f s   %5.2fx -j 1\n", n, m, b / m }'
done
