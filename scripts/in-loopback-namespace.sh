#!/bin/sh
# Runs a command in a network namespace of its own that holds only loopback, brought up here.
# Wine's adapter list then shows "lo" up whatever this machine's own interfaces, addresses and
# routes are: on one CI machine Wine reported no "lo" up, although loopback connections worked,
# and every connection waited for its adapter until it timed out. Needs root, unshare
# (util-linux) and ip (iproute2).
#
#   in-loopback-namespace.sh <command> [arguments...]
set -eu
exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' in-loopback-namespace "$@"
