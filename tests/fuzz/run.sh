#!/usr/bin/env bash
# Fuzzes for SECONDS in total (default 600): 60% with the small buffers, 40%
# at the real sizes with inputs large enough to cross the 64 KiB names block
# and the 1 MiB copy block. One fuzzing process at a time. New corpus entries
# and crashers go to WORK (default build/fuzz/work), never into the repository.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
total=${1:-600}
work=${WORK:-$root/build/fuzz/work}

"$here/build.sh" >/dev/null
mkdir -p "$work/small" "$work/real" "$work/large_seeds" "$work/artifacts"
python3 "$here/make_seeds.py" --large "$work/large_seeds"

fuzz() {  # fuzz BINARY SECONDS MAX_LEN CORPUS [SEED DIRS...]
  local bin=$1 seconds=$2 max_len=$3
  shift 3
  echo "== $(basename "$bin"): ${seconds}s"
  "$root/build/fuzz/$bin" -dict="$here/restore.dict" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/$bin-" -print_final_stats=1 "$@" 2>&1 |
    grep -E '^(#[0-9]+ +(INITED|DONE)|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added|violation|==[0-9]+==ERROR|SUMMARY|.*Test unit written)' || true
}

small=$((total * 6 / 10))
fuzz restore_fuzz_small "$small" 4096 "$work/small" "$here/corpus"
fuzz restore_fuzz $((total - small)) 1300000 "$work/real" "$here/corpus" "$work/large_seeds"
