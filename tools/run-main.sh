#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to the main job: set-up, build, and an installation of the
# built program into a scratch Wine prefix, then a short report of what it left behind. Where a display
# is set, the wizard opens on it; without one the installation runs silently and the wizard's pages are
# captured under Xvfb into build/screenshots.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh" --fixtures
echo "built: $root/build/product/glimmerly-setup.exe"

arch=$(sed -n 's/^GLIMMERLY_WINE_ARCH:STRING=//p' "$root/build/tests/CMakeCache.txt")
if [ "$arch" = win32 ]; then
  exe="$root/build/product/glimmerly-setup.exe"
else
  # Without IA-32 support in the kernel 32-bit Wine cannot start: run the 64-bit build of the same sources.
  echo "this machine cannot run 32-bit programs: running the 64-bit build of the same sources"
  exe="$root/build/product-x64/glimmerly-setup.exe"
fi
GLIMMERLY_WINE_ARCH=$arch GLIMMERLY_SETUP_EXE="$exe" GLIMMERLY_WINE_TEMPLATE="$root/build/main-wine-template" \
  GLIMMERLY_FIXTURES="$root/build/tests/fixtures" GLIMMERLY_SCREENSHOTS="$root/build/screenshots" \
  python3 "$root/tests/e2e/mainjob.py" "$@"
