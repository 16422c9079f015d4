#!/usr/bin/env bash
# Builds the native tools for Linux (build/native: make_setup, its tests and
# the fuzz targets), install.exe for 32-bit Windows (build/i686/setup/install.exe)
# and the 64-bit build that the tests run under Wine (build/x86_64). The
# Windows builds make their setups with the native make_setup.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${VARNOX_JOBS:-$(nproc)}"

native="$top/build/native"
cmake -S "$top" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVARNOX_PRODUCT_EXE="$top/build/i686/setup/install.exe" >/dev/null
cmake --build "$native" -j "$jobs" --target make_setup

for arch in i686 x86_64; do
  build="$top/build/$arch"
  tests=ON
  [ "$arch" = i686 ] && tests=OFF
  cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVARNOX_BUILD_TESTS=$tests \
    -DVARNOX_NATIVE_BUILD="$native" \
    -DVARNOX_PRODUCT_EXE="$top/build/i686/setup/install.exe" >/dev/null
  cmake --build "$build" -j "$jobs"
done
# The native tests and fuzz targets, once the product they sign is there.
cmake --build "$native" -j "$jobs"
echo "install.exe: $top/build/i686/setup/install.exe"
echo "make_setup:  $native/tools/bundler/make_setup"
