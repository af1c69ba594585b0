#!/bin/sh
# Installs what is missing, builds the helper and its tests, and runs every test under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
cmake --preset mingw
cmake --build --preset mingw
trap 'build/mingw/wine-run.sh --stop' EXIT
ctest --preset mingw "$@"
