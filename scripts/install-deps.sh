#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, only
# those that are missing. Run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ git python3
  libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  mingw-w64 wine wine64 fonts-wine python3-pefile xvfb
  qemu-user gcc-multilib g++-multilib
  gzip file
)
if [[ "${1:-}" == "--minimal" ]]; then
  packages=(build-essential cmake ninja-build g++ libgtest-dev libbenchmark-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
