#!/usr/bin/env bash
# Builds the product tree (build/product) and, with --tests, the test tree (build/tests); with
# --fixtures only the programs of the test tree that the main job needs (launcher, wizard driver).
#
# Where the machine cannot execute 32-bit code (a kernel without IA-32 emulation, so 32-bit Wine cannot
# start), the tests run a 64-bit build of the same sources (build/product-x64) in 64-bit Wine prefixes;
# the shipped 32-bit program is then checked without running it (headers, imports, resources).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

product() { # build-dir toolchain
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2.cmake" >/dev/null
  cmake --build "$1" -j "$jobs"
}

if [ "${1:-}" = "--x64" ]; then
  product "$root/build/product-x64" mingw-x86_64-win32
  exit 0
fi

product "$root/build/product" mingw-i686-win32

if [ "${1:-}" = "--tests" ] || [ "${1:-}" = "--fixtures" ]; then
  # GLIMMERLY_WINE_ARCH=win64 takes the 64-bit road on any machine, to check it.
  if [ "${GLIMMERLY_WINE_ARCH:-}" != win64 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    arch=win32 tested="$root/build/product" tests_toolchain=mingw-i686-posix
  else
    echo "build: this machine cannot run 32-bit programs; the tests run the 64-bit build of the same sources"
    arch=win64 tested="$root/build/product-x64" tests_toolchain=mingw-x86_64-posix
    product "$tested" mingw-x86_64-win32
  fi
  cmake -S "$root" -B "$root/build/tests" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMMERLY_TESTS=ON \
    -DGLIMMERLY_PRODUCT_DIR="$tested" -DGLIMMERLY_SHIPPED_DIR="$root/build/product" -DGLIMMERLY_WINE_ARCH=$arch \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$tests_toolchain.cmake" >/dev/null
  if [ "$1" = "--fixtures" ]; then
    cmake --build "$root/build/tests" -j "$jobs" --target runexact wizard_driver
  else
    cmake --build "$root/build/tests" -j "$jobs"
  fi
fi
