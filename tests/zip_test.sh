#!/usr/bin/env bash
# The Windows package: cpack builds the .zip of the cross-built tree; it holds
# a stripped fsrestore.exe with its version resource, the README and the
# licence, and the unpacked program runs under Wine.
#   tests/zip_test.sh WINDOWS_BUILD_DIR
set -u
build=$(cd "${1:?usage: tests/zip_test.sh WINDOWS_BUILD_DIR}" && pwd)
source "$(dirname "$0")/script_support.sh"
version=$(project_version "$build")
top=fsrestore-$version-win64

check "cpack makes a .zip" cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch/pkg"
zip=$scratch/pkg/$top.zip
listing=$(unzip -Z1 "$zip" 2>&1 | LC_ALL=C sort)
want=$(printf '%s\n' "$top/LICENSE.txt" "$top/README.md" "$top/fsrestore.exe")
if [[ $listing == "$want" ]]; then pass "the .zip holds exactly fsrestore.exe, README.md and LICENSE.txt"
else fail "the .zip holds exactly fsrestore.exe, README.md and LICENSE.txt" "$listing"; fi

check "unzip unpacks it" unzip -q "$zip" -d "$scratch/x"
exe=$scratch/x/$top/fsrestore.exe
sections=$(x86_64-w64-mingw32-objdump -h "$exe" 2>&1)
if [[ -f $exe ]] && ! grep -q '\.debug' <<<"$sections"; then pass "fsrestore.exe is stripped"
else fail "fsrestore.exe is stripped" "$(grep debug <<<"$sections")"; fi
# The version resource's strings are UTF-16.
strings=$(strings -el "$exe")
if grep -qx "FileVersion" <<<"$strings" && grep -qx "$version" <<<"$strings" &&
   grep -qx "fsrestore.exe" <<<"$strings"; then pass "fsrestore.exe carries a VERSIONINFO resource for $version"
else fail "fsrestore.exe carries a VERSIONINFO resource for $version"; fi
if grep -q "version=\"$version.0\"" "$exe"; then pass "the manifest names version $version.0"
else fail "the manifest names version $version.0"; fi
if cmp -s "$scratch/x/$top/LICENSE.txt" "$(dirname "$0")/../LICENSE"; then pass "LICENSE.txt is the licence"
else fail "LICENSE.txt is the licence"; fi
out=$(timeout 120 wine "$exe" --version 2>/dev/null)
if [[ $out == "fsrestore $version" ]]; then pass "the unpacked fsrestore.exe --version says $version (Wine)"
else fail "the unpacked fsrestore.exe --version says $version (Wine)" "$out"; fi
finish zip
