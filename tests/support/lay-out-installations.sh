#!/bin/sh
# Lays out the built helper the way it is installed, for every test, benchmark, the reliability
# campaign and the demo, and beside it the broken installations that the host must refuse. The
# host runs router\sing-box.exe elevated only from an installation that the user cannot change.
#
#   lay-out-installations.sh <folder> <helper> <core> <reference client> <injected helper>
#
# Under Wine, files of the Unix user that runs Wine are the Windows user's own; files of another
# Unix user, mode 0755, read as Anonymous Logon's with Everyone allowed to read and run, the
# shape of an installation under Program Files. Giving files another owner needs root: an ordinary
# user lays them out as root of a user namespace of its own, where its subordinate ids are the
# other owners (tests/support/user-namespaces.sh). Either way the user is root while this runs,
# and nobody (65534) stands for the administrators.
#
#   installed                  administrators only: the helper, router\sing-box.exe, the reference client
#   injected                   administrators only: the helper with the import injector, and its core
#   planted-dlls               administrators only: the helper and its core, for the DLL planting tests
#                              (its folder's group, the user's, may write, for the tests to plant in)
#   router-of-the-user         the router folder is the user's own
#   core-writable-by-everyone  router\sing-box.exe is mode 0777: Everyone may write it
#   router-missing             no router folder
#   core-missing               a router folder without sing-box.exe
#   core-not-executable        router\sing-box.exe is not a program
#   user-copy                  the helper and its core in a folder of the user's own
#   read-only-of-the-user      the same, mode 0555: the user may only read it, but owns it
#   links                      the user's folder: to-installation -> installed, to-user-copy -> user-copy
set -eu
if [ "$(id -u)" -ne 0 ]; then
  . "$(dirname "$0")/user-namespaces.sh"
  with_other_owners sh "$0" "$@"
  exit
fi
folder=$1 helper=$2 core=$3 client=$4 injected=$5
user=0:0 administrators=65534:65534

# One installation: the helper, and the core unless told otherwise.
helper_with_core() {
  mkdir -p "$folder/$1/router"
  cp "$helper" "$folder/$1/KELDRIX-Network.exe"
  cp "$core" "$folder/$1/router/sing-box.exe"
}

rm -rf "$folder"
mkdir -p "$folder"
for name in installed planted-dlls router-of-the-user core-writable-by-everyone core-missing core-not-executable \
            user-copy read-only-of-the-user; do
  helper_with_core "$name"
done
cp "$client" "$folder/installed/keldrix-reference-client.exe"
helper_with_core injected
cp "$injected" "$folder/injected/KELDRIX-Network.exe"
rm "$folder/core-missing/router/sing-box.exe"
printf 'this is no program\n' > "$folder/core-not-executable/router/sing-box.exe"
mkdir -p "$folder/router-missing"
cp "$helper" "$folder/router-missing/KELDRIX-Network.exe"
mkdir -p "$folder/links"
ln -s ../installed "$folder/links/to-installation"
ln -s ../user-copy "$folder/links/to-user-copy"

chmod -R 0755 "$folder"
chmod 0777 "$folder/core-writable-by-everyone/router/sing-box.exe"
chmod -R 0555 "$folder/read-only-of-the-user"

# Owners, all in this one place: what is not named here is the user's, who made it.
owns() {
  owner=$1
  shift
  for path in "$@"; do chown -R "$owner" "$folder/$path"; done
}
owns "$administrators" installed injected planted-dlls router-of-the-user core-writable-by-everyone \
                       router-missing core-missing core-not-executable
owns "$user" router-of-the-user/router
# The DLL planting tests plant into planted-dlls as the user: its group is the user's, and may
# write there. Wine builds access lists from the owner's and everyone else's bits, not the group's,
# so to Windows programs it stays the administrators' alone.
chgrp "${user#*:}" "$folder/planted-dlls"
chmod g+w "$folder/planted-dlls"
touch "$folder/laid-out"
