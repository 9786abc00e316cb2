#!/usr/bin/python3
"""End-to-end scenarios: the built program in a private root, driven with
real input on a virtual screen; results read from the files it writes.

    test_program.py --work FOLDER --option program=PATH SCENARIO...
"""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (ADD, ADD_CAPTION, CAPTION, DEFAULT_KEYWORDS, DELETE,  # noqa: E402
                     DIALOG_CANCEL, DIALOG_CLIENT, DIALOG_OK, MAIN_CLIENT, RESTORE,
                     RESTORE_CAPTION, SAVE, SCREEN_SIZE, MainWindow, check, check_equal,
                     keyword_file, run, wait_until)

PROGRAM_DIR = "/opt/vantrel-filter"
WORKING_COPY = PROGRAM_DIR + "/inject.txt"
PUBLISHED = "/tarnwick/inject.txt"

TYPED = "union 查询"


def gbk(text):
    return text.encode("gbk")


def prepare(ctx, working_copy):
    """A private root with the program in its folder and, unless None, the
    given working copy beside it. Nothing named /tarnwick."""
    root = ctx.private_root()
    root.remove(PROGRAM_DIR)
    root.remove("/tarnwick")
    os.makedirs(root(PROGRAM_DIR))
    shutil.copy2(ctx.options["program"], root(PROGRAM_DIR + "/vantrel-filter"))
    if working_copy is not None:
        root.write(WORKING_COPY, working_copy)
    return root


def start(ctx, root, **kwargs):
    program = ctx.start(root, [PROGRAM_DIR + "/vantrel-filter"], **kwargs)
    win = ctx.screen.wait_window(CAPTION, MAIN_CLIENT)
    return program, MainWindow(ctx.screen, win)


def answer(screen, main, title, *keys):
    """Waits for the question and answers it from the keyboard."""
    box = screen.wait_window(title, exclude=[main.win.id])
    check((box.width, box.height) != MAIN_CLIENT, f"expected a question box, got {box}")
    screen.key(box, *keys)
    screen.wait_gone(box)


def open_add_dialog(screen, main):
    """Clicks Add and waits for the dialog."""
    main.click(ADD)
    return screen.wait_window(ADD_CAPTION, DIALOG_CLIENT)


def read_or_none(root, path):
    try:
        return root.read(path)
    except (FileNotFoundError, NotADirectoryError):
        return None


def wait_saved(root, expected):
    """Both copies hold exactly the expected bytes (each is replaced whole,
    so polling never sees half a file)."""
    wait_until(lambda: read_or_none(root, PUBLISHED) == expected,
               f"the published copy to hold {expected!r} (it holds {read_or_none(root, PUBLISHED)!r})")
    check_equal(root.read(WORKING_COPY), expected, "working copy")
    check_equal(sorted(os.listdir(root("/tarnwick"))), ["inject.txt"], "files in /tarnwick")
    check_equal(sorted(os.listdir(root(PROGRAM_DIR))), ["inject.txt", "vantrel-filter"],
                "files in the program's folder")


def mode(root, path):
    return os.lstat(root(path)).st_mode & 0o7777


def close_and_expect_exit(screen, program, win):
    screen.close_window(win)
    status = program.wait_exit()
    check_equal(status, 0, "exit status after closing the last window")


