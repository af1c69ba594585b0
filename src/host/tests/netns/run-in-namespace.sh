#!/bin/sh
# Runs the adapter tests inside a network namespace of their own, with interfaces they
# create there and a Wine prefix whose wineserver and services start inside it (Wine
# lists the adapters that its services see). The machine's own interfaces are never
# touched. Wine runs as the user who ran this script, root or not (an ordinary user makes the
# namespace through a user namespace of its own: tests/support/user-namespaces.sh). Needs
# unshare and ip (iproute2); without them it fails, never skips.
#
#   run-in-namespace.sh <wine prefix> <test program.exe> [test arguments...]
set -eu

fail() { echo "adapter tests: $*" >&2; exit 1; }

prefix="$1"
program="$2"
shift 2

if [ "${KELDRIX_IN_NAMESPACE:-}" != 1 ]; then
  command -v unshare >/dev/null || fail "unshare (util-linux) is missing"
  command -v ip >/dev/null || fail "ip (iproute2) is missing"
  . "$(dirname "$0")/../../../../tests/support/user-namespaces.sh"
  status=0
  export KELDRIX_IN_NAMESPACE=1
  in_own_network_namespace sh "$0" "$prefix" "$program" "$@" || status=$?
  # Should the inner run have been cut short, its wineserver would keep the namespace alive.
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  exit $status
fi

# Inside the namespace from here on, as its root: nothing but lo exists yet. Wine runs as the
# user ($KELDRIX_AS_USER).
signals=$(mktemp -d /tmp/keldrix-netns.XXXXXX)
watcher=""
cleanup() {
  if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; fi
  WINEPREFIX="$prefix" $KELDRIX_AS_USER /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$signals"
}
trap cleanup EXIT INT TERM

pair() { ip link add "$1" type veth peer name "$2"; }
up() { for name in "$@"; do ip link set "$name" up; done; }

ip link set lo up
pair kx-up kx-up-peer && up kx-up kx-up-peer
pair kx-down kx-down-peer
pair KxCase kx-case-peer && up KxCase kx-case-peer
pair kx-late kx-late-peer
# Enough adapters that a 16000-byte answer cannot hold the list.
for i in $(seq 1 30); do pair "kx-many-$i" "kx-many-peer-$i"; done
up kx-many-30 kx-many-peer-30
ip link show kx-up >/dev/null || fail "the test interfaces were not created"

# The tests ask for kx-late to come up by creating the file "up-kx-late".
(
  while [ ! -e "$signals/up-kx-late" ]; do sleep 0.05; done
  up kx-late kx-late-peer
  touch "$signals/kx-late-is-up"
) &
watcher=$!

export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
$KELDRIX_AS_USER /usr/lib/wine/wine64 wineboot.exe --init >/dev/null 2>&1 || fail "cannot make the Wine prefix $prefix"
KELDRIX_NETNS_SIGNALS="Z:$(echo "$signals" | tr / '\\')" $KELDRIX_AS_USER /usr/lib/wine/wine64 "$program" "$@"
