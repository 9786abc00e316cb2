#!/bin/bash
# The Windows installer and program under Wine, as an operator meets them:
# windows.sh SETUP.EXE. A silent install, the program started from its
# Start-menu shortcut on a virtual screen with Qt's windows platform, a
# keyword added and saved with real input, then a silent uninstall. Runs in
# the Wine prefix of the build's tests, whose C: drive is a folder of the
# build: the machine's own /tarnwick is never touched.
. "$(dirname "$0")/lib.sh"
mkdir -p "$OUT"
# Wine is slow to show its first window.
WAIT_TENTHS=300

[ -d "${WINEPREFIX:-}/drive_c" ] || skip "no Wine prefix in \$WINEPREFIX"
if [ -z "${E2E_SCREEN:-}" ]; then
    E2E_SCREEN=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
export LC_ALL=C.UTF-8
# The installed program must find everything it loads in its own folder.
unset WINEPATH
openbox >/dev/null 2>&1 &
until wmctrl -m >/dev/null 2>&1; do sleep 0.1; done

C="$WINEPREFIX/drive_c"
PROGRAM="$C/Program Files/Vantrel Filter"
LIST="$C/ProgramData/Vantrel Filter/inject.txt"
PUBLISHED="$C/tarnwick/inject.txt"
SHORTCUT="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$CAPTION.lnk"
DEFAULTS="$(dirname "$0")/../../data/inject.txt"

# Install. A CJK font that the program's fallbacks find, as on a Chinese Windows.
for face in SimSun "Microsoft YaHei"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null
done
rm -rf "$C/tarnwick" "$C/ProgramData/Vantrel Filter" "$PROGRAM"
status=0
wine "$1" /S || status=$?
wineserver -w
if [ ! -e "$PROGRAM/inject.txt" ] && [ ! -L "$PROGRAM/inject.txt" ]; then
    # Wine 8 makes no symbolic links: CreateSymbolicLinkW reports success and
    # makes nothing. The installer must notice and say so. A link Wine could
    # follow (a Unix one) it shows as a plain file, which the first save would
    # replace by a file of its own; so the list goes beside the program here.
    [ "$status" = 3 ] || fail "the link beside the program is missing, and the installer exited with $status, not 3"
    cp "$LIST" "$PROGRAM/inject.txt"
    LIST="$PROGRAM/inject.txt"
else
    [ "$status" = 0 ] || fail "the installer exited with $status"
fi
for f in vantrel-filter.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll uninstall.exe; do
    [ -f "$PROGRAM/$f" ] || fail "the installer put no $f in $PROGRAM"
done
[ ! -e "$PROGRAM/platforms/qoffscreen.dll" ] || fail "the installer ships the tests' offscreen platform"
cmp -s "$DEFAULTS" "$LIST" || fail "the list in ProgramData is not the twelve defaults"
[ -d "$C/tarnwick" ] || fail "the installer made no C:\\tarnwick"
[ -f "$SHORTCUT" ] || fail "no Start-menu shortcut"

# The program from its shortcut; add "beta" and save with Yes.
(cd "$C" && wine start /wait /unix "$SHORTCUT"; echo $? >"$OUT/windows-status") &
MAIN=$(window "$CAPTION")
sleep 1
import -window root "$OUT/windows-main.png"
click "$MAIN" 360 44
DIALOG=$(window 添加URL过滤字符)
xdotool windowactivate --sync "$DIALOG" type --delay 100 "beta"
import -window root "$OUT/windows-add.png"
keys "$DIALOG" alt+o
click "$MAIN" 360 188
BOX=$(window "$CAPTION" "$MAIN")
import -window root "$OUT/windows-save.png"
keys "$BOX" Return
for _ in $(seq 100); do cmp -s "$LIST" "$PUBLISHED" 2>/dev/null && break; sleep 0.1; done
{ cat "$DEFAULTS"; gbk beta; } | cmp -s - "$LIST" || fail "the list holds $(od -c "$LIST" | tail -n 3)"
cmp -s "$LIST" "$PUBLISHED" || fail "the published copy differs from the list"
wmctrl -i -c "$MAIN"
for _ in $(seq 100); do [ -s "$OUT/windows-status" ] && break; sleep 0.1; done
[ "$(cat "$OUT/windows-status" 2>/dev/null)" = 0 ] || fail "the program did not end with status 0"

# Uninstall: the program goes, the list and C:\tarnwick stay.
wine "$PROGRAM/uninstall.exe" /S && wineserver -w
for _ in $(seq 100); do [ ! -e "$PROGRAM/vantrel-filter.exe" ] && break; sleep 0.1; done
# Only a list that is a plain file beside the program stays with it.
if [ "$LIST" = "$PROGRAM/inject.txt" ]; then
    [ "$(ls -A "$PROGRAM")" = inject.txt ] || fail "the uninstaller left $(ls -A "$PROGRAM") beside the list"
    cmp -s "$DEFAULTS" "$C/ProgramData/Vantrel Filter/inject.txt" || fail "the list in ProgramData was changed"
else
    [ ! -e "$PROGRAM" ] || fail "the uninstaller left $(ls -A "$PROGRAM")"
fi
[ ! -f "$SHORTCUT" ] || fail "the uninstaller left the shortcut"
{ cat "$DEFAULTS"; gbk beta; } | cmp -s - "$LIST" || fail "the uninstaller changed the list"
cmp -s "$LIST" "$PUBLISHED" || fail "the uninstaller changed the published copy"
echo "windows: installed, saved from the shortcut, uninstalled keeping the list"
