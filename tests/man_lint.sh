#!/usr/bin/env bash
# The man pages: groff's warnings (all of them, and the man macros' style
# checks) count as failures, and the pages say what the program offers.
#   tests/man_lint.sh MAN_DIR
set -u
dir=${1:?usage: tests/man_lint.sh MAN_DIR}
source "$(dirname "$0")/script_support.sh"
for page in "$dir"/fsrestore.1 "$dir"/mkdump.1; do
  out=$(groff -man -ww -z -rCHECKSTYLE=3 "$page" 2>&1)
  if [[ -f $page && -z $out ]]; then pass "$(basename "$page") lints clean"
  else fail "$(basename "$page") lints clean" "${out:-missing}"; fi
done
text=$(MANWIDTH=80 groff -man -Tutf8 "$dir/fsrestore.1" 2>/dev/null | sed 's/.\x08//g')
for page in "$dir"/fsrestore.1 "$dir"/mkdump.1; do
  if [[ -f $page ]] && ! grep -q '@[A-Z_]*@' "$page"; then pass "$(basename "$page") has its version and date filled in"
  else fail "$(basename "$page") has its version and date filled in"; fi
done
for word in --list --check --strict --quiet --help --version '$errors' 'EXIT STATUS' 'Pipes'; do
  if grep -qF -- "$word" <<<"$text"; then pass "fsrestore.1 tells of $word"; else fail "fsrestore.1 tells of $word"; fi
done
for status in 0 1 2 3 129 130 143; do
  if sed -n '/^EXIT STATUS/,/^FILES/p' <<<"$text" | grep -qE "^ +$status( |$)"; then pass "fsrestore.1 lists exit status $status"
  else fail "fsrestore.1 lists exit status $status"; fi
done
finish man_lint
