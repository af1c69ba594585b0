#!/bin/sh
# The reference client after a power loss: a connection runs with the system proxy switched on
# (and a second client's over it), the whole Wine session is stopped (every process ends at once,
# the guard too, as when the machine loses power), then the next logon's restores run and the
# client starts again. The prefix is one of
# this test's own, so stopping its session ends no other test's processes; its wineserver is
# stopped at the end, also after a failure.
#
#   run-with-power-loss.sh <wine-run.sh> <wine prefix> <power-loss test program.exe>
set -eu

wine="$1"
export KELDRIX_WINEPREFIX="$2"
program="$3"

folder=$(mktemp -d "${TMPDIR:-/tmp}/keldrix-power-loss.XXXXXX")
cleanup() {
  "$wine" --stop
  rm -rf "$folder"
}
trap cleanup EXIT INT TERM
export KELDRIX_POWER_LOSS_FOLDER="Z:$(echo "$folder" | tr / '\\')"

"$wine" --start || { echo "power-loss test: cannot make the Wine prefix $KELDRIX_WINEPREFIX" >&2; exit 1; }
if ! "$wine" "$program" --gtest_filter=PowerLoss.FirstHalfConnectsWithTheProxyOn; then
  echo "--- the client's output:"
  cat "$folder/first client output.txt" 2>/dev/null || true
  exit 1
fi

echo "--- the power goes: the whole Wine session is stopped"
"$wine" --stop
"$wine" --start
"$wine" "$program" --gtest_filter=PowerLoss.LogonRestoresPutTheUserSettingsBackThenTheClientConnects
