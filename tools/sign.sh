#!/usr/bin/env bash
# Signs one Windows program: sign.sh IN OUT [NAME]. Authenticode with SHA-256, NAME (default
# "Glimmerly VERSION", the version the setup installs) and the viewer's FAQ address as its description. The identity comes from the
# environment, so that the release command can hand it to the payload's build:
#   GLIMMERLY_SIGN_CERT and GLIMMERLY_SIGN_KEY (PEM), or GLIMMERLY_SIGN_PKCS12 with its password in
#   GLIMMERLY_SIGN_PASSWORD (read through a pipe, never put on a command line);
#   GLIMMERLY_SIGN_TIMESTAMP: an RFC 3161 time-stamp server, where one is wanted.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
version=$(sed -n 's/.*kProductMajor = \([0-9]*\), kProductMinor = \([0-9]*\).*/\1.\2/p' "$root/shell/ProductVersion.h")
in=$1 out=$2 name=${3:-Glimmerly $version}
faq=$(sed -n 's/^const wchar_t kFaqUrl\[\] = L"\(.*\)";$/\1/p' "$root/wizard/WizPropertySheet.cpp")
[ -n "$faq" ] || { echo "sign: the FAQ address is not found in the wizard's sources" >&2; exit 1; }

args=(sign -h sha256 -n "$name" -i "$faq" -in "$in" -out "$out")
if [ -n "${GLIMMERLY_SIGN_PKCS12:-}" ]; then
  args+=(-pkcs12 "$GLIMMERLY_SIGN_PKCS12" -readpass /dev/stdin)
elif [ -n "${GLIMMERLY_SIGN_CERT:-}" ] && [ -n "${GLIMMERLY_SIGN_KEY:-}" ]; then
  args+=(-certs "$GLIMMERLY_SIGN_CERT" -key "$GLIMMERLY_SIGN_KEY")
else
  echo "sign: no signing identity in the environment" >&2
  exit 1
fi
[ -z "${GLIMMERLY_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$GLIMMERLY_SIGN_TIMESTAMP")
rm -f "$out"
printf '%s' "${GLIMMERLY_SIGN_PASSWORD:-}" | osslsigncode "${args[@]}" >/dev/null
