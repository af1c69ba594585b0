#!/bin/sh
# Makes the release package <build>/KELDRIX-Network-<version>-win64.zip from what the install
# rule puts in place, plus INSTALL.txt and SHA256SUMS, once the helper imports only system DLLs
# and is at most 256 KiB. The helper is signed first when KELDRIX_SIGN_PKCS12 names a
# code-signing certificate (see sign-helper.sh), and the package says whether it is. An unsigned
# package is the same bytes from any checkout on any day: every file carries the time of the
# last commit (or SOURCE_DATE_EPOCH) and fixed permissions.
set -eu
build="$1"; version="$2"; objdump="$3"
packaging=$(cd "$(dirname "$0")" && pwd)
size_limit=262144
name="KELDRIX-Network-$version-win64"
stage="$build/package/$name"
zip="$build/$name.zip"

rm -rf "$build/package" "$zip"
cmake --install "$build" --prefix "$stage" >/dev/null
helper="$stage/KELDRIX-Network.exe"
imports=$(sh "$packaging/check-imports.sh" "$objdump" "$helper") || { echo "$imports"; exit 1; }
echo "package: $imports" | head -1

if [ -n "${KELDRIX_SIGN_PKCS12:-}" ]; then
  sh "$packaging/sign-helper.sh" "$helper"
  echo "package: signed the helper with $KELDRIX_SIGN_PKCS12"
  signature="Signed: the helper carries an Authenticode signature, so the consent prompt names its publisher."
else
  echo "package: no code-signing certificate (KELDRIX_SIGN_PKCS12): the helper is NOT signed"
  signature="UNSIGNED: the helper carries no Authenticode signature, so the consent prompt names
no verified publisher. A build for testing, not for users."
fi

size=$(wc -c < "$helper")
echo "package: the helper is $size bytes (at most $size_limit)"
[ "$size" -le "$size_limit" ] || { echo "package: the helper is too large"; exit 1; }

sed -e "s/@VERSION@/$version/" "$packaging/INSTALL.txt.in" | while IFS= read -r line; do
  if [ "$line" = "@SIGNATURE@" ]; then printf '%s\n' "$signature"; else printf '%s\n' "$line"; fi
done > "$stage/INSTALL.txt"
(cd "$stage" && sha256sum KELDRIX-Network.exe INSTALL.txt > SHA256SUMS)

epoch="${SOURCE_DATE_EPOCH:-$(git -C "$packaging" log -1 --format=%ct 2>/dev/null || echo 315532800)}"
chmod 755 "$helper"
chmod 644 "$stage/INSTALL.txt" "$stage/SHA256SUMS"
touch -d "@$epoch" "$helper" "$stage/INSTALL.txt" "$stage/SHA256SUMS"
# zip rather than "cmake -E tar --format=zip", which stores each file's access and change times
# and its owner; -X leaves those out, and the times are written in UTC.
(cd "$build/package" && TZ=UTC zip -X -D -q "$zip" \
  "$name/KELDRIX-Network.exe" "$name/INSTALL.txt" "$name/SHA256SUMS")
echo "package: $zip"
