# Shared by the end-to-end scenarios. A scenario on Linux sources this file and
# calls enter "$@" first: that runs the scenario again in a private root (an overlay
# over "/" in a mount namespace of its own, so nothing it writes outlives it,
# the machine's /tarnwick and /dev/log included) on a virtual screen with a
# window manager.
set -eu${E2E_TRACE:+x}
CAPTION="Vantrel 通用防注入过滤器"
export OUT=${E2E_OUT:-/tmp/vantrel-e2e}
mkdir -p "$OUT"

fail() { echo "FAIL: $*" >&2; timeout 20 import -window root "$OUT/failure.png" 2>/dev/null || true; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

# Every wait has a bound: a window that never comes, or a hung xdotool, Wine
# program or installer, fails the scenario at once with a screenshot rather
# than holding its test up until CTest's timeout.
# within SECONDS COMMAND...: runs the command, failing when it has not ended by
# then, and saying so on the scenario's own stderr (fd 9) even where the
# command's errors are silenced.
exec 9>&2
within() {
    local status=0
    timeout "$1" "${@:2}" || status=$?
    [ "$status" != 124 ] || fail "$2 ${3:-} has not ended after $1 s" 2>&9
    return "$status"
}
xdotool() { within 20 xdotool "$@"; }
wmctrl() { within 20 wmctrl "$@"; }
wine() { within 120 wine "$@"; }
wineserver() { within 60 wineserver "$@"; }
# await COMMAND...: waits until the command succeeds, $AWAIT seconds (10 unless set) at the most.
await() {
    local end=$((SECONDS + ${AWAIT:-10}))
    until "$@" 2>/dev/null; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}

enter() {
    if [ -z "${E2E_ROOT:-}" ]; then
        [ "$(id -u)" -eq 0 ] || skip "needs root, for a private root"
        E2E_ROOT=$(mktemp -d /tmp/vantrel-root.XXXXXX)
        export E2E_ROOT
        mkdir "$E2E_ROOT/upper" "$E2E_ROOT/work" "$E2E_ROOT/root" "$E2E_ROOT/dev" "$E2E_ROOT/dev-work"
        trap 'rm -rf "$E2E_ROOT"' EXIT
        unshare --mount --propagation private sh -c '
            r=$E2E_ROOT
            mount -t overlay overlay -o "lowerdir=/,upperdir=$r/upper,workdir=$r/work" "$r/root" || exit 77
            # /dev too, so that the scenario may put a system log at /dev/log without touching the machine'"'"'s.
            mount -t overlay overlay -o "lowerdir=/dev,upperdir=$r/dev,workdir=$r/dev-work" "$r/root/dev"
            for d in /proc /sys /tmp "$OUT" /dev/pts /dev/shm; do mount --rbind "$d" "$r/root$d"; done
            exec chroot "$r/root" xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"' sh "$(realpath "$0")" "$@"
        exit
    fi
    unset QT_QPA_PLATFORM
    export XDG_RUNTIME_DIR=$E2E_ROOT/run
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
    desktop
}
# desktop: a window manager on the virtual screen, and the locale the scenarios expect.
desktop() {
    export LC_ALL=C.UTF-8
    openbox >/dev/null 2>&1 &
    await wmctrl -m >/dev/null || fail "the window manager has not started"
}

# started COMMAND...: runs it in the background, its errors in $OUT/stderr;
# ended STATUS: it has ended, with that exit status.
started() { rm -f "$OUT/status"; (set +e; "$@" 2>"$OUT/stderr"; echo $? >"$OUT/status") & }
ended() {
    await test -s "$OUT/status" || fail "the program has not ended"
    [ "$(cat "$OUT/status")" = "$1" ] || fail "exit status $(cat "$OUT/status"), expected $1"
}

# window TITLE [OTHER_THAN]: the id of a shown window of that title, not one
# of the ids (one a line) in OTHER_THAN, waiting for it ($WINDOW_WAIT
# seconds, 20 unless set); gone ID: it has closed.
shown() { xdotool search --onlyvisible --name "^$1\$" | grep -vx "${2:-none}" | head -n 1 | grep .; }
window() { AWAIT=${WINDOW_WAIT:-20} await shown "$@" || fail "no window \"$1\" appeared"; }
closed() { ! xdotool search --onlyvisible --name . | grep -qx "$1"; }
gone() { await closed "$1" || fail "window $1 is still open"; }

# The main window's buttons, at their centres in its client area, and the
# row at the top of its list: click "$MAIN" $SAVE_BUTTON.
ADD_BUTTON="360 44" DELETE_BUTTON="360 92" RESTORE_BUTTON="360 140" SAVE_BUTTON="360 188" TOP_ROW="100 62"

# Real input, into a window given by its id; click takes a point of its client area.
keys() { xdotool windowactivate --sync "$1" key --delay 80 "${@:2}"; }
type_in() { xdotool windowactivate --sync "$1" type --delay 80 "$2"; }
click() { xdotool windowactivate --sync "$1" mousemove --window "$1" "$2" "$3" click 1; }
close_window() { wmctrl -i -c "$1"; gone "$1"; }
# answer MAIN TITLE KEY...: answers the box of that title that MAIN opened.
answer() { b=$(window "$2" "$1"); shot "${SHOT:-question}"; keys "$b" "${@:3}"; gone "$b"; }
# add_dialog: the add dialog that $MAIN opened, in $DIALOG. It must lie on the
# screen and clear of the main window's buttons (its client area from 320,24
# to 401,209), where the next click would otherwise land in the dialog.
add_dialog() {
    DIALOG=$(window 添加URL过滤字符)
    geometry "$MAIN" && local mx=$X my=$Y && geometry "$DIALOG"
    ((X >= 0 && Y >= 0 && X + WIDTH <= 1024 && Y + HEIGHT <= 768)) || fail "the add dialog is off the screen: $X,$Y"
    ((X >= mx + 401 || X + WIDTH <= mx + 320 || Y >= my + 209 || Y + HEIGHT <= my + 24)) \
        || fail "the add dialog at $X,$Y ${WIDTH}x$HEIGHT covers the main window's buttons"
}
# add_keyword TEXT KEY...: types it into the add dialog, then the keys that close it;
# add TEXT KEY...: the same in the dialog that the Add button opens.
add_keyword() { add_dialog; type_in "$DIALOG" "$1"; keys "$DIALOG" "${@:2}"; gone "$DIALOG"; }
add() { click "$MAIN" $ADD_BUTTON; add_keyword "$@"; }
# save KEY: the Save button, and the key that answers its question.
save() { click "$MAIN" $SAVE_BUTTON; SHOT=${SHOT:-save} answer "$MAIN" "$CAPTION" "$1"; }
shot() { timeout 20 import -window root "$OUT/$1.png"; }
# system_log FILE: a system log of the private root's own at /dev/log, each
# record a line of FILE, as a syslog daemon would get it, until the scenario
# ends (it sets the scenario's EXIT trap).
system_log() {
    /usr/bin/python3 -c '
import socket, sys
log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
log.bind("/dev/log")
with open(sys.argv[1], "ab", 0) as records:
    while True:
        records.write(log.recv(65536) + b"\n")' "$1" </dev/null >/dev/null 2>&1 &
    # shellcheck disable=SC2064 # the listener's own process, now
    trap "kill $! 2>/dev/null || :" EXIT
    await test -S /dev/log || fail "no system log at /dev/log"
}
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

DEFAULTS=("'" "*" % and exec insert select delete updata count chr mid)
# The Windows install in the Wine prefix of the build's tests, its registry
# entries, and setup ARGUMENT...: its installer $SETUP run silently, the exit status in $status.
C=${WINEPREFIX:-}/drive_c
DATA="$C/ProgramData/Vantrel Filter"
setup() { status=0; wine "$SETUP" /S "$@" || status=$?; wineserver -w; }
# installed: what the install holds, files by content, then its registry entries.
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\vantrel-filter'
EVENTS='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\vantrel-filter'
installed() {
    (cd "$C" && find "Program Files/Vantrel Filter" "ProgramData/Vantrel Filter" tarnwick -type f -exec sha256sum {} + 2>/dev/null | sort)
    { wine reg query "$KEY"; wine reg query "$EVENTS"; } 2>/dev/null | tr -d '\r'
}
# gbk LINE...: a keyword file as the program writes it; same FILE LINE...: it
# holds exactly that, or comes to within $AWAIT seconds (a save ends in the background).
gbk() { for l in "$@"; do printf '%s\r\n' "$l"; done | iconv -f UTF-8 -t GBK; }
same() {
    gbk "${@:2}" >"$OUT/expected"
    await cmp -s "$OUT/expected" "$1" || fail "$1 holds $(od -c "$1" | head -n 4), not: ${*:2}"
}
