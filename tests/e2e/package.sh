#!/bin/bash
# The Debian package as an administrator installs it and operators use it:
#   package.sh DEB
. "$(dirname "$0")/lib.sh"
enter "$@"
DEB=$1 LIST=/var/opt/vantrel-filter/inject.txt PUBLISHED=/tarnwick/inject.txt TARGET=/etc/vantrel-target
rm -rf /tarnwick /opt/vantrel-filter /var/opt/vantrel-filter
# Members may put a link at any name in the list's folder or in /tarnwick, so no
# package step may open for writing, truncate, chown, chmod or rename by a name
# there (strace -y shows the working folder, so relative names count too).
dpkg_() {
    strace -f -y -qq -e trace=%file -o "$OUT/strace" dpkg "$@" >>"$OUT/dpkg.log" 2>&1 || fail "dpkg $*: $(tail -n 5 "$OUT/dpkg.log")"
    ! grep -E '(open(at)?|creat)\(.*O_(WRONLY|RDWR|CREAT|TRUNC)|(truncate|chown|chmod|rename|setxattr|utime)[a-z0-9]*\(' "$OUT/strace" \
        | grep -E '(/var/opt/vantrel-filter|/tarnwick)[/>]' || fail "dpkg $* did the above by name where members may write"
}
owners() { stat -c '%U:%G %a' "$@" | tr '\n' ' '; }
as() { setpriv --reuid "$1" --regid "$1" --init-groups "${@:2}"; }

dpkg_ -i "$DEB"
[ -z "$(dpkg -S /opt 2>/dev/null)" ] || fail "the package owns /opt"
[ "$(owners /tarnwick /var/opt/vantrel-filter $LIST)" = "root:vantrel-filter 2775 root:vantrel-filter 2775 root:vantrel-filter 664 " ] \
    || fail "installed as $(owners /tarnwick /var/opt/vantrel-filter $LIST)"
same "$LIST" "${DEFAULTS[@]}"
useradd -m -G vantrel-filter member && useradd -m outsider
xhost +local: >/dev/null

# save_with USER KEYWORD: the menu entry's command run as that user adds the
# keyword and saves, with real keys.
save_with() {
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/com.vantrel.filter.desktop)
    as "$1" env -u XDG_RUNTIME_DIR HOME="/home/$1" $exec_line 2>"$OUT/stderr" &
    MAIN=$(window "$CAPTION")
    keys "$MAIN" Return
    add_keyword "$2" alt+o
    keys "$MAIN" Tab Tab Tab Return
    answer "$MAIN" "$CAPTION" Return
}

save_with member drop
await test -e $PUBLISHED || fail "the member's save published nothing"
same "$PUBLISHED" "${DEFAULTS[@]}" drop
same "$LIST" "${DEFAULTS[@]}" drop
close_window "$MAIN"
as www-data cat $PUBLISHED >/dev/null || fail "www-data cannot read $PUBLISHED"
# Only members may open the save lock: an outsider's read lock would hold up every save.
LOCK=/var/opt/vantrel-filter/.inject.txt.lock
[ "$(owners $LOCK)" = "member:vantrel-filter 660 " ] || fail "the save lock is $(owners $LOCK)"
! as outsider cat $LOCK 2>/dev/null || fail "an outsider may open the save lock"

before=$(ls -lAi --full-time /var/opt/vantrel-filter /tarnwick)
save_with outsider union
SHOT=refused answer "$MAIN" "$CAPTION" Return
# in Chinese, whatever the locale (C.UTF-8 here), and the window stays.
grep -q "文件夹 /var/opt/vantrel-filter .*vantrel-filter 组的成员" "$OUT/stderr" && ! grep -qiE "denied|not permitted|directory" "$OUT/stderr" \
    || fail "an outsider's save does not say who may save where, in Chinese: $(cat "$OUT/stderr")"
close_window "$MAIN"
[ "$(ls -lAi --full-time /var/opt/vantrel-filter /tarnwick)" = "$before" ] || fail "an outsider's save wrote a file"

dpkg_ -i "$DEB"
same "$LIST" "${DEFAULTS[@]}" drop

# A member swaps the list for a link to a root-only file: reinstalling keeps the
# link and says so. With the name free, the list's folder a mount point is refused;
# otherwise the defaults come back. The file stays as it was throughout.
printf 'root only\n' >$TARGET && chmod 600 $TARGET && target=$(stat -c '%U:%G %a %h %z' $TARGET; cat $TARGET)
as member sh -c "rm $LIST && ln -s $TARGET $LIST"
dpkg_ -i "$DEB"
grep -q "$LIST 不是普通文件.* -> $TARGET" "$OUT/dpkg.log" || fail "reinstalling said nothing of the link at $LIST"
as member rm $LIST && mount -t tmpfs tmpfs /var/opt/vantrel-filter
! dpkg -i "$DEB" >>"$OUT/dpkg.log" 2>&1 && grep -q "$LIST：.* 是挂载点" "$OUT/dpkg.log" && [ -z "$(ls -A /var/opt/vantrel-filter)" ] \
    || fail "a list folder of its own file system was not refused: $(tail -n 3 "$OUT/dpkg.log")"
umount /var/opt/vantrel-filter && dpkg_ -i "$DEB"
[ "$(stat -c '%U:%G %a %h %z' $TARGET; cat $TARGET)" = "$target" ] || fail "the package changed $TARGET: $(ls -l $TARGET)"
[ "$(owners $LIST)" = "root:vantrel-filter 664 " ] || fail "the list put back is $(owners $LIST)"
same "$LIST" "${DEFAULTS[@]}"
dpkg_ --purge vantrel-filter
[ ! -e /var/opt/vantrel-filter ] || fail "purge left /var/opt/vantrel-filter"
same "$PUBLISHED" "${DEFAULTS[@]}" drop
