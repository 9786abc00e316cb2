#!/bin/bash
# The Windows installer and program under Wine, as an operator and an
# administrator meet them: windows.sh SETUP.EXE. A silent install and what
# Programs and Features shows of it, the program started from its Start-menu
# shortcut on a virtual screen with Qt's windows platform, a keyword added and
# saved with real input; then an upgrade over it, the same installer once
# more, an uninstall and a new install, none of which loses the list. Runs in
# the Wine prefix of the build's tests, whose C: drive is a folder of the
# build: the machine's own /tarnwick is never touched.
. "$(dirname "$0")/lib.sh"
# Wine is slow to show its first window.
WINDOW_WAIT=30

[ -d "$C" ] || skip "no Wine prefix in \$WINEPREFIX"
if [ -z "${E2E_SCREEN:-}" ]; then
    E2E_SCREEN=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
# The installed program must find everything it loads in its own folder.
unset WINEPATH
desktop
# A failed run leaves no Wine program behind to hold up the next scenario.
trap 'wineserver -k 2>/dev/null || true' EXIT

SETUP=$1 PROGRAM="$C/Program Files/Vantrel Filter" STAGE="$(dirname "$1")/stage" PUBLISHED="$C/tarnwick/inject.txt"
SHORTCUT="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$CAPTION.lnk" LIST="$DATA/inject.txt"
# value KEY NAME: a registry value as `reg query` shows it.
value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
# install: the installer, silently. Wine 8 makes no symbolic links
# (CreateSymbolicLinkW reports success and makes nothing): the installer must
# notice and say so with exit status 3; otherwise it must succeed.
install() {
    setup
    [ "$status" = 3 ] || [ -e "$PROGRAM/inject.txt" ] || fail "the link beside the program is missing, and the installer exited with $status, not 3"
    [ "$status" = 3 ] || [ "$status" = 0 ] || fail "the installer exited with $status"
}

# Install. A CJK font that the program's fallbacks find, as on a Chinese Windows.
for face in SimSun "Microsoft YaHei"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null
done
rm -rf "$C/tarnwick" "$DATA" "$PROGRAM"
install
if [ "$status" = 3 ]; then
    # A link Wine could follow (a Unix one) it shows as a plain file, which
    # the first save would replace by a file of its own; so the list goes
    # beside the program here.
    cp "$LIST" "$PROGRAM/inject.txt"
    LIST="$PROGRAM/inject.txt"
fi
# The program's libraries, its shortcut and C:\tarnwick: the save below proves them.
[ ! -e "$PROGRAM/platforms/qoffscreen.dll" ] || fail "the installer ships the tests' offscreen platform"
same "$LIST" "${DEFAULTS[@]}"
# Programs and Features: the program's icon, version and size; the Event
# Viewer: the program's words for its events.
while IFS='|' read -r key name expected; do
    [ "$(value "$key" "$name")" = "$expected" ] || fail "$name is \"$(value "$key" "$name")\", not \"$expected\""
done <<EOF
$KEY|DisplayIcon|C:\Program Files\Vantrel Filter\vantrel-filter.exe,0
$KEY|DisplayVersion|$(basename "$1" | sed 's/^vantrel-filter-\(.*\)-setup\.exe$/\1/')
$EVENTS|EventMessageFile|C:\Program Files\Vantrel Filter\vantrel-filter.exe
EOF
size=$(($(value "$KEY" EstimatedSize))) used=$(du -sk --apparent-size "$PROGRAM" | cut -f1)
[ "$size" -gt $((used * 9 / 10)) ] && [ "$size" -le "$used" ] || fail "EstimatedSize is $size KB for $used KB installed"

# The program from its shortcut; add "beta" and save with Yes. Wine keeps no
# event log, but traces each event: its type, id and user SID, and its text.
(cd "$C" && started env WINEDEBUG=-all,fixme+advapi,trace+eventlog wine start /wait /unix "$SHORTCUT")
MAIN=$(window "$CAPTION")
add beta alt+o
SHOT=windows-save save Return
same "$PUBLISHED" "${DEFAULTS[@]}" beta
same "$LIST" "${DEFAULTS[@]}" beta
close_window "$MAIN"
ended 0
grep -qE 'ReportEventW \([^,]*,0x0004,0x0000,0x00000001,0*[1-9A-F][0-9A-F]*,' "$OUT/stderr" &&
    grep -q 'ReportEventW L"user=.* result=saved ' "$OUT/stderr" ||
    fail "the save left no information event 1 with the user's SID: $(grep ReportEventW "$OUT/stderr")"

EDITED=$(cat "$LIST")

# An upgrade over an older copy: the program, its shortcut and its entry are
# replaced, the list is kept. Here the list goes back where the link would
# have led the save.
[ "$LIST" = "$DATA/inject.txt" ] || mv "$LIST" "$DATA/inject.txt"
LIST="$DATA/inject.txt"
echo old >"$PROGRAM/vantrel-filter.exe"
echo old >"$SHORTCUT"
wine reg add "$KEY" /v DisplayVersion /d 1.0.0 /f >/dev/null
install
cmp -s "$STAGE/vantrel-filter.exe" "$PROGRAM/vantrel-filter.exe" || fail "the upgrade did not replace the program"
[ "$(cat "$SHORTCUT")" != old ] || fail "the upgrade did not replace the shortcut"
[ "$(value "$KEY" DisplayVersion)" != 1.0.0 ] || fail "the upgrade did not replace the version in Programs and Features"
[ "$(cat "$LIST")" = "$EDITED" ] || fail "the upgrade changed the list"

# The same installer again, as a repair: nothing changes, nothing is lost.
before=$(installed)
install
[ "$(installed)" = "$before" ] && [ -f "$SHORTCUT" ] || fail "installing again changed $(diff <(echo "$before") <(installed))"

# Uninstall: the program goes, the list and C:\tarnwick stay, and so does a
# list beside the program that is a plain file, not the link.
[ "$status" = 0 ] || cp "$LIST" "$PROGRAM/inject.txt"
wine "$PROGRAM/uninstall.exe" /S && wineserver -w
await test ! -e "$PROGRAM/vantrel-filter.exe" || fail "the uninstaller left the program"
[ "$(ls -A "$PROGRAM" 2>/dev/null)" = "$([ "$status" = 0 ] || echo inject.txt)" ] ||
    fail "the uninstaller left $(ls -A "$PROGRAM")"
rm -rf "$PROGRAM"
[ ! -f "$SHORTCUT" ] || fail "the uninstaller left the shortcut"
! wine reg query "$KEY" >/dev/null 2>&1 || fail "the uninstaller left $KEY"
! wine reg query "$EVENTS" >/dev/null 2>&1 || fail "the uninstaller left $EVENTS"
[ "$(cat "$LIST")" = "$EDITED" ] || fail "the uninstaller changed the list"
cmp -s "$LIST" "$PUBLISHED" || fail "the uninstaller changed the published copy"

# Installed again, it takes the kept list, not the defaults.
install
[ "$(cat "$LIST")" = "$EDITED" ] || fail "installing again replaced the kept list"
echo "windows: installed, saved from the shortcut, upgraded, repaired, uninstalled and installed again keeping the list"
