#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and runs them.
#   scripts/bench.sh                 every C++ benchmark
#   scripts/bench.sh forward_bench   one of them (survey_setup_bench, forward_bench,
#                                    sensitivity_bench, occam_bench)
#   scripts/bench.sh scaling [opts]  the table for 24, 48, 96 and 192 electrodes: every stage,
#                                    full inversions, peak memory and the growth exponents
#                                    (opts go to bench/inversion_bench.py, e.g. --sizes 24,48)
#   scripts/bench.sh inversions      complete default inversions of three surveys
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCH=ON \
  -DVARNEL_BUILD_TESTS=OFF >/dev/null
case "${1:-}" in
  scaling | inversions)
    mode="$1"
    shift
    cmake --build "$build" --parallel "$(nproc)" --target varnel_cli scaling_bench
    uptime
    if [ "$mode" = scaling ]; then
      exec /usr/bin/python3 "$root/bench/inversion_bench.py" --scaling "$@" "$build/varnel"
    fi
    exec /usr/bin/python3 "$root/bench/inversion_bench.py" "$@" "$build/varnel"
    ;;
esac
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  benches=(survey_setup_bench forward_bench sensitivity_bench occam_bench)
fi
cmake --build "$build" --parallel "$(nproc)" --target "${benches[@]}"
for b in "${benches[@]}"; do
  echo "== $b"
  "$build/bench/$b"
done
