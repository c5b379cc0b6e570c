#!/usr/bin/env bash
# The bash completion, sourced in a non-interactive bash and asked for
# candidates the way bash asks when Tab is pressed.
#   tests/completion_test.sh COMPLETION_SCRIPT
set -u
script=$(cd "$(dirname "${1:?usage: tests/completion_test.sh SCRIPT}")" && pwd)/$(basename "$1")
source "$(dirname "$0")/script_support.sh"
mkdir -p "$scratch/d/dump" "$scratch/d/docs/inner" "$scratch/d/dumps" "$scratch/d/with space"
touch "$scratch/d/dump/\$fsnodes" "$scratch/d/dump/\$fsnames" "$scratch/d/img_\$fsnodes" "$scratch/d/notes.txt" \
      "$scratch/d/docs/old_\$fsnodes" "$scratch/d/with space/\$fsnodes"

candidates() {  # candidates WORDS...: the last word is the one being completed
  (cd "$scratch/d" && bash --norc --noprofile -c '
    source "$1" || exit 1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    complete -p fsrestore >/dev/null || exit 1
    _fsrestore
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' _ "$script" "$@")
}
expect() {  # expect NAME EXPECTED WORDS...
  local name=$1 want=$2 got
  shift 2
  got=$(candidates "$@")
  if [[ $got == "$want" ]]; then pass "$name"; else fail "$name" "want: ${want//$'\n'/ }"$'\n'"got:  ${got//$'\n'/ }"; fi
}
expect "first argument: base paths of the dumps here, and directories" \
  $'docs/\ndump/\ndumps/\nimg_\nwith\\ space/' fsrestore ""
expect "first argument: a prefix narrows the candidates" $'dump/\ndumps/' fsrestore du
expect "first argument: the dump inside a directory named in full" $'dump/' fsrestore dump/
expect "first argument: dumps inside a directory" $'docs/inner/\ndocs/old_' fsrestore docs/
expect "a name with a space is escaped" $'with\\ space/' fsrestore wi
expect "a name with a space typed escaped" $'with\\ space/' fsrestore --strict 'with\ s'
expect "a name with a space typed quoted" $'with\\ space/' fsrestore "'with s"
expect "the dump inside a directory with a space" $'with\\ space/' fsrestore 'with\ space/'
expect "options" $'--\n--check\n--compare\n--errors\n--help\n--jobs\n--list\n--only\n--quiet\n--report\n--resume\n--strict\n--version' \
  fsrestore --
expect "one option" $'--check\n--compare' fsrestore --c
expect "an --only value is not a base path" "" fsrestore --only d
expect "--report takes a file: files and directories" $'docs/\ndump/\ndumps/\nimg_\\$fsnodes\nnotes.txt\nwith\\ space/' \
  fsrestore dump/ --report = ''
expect "after --report FILE: a base path" $'img_' fsrestore --report r.jsonl i
expect "--errors takes a file" $'notes.txt' fsrestore --errors no
expect "options after options" $'--strict' fsrestore -q --st
expect "-j: numbers of writers" $'1\n10\n11\n12\n13\n14\n15\n16' fsrestore -j 1
# bash hands "--jobs=4" over as three words: "--jobs", "=", "4".
expect "--jobs=: numbers of writers" $'6' fsrestore dump/ --jobs = 6
expect "after -j 4: a base path" $'img_' fsrestore -j 4 i
expect "after --jobs=4: a base path" $'img_' fsrestore --jobs = 4 i
expect "after -qj 4 and a base path: the target" $'docs/' fsrestore -qj 4 dump/ do
expect "second argument: directories only" $'docs/\ndump/\ndumps/\nwith\\ space/' fsrestore dump/ ""
expect "options after an operand" $'--list' fsrestore dump/ --l
expect "after an operand and an option: the target" $'docs/' fsrestore dump/ -q do
expect "after --list: base paths again" $'img_' fsrestore --list i
expect "after --list: no target, options of every mode only" $'--\n--help\n--jobs\n--quiet\n--version' \
  fsrestore dump/ --list --
expect "after --list: no target" $'' fsrestore --list dump/ ""
expect "after --: a base path" $'img_' fsrestore -- i
expect "after --: a dash starts a name" $'' fsrestore -- dump/ --l
finish completion
