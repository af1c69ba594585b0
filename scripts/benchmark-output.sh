#!/bin/sh
# Builds the helper and runs the output benchmark under Wine: the stand-in core writing flat out
# and paced at 512 KiB/s for [seconds] each (default 3), into a pipe drained without pause (the
# limit) and under the host; throughput, longest write, their ratios, the host's CPU and memory.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw >/dev/null
trap 'build/mingw/wine-run.sh --stop' EXIT
build/mingw/wine-run.sh --start
build/mingw/wine-run.sh build/mingw/benchmarks/keldrix-output-benchmark.exe "$@"
