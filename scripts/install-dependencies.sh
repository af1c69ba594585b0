#!/bin/sh
# Installs what building and testing the helper needs on Debian 12, if it is missing:
# the MinGW-w64 cross compiler, Wine, GoogleTest's sources, CMake and Ninja; Clang and LLD for
# the second compiler's build; osslsigncode, OpenSSL and zip for the release package and its
# signing test.
set -eu
packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest cmake ninja-build iproute2
          clang lld osslsigncode openssl zip"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
