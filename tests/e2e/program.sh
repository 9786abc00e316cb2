#!/bin/bash
# The built program as an operator meets it, driven by real input:
#   program.sh PROGRAM SCENARIO
. "$(dirname "$0")/lib.sh"
enter "$@"
PROGRAM=$1 DIR=/opt/vantrel-filter
WORKING=$DIR/inject.txt PUBLISHED=/tarnwick/inject.txt ADD=添加URL过滤字符
rm -rf /tarnwick "$DIR" && mkdir -p "$DIR" && cp "$PROGRAM" "$DIR/"

OUT=$OUT/$2 && mkdir -p "$OUT"
start() { rm -f "$OUT/status"; (set +e; "$DIR/vantrel-filter" 2>"$OUT/stderr"; echo $? >"$OUT/status") & }
started() { start; MAIN=$(window "$CAPTION"); }
ended() {
    for _ in $(seq 100); do [ -s "$OUT/status" ] && break; sleep 0.1; done
    [ "$(cat "$OUT/status" 2>/dev/null)" = "$1" ] || fail "exit status $(cat "$OUT/status" 2>/dev/null), expected $1"
}
# Main window buttons, at their centres: Add, Delete, Restore, Save.
add_dialog() { click "$MAIN" 360 44; DIALOG=$(window "$ADD"); }
delete() { click "$MAIN" 360 92; }
restore() { click "$MAIN" 360 140; }
save() { click "$MAIN" 360 188; }
saved() { for _ in $(seq 50); do cmp -s <(gbk "$@") "$PUBLISHED" && break; sleep 0.1; done; same "$PUBLISHED" "$@"; same "$WORKING" "$@"; }
mode() { stat -c %a "$1"; }

case $2 in
edit)
    # Every kind of line end, an empty line, Chinese, "exec" twice, no end on the last line.
    printf 'select\r\n%s\nexec\r\n\r\n%s\rexec\r\n%s' 联合 删除 注入 | iconv -t GBK >"$WORKING"
    spare_keys "查询"
    umask 077
    started
    [ "$(mode /tarnwick)" = 755 ] || fail "a new /tarnwick is $(mode /tarnwick), not 755"
    shot main
    # The list is last in the focus order; the Delete key deletes the picked row only.
    keys "$MAIN" Tab Tab Tab Tab Down Down Down Down Down Delete
    delete
    add_dialog
    geometry "$MAIN"; mx=$X my=$Y
    geometry "$DIALOG"
    [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] && [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] \
        || fail "add dialog off the screen: $X,$Y ${WIDTH}x$HEIGHT"
    [ "$X" -ge $((mx + 401)) ] || [ $((X + WIDTH)) -le $((mx + 320)) ] || [ "$Y" -ge $((my + 209)) ] \
        || [ $((Y + HEIGHT)) -le $((my + 24)) ] || fail "add dialog at $X,$Y covers the main window's buttons"
    shot add
    # Return and Escape in the text box do nothing; Enter on the focused OK presses it.
    type_in "$DIALOG" "union 查询"
    keys "$DIALOG" Return Escape apostrophe Tab Return
    gone "$DIALOG"
    keys "$MAIN" Tab Tab Tab KP_Enter
    SHOT=save answer "$MAIN" "$CAPTION" Return
    saved select 联合 exec "" 删除 注入 "union 查询'"
    [ "$(mode $PUBLISHED)" = 644 ] || fail "new published copy is $(mode $PUBLISHED), not 644"
    # With the dialog open, closing the main window ends the program when the dialog closes.
    add_dialog
    close_window "$MAIN"
    [ ! -s "$OUT/status" ] || fail "the program ended with the add dialog open"
    close_window "$DIALOG"
    ended 0
    saved select 联合 exec "" 删除 注入 "union 查询'" ;;
questions)
    gbk union 查询 select >"$WORKING"
    mkdir -m 750 /tarnwick && gbk old list >$PUBLISHED
    started
    before=$(stat -c %i%Y $WORKING $PUBLISHED)
    restore
    SHOT=restore answer "$MAIN" 'Vantrel通用防注入过滤器恢复默认设置' Escape
    save
    answer "$MAIN" "$CAPTION" alt+n
    add_dialog
    [ "$(stat -c %i%Y $WORKING $PUBLISHED)" = "$before" ] || fail "answering No changed a file"
    type_in "$DIALOG" never
    keys "$DIALOG" alt+c
    gone "$DIALOG"
    save
    answer "$MAIN" "$CAPTION" alt+y
    saved union 查询 select
    restore
    answer "$MAIN" 'Vantrel通用防注入过滤器恢复默认设置' Return
    save
    answer "$MAIN" "$CAPTION" Return
    saved "'" "*" % and exec insert select delete updata count chr mid
    [ "$(mode /tarnwick)" = 750 ] || fail "the existing /tarnwick became $(mode /tarnwick)"
    close_window "$MAIN"
    ended 0 ;;
failures)
    # The reasons come in Chinese whatever the locale.
    export LANG=C.UTF-8
    start
    box=$(window "$CAPTION")
    shot missing
    keys "$box" Return
    ended 1
    grep -q "$WORKING" "$OUT/stderr" || fail "the error does not name $WORKING: $(cat "$OUT/stderr")"
    # A plain file named /tarnwick: the working copy is saved, the window stays, and once
    # the folder is there Save publishes.
    gbk select >"$WORKING"
    echo notes >/tarnwick
    started
    add_dialog
    type_in "$DIALOG" drop
    keys "$DIALOG" alt+o
    save
    answer "$MAIN" "$CAPTION" Return
    SHOT=failed answer "$MAIN" "$CAPTION" Return
    same "$WORKING" select drop
    grep -q "不是文件夹" "$OUT/stderr" && ! grep -q "[A-Za-z] [a-z]" "$OUT/stderr" \
        || fail "the reason is not in Chinese: $(cat "$OUT/stderr")"
    [ "$(cat /tarnwick)" = notes ] || fail "/tarnwick changed"
    rm /tarnwick && mkdir /tarnwick
    save
    answer "$MAIN" "$CAPTION" Return
    saved select drop
    close_window "$MAIN"
    ended 0 ;;
*) fail "no scenario $2" ;;
esac
