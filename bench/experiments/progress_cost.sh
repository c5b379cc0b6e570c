#!/usr/bin/env bash
# Share of fsrestore's instructions spent in the progress line's per-record
# turn, measured with callgrind over a restore of 200,000 empty files.
#
#   bench/experiments/progress_cost.sh
#
# The turn is inline in the driver's loop, so it is counted through the debug
# lines of progress_line.h (inclusive of the calls made from them: the cycle
# counter, the clock and the rare print). This needs a build with -g; one is
# configured in build/prof (Release flags plus -g) unless PROF_BUILD names
# another. Callgrind counts user-space instructions only: the kernel's work
# for each record's system calls is not in the total, so the share among all
# instructions the machine runs is smaller still.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"

files=${EMPTY_FILES:-200000}
prof=${PROF_BUILD:-$repo_dir/build/prof}
trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "${BENCH_ROOT:?}"' EXIT
command -v valgrind >/dev/null || { echo "valgrind is missing: apt-get install valgrind" >&2; exit 1; }

if [[ ! -x $prof/fsrestore ]]; then
  cmake -S "$repo_dir" -B "$prof" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \
    -DBUILD_TESTING=OFF >/dev/null
fi
ninja -C "$prof" -j2 fsrestore >/dev/null

need_tools
EMPTY_FILES=$files prepare empty
dir=$BENCH_ROOT/empty
read -r records _ _ < <(counts empty)
rm -rf "$BENCH_ROOT/out"
mkdir "$BENCH_ROOT/out"
(cd "$BENCH_ROOT/cwd" &&
  valgrind --tool=callgrind --callgrind-out-file="$BENCH_ROOT/callgrind.out" \
    "$prof/fsrestore" "$dir/dump_" "$BENCH_ROOT/out" >/dev/null 2>"$BENCH_ROOT/valgrind.err")
rm -rf "$BENCH_ROOT/out"

callgrind_annotate --inclusive=yes --threshold=100 "$BENCH_ROOT/callgrind.out" 2>/dev/null |
  awk -v records="$records" '
    function ir(s) { gsub(/,/, "", s); return s + 0 }
    /PROGRAM TOTALS/ { total = ir($1) }
    /progress_line\.h:|ProgressLine::turn/ { turn += ir($1); print "  turn:  " $0 }
    /RestoreDriver::restore_all\(\) \[/ && loop == 0 { loop = ir($1) }
    END {
      if (total == 0 || turn == 0) { print "could not find the totals or the turn"; exit 1 }
      printf "instructions (user space): %d total, %d in the driver loop\n", total, loop
      printf "progress turn: %d instructions, %.1f per record, %.2f%% of the total\n",
             turn, turn / records, 100 * turn / total
    }'
