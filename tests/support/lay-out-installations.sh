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
#   installed                  administrators only: the helper, router\sing-box.exe with two DLLs and a
#                              folder of rule sets beside it, the reference client
#   full-size                  administrators only: as installed, with 400 rule sets (the host benchmark)
#   too-large                  administrators only, but 4097 files and folders under router: more than is walked
#   injected                   administrators only: the helper with the import injector, and its core
#   planted-dlls               administrators only: the helper and its core, for the DLL planting tests
#                              (its folder's group, the user's, may write, for the tests to plant in)
#   router-of-the-user         the router folder is the user's own
#   core-writable-by-everyone  router\sing-box.exe is mode 0777: Everyone may write it
#   helper-of-the-user         the helper itself is the user's own
#   dll-of-the-user            router\wintun.dll is the user's own
#   dll-writable-by-everyone   router\wintun.dll is mode 0777
#   rules-of-the-user          the folder router\rules is the user's own
#   rules-linked               router\rules is a link to installed's (a folder only administrators may change)
#   dll-linked                 router\wintun.dll is a link to installed's
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

# What a real router folder holds beside the core: DLLs it loads, and rule sets in a folder.
dlls_and_rules() {
  for dll in wintun libcronet; do
    printf 'a DLL the core loads\n' > "$folder/$1/router/$dll.dll"
  done
  mkdir -p "$folder/$1/router/rules"
  i=0
  while [ "$i" -lt "$2" ]; do
    printf 'rule set %d\n' "$i" > "$folder/$1/router/rules/geosite-$i.srs"
    i=$((i + 1))
  done
}

rm -rf "$folder"
mkdir -p "$folder"
for name in installed full-size too-large planted-dlls router-of-the-user core-writable-by-everyone core-missing \
            core-not-executable helper-of-the-user user-copy read-only-of-the-user; do
  helper_with_core "$name"
done
dlls_and_rules installed 2
dlls_and_rules full-size 400
dlls_and_rules too-large 4093
for name in dll-of-the-user dll-writable-by-everyone rules-of-the-user rules-linked dll-linked; do
  helper_with_core "$name"
  dlls_and_rules "$name" 2
done
rm -r "$folder/rules-linked/router/rules" "$folder/dll-linked/router/wintun.dll"
ln -s ../../installed/router/rules "$folder/rules-linked/router/rules"
ln -s ../../installed/router/wintun.dll "$folder/dll-linked/router/wintun.dll"
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
chmod 0777 "$folder/core-writable-by-everyone/router/sing-box.exe" "$folder/dll-writable-by-everyone/router/wintun.dll"
chmod -R 0555 "$folder/read-only-of-the-user"

# Owners, all in this one place: what is not named here is the user's, who made it.
owns() {
  owner=$1
  shift
  for path in "$@"; do chown -R "$owner" "$folder/$path"; done
}
owns "$administrators" installed full-size too-large injected planted-dlls router-of-the-user \
                       core-writable-by-everyone helper-of-the-user dll-of-the-user dll-writable-by-everyone \
                       rules-of-the-user rules-linked dll-linked router-missing core-missing core-not-executable
owns "$user" router-of-the-user/router helper-of-the-user/KELDRIX-Network.exe dll-of-the-user/router/wintun.dll \
             rules-of-the-user/router/rules
# The DLL planting tests plant into planted-dlls as the user: its group is the user's, and may
# write there. Wine builds access lists from the owner's and everyone else's bits, not the group's,
# so to Windows programs it stays the administrators' alone.
chgrp "${user#*:}" "$folder/planted-dlls"
chmod g+w "$folder/planted-dlls"
touch "$folder/laid-out"
