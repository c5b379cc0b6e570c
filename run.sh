#!/usr/bin/env bash
# Builds fsrestore (Linux) if needed and runs it.
#   ./run.sh                      restores the bundled sample dump into a fresh folder and lists it
#   ./run.sh BASEPATH [TARGET]    runs fsrestore with these arguments in the current directory
set -u
root=$(cd "$(dirname "$0")" && pwd)
bin=$root/build/run/fsrestore
jobs=${JOBS:-2}  # the same as test.sh: the machine is shared
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq cmake ninja-build g++ >/dev/null
fi
if [ ! -x "$bin" ] || [ -n "$(find "$root/src" "$root/CMakeLists.txt" -newer "$bin" 2>/dev/null | head -n 1)" ]; then
  cmake -S "$root" -B "$root/build/run" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null &&
    ninja -C "$root/build/run" -j "$jobs" fsrestore >/dev/null || { echo "build failed" >&2; exit 1; }
fi

if [ $# -gt 0 ]; then
  exec "$bin" "$@"
fi

# The sample: restore into a fresh folder; "$errors" is written where the
# program starts, so start it inside that folder.
out=$(mktemp -d "${TMPDIR:-/tmp}/fsrestore-sample.XXXXXX")
cd "$out" && mkdir restored || exit 1
echo "\$ cd $out && mkdir restored && fsrestore $root/examples/sample/ restored"
"$bin" "$root/examples/sample/" restored
status=$?
echo "exit status: $status"
[ "$status" -eq 0 ] || exit "$status"
echo
echo "restored tree (mode, size, last-write time, name):"
(cd restored && find . -mindepth 1 | sort | while IFS= read -r p; do
  stat -c '%A %10s %y %n' "$p"
done)
echo
if [ -s "\$errors" ]; then
  echo "\$errors:"
  cat "\$errors"
else
  echo "\$errors is empty: everything was restored."
fi
exit "$status"
