#!/bin/sh
# Builds the helper and runs the host benchmark under Wine: readiness detection latency
# over [runs] host starts (default 25) and the host's CPU time per minute of supervision,
# sampled over [seconds] (default 60).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw >/dev/null
trap 'build/mingw/wine-run.sh --stop' EXIT
build/mingw/wine-run.sh --start
build/mingw/wine-run.sh build/mingw/benchmarks/keldrix-host-benchmark.exe "$@"
