#!/usr/bin/env bash
# Builds fsrestore for Linux (plain and with AddressSanitizer + UBSan) and for
# Windows (mingw-w64), then runs every test through CTest: unit tests natively
# and under the sanitizers, the end-to-end suite against the Linux binaries
# and against fsrestore.exe under Wine, the fuzz corpus replay, the mkdump
# round trip, install, packages (.deb and .zip), man pages and completion.
# Installs the packages it needs on a fresh Debian machine. Exits non-zero on
# any failure; the last line says how many tests passed and failed, as CTest
# counted them.
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
have groff || missing+=(groff-base)        # man page lint
have dpkg-shlibdeps || missing+=(dpkg-dev)  # the .deb's dependencies
have lintian || missing+=(lintian)         # the .deb against Debian's policy
have unzip || missing+=(unzip)
have file || missing+=(file)
have strings || missing+=(binutils)
have timeout || missing+=(coreutils)
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

# Runs the CTest tests of a build tree (optionally only some: -L LABEL,
# -LE LABEL) and adds CTest's own counts. A run that ends without CTest's
# summary (a crash, the timeout) counts as a failure.
run_ctest() {  # run_ctest NAME BUILD_DIR SECONDS [ctest args...]
  local name=$1 dir=$2 limit=$3 out status summary p f total
  shift 3
  out=$(mktemp)
  timeout -k 10 "$limit" ctest --test-dir "$dir" -j "$jobs" --output-on-failure "$@" >"$out" 2>&1
  status=$?
  summary=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$out" | tail -n 1)
  if [ -n "$summary" ]; then
    f=${summary% *}
    total=${summary#* }
    p=$((total - f))
  else
    p=0
    f=1
  fi
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  if [ "$f" -gt 0 ]; then
    [ "$status" -eq 124 ] && echo "$name: stopped after $limit s"
    grep -E '^(The following tests FAILED|[[:space:]]+[0-9]+ - )' "$out" | head -n 40
    grep -B2 -A25 -E 'Failure|FAIL |\*\*\*(Failed|Timeout|Exception|Not Run)' "$out" | head -n 120
  fi
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

# A test script that lost its run bit must fail, not drop out of the count.
note "run bits"
lost=0
for script in run.sh test.sh tests/*.sh tests/fuzz/*.sh; do
  case $script in tests/script_support.sh) continue ;; esac
  if [ ! -x "$script" ]; then
    echo "$script is not executable"
    lost=$((lost + 1))
  fi
done
[ "$lost" -gt 0 ] && record "run bits" 0 "$lost"

mkdir -p build
note "building: Windows"
build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release ||
  record "build windows" 0 1
note "building: Linux"
build build/native -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
  -DFSRESTORE_WINDOWS_EXE="$root/build/win/fsrestore.exe" || record "build native" 0 1
note "building: Linux with sanitizers"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DFSRESTORE_SANITIZE=ON -DBUILD_TESTING=ON || record "build asan" 0 1
note "building: Linux with ThreadSanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSRESTORE_TSAN=ON -DBUILD_TESTING=ON -DFSRESTORE_TEST_TIMEOUT=300 || record "build tsan" 0 1

# Wine runs in a prefix of its own inside the build tree; every Wine run is
# bounded by CTest's per-test timeout and by the timeout around ctest.
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then timeout 300 wineboot -i >/dev/null 2>&1; fi

note "tests: Linux (unit, fuzz corpus, end-to-end, round trip, install, packages, man pages, completion)"
run_ctest "linux" build/native 1800 -LE wine
note "tests: Linux with sanitizers (unit, fuzz corpus, end-to-end, round trip)"
run_ctest "linux (sanitizers)" build/asan 1800
note "tests: Linux with ThreadSanitizer (unit, end-to-end at the default writers and at -j 4; the fuzz replay has no threads)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest "linux (thread sanitizer)" build/tsan 1800 -L "unit|e2e"
note "tests: Windows under Wine (end-to-end, .zip)"
# One Wine server for the whole suite: a server left to itself ends a few
# seconds after its last program, and a program that starts while it ends
# fails with "wine client error" before it runs.
timeout 60 wineserver -p >/dev/null 2>&1
run_ctest "windows (wine)" build/native 2400 -L wine
timeout 60 wineserver -k >/dev/null 2>&1

echo
[ ${#failures[@]} -gt 0 ] && echo "failing: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
