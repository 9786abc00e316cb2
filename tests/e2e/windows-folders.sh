#!/bin/bash
# The installer's care with the folders it makes and writes in, under Wine:
# windows-folders.sh SETUP.EXE. Wine keeps no ACLs, so what is checked is
# what the installer would run (its /DRYRUN log), and that each folder it must
# refuse ends the install with a message and an exit code, changing nothing
# that is installed. Runs in a mount namespace of its own, for a read-only and
# a full install folder, in the Wine prefix of the build's tests.
. "$(dirname "$0")/lib.sh"
[ -d "$C" ] || skip "no Wine prefix in \$WINEPREFIX"
if [ -z "${E2E_PRIVATE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || skip "needs root, to mount a read-only and a full folder"
    # The prefix's server must start inside the namespace, to see its mounts.
    wineserver -w
    E2E_PRIVATE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
export LC_ALL=C.UTF-8
SETUP=$(realpath "$1")
MNT=$(mktemp -d /tmp/vantrel-folders.XXXXXX)
trap 'wineserver -k 2>/dev/null || :; umount -R "$MNT" 2>/dev/null; rmdir "$MNT"' EXIT
LOG="$OUT/folders-setup.log"

# logged DRYRUN|LOG ARGUMENT...: the installer with that option; its log, as
# text, in $log.
logged() { rm -f "$LOG"; setup "/$1=Z:$(tr / '\\' <<<"$LOG")" "${@:2}"; log=$(iconv -f UTF-16 -t UTF-8 "$LOG" | tr -d '\r'); }

# What a dry run over folders that are there, each holding inject.txt, must
# write: each folder's ACL replaced in one step, what is inside made
# Administrators' and inheriting it, and only then the folder opened to the
# group (and in C:\tarnwick to the filter's readers), the right to add a file
# last. On a fresh machine the folders are made with the locked ACL instead,
# and hold nothing.
existing=$(cat <<'EOF'
"C:\windows\system32\net.exe" localgroup "vantrel-filter" /add "/comment:Vantrel 通用防注入过滤器"
SetNamedSecurityInfo "C:\ProgramData\Vantrel Filter" D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)
"C:\windows\system32\icacls.exe" "C:\ProgramData\Vantrel Filter" /setowner *S-1-5-32-544 /L /Q
"C:\windows\system32\icacls.exe" "C:\ProgramData\Vantrel Filter\inject.txt" /setowner *S-1-5-32-544 /L /Q
"C:\windows\system32\icacls.exe" "C:\ProgramData\Vantrel Filter\inject.txt" /reset /L /Q
"C:\windows\system32\icacls.exe" "C:\ProgramData\Vantrel Filter" /grant vantrel-filter:(OI)(IO)M /L /Q
"C:\windows\system32\icacls.exe" "C:\ProgramData\Vantrel Filter" /grant vantrel-filter:(RD,WD,X,RA,REA,RC,S) /L /Q
SetNamedSecurityInfo "C:\tarnwick" D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)
"C:\windows\system32\icacls.exe" "C:\tarnwick" /setowner *S-1-5-32-544 /L /Q
"C:\windows\system32\icacls.exe" "C:\tarnwick\inject.txt" /setowner *S-1-5-32-544 /L /Q
"C:\windows\system32\icacls.exe" "C:\tarnwick\inject.txt" /reset /L /Q
"C:\windows\system32\icacls.exe" "C:\tarnwick" /grant vantrel-filter:(OI)(IO)M /L /Q
"C:\windows\system32\icacls.exe" "C:\tarnwick" /grant *S-1-5-32-545:(OI)(CI)R /L /Q
"C:\windows\system32\icacls.exe" "C:\tarnwick" /grant vantrel-filter:(RD,WD,X,RA,REA,RC,S) /L /Q
EOF
)
fresh=$(grep -v 'inject.txt' <<<"${existing//SetNamedSecurityInfo/CreateDirectory}")
rm -rf "$C/tarnwick" "$DATA"
for case in fresh existing; do
    [ $case = fresh ] || { [ ! -e "$C/tarnwick" ] && [ ! -e "$DATA" ] || fail "the dry run made a folder"
        mkdir "$C/tarnwick" "$DATA" && printf 'kept\r\n' | tee "$DATA/inject.txt" >"$C/tarnwick/inject.txt"; }
    logged DRYRUN
    [ "$status" = 0 ] && [ "$log" = "${!case}" ] ||
        fail "a dry run on $case folders exited with $status and ran otherwise: $(diff <(echo "${!case}") <(echo "$log"))"
done

# Refusals: each case readies the machine, then the install must end with the
# exit code and the message, changing nothing. An installed copy with an
# edited list is there throughout.
setup
printf 'edited\r\n' >"$DATA/inject.txt"
mount -t tmpfs -o size=1m tmpfs "$MNT"
mkdir "$MNT/full" "$MNT/read-only"
mount --bind "$MNT/read-only" "$MNT/read-only"
mount -o remount,bind,ro "$MNT/read-only"
while IFS='|' read -r name ready undo where code message; do
    eval "$ready"
    before=$(installed)
    # The install folder last, as the installer wants it.
    arguments=()
    [ -z "$where" ] || arguments=("/D=Z:${MNT//\//\\}\\$where")
    logged LOG "${arguments[@]}"
    [ "$status" = "$code" ] || fail "$name: the installer exited with $status, not $code"
    [[ $log == "exit $code: 安装 $CAPTION："*"$message"* ]] || fail "$name: the installer said: $log"
    [ "$(installed)" = "$before" ] || fail "$name: the refused install changed $(diff <(echo "$before") <(installed))"
    [ -z "$(find "$MNT" -mindepth 2)" ] || fail "$name: the installer wrote $(find "$MNT" -mindepth 2)"
    eval "$undo"
done <<'EOF'
list folder is a file|mv "$DATA" "$DATA.moved" && echo x >"$DATA"|rm "$DATA" && mv "$DATA.moved" "$DATA"||5|C:\ProgramData\Vantrel Filter 是文件，不是文件夹。
a hard link in C:\tarnwick|echo x >"$C/elsewhere" && ln "$C/elsewhere" "$C/tarnwick/other"|rm "$C/elsewhere" "$C/tarnwick/other"||5|C:\tarnwick\other 是链接
a read-only install folder|:|:|read-only|6|中写入
a full install folder|:|:|full|6|所在的磁盘空间不足
EOF
printf 'edited\r\n' | cmp -s - "$DATA/inject.txt" || fail "the list changed"
echo "windows folders: the installer's commands as expected, and each refusal changed nothing"
