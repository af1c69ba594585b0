#!/bin/sh
# Installs what is missing, builds the helper and shows what it does, run under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target KELDRIX-Network
wine=build/mingw/wine-run.sh
helper=build/mingw/KELDRIX-Network.exe
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
"$wine" wineboot.exe --init
echo "Is IPv6 switched off on this machine?"
run --network-capabilities
echo
echo "Switching the system proxy to the local port 8080 and back (Wine's own WinINet):"
proxy_dir=$(mktemp -d)
trap '$wine --stop; rm -rf "$proxy_dir"' EXIT
proxy_state="Z:$(printf '%s' "$proxy_dir/proxy-state" | tr '/' '\\')"
run --proxy-status --state "$proxy_state" --port 8080
run --proxy-enable --state "$proxy_state" --port 8080
echo "A second enable is refused (183) while the saved settings are in the state file:"
run --proxy-enable --state "$proxy_state" --port 8080
run --proxy-restore --state "$proxy_state"
run --proxy-status --state "$proxy_state" --port 8080
echo
echo "Usage errors end with exit code 2 and write nothing:"
run
run --no-such-verb
run --launch --config cfg.json --parent 1 --api 9090 --interface tun0 --state state --stop stop --done ""
