#!/bin/sh
# Installs what building and testing the helper needs on Debian 12, if it is missing:
# the MinGW-w64 cross compiler, Wine, GoogleTest's sources, CMake and Ninja; iproute2 and uidmap
# for the tests' namespaces; Clang and LLD for the second compiler's build; osslsigncode, OpenSSL
# and zip for the release package and its signing test. Only installing needs root: an ordinary
# user is asked through sudo, or told the command to run as root.
set -eu
packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest cmake ninja-build iproute2
          uidmap clang lld osslsigncode openssl zip"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
install="apt-get install -y -qq --no-install-recommends$missing"
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $install >/dev/null
elif command -v sudo >/dev/null && sudo apt-get update -qq && sudo env DEBIAN_FRONTEND=noninteractive $install >/dev/null; then
  :
else
  echo "Installing packages needs root. As root, run:" >&2
  echo "    apt-get update && apt-get install -y --no-install-recommends$missing" >&2
  exit 1
fi
