#!/usr/bin/env bash
# Builds the two fuzz targets with clang into build/fuzz (JOBS, default 1).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$root/build/fuzz" -j "${JOBS:-1}"
