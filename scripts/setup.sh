#!/bin/sh
# Installs what building, running and testing need, from Debian's archive.
# Safe to run again: when everything is present it installs nothing.
# With arguments, installs those packages instead. Without, it does nothing
# once a test command has run it ($VANTREL_SET_UP).
set -eu
[ $# -gt 0 ] || [ -z "${VANTREL_SET_UP:-}" ] || exit 0

packages="${*:-cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-qpa-plugins qt6-translations-l10n fonts-wqy-microhei
  xvfb xauth xdotool openbox wmctrl x11-xserver-utils imagemagick util-linux python3-xlib
  clang clang-format libclang-rt-14-dev libasan8 libubsan1
  desktop-file-utils dpkg-dev file acl librsvg2-bin lintian appstream strace libicu-dev}"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "Installing packages needs root, and sudo is not installed. Run, as root:" >&2
        echo "  apt-get install$missing" >&2
        echo "or run this script as root once." >&2
        exit 1
    fi
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
