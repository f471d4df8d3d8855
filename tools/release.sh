#!/usr/bin/env bash
# Builds a release of the installer and writes into DIR the installer (signed when an identity is
# given), SHA256SUMS and the package manager's manifest (DIR/manifest).
#
#   tools/release.sh [--payload ZIP --changes TXT] [--sign-cert CERT.pem --sign-key KEY.pem |
#                    --sign-pkcs12 FILE.p12] [--timestamp URL] [--installer-url URL] --out DIR
#
# Without --payload the sample payload is built, and with an identity its programs and libraries are
# signed before they are packed. The password of a PKCS#12 file is read from GLIMMERLY_SIGN_PASSWORD.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage() { sed -n '5,6p' "$0" >&2; exit 2; }

payload="" changes="" cert="" key="" pkcs12="" timestamp="" url="" out=""
while [ $# -gt 0 ]; do
  case $1 in
    --payload) payload=$(realpath "$2"); shift 2 ;;
    --changes) changes=$(realpath "$2"); shift 2 ;;
    --sign-cert) cert=$(realpath "$2"); shift 2 ;;
    --sign-key) key=$(realpath "$2"); shift 2 ;;
    --sign-pkcs12) pkcs12=$(realpath "$2"); shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --installer-url) url=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$out" ] || usage
{ [ -n "$payload" ] && [ -n "$changes" ]; } || { [ -z "$payload" ] && [ -z "$changes" ]; } ||
  { echo "release: --payload and --changes go together" >&2; exit 2; }
{ [ -n "$cert" ] && [ -n "$key" ]; } || { [ -z "$cert" ] && [ -z "$key" ]; } ||
  { echo "release: --sign-cert and --sign-key go together" >&2; exit 2; }
[ -z "$pkcs12" ] || [ -z "$cert" ] || { echo "release: one signing identity, not two" >&2; exit 2; }
signing=0
[ -z "$cert$pkcs12" ] || signing=1
[ $signing = 1 ] || [ -z "$timestamp" ] || { echo "release: --timestamp needs a signing identity" >&2; exit 2; }

export GLIMMERLY_SIGN_CERT=$cert GLIMMERLY_SIGN_KEY=$key GLIMMERLY_SIGN_PKCS12=$pkcs12
export GLIMMERLY_SIGN_TIMESTAMP=$timestamp
sign_program=""
[ $signing = 0 ] || sign_program="$root/tools/sign.sh"

# A build folder of its own: the signed sample payload never mixes with the test builds.
build=$root/build/release
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686-win32.cmake" -DGLIMMERLY_PAYLOAD_ZIP="$payload" \
  -DGLIMMERLY_CHANGES_TXT="$changes" -DGLIMMERLY_SIGN_PROGRAM="$sign_program" >/dev/null
# The sample payload is packed (and signed) anew: the identity may have changed since the last release.
rm -f "$build/payload/sample_payload.zip"
cmake --build "$build" -j "$(nproc)" >/dev/null

mkdir -p "$out"
setup=$out/glimmerly-setup.exe
if [ $signing = 1 ]; then
  version=$(sed -n 's/.*kProductMajor = \([0-9]*\), kProductMinor = \([0-9]*\).*/\1.\2/p' "$root/shell/ProductVersion.h")
  "$root/tools/sign.sh" "$build/glimmerly-setup.exe" "$setup" "Glimmerly $version Setup"
else
  cp "$build/glimmerly-setup.exe" "$setup"
fi
(cd "$out" && sha256sum glimmerly-setup.exe >SHA256SUMS)
python3 "$root/tools/make_manifest.py" "$setup" "$out/manifest" ${url:+--installer-url "$url"}
echo "release: $(cd "$out" && pwd)"
