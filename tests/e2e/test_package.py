#!/usr/bin/python3
"""Installation: cmake --install into a staging folder, and the Debian
package, built with cpack, installed with dpkg into a private root, started
from its menu entry and saving there; reinstalls, upgrades and removal keep
the operator's list.

    test_package.py --work FOLDER --option build=BUILD_DIR --option source=SOURCE_DIR package
"""

import glob
import os
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CAPTION, DEFAULT_KEYWORDS, DELETE, MAIN_CLIENT, SAVE,  # noqa: E402
                     Failure, MainWindow, check, check_equal, keyword_file, run, wait_until)

PROGRAM_DIR = "/opt/vantrel-filter"
PROGRAM = PROGRAM_DIR + "/vantrel-filter"
WORKING_COPY = PROGRAM_DIR + "/inject.txt"
DESKTOP = "/usr/share/applications/vantrel-filter.desktop"
ICON = "/usr/share/icons/hicolor/32x32/apps/vantrel-filter.png"
PIXMAP = "/usr/share/pixmaps/vantrel-filter.xpm"
STAGING = "/var/tmp/vantrel-filter-packages"


def command(args, what, log, **kwargs):
    result = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, **kwargs)
    output = result.stdout.decode("utf-8", "replace")
    log.write(f"$ {shlex.join(args)}\n{output}\n")
    log.flush()
    if result.returncode != 0:
        raise Failure(f"{what} failed ({result.returncode}):\n{output}")
    return output


def build_package(ctx, log, folder, *defines):
    os.makedirs(folder)
    command(["cpack", "-G", "DEB", "-B", folder, *defines], "cpack", log,
            cwd=ctx.options["build"])
    debs = glob.glob(os.path.join(folder, "*.deb"))
    check(len(debs) == 1, f"expected one package in {folder}, found {debs}")
    return debs[0]


def field(deb, name, log):
    return command(["dpkg-deb", "-f", deb, name], "dpkg-deb -f", log).strip()


def desktop_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                entry[key] = value
    return entry


def files_under(folder):
    return {os.path.relpath(os.path.join(d, f), folder)
            for d, _, names in os.walk(folder) for f in names}


