#!/usr/bin/env bash
# Benchmark of the payload extraction: builds two synthetic payloads of the same total size (about 200 MB
# in about 2,000 members: one of small members only, one whose largest member is over 100 MB), embeds each
# in a setup program, and packs the same files into a peer installer made with NSIS (zlib, not solid,
# silent). Runs both installers silently in one Wine prefix, alternating, and Info-ZIP unzip on the same
# archives; prints the median wall times, the ratios ours/NSIS and ours/unzip, and peak memory. Each
# installer is measured twice: a first installation into an empty folder, and an upgrade (the same
# payload installed over an installation that was installed and upgraded once, so that ours finds the old
# files of that upgrade and stages over them). Ours runs also with /log= (the full log), to tell what the
# log costs, and for the upgrade its log tells how many old files it wrote over, how many files and folders
# the switch-over moved, and which old files were deleted and which kept for the next run.
#
# Usage: tools/bench-extract.sh [--runs N] [--keep] [--tmpfs]
# --tmpfs puts the Wine prefix, and with it every installation, on /dev/shm instead of the disk.
# Work files go to build/bench (BENCH_DIR overrides); --keep leaves the payloads and programs there.
# Needs Debian's nsis package (makensis), installed here when it is missing; the tests do not need it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${BENCH_DIR:-$root/build/bench}
runs=9
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --tmpfs) export TMPDIR=/dev/shm; shift ;;
    *) echo "usage: $0 [--runs N] [--keep] [--tmpfs]" >&2; exit 2 ;;
  esac
done
command -v unzip >/dev/null || { echo "bench: Info-ZIP unzip is missing" >&2; exit 1; }
if ! command -v makensis >/dev/null; then
  echo "bench: installing nsis"
  as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi

# Like the tests: where 32-bit programs cannot run, the 64-bit build of the same sources is measured.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=win32 toolchain=mingw-i686-win32 nsis_target=x86-unicode
else
  arch=win64 toolchain=mingw-x86_64-win32 nsis_target=amd64-unicode
fi
mkdir -p "$work"

echo "bench: writing the payloads"
python3 "$root/tools/bench_payloads.py" "$work"

echo "bench: building setup programs that carry them ($arch)"
for kind in sample small large; do
  payload=""
  [ "$kind" = sample ] || payload="$work/$kind.zip"
  cmake -S "$root" -B "$work/product" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DGLIMMERLY_PAYLOAD_ZIP="$payload" >/dev/null
  cmake --build "$work/product" -j "$(nproc)" >/dev/null
  cp "$work/product/glimmerly-setup.exe" "$work/setup-$kind.exe"
done

echo "bench: building NSIS installers with the same files"
for kind in small large; do
  [ "$work/nsis-$kind.exe" -nt "$work/$kind.zip" ] && continue
  files="$work/$kind-files"
  rm -rf "$files"
  unzip -q "$work/$kind.zip" -d "$files"
  # The peer's defaults otherwise: its whole-file CRC check at start, file dates kept, files overwritten.
  cat >"$work/nsis-$kind.nsi" <<NSI
Unicode true
Target $nsis_target
SetCompressor zlib
Name "Bench"
OutFile "$work/nsis-$kind.exe"
SilentInstall silent
RequestExecutionLevel user
InstallDir "C:\\bench\\out"
Section
  SetOutPath "\$INSTDIR"
  File /r "$files/*"
SectionEnd
NSI
  makensis -V1 "$work/nsis-$kind.nsi" >/dev/null
  rm -rf "$files"
done

echo "bench: measuring ($runs alternating run(s) each)"
# The programs it runs find no terminal on their input.
GLIMMERLY_WINE_ARCH=$arch GLIMMERLY_WINE_TEMPLATE="$work/wine-template" \
  python3 "$root/tools/bench_measure.py" "$root" "$work" "$runs" </dev/null

if [ "$keep" = 0 ]; then
  rm -f "$work"/small.zip "$work"/large.zip "$work"/*.exe "$work"/*.nsi
fi
