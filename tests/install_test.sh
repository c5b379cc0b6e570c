#!/usr/bin/env bash
# cmake --install into a scratch prefix, then the installed programs at work:
# mkdump writes a dump of a small tree, fsrestore checks, lists and restores it.
#   tests/install_test.sh BUILD_DIR
set -u
build=$(cd "${1:?usage: tests/install_test.sh BUILD_DIR}" && pwd)
source "$(dirname "$0")/script_support.sh"
prefix=$scratch/prefix
version=$(project_version "$build")

check "cmake --install --strip into a scratch prefix" cmake --install "$build" --prefix "$prefix" --strip
for f in bin/fsrestore bin/mkdump share/man/man1/fsrestore.1.gz share/man/man1/mkdump.1.gz \
         share/bash-completion/completions/fsrestore share/doc/fsrestore/README.md share/doc/fsrestore/copyright; do
  if [[ -f $prefix/$f ]]; then pass "installed $f"; else fail "installed $f" "$(cd "$prefix" && find . | sort)"; fi
done
out=$("$prefix/bin/fsrestore" --version 2>&1)
if [[ $out == "fsrestore $version" ]]; then pass "installed fsrestore --version says $version"
else fail "installed fsrestore --version says $version" "$out"; fi

mkdir -p "$scratch/tree/docs" "$scratch/out" "$scratch/cwd"
printf 'hello\n' >"$scratch/tree/docs/a.txt"
printf 'top' >"$scratch/tree/top.txt"
check "installed mkdump writes a dump" "$prefix/bin/mkdump" "$scratch/tree" "$scratch/dump_"
out=$(cd "$scratch/cwd" && "$prefix/bin/fsrestore" --check ../dump_ 2>&1)
if [[ $? -eq 0 && $out == "dirs=1 files=2 bytes=9 problems=0" ]]; then pass "installed fsrestore --check finds the dump clean"
else fail "installed fsrestore --check finds the dump clean" "$out"; fi
out=$(cd "$scratch/cwd" && "$prefix/bin/fsrestore" --list ../dump_ 2>&1 | cut -d' ' -f1,3,5-)
if [[ $out == $'d 0 docs\n- 6 docs/a.txt\n- 3 top.txt' ]]; then pass "installed fsrestore --list lists it"
else fail "installed fsrestore --list lists it" "$out"; fi
(cd "$scratch/cwd" && "$prefix/bin/fsrestore" ../dump_ ../out >/dev/null 2>&1)
if [[ $? -eq 0 ]] && diff -r "$scratch/tree" "$scratch/out" >/dev/null && [[ ! -s $scratch/cwd/\$errors ]]; then
  pass "installed fsrestore restores it"
else fail "installed fsrestore restores it" "$(diff -r "$scratch/tree" "$scratch/out" 2>&1)"; fi
finish install
