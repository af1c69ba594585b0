#!/bin/sh
# Installs what is missing, builds the helper and its tests, and runs every test under Wine, in
# a network namespace that holds only loopback, so that no test depends on this machine's network.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-dependencies.sh
. tests/support/user-namespaces.sh
require_root_or_own_namespaces
cmake --preset mingw
cmake --build --preset mingw
# A wineserver left running from outside the namespace would serve the tests from there.
build/mingw/wine-run.sh --stop
trap 'build/mingw/wine-run.sh --stop' EXIT
sh scripts/in-loopback-namespace.sh ctest --preset mingw "$@"
