# Sourced by the scripts that do what only root may do on the machine: give the laid-out
# installations another owner than the user, and make network namespaces with interfaces in them.
# Root does both directly. An ordinary user does both as root of a user namespace of its own, where
# it is root over its own files and processes and nothing else:
#   - a network namespace needs only user namespaces that an ordinary user may make (Debian 12
#     allows them);
#   - other owners need the user's subordinate ids as well (/etc/subuid and /etc/subgid, filled in
#     by adduser; newuidmap and newgidmap, from the package uidmap), mapped to every id but root's.
# Inside a network namespace Wine runs as the user again, with the uid it has outside: as root
# there (uid 0) it would look for its wineserver where root's is (/tmp/.wine-0 in Wine's own
# builds), not where the user's Wine commands outside the namespace find it.

# The user's subordinate ids must reach 65534 (nobody), the other owner of the installations.
keldrix_subordinate_ids_needed=65536

# Runs "$@" as root of a network namespace of its own, holding only lo (still down). There,
# $KELDRIX_AS_USER <command> runs a command as the user who entered it.
in_own_network_namespace() {
  if [ "$(id -u)" -eq 0 ]; then
    KELDRIX_AS_USER="" unshare --net -- "$@"
  else
    require_user_namespaces
    KELDRIX_AS_USER="unshare --user --map-user=$(id -u) --map-group=$(id -g) --" \
      unshare --user --map-root-user --net -- "$@"
  fi
}

# Runs "$@" where files may be given any owner: as root, or as root of a user namespace in which
# the user is root and its subordinate ids are every other id up to 65535.
with_other_owners() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    require_subordinate_ids
    require_user_namespaces
    unshare --user --map-root-user --map-auto -- "$@"
  fi
}

# Stops at once, saying what to do, where an ordinary user could not do the above: before a build.
require_root_or_own_namespaces() {
  [ "$(id -u)" -eq 0 ] && return
  require_subordinate_ids
  require_user_namespaces
}

require_user_namespaces() {
  unshare --user --map-root-user true 2>/dev/null && return
  {
    echo "This machine does not let $(id -un) make a user namespace, which the tests need without root"
    echo "(for their network namespaces, and to give the installations another owner). As root:"
    if [ "$(cat /proc/sys/kernel/unprivileged_userns_clone 2>/dev/null)" = 0 ]; then
      echo "    sysctl -w kernel.unprivileged_userns_clone=1"
      echo "and keep it with a line 'kernel.unprivileged_userns_clone = 1' in /etc/sysctl.d/keldrix.conf."
    elif [ "$(cat /proc/sys/user/max_user_namespaces 2>/dev/null)" = 0 ]; then
      echo "    sysctl -w user.max_user_namespaces=15000"
      echo "and keep it with a line 'user.max_user_namespaces = 15000' in /etc/sysctl.d/keldrix.conf."
    elif [ "$(cat /proc/sys/kernel/apparmor_restrict_unprivileged_userns 2>/dev/null)" = 1 ]; then
      echo "    sysctl -w kernel.apparmor_restrict_unprivileged_userns=0"
      echo "(AppArmor refuses user namespaces to ordinary programs here)."
    else
      echo "    run the tests as root: this machine's settings allow user namespaces, so something around"
      echo "    it refuses them (a container's system call filter, for instance: start the container"
      echo "    with user namespaces allowed)."
    fi
  } >&2
  exit 1
}

require_subordinate_ids() {
  if ! command -v newuidmap >/dev/null || ! command -v newgidmap >/dev/null; then
    echo "newuidmap and newgidmap are missing; as root: apt-get install uidmap" >&2
    exit 1
  fi
  for kind in uid gid; do
    [ "$(subordinate_id_count "/etc/sub$kind" "$(id -un)" "$(id -u)")" -ge "$keldrix_subordinate_ids_needed" ] &&
      continue
    start=$(free_subordinate_ids_start /etc/subuid /etc/subgid)
    end=$((start + keldrix_subordinate_ids_needed - 1))
    {
      echo "$(id -un) has fewer than $keldrix_subordinate_ids_needed subordinate ${kind}s (/etc/sub$kind), which giving the"
      echo "installations another owner needs (Debian's adduser gives each user it adds a range). To"
      echo "give $(id -un) a range that no one else has, as root:"
      echo "    usermod --add-subuids $start-$end --add-subgids $start-$end $(id -un)"
    } >&2
    exit 1
  done
}

# subordinate_id_count <file> <user name> <uid>: how many ids the user's first range in the file
# holds (the range that unshare maps).
subordinate_id_count() {
  [ -r "$1" ] || { echo 0; return; }
  awk -F: -v name="$2" -v uid="$3" \
    '($1 == name || $1 == uid) && !found { print $3 + 0; found = 1 } END { if (!found) print 0 }' "$1"
}

# free_subordinate_ids_start <file>...: the first id past every range the files give anyone, at
# least 100000, so that a range starting there is no one else's.
free_subordinate_ids_start() {
  cat "$@" 2>/dev/null | awk -F: 'BEGIN { free = 100000 } $2 + $3 > free { free = $2 + $3 } END { print free }'
}
