#!/bin/sh
# Installs what building, running and testing need, from Debian's archive.
# Safe to run again: when everything is present it installs nothing.
set -eu

packages="cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-qpa-plugins qt6-translations-l10n fonts-wqy-microhei
  xvfb xauth xdotool openbox wmctrl imagemagick util-linux
  clang libclang-rt-14-dev libasan8 libubsan1
  desktop-file-utils dpkg-dev file acl"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
