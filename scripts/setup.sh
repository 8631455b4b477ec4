#!/usr/bin/env bash
# Installs everything varnel needs to build, test and run on a bare Debian
# (bookworm) machine. Runs apt-get as root, or through sudo when available.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config binutils
  libopenblas-dev           # LAPACK and BLAS
  libomp-dev                # OpenMP runtime headers (GCC's libgomp comes with g++)
  libgtest-dev libgmock-dev # tests
  libbenchmark-dev          # benchmarks under bench/
  clang-format
  python3 python3-numpy python3-matplotlib python3-pytest  # the Python package
  python3-distributed       # batch runs on Dask
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
