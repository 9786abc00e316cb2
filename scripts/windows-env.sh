# Sourced by the Windows scripts: where the Windows Qt lives and which version
# it is (the host's own, whose tools the cross build runs).
QT_DEB_VERSION="$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo 6.4.2+dfsg-10)"
WINQT_NAME="qt-${QT_DEB_VERSION%%+*}-mingw"
VANTREL_WINQT="${VANTREL_WINQT:-$HOME/.cache/vantrel-filter/$WINQT_NAME}"
export VANTREL_WINQT
