#!/bin/bash
# The built program as an operator meets it, driven by real input:
# program.sh PROGRAM HOLDER, where HOLDER --hold-lock FILE MS holds a save's lock.
. "$(dirname "$0")/lib.sh"
enter "$@"
HOLDER=$2
DIR=/opt/vantrel-filter WORKING=/opt/vantrel-filter/inject.txt PUBLISHED=/tarnwick/inject.txt
rm -rf /tarnwick $DIR && mkdir -p $DIR && cp "$1" $DIR/
rm -f "$OUT/log" && system_log "$OUT/log"

# The Restore box is wide enough for its long title (about 330 pixels in bold).
restore() {
    click "$MAIN" $RESTORE_BUTTON
    geometry "$(window Vantrel通用防注入过滤器恢复默认设置 "$MAIN")" && [ "$WIDTH" -ge 400 ] || fail "the Restore box is $WIDTH wide"
    SHOT=restore answer "$MAIN" Vantrel通用防注入过滤器恢复默认设置 "$1"
}
saved() { same $PUBLISHED "$@"; same $WORKING "$@"; }

# Without a working copy: an error box naming it, and the program ends.
started $DIR/vantrel-filter
keys "$(window "$CAPTION")" Return
ended 1
grep -q $WORKING "$OUT/stderr" || fail "the error does not name $WORKING: $(cat "$OUT/stderr")"

# Every kind of line end, an empty line, Chinese, "exec" twice, no end on the last line.
printf 'select\r\n%s\nexec\r\n\r\n%s\rexec\r\n%s' 联合 删除 注入 | iconv -t GBK >$WORKING
cp $WORKING "$OUT/loaded"
umask 077
started $DIR/vantrel-filter
MAIN=$(window "$CAPTION")
[ "$(stat -c %a /tarnwick)" = 755 ] || fail "a new /tarnwick is $(stat -c %a /tarnwick), not 755"
# Add has the focus at first, and Enter presses it.
keys "$MAIN" Return
add_dialog
shot add
# Return and Escape in the text box do nothing; Enter on the focused OK presses it.
add_keyword "union all" Return Escape apostrophe Tab Return
# No row is picked yet, so Delete does nothing. Three Tabs from Delete reach the
# list; the Delete key deletes the picked row, and then nothing more.
click "$MAIN" $DELETE_BUTTON
keys "$MAIN" Tab Tab Tab Down Down Down Down Down Delete Delete
# No to either question changes nothing.
restore Escape
save alt+n
cmp -s $WORKING "$OUT/loaded" && [ ! -e $PUBLISHED ] || fail "answering No wrote a file"
# Save has kept the focus since its click: Enter presses it. Yes is the default answer.
keys "$MAIN" KP_Enter
SHOT=save answer "$MAIN" "$CAPTION" Return
saved select 联合 exec "" 删除 注入 "union all'"
restore Return
save alt+y
saved "${DEFAULTS[@]}"

# Another operator saves first: the question after Yes, answered with Enter, merges.
gbk "'" "*" % and exec insert select delete updata count chr theirs >$WORKING
add mine Tab Return
save Return
SHOT=changed answer "$MAIN" "$CAPTION" Return
saved "'" "*" % and exec insert select delete updata count chr theirs mine

# Another save holds the lock. While this save waits, the window answers the
# window manager, and Delete, by its key or its button, reaches nothing; after
# half a second a note says who holds the lock, and its 取消 (Esc) ends the
# wait with nothing written. The keyword waiting to be saved has a Cyrillic е
# in place of an e: the list shows the look-alike by its code.
"$HOLDER" --hold-lock $WORKING 60000 >"$OUT/holder" &
holder=$!
await grep -q locked "$OUT/holder" || fail "the other save took no lock"
add "sеlect" alt+o
shot lookalike
click "$MAIN" $TOP_ROW
save Return
xdotool key --delay 80 alt+d mousemove --window "$MAIN" $DELETE_BUTTON click 1
slowest=$(/usr/bin/python3 "$(dirname "$0")/ping.py" 1.5 "$MAIN") || fail "the window stopped answering while it saved"
[ "$slowest" -le 250 ] || fail "the window answered the window manager after $slowest ms while it saved"
note=$(window "$CAPTION" "$MAIN")
shot wait
keys "$note" Escape
gone "$note"
# Once the lock is free the edits are saved, and the system log's record
# escapes the look-alike, so that it does not read as "select" there either.
kill $holder
save Return
saved "'" "*" % and exec insert select delete updata count chr theirs mine "sеlect"
await grep -q 'result=saved wrote=working,published added=1 removed=0 .* keywords=+"s\\u0435lect"$' "$OUT/log" \
    || fail "the record of the look-alike's save is not escaped: $(tail -n 1 "$OUT/log")"

# With the dialog open, closing the main window ends the program once the dialog closes.
click "$MAIN" $ADD_BUTTON
add_dialog
close_window "$MAIN"
[ ! -s "$OUT/status" ] || fail "the program ended with the add dialog open"
close_window "$DIALOG"
ended 0

