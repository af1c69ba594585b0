#!/bin/sh
# Names the function of the injected helper that holds a call site of the call-failures
# campaign (the hex offset after '@' in "CreateFileW@15734#2=32").
#
#   sh scripts/name-call-site.sh <site> [preset]
set -eu
cd "$(dirname "$0")/.."
site="$1"; preset="${2:-mingw}"
address=$(printf '%016x' $((0x140000000 + 0x$site)))
x86_64-w64-mingw32-nm -n -C "build/$preset/tests/keldrix-network-injected.exe" |
  awk -v a="$address" '($2 == "T" || $2 == "t") && ($1 "") <= (a "") { last = $0 } END { sub(/^[0-9a-f]+ [Tt] /, "", last); print last }'
