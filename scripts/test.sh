#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal g++ build and once in a
# clang++ build with the address and undefined-behaviour sanitizers, which also runs each fuzz
# target for a few seconds. Both treat warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DQH_WERROR=ON >/dev/null
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DQH_WERROR=ON -DQH_SANITIZE=ON -DQH_FUZZ=ON -DQH_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -LE realwindow

# Each parser and decoder under libFuzzer for a few seconds, on a copy of its seeds in a scratch
# folder, so the tree stays clean. A finding stops the run and stays in the scratch folder.
fuzz_seconds=5
while read -r target seeds; do
  [[ -n $target ]] || continue
  scratch=$(mktemp -d)
  mkdir "$scratch/corpus"
  # shellcheck disable=SC2086 # one seed file per word
  cp $seeds "$scratch/corpus/"
  if ! UBSAN_OPTIONS=print_stacktrace=1 "$target" -max_total_time=$fuzz_seconds -print_final_stats=1 \
         -artifact_prefix="$scratch/" "$scratch/corpus" >"$scratch/log" 2>&1; then
    tail -n 60 "$scratch/log"
    echo "FUZZ FAILURE: ${target##*/}, input and log in $scratch"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/log")
  echo "fuzz ${target##*/}: $runs executions in $fuzz_seconds s"
  rm -rf "$scratch"
done <"$root/build-asan/fuzz/targets.txt"
