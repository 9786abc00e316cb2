#!/bin/sh
# Sets up, builds and starts the program on the working copy beside it.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
program=build/vantrel-filter
# The program creates /tarnwick at start-up; say how to get it instead of
# an error box that nobody may see.
if [ ! -e /tarnwick ] && [ ! -L /tarnwick ] && [ ! -w / ]; then
    user=$(id -un)
    cat >&2 <<EOF2
无法启动：文件夹 /tarnwick 不存在，而你（用户 $user）不能在 / 中创建它。
请以 root 身份执行一次：install -d -o $user /tarnwick
或者安装本程序的软件包（apt install ./vantrel-filter_*_amd64.deb），它会创建该文件夹。
Cannot start: /tarnwick does not exist, and you ($user) cannot create it in /.
Run once, as root: install -d -o $user /tarnwick
or install the package (apt install ./vantrel-filter_*_amd64.deb), which creates it.
EOF2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the program on a virtual screen (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$program"
fi
exec "$program"
