#!/usr/bin/env bash
# Installs the cross toolchain, the native toolchain (clang with its sanitizer
# and fuzzer runtime), the signing tools, Wine and the test tools from Debian's
# packages, and fetches the third-party sources that Debian ships only as
# source packages.
# Safe to run again: nothing is downloaded twice.
set -euo pipefail

top="$(cd "$(dirname "$0")/.." && pwd)"
cache="${VARNOX_THIRD_PARTY:-${XDG_CACHE_HOME:-$HOME/.cache}/varnox-third-party}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build dpkg-dev xz-utils
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth x11-utils
  msitools wixl
  libboost-dev googletest
  zip unzip python3 time patch
  locales
  clang libclang-rt-14-dev
  osslsigncode openssl
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi

# apt-get source needs deb-src entries; derive them from the binary ones.
src_list=/etc/apt/sources.list.d/varnox-deb-src.sources
if [ ! -f "$src_list" ]; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
    echo >>"$tmp"
  done
  if [ -s "$tmp" ]; then
    $sudo install -m 0644 "$tmp" "$src_list"
  fi
  rm -f "$tmp"
  # A one-line sources.list gets its deb-src twin too.
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb ' /etc/apt/sources.list \
     && ! grep -qE '^deb-src ' /etc/apt/sources.list; then
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' \
      | $sudo tee /etc/apt/sources.list.d/varnox-deb-src.list >/dev/null
  fi
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  $sudo apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

mkdir -p "$cache"
cd "$cache"

# Boost.Filesystem, compiled for the target by the build from these sources.
if [ ! -f boost-filesystem/src/operations.cpp ]; then
  rm -rf boost-src boost-filesystem
  mkdir boost-src
  (cd boost-src && apt-get source --download-only -q boost1.74)
  orig=$(ls boost-src/boost1.74_*.orig.tar.* | head -n 1)
  mkdir boost-filesystem.tmp
  tar -xf "$orig" -C boost-filesystem.tmp --wildcards '*/libs/filesystem/src/*'
  mv boost-filesystem.tmp/*/libs/filesystem boost-filesystem
  rm -rf boost-filesystem.tmp boost-src
fi

# miniz 2.0.5, as amalgamated in the bibledit source package.
fetch_miniz() {
  rm -rf bibledit-src miniz miniz.tmp
  mkdir bibledit-src
  (cd bibledit-src && apt-get source --download-only -q bibledit)
  archive=$(ls bibledit-src/bibledit_*.orig.tar.* | head -n 1)
  mkdir miniz.tmp
  tar -xf "$archive" -C miniz.tmp --wildcards '*/miniz/miniz.c' '*/miniz/miniz.h'
  mkdir miniz
  mv miniz.tmp/*/miniz/miniz.c miniz.tmp/*/miniz/miniz.h miniz/
  rm -rf miniz.tmp bibledit-src
}
if [ ! -f miniz/miniz.c ] || [ ! -f miniz/miniz.h ]; then
  fetch_miniz
fi

# The project's mends to miniz, kept as a patch in the repository. A source
# that already has them is left alone; a pristine one (also one fetched by an
# earlier set-up) gets them; anything else is fetched again first.
miniz_patch="$top/tools/patches/miniz.patch"
if ! patch -d miniz -p1 -R --dry-run -s -f <"$miniz_patch" >/dev/null 2>&1; then
  if ! patch -d miniz -p1 -N --dry-run -s -f <"$miniz_patch" >/dev/null 2>&1; then
    fetch_miniz
  fi
  patch -d miniz -p1 -N -s -f --no-backup-if-mismatch <"$miniz_patch"
  echo "miniz patched with $miniz_patch"
fi

echo "third-party sources in $cache"
