#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal g++ build and once in a
# clang++ build with the address and undefined-behaviour sanitizers. Both treat warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DQH_WERROR=ON >/dev/null
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DQH_WERROR=ON -DQH_SANITIZE=ON -DQH_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -LE realwindow
