#!/bin/sh
# Runs a command in a network namespace of its own that holds only loopback, brought up here,
# so that what Wine reports about adapters does not depend on this machine's own interfaces,
# addresses and routes. Needs root, unshare (util-linux) and ip (iproute2).
#
#   in-loopback-namespace.sh <command> [arguments...]
set -eu
exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' in-loopback-namespace "$@"
