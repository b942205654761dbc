#!/bin/sh
# Installs the Debian packages a build needs when they are missing; a machine that has
# them all is left alone. Usage: deps.sh build|bench. The lists are the files
# cmake/packages-<kind>*.txt (one package per line, # starts a comment).
set -e
dir="$(dirname "$0")"
missing=""
for list in "$dir"/packages-"$1"*.txt; do
  [ -f "$list" ] || continue
  for pkg in $(sed 's/#.*//' "$list"); do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
  done
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
