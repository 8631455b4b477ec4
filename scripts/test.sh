#!/usr/bin/env bash
# Installs the dependencies, builds and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
# Results must not depend on the thread count: run the suite with 1 and 2 threads.
for threads in 1 2; do
  echo "== tests with OMP_NUM_THREADS=$threads"
  OMP_NUM_THREADS=$threads ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
done
# The Python package, against the library and the command-line host just built.
echo "== Python package tests"
cd "$root"
VARNEL_LIBRARY="$build/libvarnel.so" VARNEL_CLI="$build/varnel" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
