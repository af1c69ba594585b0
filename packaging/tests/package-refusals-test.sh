#!/bin/sh
# The release package refuses a helper that must not ship: one larger than 256 KiB, and one that
# imports a DLL outside Windows' known set, and the test build with the call injector. A stand-in install rule puts each in the helper's
# place; make-package.sh must stop, say why, and make no zip.
# Usage: package-refusals-test.sh <a helper too large> <a small program> <objdump> <injected helper>
set -eu
large="$1"; small="$2"; objdump="$3"; injected="$4"
packaging=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/keldrix-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset KELDRIX_SIGN_PKCS12

fail() { echo "FAILED: $*"; exit 1; }

# refused <name> <candidate> <the reason make-package.sh must give>
refused() {
  build="$work/$1"
  mkdir -p "$build"
  printf 'file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE FILE FILES "%s" RENAME KELDRIX-Network.exe)\n' \
    "$2" > "$build/cmake_install.cmake"
  if output=$(sh "$packaging/make-package.sh" "$build" 0.0.0 "$objdump" 2>&1); then
    echo "$output"; fail "$1: packaged"
  fi
  echo "$output" | grep -q "$3" || { echo "$output"; fail "$1: not refused for its reason"; }
  [ -z "$(find "$build" -name '*.zip')" ] || fail "$1: a zip was made"
  echo "$1: refused ($3)"
}

refused too-large "$large" "the helper is too large"
# A small program whose import of msvcrt.dll is rewritten to dnsapi.dll, a DLL that Windows
# would look for beside the helper.
perl -pe 's/msvcrt\.dll/dnsapi.dll/g' "$small" > "$work/imports-dnsapi.exe"
refused imports-a-non-system-dll "$work/imports-dnsapi.exe" "imports outside the allowed set: dnsapi.dll"
refused injected-helper "$injected" "carries the call injector"
