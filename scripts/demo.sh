#!/usr/bin/env bash
# Installs the dependencies, builds varnel and runs the main job on the
# bundled example: the inversion of examples/block.dat (a 32-electrode
# Wenner-alpha and dipole-dipole profile over a conductive and a resistive
# block, synthetic data with 3 % noise) with 3 % error bars. The run works in
# build/demo/ and prints where its files are; examples/block_true.m2d is the
# model the data came from.
#   scripts/demo.sh topo   inverts the example with topography instead
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_BUILD_DIR:-$root/build}"
example="${1:-block}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
work="$build/demo"
rm -rf "$work"
mkdir -p "$work/out"
cp "$root/examples/$example.dat" "$work/"
cd "$work"
"$build/varnel" invert -d "$example.dat" -r "out/$example" -e 3 >"out/$example.log"
# The report at the end of the log.
sed -n '/Final Result/,$p' "out/$example.log"
last=$(ls "out/$example"_[0-9][0-9][0-9].m2d | tail -1)
echo
echo "log:          $work/out/$example.log"
echo "models:       $work/out/${example}_NNN.m2d (one per iteration; the last is $(basename "$last"))"
echo "responses:    $work/out/${example}_1_NNN.dat"
echo "search:       $work/out/${example}_NNN.lr"
echo "sensitivity:  $work/out/Jk_Homo.mask"
echo "true model:   $root/examples/${example}_true.m2d"
# A picture of the section, with the electrodes and the sensitivity shading.
PYTHONPATH="$root/python" /usr/bin/python3 -m varnel plot "$last" -o "out/${example}_section.png" \
  --data "$example.dat" --mask out/Jk_Homo.mask
