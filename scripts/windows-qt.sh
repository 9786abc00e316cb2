#!/bin/sh
# Makes Qt for Windows (mingw-w64) from Debian's own qt6-base source, the
# same version as the host's Qt, whose moc, rcc and uic the cross build uses.
# Installs it into a cache folder outside the repository ($VANTREL_WINQT, by
# default ~/.cache/vantrel-filter/qt-VERSION-mingw) and records a stamp of the
# version and options; with that stamp in place a second run does nothing.
# When the project's shared folder beside the clone holds a ready-made copy
# (../shared/windows-qt/qt-VERSION-mingw.tar.xz) with the same stamp, unpacks
# it (seconds); otherwise says why not and builds (about an hour on two
# cores). Prints the cache folder on its last line.
set -eu
cd "$(dirname "$0")/.."
# The host's Qt tools first: the cross build runs them, and its version is
# the one to build.
scripts/setup.sh
. scripts/windows-env.sh

options="shared;no-icu;windows-gl-guard;optimize_size;tabletevent=OFF;sql,network,dbus,printsupport,opengl,xml,concurrent=OFF"
wanted="$QT_DEB_VERSION $options"
stamp="$VANTREL_WINQT/vantrel-stamp"
if [ -f "$stamp" ]; then
    [ "$(cat "$stamp")" != "$wanted" ] || { echo "$VANTREL_WINQT"; exit 0; }
    echo "Windows Qt: $VANTREL_WINQT was made for \"$(cat "$stamp")\", not \"$wanted\"; making it again."
fi

# The toolchain, and xz for the ready-made copy.
scripts/windows-setup.sh

# The ready-made copy: its stamp read on its own, then the whole unpacked
# beside the cache and renamed into place, so that an interrupted unpack
# never leaves a cache with a stamp.
archive="../shared/windows-qt/$WINQT_NAME.tar.xz"
if [ -f "$archive" ]; then
    made=$(tar -xJOf "$archive" "$WINQT_NAME/vantrel-stamp" 2>/dev/null) || made="(no stamp that tar can read)"
    if [ "$made" = "$wanted" ]; then
        echo "Windows Qt: unpacking $archive into $VANTREL_WINQT."
        mkdir -p "$(dirname "$VANTREL_WINQT")"
        unpack=$(mktemp -d "$(dirname "$VANTREL_WINQT")/.$WINQT_NAME.XXXXXX")
        trap 'rm -rf "$unpack"' EXIT
        trap 'exit 1' INT TERM HUP
        tar -xJf "$archive" -C "$unpack" --no-same-owner "$WINQT_NAME"
        rm -rf "$VANTREL_WINQT"
        mv -T "$unpack/$WINQT_NAME" "$VANTREL_WINQT"
        echo "$VANTREL_WINQT"
        exit 0
    fi
    echo "Windows Qt: $archive was made for \"$made\", not \"$wanted\": building it here instead (about an hour on two cores)."
else
    echo "Windows Qt: no ready-made copy at $archive: building it here (about an hour on two cores)."
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# apt-get source needs a deb-src entry for the machine's own archive and suite.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed -n 's/^Types: deb$/Types: deb-src/p; /^URIs:/p; /^Suites:/p; /^Components:/p; /^Signed-By:/p' \
        /etc/apt/sources.list.d/debian.sources | awk '/^Types:/ && NR>1 {print ""} {print}' \
        | $SUDO tee /etc/apt/sources.list.d/vantrel-deb-src.sources >/dev/null
    $SUDO apt-get update -qq
fi

work="${VANTREL_WINQT_WORK:-$HOME/.cache/vantrel-filter/qt-source}"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source -qq --download-only "qt6-base=$QT_DEB_VERSION" >/dev/null \
    && dpkg-source --no-check -x ./*.dsc src >/dev/null)
# Qt 6.4.2's windows platform plugin reaches for the dynamic OpenGL loader
# even when OpenGL is off, and then does not compile.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$work/src/src/plugins/platforms/windows/qwindowswindow.cpp"

cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$VANTREL_WINQT" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_optimize_size=ON \
    -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_opengl=OFF -DFEATURE_xml=OFF \
    -DFEATURE_concurrent=OFF
cmake --build "$work/build"
rm -rf "$VANTREL_WINQT"
cmake --install "$work/build" >/dev/null
echo "$wanted" > "$stamp"
rm -rf "$work"
echo "$VANTREL_WINQT"
