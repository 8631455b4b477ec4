#!/usr/bin/env bash
# Builds the fuzz targets of the readers (clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) in build-fuzz/ and runs each one for a fixed
# time, one after the other, on its seed corpus fuzz/corpus/<target>/.
#   scripts/fuzz.sh                         every target, 60 s each
#   FUZZ_SECONDS=600 scripts/fuzz.sh fuzz_dat fuzz_ceg
# New inputs go to build-fuzz/corpus/<target>/ (the seeds in the repository
# stay as they are); an input that crashes, leaks, hangs or trips a sanitizer
# is written to build-fuzz/crashes/<target>/ and the script exits with 1.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
all=(fuzz_dat fuzz_ceg fuzz_list fuzz_model fuzz_update fuzz_sgrid fuzz_error fuzz_prelambda
  fuzz_request)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${all[@]}"); fi

# The compiler and the fuzzer runtime: Debian's clang and its compiler-rt.
"$root/scripts/setup.sh"
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNEL_FUZZ=ON -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"

failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  crashes="$build/crashes/$t"
  mkdir -p "$corpus" "$crashes"
  echo "== $t: $seconds s"
  # The readers' own checks bound what they allocate; an input that makes a
  # small file take more than these limits counts as a finding.
  if nice -n 19 "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=1024 -max_len=4096 -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$corpus" "$root/fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    grep -E "^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/$t.log" || true
  else
    failed+=("$t")
    tail -n 40 "$build/$t.log"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $build/crashes/)"
  exit 1
fi
echo "fuzz: no findings in ${targets[*]}"
