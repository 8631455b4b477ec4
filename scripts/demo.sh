#!/usr/bin/env bash
# Installs the dependencies, builds varnel and runs the main job on the
# bundled example: the forward response of the true model of the example
# (examples/block_true.m2d: a conductive and a resistive block in 100 ohm-m
# ground) for its Wenner-alpha and dipole-dipole profile of 32 electrodes
# (examples/block.dat, synthetic data with 3 % noise). The job works on a copy
# in build/demo/, because the forward job writes the misfit into the model
# file.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
work="$build/demo"
rm -rf "$work"
mkdir -p "$work/out"
cp "$root/examples/block.dat" "$root/examples/block_true.m2d" "$work/"
cd "$work"
"$build/varnel" forward -d block.dat -m block_true.m2d -r out/block
echo "response: $work/out/block_1.dat"
# The apparent resistivities of the response: the last column of the data rows.
awk 'NF == 10 && $1 == 4 { v = $10 + 0; n++; s += v; if (n == 1 || v < lo) lo = v; if (v > hi) hi = v }
     END { printf "%d apparent resistivities from %.2f to %.2f ohm-m (mean %.2f)\n", n, lo, hi, s / n }' \
  out/block_1.dat
