#!/bin/bash
# What an administrator sees of the built Windows files, read back from them:
# windows-files.sh BUILD-FOLDER VERSION. The version information of the
# program and of the installer, the program's manifest and message table,
# nothing shipped with debug sections, and the sizes of the installer and zip.
set -eu
build=$1 version=$2
program=$build/stage/vantrel-filter.exe setup=$build/vantrel-filter-$version-setup.exe
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A version resource's value: each key ends a line (after the lengths that
# precede it), its value is the next text.
value() {
    wrestool -x --raw --type=16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' |
        awk -v key="$2" 'found && $0 != "" { print; exit } substr($0, length($0) - length(key) + 1) == key { found = 1 }'
}
while IFS='|' read -r files key expected; do
    for file in $files; do
        got=$(value "${!file}" "$key")
        [ "$got" = "$expected" ] || fail "$file: $key is \"$got\", not \"$expected\""
    done
done <<EOF
program setup|ProductName|Vantrel 通用防注入过滤器
program setup|CompanyName|Vantrel
program setup|ProductVersion|$version
program setup|FileVersion|$version
program|OriginalFilename|vantrel-filter.exe
setup|OriginalFilename|$(basename "$setup")
program|LegalCopyright|$(grep -m1 '^Copyright ' "$(dirname "$0")/../LICENSE")
EOF

manifest=$(wrestool -x --raw --type=24 --name=1 "$program")
for element in '<requestedExecutionLevel level="asInvoker"' '>PerMonitorV2</dpiAwareness>' \
    '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' '>true</longPathAware>'; do
    grep -qF "$element" <<<"$manifest" || fail "the program's manifest lacks $element"
done
# The events' words: one block holding message 1 alone, "%1%0" in UTF-16.
table=$(wrestool -x --raw --type=11 "$program" | od -An -tx1 -v | tr -d ' \n')
[[ $table == 010000000100000001000000*2500310025003000* ]] || fail "the message table is not message 1, \"%1%0\": $table"

while read -r binary; do
    ! x86_64-w64-mingw32-objdump -h "$binary" | grep -qF ' .debug_' || fail "${binary#"$build"/} ships with debug sections"
done < <(find "$build/stage" -name '*.exe' -o -name '*.dll')
x86_64-w64-mingw32-objdump -h "$build/symbols/vantrel-filter.exe" | grep -qF .debug_info ||
    fail "the kept copy of the program has no debug information"
# Shipping one library unstripped would pass either bound.
[ "$(stat -c %s "$setup")" -le 8000000 ] || fail "the installer is $(stat -c %s "$setup") bytes, over 8 MB"
[ "$(stat -c %s "$build"/*-windows.zip)" -le 12000000 ] || fail "the zip is $(stat -c %s "$build"/*-windows.zip) bytes, over 12 MB"
[ "$failures" = 0 ]