def stays(predicate, what, seconds=1.5):
    """predicate holds throughout (for a fault that would show at once)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        check(predicate(), what)
        time.sleep(0.05)


def one_edit(ctx):
    """Load a mixed file, delete one of two equal rows, add a typed keyword,
    save: both copies hold exactly the list, in GBK with CR LF."""
    screen = ctx.screen
    # Every kind of line end, an empty line, Chinese, "exec" twice, no end
    # on the last line.
    working = (b"select\r\n" + gbk("联合") + b"\n" + b"exec\r\n" + b"\r\n" + gbk("删除") + b"\r"
               + b"exec\r\n" + gbk("注入"))
    root = prepare(ctx, working)
    # A strict umask: the modes the filter needs must not depend on it.
    program, main = start(ctx, root, umask=0o077)
    check(abs(main.win.x - (SCREEN_SIZE[0] - MAIN_CLIENT[0]) // 2) <= 1
          and abs(main.win.y - (SCREEN_SIZE[1] - MAIN_CLIENT[1]) // 2) <= 1,
          f"main window not centred: {main.win}")
    wait_until(lambda: os.path.isdir(root("/tarnwick")), "/tarnwick to be created at start-up")
    check_equal(oct(mode(root, "/tarnwick")), oct(0o755), "mode of the new /tarnwick")

    main.pick_row(5)  # the second "exec"
    main.click(DELETE)
    main.click(DELETE)  # nothing is picked now: must not delete another row

    dialog = open_add_dialog(screen, main)
    dialog_centre = (dialog.x + dialog.width // 2, dialog.y + dialog.height // 2)
    main_centre = (main.win.x + main.win.width // 2, main.win.y + main.win.height // 2)
    check(all(abs(a - b) <= 1 for a, b in zip(dialog_centre, main_centre)),
          f"add dialog {dialog} not centred over the main window {main.win}")
    screen.type(dialog, TYPED)  # the text box has the focus as the dialog opens
    # Neither closes the dialog: what is typed next still lands in its box.
    screen.key(dialog, "Return", "Escape")
    screen.type(dialog, "'")
    screen.click(dialog.at(*DIALOG_OK))
    screen.wait_gone(dialog)

    main.click(SAVE)
    answer(screen, main, CAPTION, "Return")
    expected = keyword_file(["select", "联合", "exec", "", "删除", "注入", TYPED + "'"])
    wait_saved(root, expected)
    check(os.path.isfile(os.path.join(root.upper, "tarnwick", "inject.txt")),
          "the published copy is not in the private root's upper folder")
    check_equal(oct(mode(root, PUBLISHED)), oct(0o644), "mode of the new published copy")
    check_equal(oct(mode(root, "/tarnwick")), oct(0o755), "mode of /tarnwick after saving")

    close_and_expect_exit(screen, program, main.win)
    check_equal(root.read(PUBLISHED), expected, "published copy after closing")
    check_equal(root.read(WORKING_COPY), expected, "working copy after closing")


def questions_and_defaults(ctx):
    """No to either question changes nothing; Yes saves the list as shown;
    Restore then Save gives exactly the twelve defaults."""
    screen = ctx.screen
    working = b"union\n" + gbk("查询") + b"\nselect"
    root = prepare(ctx, working)
    old = keyword_file(["old", "list"])
    os.makedirs(root("/tarnwick"))
    os.chmod(root("/tarnwick"), 0o750)  # the administrator's choice, to be kept
    root.write(PUBLISHED, old)
    program, main = start(ctx, root)

    def state():
        return [(root.read(p), os.stat(root(p)).st_ino, os.stat(root(p)).st_mtime_ns)
                for p in (WORKING_COPY, PUBLISHED)]

    before = state()
    main.click(RESTORE)
    answer(screen, main, RESTORE_CAPTION, "Escape")
    main.click(SAVE)
    answer(screen, main, CAPTION, "alt+n")
    # Once the add dialog opens, both answers have been fully handled.
    dialog = open_add_dialog(screen, main)
    check(state() == before, "answering No changed a file")
    # Cancel adds nothing, whether clicked or pressed.
    screen.type(dialog, "never")
    screen.click(dialog.at(*DIALOG_CANCEL))
    screen.wait_gone(dialog)
    dialog = open_add_dialog(screen, main)
    screen.type(dialog, "nor")
    screen.key(dialog, "alt+c")
    screen.wait_gone(dialog)

    main.click(SAVE)
    answer(screen, main, CAPTION, "alt+y")
    wait_saved(root, keyword_file(["union", "查询", "select"]))

    main.click(RESTORE)
    answer(screen, main, RESTORE_CAPTION, "Return")
    main.click(SAVE)
    answer(screen, main, CAPTION, "Return")
    wait_saved(root, keyword_file(DEFAULT_KEYWORDS))
    check_equal(oct(mode(root, "/tarnwick")), oct(0o750), "mode of the existing /tarnwick")

    close_and_expect_exit(screen, program, main.win)


def missing_working_copy(ctx):
    """No working copy: an error box, no main window ever, exit status 1."""
    screen = ctx.screen
    root = prepare(ctx, None)
    program = ctx.start(root, [PROGRAM_DIR + "/vantrel-filter"])
    box = screen.wait_window(CAPTION)
    check((box.width, box.height) != MAIN_CLIENT, f"expected the error box, got {box}")
    wait_until(lambda: WORKING_COPY in program.stderr(), "the error on standard error")
    screen.key(box, "Return")
    status = program.wait_exit()
    check_equal(status, 1, "exit status without a working copy")
    screen.drain()
    check_equal([w[0] for w in screen.mapped], [box.id], "windows that ever mapped")


def plain_file_blocks_publish(ctx):
    """A plain file named /tarnwick: Save keeps the working copy, reports the
    failed publish and keeps the window; once the folder is there, Save
    publishes."""
    screen = ctx.screen
    root = prepare(ctx, keyword_file(["select", "删除"]))
    notes = b"not the filter's folder\n"
    root.write("/tarnwick", notes)
    program, main = start(ctx, root)

    dialog = open_add_dialog(screen, main)
    screen.type(dialog, "drop")
    screen.key(dialog, "alt+o")
    screen.wait_gone(dialog)
    main.click(SAVE)
    answer(screen, main, CAPTION, "Return")
    error = screen.wait_window(CAPTION, exclude=[main.win.id])
    check((error.width, error.height) != MAIN_CLIENT, f"expected the error box, got {error}")
    wait_until(lambda: PUBLISHED in program.stderr(), "the error on standard error")
    check_equal(root.read(WORKING_COPY), keyword_file(["select", "删除", "drop"]),
                "working copy after the failed publish")
    check_equal(root.read("/tarnwick"), notes, "the plain file /tarnwick")
    screen.key(error, "Return")
    screen.wait_gone(error)
    check(program.running() and screen.is_shown(main.win), "the main window must stay open")

    # The operator makes the folder; the list on screen is still there.
    os.unlink(root("/tarnwick"))
    os.mkdir(root("/tarnwick"), 0o755)
    main.pick_row(0)
    screen.key(main.win, "alt+d")
    main.click(SAVE)
    answer(screen, main, CAPTION, "Return")
    wait_saved(root, keyword_file(["删除", "drop"]))

    close_and_expect_exit(screen, program, main.win)


def closing(ctx):
    """Closing the main window saves nothing; an open add dialog keeps the
    program running until it closes too."""
    screen = ctx.screen
    working = b"select\nexec"  # any save would rewrite it with CR LF
    root = prepare(ctx, working)
    program, main = start(ctx, root)
    wait_until(lambda: os.path.isdir(root("/tarnwick")), "/tarnwick to be created at start-up")
    main.pick_row(0)
    main.click(DELETE)
    dialog = open_add_dialog(screen, main)
    screen.type(dialog, "gone")
    screen.click(dialog.at(*DIALOG_OK))
    screen.wait_gone(dialog)
    close_and_expect_exit(screen, program, main.win)
    check_equal(root.read(WORKING_COPY), working, "working copy after closing without saving")
    check_equal(os.listdir(root("/tarnwick")), [], "files in /tarnwick")

    program, main = start(ctx, root, log_name="program-2")
    dialog = open_add_dialog(screen, main)
    screen.close_window(main.win)
    screen.wait_gone(main.win)
    stays(lambda: program.running() and screen.is_shown(dialog),
          "the program must keep running while the add dialog is open")
    screen.type(dialog, "late")
    screen.key(dialog, "alt+o")
    screen.wait_gone(dialog)
    check_equal(program.wait_exit(), 0, "exit status once the dialog closed too")
    check_equal(root.read(WORKING_COPY), working, "working copy")
    check_equal(os.listdir(root("/tarnwick")), [], "files in /tarnwick")


SCENARIOS = {f.__name__: f for f in (one_edit, questions_and_defaults, missing_working_copy,
                                     plain_file_blocks_publish, closing)}

if __name__ == "__main__":
    sys.exit(run(SCENARIOS, characters=TYPED))
