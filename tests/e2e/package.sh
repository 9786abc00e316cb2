#!/bin/bash
# The Debian package as an administrator installs it and operators use it:
#   package.sh DEB
. "$(dirname "$0")/lib.sh"
enter "$@"
DEB=$1 LIST=/var/opt/vantrel-filter/inject.txt PUBLISHED=/tarnwick/inject.txt TARGET=/etc/vantrel-target
LOCK=/var/opt/vantrel-filter/.inject.txt.lock PAGE=/srv/www/index.html
rm -rf /tarnwick /opt/vantrel-filter /var/opt/vantrel-filter
# Members may put a link at any name in the list's folder or in /tarnwick, so no
# package step may open for writing, truncate, chown, chmod or rename by a name
# there (strace -y shows the working folder, so relative names count too).
dpkg_() {
    timeout 60 strace -f -y -qq -e trace=%file -o "$OUT/strace" dpkg "$@" >"$OUT/dpkg.log" 2>&1 \
        || fail "dpkg $* failed or ran past 60 s: $(tail -n 5 "$OUT/dpkg.log")"
    ! grep -E '(open(at)?|creat)\(.*O_(WRONLY|RDWR|CREAT|TRUNC)|(truncate|chown|chmod|rename|setxattr|utime)[a-z0-9]*\(' "$OUT/strace" \
        | grep -E '(/var/opt/vantrel-filter|/tarnwick)[/>]' || fail "dpkg $* did the above by name where members may write"
}
owners() { stat -c '%U:%G %a' "$@" | tr '\n' ' '; }
as() { setpriv --reuid "$1" --regid "$1" --init-groups "${@:2}"; }

dpkg_ -i "$DEB"
[ -z "$(dpkg -S /opt 2>/dev/null)" ] || fail "the package owns /opt"
# The save lock is the package's, so that every member may take it.
[ "$(owners /tarnwick /var/opt/vantrel-filter $LIST $LOCK)" = "root:vantrel-filter 2775 root:vantrel-filter 2775 root:vantrel-filter 664 root:vantrel-filter 660 " ] \
    || fail "installed as $(owners /tarnwick /var/opt/vantrel-filter $LIST $LOCK)"
same "$LIST" "${DEFAULTS[@]}"
[ ! -s $LOCK ] || fail "the save lock holds $(od -c $LOCK | head -n 2)"
# The web site's page, which the member may edit and the web server reads.
groupadd webed && useradd -m -G vantrel-filter,webed member && useradd -m outsider
mkdir -p /srv/www && printf '<p>site</p>\n' >$PAGE && chown root:webed $PAGE && chmod 664 $PAGE
xhost +local: >/dev/null

# save_with USER KEYWORD: the menu entry's command run as that user adds the
# keyword and saves, with real keys: Return on Add, which has the focus, and
# three Tabs from it to Save.
save_with() {
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/com.vantrel.filter.desktop)
    as "$1" env -u XDG_RUNTIME_DIR HOME="$(getent passwd "$1" | cut -d: -f6)" $exec_line 2>"$OUT/stderr" &
    MAIN=$(window "$CAPTION")
    keys "$MAIN" Return
    add_keyword "$2" alt+o
    keys "$MAIN" Tab Tab Tab Return
    answer "$MAIN" "$CAPTION" Return
}

save_with member drop
same "$PUBLISHED" "${DEFAULTS[@]}" drop
same "$LIST" "${DEFAULTS[@]}" drop
close_window "$MAIN"
as www-data cat $PUBLISHED >/dev/null || fail "www-data cannot read $PUBLISHED"
# Only members may open the save lock: an outsider's read lock would hold up every save.
[ "$(owners $LOCK)" = "root:vantrel-filter 660 " ] || fail "the member's save left the save lock $(owners $LOCK)"
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
! timeout 60 dpkg -i "$DEB" >>"$OUT/dpkg.log" 2>&1 && grep -q "$LIST：.* 是挂载点" "$OUT/dpkg.log" && [ -z "$(ls -A /var/opt/vantrel-filter)" ] \
    || fail "a list folder of its own file system was not refused: $(tail -n 3 "$OUT/dpkg.log")"
