# Shared by the end-to-end scenarios. A scenario on Linux sources this file and
# calls enter "$@" first: that runs the scenario again in a private root (an overlay
# over "/" in a mount namespace of its own, so nothing it writes outlives it,
# the machine's /tarnwick included) on a virtual screen with a window manager.
set -eu${E2E_TRACE:+x}
CAPTION="Vantrel 通用防注入过滤器"
export OUT=${E2E_OUT:-/tmp/vantrel-e2e}

fail() { echo "FAIL: $*" >&2; import -window root "$OUT/failure.png" 2>/dev/null || true; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

enter() {
    if [ -z "${E2E_ROOT:-}" ]; then
        [ "$(id -u)" -eq 0 ] || skip "needs root, for a private root"
        mkdir -p "$OUT"
        E2E_ROOT=$(mktemp -d /tmp/vantrel-root.XXXXXX)
        export E2E_ROOT
        mkdir "$E2E_ROOT/upper" "$E2E_ROOT/work" "$E2E_ROOT/root"
        rc=0
        unshare --mount --propagation private sh -c '
            r=$E2E_ROOT
            mount -t overlay overlay -o "lowerdir=/,upperdir=$r/upper,workdir=$r/work" "$r/root" || exit 77
            for d in /proc /sys /dev /tmp "$OUT"; do mount --rbind "$d" "$r/root$d"; done
            exec chroot "$r/root" xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"' sh "$(realpath "$0")" "$@" || rc=$?
        rm -rf "$E2E_ROOT"
        exit $rc
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
    until wmctrl -m >/dev/null 2>&1; do sleep 0.1; done
}

# await COMMAND...: waits until the command succeeds, ten seconds at the most.
await() { for _ in $(seq 100); do "$@" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
# started COMMAND...: runs it in the background, its errors in $OUT/stderr;
# ended STATUS: it has ended, with that exit status.
started() { rm -f "$OUT/status"; (set +e; "$@" 2>"$OUT/stderr"; echo $? >"$OUT/status") & }
ended() {
    await test -s "$OUT/status" || fail "the program has not ended"
    [ "$(cat "$OUT/status")" = "$1" ] || fail "exit status $(cat "$OUT/status"), expected $1"
}

# window TITLE [OTHER_THAN]: the id of a shown window of that title, not one
# of the ids (one a line) in OTHER_THAN, waiting for it ($WAIT_TENTHS tenths
# of a second, 200 unless set).
window() {
    for _ in $(seq "${WAIT_TENTHS:-200}"); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | head -n 1) || true
        [ -z "$w" ] || { echo "$w"; return; }
        sleep 0.1
    done
    fail "no window \"$1\" appeared"
}
gone() { for _ in $(seq 100); do xdotool search --onlyvisible --name . | grep -qx "$1" || return 0; sleep 0.1; done; fail "window $1 is still open"; }

# The main window's buttons, at their centres in its client area, and the
# row at the top of its list: click "$MAIN" $SAVE_BUTTON.
ADD_BUTTON="360 44" DELETE_BUTTON="360 92" RESTORE_BUTTON="360 140" SAVE_BUTTON="360 188" TOP_ROW="100 62"

# Real input, into a window given by its id; click takes a point of its client area.
keys() { w=$1; shift; xdotool windowactivate --sync "$w" key --delay 80 "$@"; }
type_in() { xdotool windowactivate --sync "$1" type --delay 80 "$2"; }
click() { xdotool windowactivate --sync "$1" mousemove --window "$1" "$2" "$3" click 1; }
close_window() { wmctrl -i -c "$1"; gone "$1"; }
# answer MAIN TITLE KEY...: answers the box of that title that MAIN opened.
answer() { b=$(window "$2" "$1"); shot "${SHOT:-question}"; keys "$b" "${@:3}"; gone "$b"; }
# add_keyword TEXT KEY...: types it into the add dialog, then the keys that close it.
add_keyword() { DIALOG=$(window 添加URL过滤字符); type_in "$DIALOG" "$1"; keys "$DIALOG" "${@:2}"; gone "$DIALOG"; }
shot() { import -window root "$OUT/$1.png"; }
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

DEFAULTS=("'" "*" % and exec insert select delete updata count chr mid)
# The Windows install's registry entries; installed: what it holds, files by content, then those entries.
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\vantrel-filter'
EVENTS='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\vantrel-filter'
installed() {
    (cd "$WINEPREFIX/drive_c" && find "Program Files/Vantrel Filter" "ProgramData/Vantrel Filter" tarnwick -type f -exec sha256sum {} + 2>/dev/null | sort)
    { wine reg query "$KEY"; wine reg query "$EVENTS"; } 2>/dev/null | tr -d '\r'
}
# gbk LINE...: a keyword file as the program writes it; same FILE LINE...: it holds exactly that.
gbk() { for l in "$@"; do printf '%s\r\n' "$l"; done | iconv -f UTF-8 -t GBK; }
same() { gbk "${@:2}" | cmp -s - "$1" || fail "$1 holds $(od -c "$1" | head -n 4), not: ${*:2}"; }
