#!/bin/sh
# Installs the Debian packages a build needs when they are missing; a machine that has
# them all is left alone. Usage: deps.sh build|bench
set -e
list="$(dirname "$0")/packages-$1.txt"
[ -f "$list" ] || exit 0
missing=""
for pkg in $(grep -v '^#' "$list"); do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
