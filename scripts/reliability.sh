#!/bin/sh
# Builds the helper and runs the reliability campaign under Wine, in a prefix of its own:
# host endings, proxy enables and restores killed at random moments, racing enables, mutated
# proxy state files, whole-file readers beside the host, and every Windows call the helper
# imports failed in turn (through the injected helper). Prints one table; every count
# marked "must be 0" that is not fails the run. Not part of the tests.
#
#   sh scripts/reliability.sh [--busy N] [scale] [seed] [campaign...]
#
# scale (default 1) multiplies every campaign's size; the seed (default: a fresh one) fixes
# every random choice, so a run is replayed by giving its seed again; campaigns (default: all)
# are host-endings, proxy-kills, enable-races, stale-logons, state-file-readers, snapshot-decoding,
# call-failures. --busy N runs N processes that spin without pause beside the campaign, as a
# loaded machine would (default 0).
set -eu
cd "$(dirname "$0")/.."
busy=0
if [ "${1:-}" = "--busy" ]; then
    busy="${2:-}"
    shift 2 || :
fi
case "$busy" in
    '' | *[!0-9]*) echo "usage: sh scripts/reliability.sh [--busy N] [scale] [seed] [campaign...]" >&2; exit 2 ;;
esac
scale="${1:-1}"
seed="${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"
[ $# -gt 2 ] && shift 2 || set --
sh scripts/install-dependencies.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target keldrix-reliability desktop-keeper >/dev/null
export KELDRIX_WINEPREFIX="$PWD/build/mingw/wineprefix-reliability"
wine=build/mingw/wine-run.sh
spinners=""
end_run() {
    for pid in $spinners; do kill "$pid" 2>/dev/null || :; done
    "$wine" --stop
}
trap end_run EXIT
trap 'exit 130' INT TERM
"$wine" --start
echo "load before the campaign (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg)"
i=0
while [ "$i" -lt "$busy" ]; do
    sh -c 'while :; do :; done' &
    spinners="$spinners $!"
    i=$((i + 1))
done
busy_option=""
[ "$busy" -gt 0 ] && busy_option="--busy $busy "
echo "reliability campaign: scale $scale, seed $seed, $busy busy processes (replay: sh scripts/reliability.sh $busy_option$scale $seed${*:+ $*})"
started=$(date +%s)
status=0
"$wine" build/mingw/benchmarks/keldrix-reliability.exe "$scale" "$seed" "$@" || status=$?
elapsed=$(($(date +%s) - started))
echo "seed $seed, scale $scale, $busy busy processes; elapsed $((elapsed / 60)) min $((elapsed % 60)) s; load $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