def package(ctx):
    source = ctx.options["source"]
    screen = ctx.screen
    log = open(os.path.join(ctx.folder, "commands.log"), "w", encoding="utf-8")

    # cmake --install: the same files under its prefix; an edited working
    # copy stays.
    staged = os.path.join(ctx.folder, "cmake-install")

    def cmake_install():
        command(["cmake", "--install", ctx.options["build"], "--prefix", "/usr/local"],
                "cmake --install", log, env={**os.environ, "DESTDIR": staged})

    cmake_install()
    check_equal(files_under(staged),
                {p.lstrip("/") for p in (PROGRAM, WORKING_COPY)}
                | {"usr/local/" + p[len("/usr/"):] for p in (DESKTOP, ICON, PIXMAP)},
                "files cmake --install puts in place")
    edited_by_hand = keyword_file(["kept"])
    with open(os.path.join(staged, WORKING_COPY.lstrip("/")), "wb") as f:
        f.write(edited_by_hand)
    cmake_install()
    with open(os.path.join(staged, WORKING_COPY.lstrip("/")), "rb") as f:
        check_equal(f.read(), edited_by_hand, "working copy after a second cmake --install")

    deb = build_package(ctx, log, os.path.join(ctx.folder, "first"))
    version = field(deb, "Version", log)
    newer = build_package(ctx, log, os.path.join(ctx.folder, "newer"),
                          "-D", f"CPACK_PACKAGE_VERSION={version}+1")

    depends = [{alt.split("(")[0].strip() for alt in group.split("|")}
               for group in field(deb, "Depends", log).split(",")]
    for needed in ({"libqt6core6"}, {"libqt6gui6"}, {"libqt6widgets6"}, {"qt6-qpa-plugins"},
                   {"fonts-wqy-microhei", "fonts-noto-cjk"}):
        check(needed in depends, f"Depends lacks {' | '.join(sorted(needed))}: {depends}")

    root = ctx.private_root()
    for path in (PROGRAM_DIR, "/tarnwick", STAGING):
        root.remove(path)
    os.makedirs(root(STAGING))
    for d in (deb, newer):
        shutil.copy(d, root(STAGING))

    def dpkg(*args):
        return command(["chroot", root.path, "dpkg", *args], f"dpkg {' '.join(args)}", log)

    def installed_version():
        return command(["chroot", root.path, "dpkg-query", "-W", "-f=${Status} ${Version}",
                        "vantrel-filter"], "dpkg-query", log)

    # The machine itself may have the package; this root starts without it.
    if subprocess.run(["chroot", root.path, "dpkg-query", "-W", "vantrel-filter"],
                      capture_output=True).returncode == 0:
        dpkg("--purge", "vantrel-filter")

    def folder_holds(names):
        check_equal(sorted(os.listdir(root(PROGRAM_DIR))), sorted(names),
                    f"files in {PROGRAM_DIR}")

    # Fresh install: where everything goes.
    dpkg("-i", f"{STAGING}/{os.path.basename(deb)}")
    check_equal(installed_version(), f"install ok installed {version}", "package state")
    owned = {p for p in dpkg("-L", "vantrel-filter").split()
             if os.path.isfile(root(p)) and not os.path.islink(root(p))}
    check_equal(owned, {PROGRAM, WORKING_COPY, DESKTOP, ICON, PIXMAP}, "files the package owns")
    folder_holds(["inject.txt", "vantrel-filter"])
    check(os.access(root(PROGRAM), os.X_OK), "the program is not executable")
    with open(os.path.join(source, "data", "inject.txt"), "rb") as f:
        check_equal(root.read(WORKING_COPY), f.read(), "installed working copy")
    conffiles = command(["chroot", root.path, "dpkg-query", "-W", "-f=${Conffiles}",
                         "vantrel-filter"], "dpkg-query", log)
    check(WORKING_COPY in conffiles.split(), f"the working copy is no conffile: {conffiles!r}")

    command(["desktop-file-validate", root(DESKTOP)], "desktop-file-validate", log)
    entry = desktop_entry(root(DESKTOP))
    check_equal((entry.get("Type"), entry.get("Name"), entry.get("Exec"), entry.get("Icon")),
                ("Application", CAPTION, PROGRAM, "vantrel-filter"), "desktop entry")
    check("Settings" in entry.get("Categories", "").split(";"), f"categories: {entry}")
    check_equal(command(["identify", "-format", "%w %h", root(ICON)], "identify", log),
                "32 32", "icon size")
    # The PNG is the XPM converted: not one pixel differs.
    check_equal(command(["compare", "-metric", "AE", os.path.join(source, "ui", "vantrel-filter.xpm"),
                         root(ICON), "null:"], "compare", log).strip(), "0",
                "pixels differing between the PNG icon and the XPM")
    with open(os.path.join(source, "ui", "vantrel-filter.xpm"), "rb") as f:
        check_equal(root.read(PIXMAP), f.read(), "installed XPM icon")

    # Started the way the menu starts it, it opens the installed list and
    # publishes into the root's /tarnwick.
    program = ctx.start(root, shlex.split(entry["Exec"]))
    main = MainWindow(screen, screen.wait_window(CAPTION, MAIN_CLIENT))
    wait_until(lambda: os.path.isdir(root("/tarnwick")), "/tarnwick to be created")
    main.pick_row(0)
    main.click(DELETE)
    main.click(SAVE)
    box = screen.wait_window(CAPTION, exclude=[main.win.id])
    screen.key(box, "Return")
    edited = keyword_file(DEFAULT_KEYWORDS[1:])
    wait_until(lambda: os.path.isfile(root("/tarnwick/inject.txt"))
               and root.read("/tarnwick/inject.txt") == edited, "the published copy")
    check_equal(root.read(WORKING_COPY), edited, "working copy after saving")
    screen.close_window(main.win)
    check_equal(program.wait_exit(), 0, "exit status")

    # Reinstall and upgrade: no question asked (no input here), the edited
    # list stays, nothing left beside it.
    dpkg("-i", f"{STAGING}/{os.path.basename(deb)}")
    check_equal(root.read(WORKING_COPY), edited, "working copy after a reinstall")
    folder_holds(["inject.txt", "vantrel-filter"])
    dpkg("-i", f"{STAGING}/{os.path.basename(newer)}")
    check_equal(installed_version(), f"install ok installed {version}+1", "package state")
    check_equal(root.read(WORKING_COPY), edited, "working copy after an upgrade")
    folder_holds(["inject.txt", "vantrel-filter"])

    # Removal keeps the list, purge takes it; the published copy is the
    # filter's and stays either way.
    dpkg("-r", "vantrel-filter")
    folder_holds(["inject.txt"])
    check(not os.path.exists(root(DESKTOP)), "the desktop entry outlived the package")
    dpkg("--purge", "vantrel-filter")
    check(not os.path.exists(root(PROGRAM_DIR)), f"{PROGRAM_DIR} outlived a purge")
    check_equal(root.read("/tarnwick/inject.txt"), edited, "published copy after a purge")

    # A working copy already there but not the package's (a cmake --install,
    # say): dpkg asks, and keeping it is the default answer.
    mine = keyword_file(["mine"])
    root.write(WORKING_COPY, mine)
    dpkg("-i", "--force-confold", f"{STAGING}/{os.path.basename(deb)}")
    check_equal(root.read(WORKING_COPY), mine, "existing working copy after a first install")
    check_equal(installed_version(), f"install ok installed {version}", "package state")
    log.close()


if __name__ == "__main__":
    sys.exit(run({"package": package}))
