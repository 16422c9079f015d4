#!/usr/bin/env bash
# Builds install.exe for 32-bit Windows (build/i686/setup/install.exe) and the
# 64-bit build that the tests run under Wine (build/x86_64).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${VARNOX_JOBS:-$(nproc)}"

for arch in i686 x86_64; do
  build="$top/build/$arch"
  tests=ON
  [ "$arch" = i686 ] && tests=OFF
  cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVARNOX_BUILD_TESTS=$tests \
    -DVARNOX_PRODUCT_EXE="$top/build/i686/setup/install.exe" >/dev/null
  cmake --build "$build" -j "$jobs"
done
echo "install.exe: $top/build/i686/setup/install.exe"
