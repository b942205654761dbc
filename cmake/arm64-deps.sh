#!/bin/sh
# Installs what the 64-bit Arm cross build needs: Debian's aarch64 cross compiler, the
# user-mode emulator that runs the test programs, and the arm64 builds of the libraries
# the tests link (GoogleTest, OpenSSL, GMP) with the multiarch C library they run on.
# A machine that has them all is left alone.
set -e
pkgs="g++-aarch64-linux-gnu qemu-user-static libc6:arm64 libgtest-dev:arm64 libgmock-dev:arm64 libssl-dev:arm64 libgmp-dev:arm64 libc6-dev-arm64-cross"
missing=""
for pkg in $pkgs; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
