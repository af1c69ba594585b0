#!/bin/sh
# What tests/support/user-namespaces.sh decides: which subordinate range of the user unshare maps,
# where a range that no one else has starts (the command it tells root to run), and that inside a
# network namespace of its own, Wine's commands run as the user who entered, never as its root.
set -eu
. "$(dirname "$0")/user-namespaces.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/keldrix-user-namespaces.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*"; exit 1; }
expect() { [ "$2" = "$3" ] || fail "$1: expected '$3', got '$2'"; }

printf 'alice:100000:65536\n1002:165536:65536\nbob:231072:1000\nalice:300000:65536\n' > "$work/subuid"
printf 'alice:100000:65536\neve:400000:65536\n' > "$work/subgid"
expect "a user's first range, by name" "$(subordinate_id_count "$work/subuid" alice 1001)" 65536
expect "a range given by uid" "$(subordinate_id_count "$work/subuid" carol 1002)" 65536
expect "a range too small" "$(subordinate_id_count "$work/subuid" bob 1003)" 1000
expect "no range" "$(subordinate_id_count "$work/subuid" dave 1004)" 0
expect "no file" "$(subordinate_id_count "$work/none" alice 1001)" 0
expect "the first free id past every range in both files" "$(free_subordinate_ids_start "$work/subuid" "$work/subgid")" 465536
: > "$work/empty"
expect "the first free id where no one has a range" "$(free_subordinate_ids_start "$work/empty" "$work/none")" 100000

inside=$(in_own_network_namespace sh -c 'ip -o link show | wc -l; $KELDRIX_AS_USER id -u; $KELDRIX_AS_USER id -g')
expect "links, uid and gid in a network namespace of its own" "$(echo $inside)" "1 $(id -u) $(id -g)"
echo "user namespaces: as expected"