umount /var/opt/vantrel-filter && dpkg_ -i "$DEB"
[ "$(stat -c '%U:%G %a %h %z' $TARGET; cat $TARGET)" = "$target" ] || fail "the package changed $TARGET: $(ls -l $TARGET)"
[ "$(owners $LIST)" = "root:vantrel-filter 664 " ] || fail "the list put back is $(owners $LIST)"
same "$LIST" "${DEFAULTS[@]}"

# At the save lock's name an earlier version's first save left the member's own
# lock, and a member may put a hard link or a folder there: reinstalling puts
# the package's lock in its place and says so; the linked file stays as it was.
page=$(stat -c '%U:%G %a %h' $PAGE; cat $PAGE)
while IFS='|' read -r what plant; do
    as member sh -c "rm $LOCK && $plant"
    dpkg_ -i "$DEB" </dev/null
    [ "$(stat -c '%F %U:%G %a %h' $LOCK)" = "regular empty file root:vantrel-filter 660 1" ] \
        || fail "reinstalling over $what left the save lock $(ls -ld $LOCK)"
    grep -q "保存锁 $LOCK 已换成" "$OUT/dpkg.log" || fail "reinstalling over $what did not say so"
done <<PLANTED
the member's lock|: >$LOCK && chmod 660 $LOCK
a hard link|ln $PAGE $LOCK
a folder|mkdir $LOCK && : >$LOCK/x
PLANTED
[ "$(stat -c '%U:%G %a %h' $PAGE; cat $PAGE)" = "$page" ] || fail "the package changed $PAGE: $(ls -l $PAGE)"

# A member keeps filling a folder of their own in the list's folder, from
# inside it, where no path need reach it, and keeps it writable: the purge
# removes everything all the same.
setpriv --reuid member --regid member --init-groups bash -c 'mkdir /var/opt/vantrel-filter/fill && cd /var/opt/vantrel-filter/fill &&
    while :; do d=d$((i % 4)); [ -d $d ] || mkdir $d; : >$d/f$i && : >f$((i++)) || chmod 0777 /proc/self/cwd d*; done' 2>/dev/null &
filler=$!
trap 'kill $filler 2>/dev/null || :' EXIT
await test -e /var/opt/vantrel-filter/fill/f500 || fail "the member's loop filled nothing"
dpkg_ --purge vantrel-filter
kill $filler || fail "the member's loop ended before the purge did"
trap - EXIT
[ ! -e /var/opt/vantrel-filter ] && [ -z "$(find /var/opt -maxdepth 1 -name '.vantrel-filter.*')" ] \
    || fail "the purge left $(ls -A /var/opt)"
same "$PUBLISHED" "${DEFAULTS[@]}" drop

# A member who may edit the web site's page links it at the save lock's name.
# Root's save must not make the page the group's alone (0660, which the web
# server could no longer read): it refuses, naming the lock, and saves nothing.
dpkg_ -i "$DEB"
as member sh -c "rm $LOCK && ln $PAGE $LOCK"
page=$(stat -c '%U:%G %a' $PAGE; cat $PAGE)
save_with root guard
refusal=$(WINDOW_WAIT=10 window "$CAPTION" "$MAIN" 2>/dev/null) \
    || fail "root's save over a hard link at $LOCK was not refused; $PAGE is now $(owners $PAGE)"
shot refused-lock
keys "$refusal" Return
close_window "$MAIN"
[ "$(stat -c '%U:%G %a' $PAGE; cat $PAGE)" = "$page" ] || fail "root's save changed $PAGE: $(ls -l $PAGE)"
grep -qF "$LOCK" "$OUT/stderr" || fail "root's refused save did not name $LOCK: $(cat "$OUT/stderr")"
same "$LIST" "${DEFAULTS[@]}"
same "$PUBLISHED" "${DEFAULTS[@]}" drop
