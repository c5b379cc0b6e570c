#!/usr/bin/env bash
# Round trip: mkdump a real tree, restore it with fsrestore into an empty
# directory, and compare names, bytes, write bits, attribute words kept in
# user.DOSATTRIB, and modification times (to the dump's 100 ns resolution).
#
#   tests/roundtrip.sh BUILD_DIR     (BUILD_DIR holds fsrestore and tools/mkdump)
set -u

build=${1:?usage: tests/roundtrip.sh BUILD_DIR}
build=$(cd "$build" && pwd)
fsrestore=$build/fsrestore
mkdump=$build/tools/mkdump
for exe in "$fsrestore" "$mkdump"; do
  [[ -x $exe ]] || { echo "roundtrip: missing $exe"; echo "roundtrip: 0 passed, 1 failed"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/roundtrip.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; [[ $# -gt 1 ]] && printf '%s\n' "$2" | head -20 | sed 's/^/     /'; }

has_xattrs() { python3 -c 'import os,sys; os.setxattr(sys.argv[1], "user.probe", b"1")' "$1" 2>/dev/null; }
set_xattr() { python3 -c 'import os,sys; os.setxattr(sys.argv[1], "user.DOSATTRIB", sys.argv[2].encode())' "$1" "$2"; }
get_xattr() {
  python3 -c '
import os, sys
try: print(os.getxattr(sys.argv[1], "user.DOSATTRIB").decode())
except OSError: print("none")' "$1"
}

# name, type, size, write bit, mtime cut to 100 ns; the tree's own top
# directory is not part of the dump.
listing() {
  (cd "$1" && find . -mindepth 1 \( -type f -o -type d \) -printf '%P\t%y\t%s\t%m\t%T@\n') |
    awk -F'\t' -v OFS='\t' '{
      w = (substr($4, length($4) - 2) ~ /[2367]/) ? "w" : "-"
      split($5, t, "."); $5 = t[1] "." substr(t[2] "0000000", 1, 7)
      if ($2 == "d") $3 = "-"
      print $1, $2, $3, w, $5 }' | LC_ALL=C sort
}

# --- the source tree -------------------------------------------------------
src=$work/src
mkdir -p "$src/deep/er/still/deeper" "$src/empty dir" "$src/日本語" "$src/mixed"
printf 'top\n' >"$src/top.txt"
printf 'level four\n' >"$src/deep/er/still/deeper/leaf.txt"
printf 'level one\n' >"$src/deep/one.txt"
: >"$src/empty.txt"
: >"$src/deep/er/empty too"
printf 'accents' >"$src/日本語/été.txt"
printf 'astral' >"$src/mixed/😀 smile.txt"          # beyond the BMP: a surrogate pair
printf 'cr' >"$src/mixed/carriage"$'\r'             # a CR is part of a name
printf 'raw' >"$src/bad"$'\xff'"byte"                # not UTF-8: comes back byte for byte
printf 'latin' >"$src/caf"$'\xe9'
printf 'esc' >"$src/esc"$'\xff\xfe'                  # its dump name is patched below
head -c $((1 << 20)) /dev/urandom >"$src/exactly-1MiB.bin"
head -c $((3 * (1 << 20) + 12345)) /dev/urandom >"$src/deep/er/multi-MiB.bin"
printf 'do not touch' >"$src/readonly.txt"
chmod a-w "$src/readonly.txt"
ln -s top.txt "$src/link-to-top"                    # left out with a warning
mkfifo "$src/fifo"                                  # likewise
xattrs=no
if has_xattrs "$src/top.txt"; then
  xattrs=yes
  set_xattr "$src/mixed/😀 smile.txt" 0x22           # hidden + archive
  set_xattr "$src/empty dir" 0x12                    # hidden directory
fi
# Times with sub-second parts, directories last so their own times stay.
touch -m -d '2001-02-03 04:05:06.123456789' "$src/top.txt"
touch -m -d '1999-12-31 23:59:59.5' "$src/deep/er/multi-MiB.bin"
touch -m -d '2038-01-19 03:14:08.0000001' "$src/exactly-1MiB.bin"
touch -m -d '2010-06-07 08:09:10.75' "$src/deep/er/still/deeper" "$src/deep/er/still"
touch -m -d '2011-01-01 00:00:00' "$src/empty dir"

# --- dump ------------------------------------------------------------------
"$mkdump" "$src" "$work/dump_" 2>"$work/mkdump.err"
rc=$?
if [[ $rc -eq 0 ]]; then pass "mkdump exits 0 on a tree with a link and a fifo"
else fail "mkdump exits 0 (got $rc)" "$(cat "$work/mkdump.err")"; fi

if grep -q 'link-to-top' "$work/mkdump.err" && grep -q 'fifo' "$work/mkdump.err"; then
  pass "mkdump warns about the link and the fifo"
else fail "mkdump warns about the link and the fifo" "$(cat "$work/mkdump.err")"; fi

"$mkdump" "$src" "$work/again_" 2>/dev/null
same=yes
for s in '$fsnodes' '$fsnames' '$content'; do cmp -s "$work/dump_$s" "$work/again_$s" || same=no; done
if [[ $same == yes ]]; then pass "two dumps of one tree are byte-identical"
else fail "two dumps of one tree are byte-identical"; fi

# A dump name whose escaped bytes would read as a character, C3 A9: it is made
# in 3-byte forms, since the bytes would name the entry called é.
python3 -c 'import sys
p = sys.argv[1]; b = open(p, "rb").read()
open(p, "wb").write(b.replace(b"esc\xed\xb3\xbf\xed\xb3\xbe", b"esc\xed\xb3\x83\xed\xb2\xa9"))' "$work/dump_\$fsnames"

entries=$(( $(stat -c %s "$work/dump_\$fsnodes") / 32 ))
names=$(tr -cd '\n' <"$work/dump_\$fsnames" | wc -c)
content=$(stat -c %s "$work/dump_\$content")
files_bytes=$(find "$src" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
expect_entries=$(find "$src" -mindepth 1 \( -type f -o -type d \) | wc -l)
if [[ $entries -eq $expect_entries && $names -eq $entries && $content -eq $files_bytes ]]; then
  pass "one record and one name line per entry, bodies back to back"
else
  fail "stream sizes" "records=$entries names=$names (want $expect_entries); content=$content (want $files_bytes)"
fi

# --- restore ---------------------------------------------------------------
dst=$work/dst
mkdir "$dst" "$work/cwd"
(cd "$work/cwd" && "$fsrestore" ../dump_ ../dst >"$work/fsrestore.out" 2>&1)
rc=$?
if [[ $rc -eq 0 ]]; then pass "fsrestore exits 0"
else fail "fsrestore exits 0 (got $rc)" "$(cat "$work/fsrestore.out")"; fi
if [[ -f $work/cwd/\$errors && ! -s $work/cwd/\$errors ]]; then pass "fsrestore logs no failure"
else fail "fsrestore logs no failure" "$(cat "$work/cwd/\$errors" 2>&1)"; fi

# --- compare ---------------------------------------------------------------
skip=(-x link-to-top -x fifo -x 'esc*')
out=$(diff -r --no-dereference "${skip[@]}" "$src" "$dst" 2>&1)
if [[ -z $out ]]; then pass "same names and bytes (diff -r)"; else fail "same names and bytes (diff -r)" "$out"; fi

out=$(diff <(listing "$src" | grep -av -e '^link-to-top' -e '^fifo' -e '^esc') \
           <(listing "$dst" | grep -av -e '^esc'))
if [[ -z $out ]]; then pass "same types, sizes, write bits and mtimes"
else fail "same types, sizes, write bits and mtimes (< source, > restored)" "$out"; fi

if cmp -s "$src/esc"$'\xff\xfe' "$dst/esc"$'\xed\xb3\x83\xed\xb2\xa9'; then
  pass "escaped bytes that read as a character keep their 3-byte forms"
else
  fail "escaped bytes that read as a character keep their 3-byte forms" "$(cd "$dst" && ls -d esc* | od -An -c)"
fi

out=$(cd "$work/cwd" && "$fsrestore" --compare ../dump_ ../dst 2>&1)
if [[ $? -eq 0 && $out == *" differences=0" ]]; then pass "--compare finds the restored tree equal"
else fail "--compare finds the restored tree equal" "$out"; fi

# The name an older restore made of caf\xe9 is another name.
mv "$dst/caf"$'\xe9' "$dst/caf"$'\xed\xb3\xa9'
out=$(cd "$work/cwd" && "$fsrestore" --compare ../dump_ ../dst 2>&1)
want=$'missing caf\\uDCE9\nextra caf\\uDCED\\uDCB3\\uDCA9'  # paths as --list writes them
if [[ $out == *"$want"* && $out == *" differences=2" ]]; then pass "--compare tells a renamed non-UTF-8 name"
else fail "--compare tells a renamed non-UTF-8 name" "$out"; fi
mv "$dst/caf"$'\xed\xb3\xa9' "$dst/caf"$'\xe9'

if [[ -e $dst/link-to-top || -e $dst/fifo ]]; then fail "skipped entries are not restored"
else pass "skipped entries are not restored"; fi

if [[ $xattrs == yes ]]; then
  got="$(get_xattr "$dst/mixed/😀 smile.txt") $(get_xattr "$dst/empty dir") $(get_xattr "$dst/top.txt")"
  if [[ $got == "0x22 0x12 none" ]]; then pass "attribute words beyond the mode come back in user.DOSATTRIB"
  else fail "user.DOSATTRIB round trip" "got: $got (want: 0x22 0x12 none)"; fi
else
  echo "skip user.DOSATTRIB round trip: no user xattrs on $work"
fi

# --- the report --------------------------------------------------------------
# A directory of the dump whose name a file holds in the target (its subtree
# is passed over), a file where a directory of the target has its name, and
# a body $content lacks the end of, in a directory the run makes (a writer's
# at -j 4): the report names each by its path, in the dump's order, and its
# last object counts them, the same at -j 1 and -j 4.
part=$work/part
mkdir -p "$part/a" "$part/blocked/y" "$part/z/y"
printf 'one' >"$part/a/one.txt"
printf 'x' >"$part/blocked/x"
printf 'z' >"$part/blocked/y/z"
printf 'kept' >"$part/taken"
head -c 100000 /dev/urandom >"$part/z/y/last.bin"
"$mkdump" "$part" "$work/part_" 2>/dev/null
truncate -s -1000 "$work/part_\$content"
for jobs in 1 4; do
  mkdir -p "$work/rep$jobs/taken"
  : >"$work/rep$jobs/blocked"
  (cd "$work/cwd" && "$fsrestore" -q -j "$jobs" --report "../report$jobs.jsonl" ../part_ "../rep$jobs" \
    2>"$work/report$jobs.err")
  echo "status $?" >>"$work/report$jobs.err"
done
out=$(python3 - "$work/report1.jsonl" <<'PY'
import json, sys
objects = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert all(o["schema"] == 1 for o in objects), objects
got = [(o["kind"], o.get("path"), o.get("entries", o.get("words"))) for o in objects[:-1]]
want = [("mkdir", "blocked", "File exists"), ("subtree", "blocked", 3),
        ("createfile", "taken", "a directory has this name"),
        ("content", "z/y/last.bin", "1000 bytes missing from $content")]
assert got == want, got
loss = objects[3]
assert (loss["size"], loss["attr"], loss["code"], loss["code_system"]) == (100000, 32, None, None), loss
assert objects[0]["code_system"] == "errno" and objects[0]["size"] is None, objects[0]
totals = objects[-1]
assert totals["kind"] == "totals", totals
want = {"entries": 10, "restored": 4, "not_restored": 6, "kept": 0, "passed_over": 0, "status": 0,
        "interrupted": None}
assert {k: totals[k] for k in want} == want, totals
PY
)
if [[ $? -eq 0 ]]; then pass "--report names each loss by its path and counts a subtree passed over whole"
else fail "--report names each loss by its path and counts a subtree passed over whole" "$out"; fi
if cmp -s "$work/report1.jsonl" "$work/report4.jsonl" && cmp -s "$work/report1.err" "$work/report4.err"; then
  pass "the report and standard error are the same at -j 1 and -j 4"
else
  fail "the report and standard error are the same at -j 1 and -j 4" \
    "$(diff "$work/report1.jsonl" "$work/report4.jsonl"; diff "$work/report1.err" "$work/report4.err")"
fi

echo "roundtrip: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
