#!/bin/sh
# Builds the release helper and its unsigned package twice, from two clones of the current
# commit at different paths, and checks that both builds give the same bytes. Uncommitted
# changes are not part of the check: commit first.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] || echo "note: uncommitted changes are not checked"
work=$(mktemp -d "${TMPDIR:-/tmp}/keldrix-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Signing adds a signing time and the certificate: only the unsigned build can be the same.
unset KELDRIX_SIGN_PKCS12 KELDRIX_SIGN_PASSWORD KELDRIX_SIGN_TIMESTAMP_URL

build() {
  git clone --quiet --no-checkout "$PWD" "$1"
  git -C "$1" fetch --quiet "$PWD" HEAD
  git -C "$1" checkout --quiet --detach FETCH_HEAD
  (cd "$1" && cmake --preset release >/dev/null && cmake --build --preset release --target package >/dev/null)
}

started=$(date +%s)
build "$work/first"
build "$work/second-clone-at-a-longer-path"
status=0
for file in KELDRIX-Network.exe KELDRIX-Network-*-win64.zip; do
  first=$(ls "$work"/first/build/release/$file)
  second=$(ls "$work"/second-clone-at-a-longer-path/build/release/$file)
  if cmp -s "$first" "$second"; then
    echo "reproducible: $(basename "$first") ($(wc -c < "$first") bytes, sha256 $(sha256sum < "$first" | cut -c1-16)...)"
  else
    echo "NOT reproducible: $(basename "$first") differs between the two builds:"
    cmp -l "$first" "$second" | head -5
    status=1
  fi
done
echo "two release builds of $commit in $(($(date +%s) - started)) s"
exit $status
