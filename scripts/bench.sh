#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and runs them.
#   scripts/bench.sh                 every benchmark
#   scripts/bench.sh forward_bench   one of them (survey_setup_bench, forward_bench,
#                                    sensitivity_bench, occam_bench)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCH=ON \
  -DVARNEL_BUILD_TESTS=OFF >/dev/null
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then benches=(survey_setup_bench forward_bench sensitivity_bench occam_bench); fi
cmake --build "$build" --parallel "$(nproc)" --target "${benches[@]}"
for b in "${benches[@]}"; do
  echo "== $b"
  "$build/bench/$b"
done
