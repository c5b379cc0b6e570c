#!/usr/bin/env bash
# Builds fsrestore for Linux (plain and with AddressSanitizer + UBSan) and for
# Windows (mingw-w64), then runs every test: unit tests natively and under the
# sanitizers, the end-to-end suite against the Linux binaries and against
# fsrestore.exe under Wine, the mkdump round trip and the fuzz corpus replay.
# Installs the packages it needs on a fresh Debian machine. Exits non-zero on
# any failure; the last line says how many tests passed and failed.
set -u
cd "$(dirname "$0")"
root=$PWD
jobs=${JOBS:-2}

# --- packages -------------------------------------------------------------
missing=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || missing+=(cmake)
have g++ || missing+=(g++)
have ninja || missing+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev googletest)
have x86_64-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-x86-64-posix)
have wine || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || have wine64 || missing+=(wine64)
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq || exit 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null || exit 1
fi

passed=0
failed=0
failures=()
note() { printf '\n== %s\n' "$*"; }
record() {  # record NAME PASSED FAILED
  passed=$((passed + $2))
  failed=$((failed + $3))
  [ "$3" -gt 0 ] && failures+=("$1")
  return 0
}

# Runs a GoogleTest binary and adds its counts; a crash counts as a failure.
gtest() {  # gtest NAME BINARY [env assignments...]
  local name=$1 bin=$2 out
  shift 2
  out=$(mktemp)
  env "$@" "$bin" --gtest_brief=1 >"$out" 2>&1
  local status=$?
  local p f
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$out" | tail -n 1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$out" | tail -n 1)
  p=${p:-0}
  f=${f:-0}
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  if [ "$f" -gt 0 ]; then tail -n 60 "$out"; fi
  echo "$name: $p passed, $f failed"
  record "$name" "$p" "$f"
  rm -f "$out"
}

build() {  # build DIR [cmake args...]
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  ninja -C "$dir" -j "$jobs" >"$dir.build.log" 2>&1 || { tail -n 80 "$dir.build.log"; return 1; }
}

mkdir -p build
note "building: Linux"
build build/native -DCMAKE_BUILD_TYPE=Release -DFSRESTORE_TESTS=ON || record "build native" 0 1
note "building: Linux with sanitizers"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DFSRESTORE_SANITIZE=ON -DFSRESTORE_TESTS=ON || record "build asan" 0 1
note "building: Windows"
build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release ||
  record "build windows" 0 1

note "unit tests"
[ -x build/native/tests/fsrestore_unit ] && gtest "unit" build/native/tests/fsrestore_unit
[ -x build/asan/tests/fsrestore_unit ] && gtest "unit (sanitizers)" build/asan/tests/fsrestore_unit
[ -x build/asan/tests/fsrestore_fuzz_replay ] &&
  gtest "fuzz corpus (sanitizers)" build/asan/tests/fsrestore_fuzz_replay FSRESTORE_CORPUS="$root/tests/fuzz/corpus"

note "end-to-end tests"
e2e=build/native/tests/fsrestore_e2e
if [ -x "$e2e" ]; then
  [ -x build/native/fsrestore ] &&
    gtest "e2e linux" "$e2e" FSRESTORE_CMD="$root/build/native/fsrestore" FSRESTORE_KIND=linux
  [ -x build/asan/fsrestore ] &&
    gtest "e2e linux (sanitizers)" "$e2e" FSRESTORE_CMD="$root/build/asan/fsrestore" FSRESTORE_KIND=linux
  if [ -f build/win/fsrestore.exe ]; then
    export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
    gtest "e2e windows (wine)" "$e2e" FSRESTORE_CMD="wine $root/build/win/fsrestore.exe" FSRESTORE_KIND=windows
    wineserver -k >/dev/null 2>&1
  fi
fi

if [ -x tests/roundtrip.sh ] && [ -x build/native/tools/mkdump ]; then
  note "mkdump round trip"
  out=$(tests/roundtrip.sh "$root/build/native" 2>&1)
  status=$?
  echo "$out" | tail -n 20
  p=$(echo "$out" | sed -n 's/^roundtrip: \([0-9]*\) passed, \([0-9]*\) failed.*/\1/p' | tail -n 1)
  f=$(echo "$out" | sed -n 's/^roundtrip: \([0-9]*\) passed, \([0-9]*\) failed.*/\2/p' | tail -n 1)
  p=${p:-0}
  f=${f:-0}
  [ "$status" -ne 0 ] && [ "$f" -eq 0 ] && f=1
  record "roundtrip" "$p" "$f"
fi

echo
[ ${#failures[@]} -gt 0 ] && echo "failing: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
