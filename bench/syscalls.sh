#!/usr/bin/env bash
# System calls per restored entry for fsrestore, the floor program and tar,
# counted with strace -c -f on one restore each into a fresh directory.
#
#   bench/syscalls.sh [small|real]     (default small)
#
# Prints the total per entry and, per system call, the calls per entry of each
# command. Start-up calls are included; over tens of thousands of entries they
# add less than 0.01 per entry. Env as for run.sh (KEEP=1 keeps the tree).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

tree=${1:-small}
case $tree in small | real) ;; *) echo "usage: bench/syscalls.sh [small|real]" >&2; exit 2 ;; esac
trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "${BENCH_ROOT:?}"' EXIT

need_tools
prepare "$tree"
read -r entries files bytes < <(counts "$tree")
dir=$BENCH_ROOT/$tree
out=$BENCH_ROOT/out
cmds=(fsrestore-j1 fsrestore floor tar tar-nso)  # fsrestore: the default writers
for name in "${cmds[@]}"; do
  rm -rf "$out"
  mkdir "$out"
  cmd=$(restore_cmd "$name" "$dir" "$out")
  (cd "$BENCH_ROOT/cwd" && exec strace -c -f -o "$BENCH_ROOT/strace.$name" $cmd >/dev/null)
done
rm -rf "$out"

echo "$tree: $entries entries ($files files, $((entries - files)) directories), $bytes content bytes"
# strace -c rows: % time, seconds, usecs/call, calls, [errors], syscall.
awk -v entries="$entries" -v list="${cmds[*]}" '
  FNR == 1 { tool = FILENAME; sub(/.*strace\./, "", tool) }
  $1 ~ /^[0-9.]+$/ && NF >= 5 { calls[$NF, tool] += $4; names[$NF] = 1 }
  END {
    n = split(list, tools, " ")
    printf "%-18s", "calls per entry"
    for (i = 1; i <= n; i++) printf "%11s", tools[i]
    printf "\n"
    for (s in names) if (s != "total") order[++k] = s
    # Busiest calls first, by the first tool that makes them.
    for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) {
      a = calls[order[i], tools[1]] + calls[order[i], tools[4]] / 1000
      b = calls[order[j], tools[1]] + calls[order[j], tools[4]] / 1000
      if (b > a) { t = order[i]; order[i] = order[j]; order[j] = t }
    }
    for (i = 1; i <= k; i++) {
      shown = 0
      for (t = 1; t <= n; t++) if (calls[order[i], tools[t]] / entries >= 0.005) shown = 1
      if (!shown) continue
      printf "%-18s", order[i]
      for (t = 1; t <= n; t++) printf "%11.3f", calls[order[i], tools[t]] / entries
      printf "\n"
    }
    printf "%-18s", "TOTAL"
    for (t = 1; t <= n; t++) printf "%11.3f", calls["total", tools[t]] / entries
    printf "\n"
  }' "${cmds[@]/#/$BENCH_ROOT/strace.}"
