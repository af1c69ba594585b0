#!/bin/sh
# Builds the helper and runs the reliability campaign under Wine, in a prefix of its own:
# host endings, proxy enables and restores killed at random moments, racing enables, mutated
# proxy state files, whole-file readers beside the host, and every Windows call the helper
# imports failed in turn (through the injected helper). Prints one table; every count
# marked "must be 0" that is not fails the run. Not part of the tests.
#
#   sh scripts/reliability.sh [scale] [seed] [campaign...]
#
# scale (default 1) multiplies every campaign's size; the seed (default: a fresh one) fixes
# every random choice, so a run is replayed by giving its seed again; campaigns (default: all)
# are host-endings, proxy-kills, enable-races, stale-logons, state-file-readers, snapshot-decoding,
# call-failures.
set -eu
cd "$(dirname "$0")/.."
scale="${1:-1}"
seed="${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"
[ $# -gt 2 ] && shift 2 || set --
sh scripts/install-dependencies.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target keldrix-reliability desktop-keeper >/dev/null
export KELDRIX_WINEPREFIX="$PWD/build/mingw/wineprefix-reliability"
wine=build/mingw/wine-run.sh
trap '"$wine" --stop' EXIT
"$wine" --start
echo "reliability campaign: scale $scale, seed $seed (replay: sh scripts/reliability.sh $scale $seed${*:+ $*})"
started=$(date +%s)
status=0
"$wine" build/mingw/benchmarks/keldrix-reliability.exe "$scale" "$seed" "$@" || status=$?
elapsed=$(($(date +%s) - started))
echo "seed $seed, scale $scale; elapsed $((elapsed / 60)) min $((elapsed % 60)) s"
exit $status
