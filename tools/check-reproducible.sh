#!/usr/bin/env bash
# Builds the committed product twice, from two checkouts in folders of different names and depths, and
# compares what ships: the installer and the payload archive must be the same bytes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

checkouts=("$work/first" "$work/second/checkout-of-the-same-commit")
for tree in "${checkouts[@]}"; do
  mkdir -p "$tree"
  git -C "$root" archive --format=tar HEAD | tar -x -C "$tree"
  # The minizip sources come from the set-up, not from the repository.
  cp -r "$root/.deps" "$tree/.deps"
  "$tree/tools/build.sh" >"$tree.log" 2>&1 || { cat "$tree.log"; exit 1; }
done

status=0
for file in glimmerly-setup.exe payload/sample_payload.zip; do
  if cmp "${checkouts[0]}/build/product/$file" "${checkouts[1]}/build/product/$file"; then
    echo "same bytes: $file ($(stat -c %s "${checkouts[0]}/build/product/$file") bytes)"
  else
    status=1
  fi
done
exit $status
