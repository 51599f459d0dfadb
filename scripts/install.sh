#!/usr/bin/env bash
# Installs every Debian package velloc needs to build, run, test and benchmark. Safe to re-run.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git python3
  libfmt-dev libcli11-dev nlohmann-json3-dev libfast-float-dev
  libopenblas-dev liblemon-dev libreadstat-dev
  libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  librsvg2-bin
  python3-pybind11 python3-numpy python3-pandas python3-pytest python3-distributed
  r-base-core r-cran-haven
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
