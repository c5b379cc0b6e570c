#!/usr/bin/env bash
# The Linux package: cpack builds the .deb of a build tree, its listing
# (dpkg-deb -c) holds the programs, compressed man pages, completion, licence
# and changelog, lintian finds no error in it, and unpacked into a scratch
# root (dpkg -x) the program runs.
#   tests/deb_test.sh BUILD_DIR
set -u
build=$(cd "${1:?usage: tests/deb_test.sh BUILD_DIR}" && pwd)
source "$(dirname "$0")/script_support.sh"
version=$(project_version "$build")

check "cpack makes a .deb" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg"
deb=$(ls "$scratch"/pkg/fsrestore_"$version"_*.deb 2>/dev/null | head -n 1)
if [[ -n $deb ]]; then pass "the .deb is named fsrestore_${version}_ARCH.deb"
else fail "the .deb is named fsrestore_${version}_ARCH.deb" "$(ls "$scratch/pkg")"; deb=/nonexistent; fi

listing=$(dpkg-deb -c "$deb" 2>&1 | awk '{ print $1 " " $6 }')
for entry in "-rwxr-xr-x ./usr/bin/fsrestore" "-rwxr-xr-x ./usr/bin/mkdump" \
             "-rw-r--r-- ./usr/share/man/man1/fsrestore.1.gz" "-rw-r--r-- ./usr/share/man/man1/mkdump.1.gz" \
             "-rw-r--r-- ./usr/share/bash-completion/completions/fsrestore" \
             "-rw-r--r-- ./usr/share/doc/fsrestore/copyright" "-rw-r--r-- ./usr/share/doc/fsrestore/README.md" \
             "-rw-r--r-- ./usr/share/doc/fsrestore/changelog.gz"; do
  if grep -qxF -- "$entry" <<<"$listing"; then pass "dpkg-deb -c lists ${entry#* }"
  else fail "dpkg-deb -c lists $entry" "$listing"; fi
done
if grep -q '/tests\|/include\|\.a$' <<<"$listing"; then fail "the .deb holds no tests, headers or libraries" "$listing"
else pass "the .deb holds no tests, headers or libraries"; fi
fields=$(dpkg-deb -f "$deb" Package Version Depends Recommends 2>&1)
if grep -qx "Package: fsrestore" <<<"$fields" && grep -qx "Version: $version" <<<"$fields" &&
   grep -q "^Depends: .*libc6" <<<"$fields" && grep -qx "Recommends: bash-completion" <<<"$fields"; then
  pass "control: package, version, libc dependency, bash-completion recommended"
else fail "control: package, version, libc dependency, bash-completion recommended" "$fields"; fi
# lintian's exit status counts its errors only.
check "lintian reports no error" lintian --fail-on error "$deb"

check "dpkg -x unpacks it into a scratch root" dpkg -x "$deb" "$scratch/root"
out=$("$scratch/root/usr/bin/fsrestore" --version 2>&1)
if [[ $out == "fsrestore $version" ]]; then pass "the unpacked fsrestore --version says $version"
else fail "the unpacked fsrestore --version says $version" "$out"; fi
if file "$scratch/root/usr/bin/fsrestore" | grep -q ', stripped'; then pass "the packaged binary is stripped"
else fail "the packaged binary is stripped" "$(file "$scratch/root/usr/bin/fsrestore")"; fi
for page in fsrestore.1 mkdump.1; do  # gzip -9n: the best compression, no name or time kept
  kind=$(file -b "$scratch/root/usr/share/man/man1/$page.gz")
  if [[ $kind == *'max compression'* && $kind != *'was "'* && $kind != *'last modified'* ]] &&
     gzip -dc "$scratch/root/usr/share/man/man1/$page.gz" | cmp -s - "$build/man/$page"; then
    pass "$page is packed with gzip -9n"
  else fail "$page is packed with gzip -9n" "$kind"; fi
done
finish deb
