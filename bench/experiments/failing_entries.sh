#!/usr/bin/env bash
# What writing the log line by line costs when every entry fails: a dump of
# 100,000 files whose names are refused ("a/b"), each with a 16-byte body, so
# each record gives one log line. Times ROUNDS restores of it with the build's
# fsrestore, paired round by round with BASELINE (another fsrestore binary,
# e.g. one built from an earlier commit), and prints the median of each and
# of the per-round ratios with their spread.
#
#   bench/experiments/failing_entries.sh BASELINE [ROUNDS]      (default 9 rounds)
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"

baseline=${1:?usage: bench/experiments/failing_entries.sh BASELINE [ROUNDS]}
rounds=${2:-9}
entries=${FAILING_ENTRIES:-100000}
trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "${BENCH_ROOT:?}"' EXIT
need_tools
dump=$BENCH_ROOT/failing
mkdir -p "$dump" "$BENCH_ROOT/cwd/t"
python3 - "$dump" "$entries" <<'PY'
import struct, sys
out, n = sys.argv[1], int(sys.argv[2])
with open(out + "/$fsnodes", "wb") as nodes, open(out + "/$fsnames", "wb") as names, \
     open(out + "/$content", "wb") as content:
    for i in range(n):
        nodes.write(struct.pack("<IBBHQQQ", 16, 0, 0, 0x20, 0, 0, 0))
        names.write(b"a/b\n")
        content.write(b"0123456789abcdef")
PY

# One restore, in seconds of wall time.
one() {
  local start end
  start=$(date +%s%N)
  (cd "$BENCH_ROOT/cwd" && "$1" "$dump/" t >/dev/null)
  end=$(date +%s%N)
  echo "scale=6; ($end - $start) / 1000000000" | bc
}

new=() old=() ratio=()
for ((r = 0; r < rounds; r++)); do
  a=$(one "$FSRESTORE")
  b=$(one "$baseline")
  new+=("$a") old+=("$b") ratio+=("$(echo "scale=4; $a / $b" | bc)")
done
lines=$(wc -l <"$BENCH_ROOT/cwd/\$errors")
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
spread() { printf '%s\n' "$@" | sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo " .. " hi}'; }
echo "$entries failing entries, $lines log lines, $rounds rounds"
echo "fsrestore s: $(median "${new[@]}")   baseline s: $(median "${old[@]}")"
echo "ratio fsrestore/baseline: median $(median "${ratio[@]}"), spread $(spread "${ratio[@]}")"
