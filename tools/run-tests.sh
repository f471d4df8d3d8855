#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a full test run: set-up, both builds, every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh" --tests
arch=$(sed -n 's/^GLIMMERLY_WINE_ARCH:STRING=//p' "$root/build/tests/CMakeCache.txt")
GLIMMERLY_WINE_ARCH=$arch python3 "$root/tests/e2e/winetest.py" --unit-prefix "$root/build/tests/wine-template"
cd "$root/build/tests"
ctest --output-on-failure -j "$(nproc)" --timeout 600 "$@"
