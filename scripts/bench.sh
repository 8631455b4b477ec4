#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and runs them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCH=ON \
  -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target survey_setup_bench
"$build/bench/survey_setup_bench" "$@"
