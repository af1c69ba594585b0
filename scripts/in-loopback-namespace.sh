#!/bin/sh
# Runs a command in a network namespace of its own that holds only loopback, brought up here,
# so that what Wine reports about adapters does not depend on this machine's own interfaces,
# addresses and routes. The command runs as the user who ran this, root or not: an ordinary user
# is root of the namespace through a user namespace of its own (tests/support/user-namespaces.sh).
# Needs unshare (util-linux) and ip (iproute2).
#
#   in-loopback-namespace.sh <command> [arguments...]
set -eu
. "$(dirname "$0")/../tests/support/user-namespaces.sh"
in_own_network_namespace sh -c 'ip link set lo up && exec $KELDRIX_AS_USER "$@"' in-loopback-namespace "$@"
