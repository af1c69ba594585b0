#!/bin/sh
# Installs what is missing, builds the helper, and runs one whole connection through it with
# the reference client and the stand-in core, all under Wine. Then shows a failing connection.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
. tests/support/user-namespaces.sh
require_root_or_own_namespaces
cmake --preset mingw >/dev/null
# The helper runs its core elevated only from an installation that the user cannot change: the
# build lays it out as one (owned by another user, as under Program Files), with the stand-in core
# at router\sing-box.exe and the reference client beside it.
cmake --build --preset mingw --target installations desktop-keeper
wine=build/mingw/wine-run.sh
helper=build/mingw/installations/installed/KELDRIX-Network.exe
client=build/mingw/installations/installed/keldrix-reference-client.exe
trap '$wine --stop' EXIT

run() {
  printf '\n$ KELDRIX-Network.exe %s\n' "$*"
  set +e
  output=$("$wine" "$helper" "$@")
  code=$?
  set -e
  [ -n "$output" ] && printf '%s\n' "$output"
  printf '(exit code %s)\n' "$code"
}

echo "Starting Wine (the first start of a new prefix takes a few seconds)..."
"$wine" --start

echo
echo "== Is IPv6 switched off on this machine?"
run --network-capabilities

echo
echo "== The system proxy before the connection (a status verb changes nothing):"
run --proxy-status --state 'C:\keldrix-demo-status' --port 0

echo
echo "== One whole connection, held for 3 seconds (the reference client, the stand-in core, adapter lo)"
"$wine" "$client" --seconds 3

echo
echo "== The system proxy after the connection: back as it was"
run --proxy-status --state 'C:\keldrix-demo-status' --port 0

echo
echo "== A connection whose core fails: it exits with a tunnel driver error before it is ready"
echo "   (core configuration: reference-client/examples/tun-driver-failure.txt)"
set +e
"$wine" "$client" --core-config "Z:$(pwd | tr '/' '\\')\\reference-client\\examples\\tun-driver-failure.txt"
echo "(reference client exit code $?)"
set -e
