#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

step "Debian packages"
scripts/install-deps.sh

step "native build and tests"
cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

step "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

step "32-bit core and its tests (static, -m32) under qemu-i386"
cmake --preset linux32
cmake --build --preset linux32 -j "$jobs"
ctest --preset linux32 -j "$jobs"

step "fuzz targets, 60 seconds each (libFuzzer with ASan and UBSan)"
scripts/fuzz.sh 60

step "Windows builds"
cmake --preset win32
cmake --build --preset win32 -j "$jobs"
cmake --preset win64
cmake --build --preset win64 -j "$jobs"

step "Windows builds read back: PE format, resources, version, imports"
/usr/bin/python3 tests/windows/pe_structure.py build/win32 build/win64

step "win64 build end to end under wine64 (fresh prefix, Xvfb for the windows)"
/usr/bin/python3 tests/windows/wine_e2e.py build/win64

echo
echo "all tests passed"
