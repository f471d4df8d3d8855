#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$here/.deps"

packages=(
  g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb xauth x11-utils imagemagick fonts-wine fonts-liberation
  liblnk-utils
  cmake ninja-build googletest clang-format
  clang libclang-rt-14-dev llvm zlib1g-dev
  python3 zip unzip dpkg-dev time
  osslsigncode openssl python3-yaml
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

# The minizip sources come from the zlib source package: make sure a source index exists.
if [ ! -f "$deps/minizip/unzip.c" ]; then
  if ! grep -rqs -E '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      as_root sed -i -E 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    else
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | as_root tee /etc/apt/sources.list.d/glimmerly-src.list >/dev/null
    fi
    need_update=1
  fi
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync fails one index or another: what the others offer is still used.
  as_root apt-get update -qq || echo "setup: some package indexes could not be read; going on with the others"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
  # The 32-bit libraries must match the 64-bit ones version for version: while one architecture's
  # security index is unreadable, the release's own versions of both still match.
  install "${missing[@]}" || install -t bookworm "${missing[@]}"
fi

if [ ! -f "$deps/minizip/unzip.c" ]; then
  echo "setup: fetching the zlib sources for minizip"
  tmp=$(mktemp -d)
  chmod 777 "$tmp"
  # The newest source may be missing from a mirror (security updates): try each version offered.
  for version in "" $(apt-cache showsrc zlib | sed -n 's/^Version: //p' | sort -ru); do
    (cd "$tmp" && apt-get source -qq --download-only "zlib${version:+=$version}" >/dev/null 2>&1) && break
  done
  (cd "$tmp" && dpkg-source -x zlib_*.dsc src >/dev/null)
  mkdir -p "$deps/minizip"
  cp "$tmp"/src/contrib/minizip/{unzip.c,unzip.h,ioapi.c,ioapi.h,iowin32.c,iowin32.h,crypt.h} "$deps/minizip/"
  rm -rf "$tmp"
fi
echo "setup: ready"
