#!/usr/bin/env bash
# Draws the README's pictures: the wizard's five pages under Xvfb at 96 dpi, into docs/screenshots.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh" --fixtures
arch=$(sed -n 's/^GLIMMERLY_WINE_ARCH:STRING=//p' "$root/build/tests/CMakeCache.txt")
exe="$root/build/product/glimmerly-setup.exe"
[ "$arch" = win32 ] || exe="$root/build/product-x64/glimmerly-setup.exe"
cd "$root/tests/e2e"
GLIMMERLY_WINE_ARCH=$arch GLIMMERLY_SETUP_EXE="$exe" GLIMMERLY_WINE_TEMPLATE="$root/build/main-wine-template" \
  GLIMMERLY_FIXTURES="$root/build/tests/fixtures" \
  python3 -c 'import sys, screens; print("\n".join(screens.capture_pages(sys.argv[1])))' "$root/docs/screenshots"
