#!/usr/bin/env bash
# Builds the library, the hosts and the C++ test suite with AddressSanitizer
# and UndefinedBehaviorSanitizer (GCC, -DVARNEL_SANITIZE=ON) in build-asan/ and
# runs the suite with 1 and 2 threads. Any sanitizer report fails the test it
# happens in. Takes much longer than scripts/test.sh, so CI does not run it.
#   scripts/sanitize.sh                  the whole suite
#   scripts/sanitize.sh -R BadInput      only the tests ctest selects
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_ASAN_BUILD_DIR:-$root/build-asan}"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=ON \
  >/dev/null
cmake --build "$build" --parallel "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
for threads in 1 2; do
  echo "== sanitized tests with OMP_NUM_THREADS=$threads"
  OMP_NUM_THREADS=$threads ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" \
    --timeout 1800 "$@"
done
