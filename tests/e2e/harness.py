"""Runs the built program as a user would: in a root of its own, on a virtual
screen, driven by real mouse and keyboard input (xdotool).

The program writes to "/" ("/tarnwick"), so each test gives it a private
root: a mount namespace with an overlay over the real "/" whose upper folder
belongs to the test. Whatever the program writes lands there and nowhere
else; the machine's own "/tarnwick" is never touched.
"""

import contextlib
import ctypes
import os
import select
import shutil
import signal
import struct
import subprocess
import time
import traceback
import zlib

# CTest's SKIP_RETURN_CODE.
SKIP = 77

SCREEN_SIZE = (1024, 768)
TWIPS_PER_PIXEL = 15  # 96 DPI

# Main window, in twips: (left, top, width, height).
MAIN_CLIENT = (413, 270)
FRAME1 = (120, 240)
LIST_VIEW = (120, 240, 4335, 3135)  # inside Frame1
ADD = (4800, 360, 1215, 615)
DELETE = (4800, 1080, 1215, 615)
RESTORE = (4800, 1800, 1215, 615)
SAVE = (4800, 2520, 1215, 615)

# Add dialog.
DIALOG_CLIENT = (285, 95)
DIALOG_OK = (3120, 120, 975, 495)
DIALOG_CANCEL = (3120, 720, 975, 495)

CAPTION = "Vantrel 通用防注入过滤器"
ADD_CAPTION = "添加URL过滤字符"
RESTORE_CAPTION = "Vantrel通用防注入过滤器恢复默认设置"

DEFAULT_KEYWORDS = ["'", "*", "%", "and", "exec", "insert", "select", "delete",
                    "updata", "count", "chr", "mid"]

DEADLINE = 20.0  # seconds; generous for a loaded 2-core machine


class Skip(Exception):
    pass


class Failure(AssertionError):
    pass


def px(twips):
    return round(twips / TWIPS_PER_PIXEL)


def keyword_file(keywords):
    """What the program must write for this list: GBK, CR LF after each line."""
    return b"".join(k.encode("gbk") + b"\r\n" for k in keywords)


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def wait_until(predicate, what, timeout=DEADLINE, interval=0.05):
    """Polls predicate until it returns something true; fails after timeout."""
    end = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > end:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


# --- A root of the test's own -------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
_libc.mount.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                        ctypes.c_ulong, ctypes.c_char_p]
CLONE_NEWNS = 0x00020000
MS_BIND = 0x1000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18


def _end_with_this_process():
    """For a child: SIGTERM when the harness dies, even if it is killed (a
    test timeout), so no X server or program outlives it."""
    PR_SET_PDEATHSIG = 1
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def _mount(source, target, fstype, flags, options):
    def enc(s):
        return None if s is None else os.fsencode(s)
    if _libc.mount(enc(source), enc(target), enc(fstype), flags, enc(options)) != 0:
        err = ctypes.get_errno()
        raise OSError(err, f"mount {source} on {target}: {os.strerror(err)}")


def enter_private_mount_namespace():
    """From here on, mounts are this process's and its children's only, and
    vanish with them."""
    if os.geteuid() != 0:
        raise Skip("needs root, to make a private root with unshare, overlay and chroot")
    if _libc.unshare(CLONE_NEWNS) != 0:
        err = ctypes.get_errno()
        raise Skip(f"cannot make a private mount namespace: unshare: {os.strerror(err)}")
    _mount("none", "/", None, MS_REC | MS_PRIVATE, None)


class PrivateRoot:
    """An overlay over "/" at folder/root, its writes kept in folder/upper;
    /proc, /dev and /tmp are the real ones."""

    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        for bad in ",:":
            check(bad not in self.folder, f"overlay options cannot hold {bad!r}: {self.folder}")
        if os.path.lexists(self.folder):
            shutil.rmtree(self.folder)
        self.upper = os.path.join(self.folder, "upper")
        self.path = os.path.join(self.folder, "root")
        work = os.path.join(self.folder, "work")
        for d in (self.upper, work, self.path):
            os.makedirs(d)
        try:
            _mount("overlay", self.path, "overlay", 0,
                   f"lowerdir=/,upperdir={self.upper},workdir={work}")
        except OSError as e:
            raise Skip(f"cannot mount an overlay over /: {e}") from e
        # /tmp holds the X server's socket.
        for d in ("proc", "dev", "tmp"):
            _mount(f"/{d}", os.path.join(self.path, d), None, MS_BIND | MS_REC, None)

    def __call__(self, path):
        """Where a path inside the root is seen from outside."""
        return os.path.join(self.path, path.lstrip("/"))

    def remove(self, path):
        """Makes path absent inside the root (the real one stays)."""
        p = self(path)
        if os.path.isdir(p) and not os.path.islink(p):
            shutil.rmtree(p)
        elif os.path.lexists(p):
            os.unlink(p)

    def write(self, path, data, mode=0o644):
        p = self(path)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        os.chmod(p, mode)

    def read(self, path):
        with open(self(path), "rb") as f:
            return f.read()


# --- The virtual screen -------------------------------------------------------

def _import_xlib():
    try:
        from Xlib import X, display, error, protocol
    except ImportError as e:
        raise Failure("python3-xlib is missing: run scripts/setup.sh") from e
    return X, display, error, protocol


class Window:
    def __init__(self, wid, title, x, y, width, height):
        self.id, self.title = wid, title
        self.x, self.y, self.width, self.height = x, y, width, height

    def at(self, left, top, width=0, height=0):
        """Screen point at the centre of a rectangle given in twips."""
        return (self.x + px(left) + px(width) // 2, self.y + px(top) + px(height) // 2)

    def __repr__(self):
        return f"<{self.title!r} {self.width}x{self.height}+{self.x}+{self.y} id={self.id:#x}>"


class Screen:
    """An Xvfb of its own plus what a user does with mouse and keyboard."""

    def __init__(self, log_folder, characters=""):
        X, xdisplay, self.xerror, self.xprotocol = _import_xlib()
        self.X = X
        for tool in ("Xvfb", "xdotool"):
            if not shutil.which(tool):
                raise Failure(f"{tool} is missing: run scripts/setup.sh")
        self.log_folder = log_folder
        read_end, write_end = os.pipe()
        self._xvfb_log = open(os.path.join(log_folder, "xvfb.log"), "wb")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset",
             "-screen", "0", f"{SCREEN_SIZE[0]}x{SCREEN_SIZE[1]}x24"],
            pass_fds=[write_end], stdin=subprocess.DEVNULL,
            preexec_fn=_end_with_this_process,
            stdout=self._xvfb_log, stderr=subprocess.STDOUT)
        os.close(write_end)
        number = b""
        end = time.monotonic() + DEADLINE
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                self.close()
                raise Failure("Xvfb did not start (see xvfb.log)")
            number += chunk
        os.close(read_end)
        self.name = f":{int(number)}"
        self.display = xdisplay.Display(self.name)
        self.root = self.display.screen().root
        self._atoms = {}
        # Every window that ever maps, even briefly: a separate connection
        # that only listens to the root's children.
        self._watch = xdisplay.Display(self.name)
        self._watch.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self._watch.sync()
        self.mapped = []  # (window id, title, width, height), in map order
        self._bind_characters(characters)

    def close(self):
        for d in ("display", "_watch"):
            with contextlib.suppress(Exception):
                getattr(self, d).close()
        if self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        self._xvfb_log.close()

    def env(self):
        return {"DISPLAY": self.name}

    def atom(self, name):
        if name not in self._atoms:
            self._atoms[name] = self.display.intern_atom(name)
        return self._atoms[name]

    def _bind_characters(self, text):
        """Puts characters that no key of the standard map types (Chinese)
        on spare keys before the program starts. xdotool would otherwise
        rebind a scratch key for each character while typing, which races
        with the program reading the new map."""
        wanted = sorted({c for c in text if ord(c) > 0x7E})
        if not wanted:
            return
        first = self.display.display.info.min_keycode
        count = self.display.display.info.max_keycode - first + 1
        mapping = self.display.get_keyboard_mapping(first, count)
        spare = [first + i for i, syms in enumerate(mapping) if not any(syms)]
        spare.reverse()
        check(len(spare) >= len(wanted), "not enough spare keys for the characters to type")
        for c in wanted:
            self.display.change_keyboard_mapping(spare.pop(), [[0x1000000 + ord(c)] * 2])
        self.display.sync()

    def _title(self, win):
        name = win.get_full_text_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
        if name is None:
            name = win.get_wm_name()
        if isinstance(name, bytes):
            name = name.decode("latin-1")
        return name or ""

    def drain(self):
        """Records the windows that mapped since the last look."""
        self._watch.sync()
        while self._watch.pending_events():
            ev = self._watch.next_event()
            if ev.type == self.X.MapNotify:
                title, size = "?", (0, 0)
                with contextlib.suppress(self.xerror.XError):
                    win = self._watch.create_resource_object("window", ev.window.id)
                    title = self._title(win)
                    g = win.get_geometry()
                    size = (g.width, g.height)
                self.mapped.append((ev.window.id, title, *size))

    def windows(self):
        """The top-level windows on screen now (there is no window manager,
        so they are the root's viewable children)."""
        self.drain()
        found = []
        for win in self.root.query_tree().children:
            try:
                if win.get_attributes().map_state != self.X.IsViewable:
                    continue
                g = win.get_geometry()
                found.append(Window(win.id, self._title(win), g.x, g.y, g.width, g.height))
            except self.xerror.XError:
                continue  # gone while looking
        return found

    def find(self, title, exclude=()):
        matches = [w for w in self.windows() if w.title == title and w.id not in exclude]
        return matches[0] if len(matches) == 1 else None

    def wait_window(self, title, size=None, exclude=(), timeout=DEADLINE):
        win = wait_until(lambda: self.find(title, exclude), f"a window titled {title!r}",
                         timeout)
        if size is not None:
            check((win.width, win.height) == tuple(size),
                  f"{title!r} is {win.width}x{win.height}, expected {size[0]}x{size[1]}")
        return win

    def is_shown(self, win):
        return any(w.id == win.id for w in self.windows())

    def wait_gone(self, win, timeout=DEADLINE):
        wait_until(lambda: not self.is_shown(win), f"{win} to close", timeout)

    # Real input. Keys go to the window that has the focus; with no window
    # manager that is the one the program activated last, or none, and then
    # the one under the pointer. So the pointer goes onto the window first,
    # at a corner where nothing reacts to it.
    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], check=True, env={**os.environ, **self.env()},
                       stdin=subprocess.DEVNULL)

    def click(self, point):
        self.xdotool("mousemove", str(point[0]), str(point[1]), "click", "1")

    def _into(self, win):
        return ["mousemove", str(win.x + 3), str(win.y + 3)]

    def _wait_keyboard(self, win):
        """A window that the program activates gets the focus only once the
        program has seen it map; keys sent before then go elsewhere."""
        X = self.X

        def ready():
            focus = self.display.get_input_focus().focus
            focus = focus if isinstance(focus, int) else focus.id
            return focus in (win.id, X.PointerRoot, self.root.id)
        wait_until(ready, f"{win} to have the keyboard")

    def key(self, win, *keys):
        self._wait_keyboard(win)
        self.xdotool(*self._into(win), "key", "--delay", "40", *keys)

    def type(self, win, text):
        self._wait_keyboard(win)
        self.xdotool(*self._into(win), "type", "--delay", "40", text)

    def close_window(self, win):
        """What a window manager's close button does: WM_DELETE_WINDOW."""
        X = self.X
        xwin = self.display.create_resource_object("window", win.id)
        protocols = xwin.get_wm_protocols() or []
        check(self.atom("WM_DELETE_WINDOW") in protocols, f"{win} does not take WM_DELETE_WINDOW")
        ev = self.xprotocol.event.ClientMessage(
            window=xwin, client_type=self.atom("WM_PROTOCOLS"),
            data=(32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        xwin.send_event(ev, event_mask=X.NoEventMask)
        self.display.sync()

    # Pixels.
    def grab(self, x, y, width, height):
        """Rows of (r, g, b) tuples."""
        image = self.root.get_image(x, y, width, height, self.X.ZPixmap, 0xFFFFFFFF)
        data = image.data
        check(len(data) == width * height * 4, "unexpected screen image format")
        return [[(data[i + 2], data[i + 1], data[i]) for i in range(row * width * 4,
                                                                    (row + 1) * width * 4, 4)]
                for row in range(height)]

    def save_png(self, path):
        w, h = SCREEN_SIZE
        rows = self.grab(0, 0, w, h)
        raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


# --- The program --------------------------------------------------------------

class Program:
    """The program started inside the private root."""

    def __init__(self, root, screen, command, log_name="program", umask=0o022):
        self.root, self.screen = root, screen
        self.stderr_path = os.path.join(root.folder, f"{log_name}.stderr")
        self._stderr = open(self.stderr_path, "wb")
        env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
               "HOME": "/root", "LANG": "C.UTF-8", "QT_QPA_PLATFORM": "xcb",
               **screen.env()}
        self.process = subprocess.Popen(["chroot", root.path, *command], env=env,
                                        stdin=subprocess.DEVNULL, stdout=self._stderr,
                                        stderr=self._stderr, umask=umask,
                                        preexec_fn=_end_with_this_process)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=DEADLINE):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout:.0f} s") from None

    def stderr(self):
        self._stderr.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.running():
            self.process.kill()
            self.process.wait()
        self._stderr.close()


class MainWindow:
    """The main window as the user sees it: buttons at fixed places and a
    list whose rows are found on screen."""

    WHITE = (255, 255, 255)

    def __init__(self, screen, win):
        self.screen, self.win = screen, win
        left = px(FRAME1[0] + LIST_VIEW[0])
        top = px(FRAME1[1] + LIST_VIEW[1])
        self.list_box = (win.x + left, win.y + top, px(LIST_VIEW[2]), px(LIST_VIEW[3]))
        self._rows = None  # (top of the first row, row height)

    def click(self, button):
        self.screen.click(self.win.at(*button))

    def _column(self):
        """Pixels of the list, top to bottom, near its right edge: clear of
        the text, inside the header and inside every row."""
        x, y, w, h = self.list_box
        return [row[0] for row in self.screen.grab(x + w - 30, y, 1, h)]

    def _band(self, column, start):
        end = start
        while end < len(column) and column[end] != self.WHITE:
            end += 1
        return end - start

    def measure_rows(self):
        """Finds the rows on screen: the first white line below the header
        starts the first row; selecting that row paints it, and the painted
        band is one row high. Leaves the first row selected."""
        def rows_start():
            column = self._column()
            return next((i for i in range(5, min(60, len(column) - 3))
                         if all(p == self.WHITE for p in column[i:i + 4])
                         and column[i - 1] != self.WHITE), None)
        # Right after the window maps it may not be painted yet.
        first = wait_until(rows_start, "the list to show rows below its header")
        x, y, _, _ = self.list_box
        self.screen.click((x + 40, y + first + 2))
        height = wait_until(lambda: self._band(self._column(), first),
                            "the first row to show as selected")
        check_equal(self._band(self._column(), first), height, "height of the selected row")
        check(8 <= height <= 40, f"implausible row height {height}")
        self._rows = (first, height)
        return self._rows

    def pick_row(self, index):
        """Clicks the row, and checks on screen that it is the one selected."""
        if self._rows is None:
            self.measure_rows()
            if index == 0:
                return  # a second click would be a double click, which edits the row
        first, height = self._rows
        x, y, _, h = self.list_box
        row_top = first + index * height
        check(row_top + height < h - 20, f"row {index} is not visible in the list")
        self.screen.click((x + 40, y + row_top + height // 2))

        def selected():
            column = self._column()
            return (self._band(column, row_top) == height
                    and (index == 0 or column[first] == self.WHITE))
        wait_until(selected, f"row {index} to show as selected")


# --- Running one test ---------------------------------------------------------

class Context:
    """What a scenario gets: the screen, a folder of its own, the options
    given on the command line, and programs that are stopped when it ends."""

    def __init__(self, folder, screen, options):
        self.folder, self.screen, self.options = folder, screen, options
        self._programs = []

    def private_root(self, name="sandbox"):
        return PrivateRoot(os.path.join(self.folder, name))

    def start(self, root, command, **kwargs):
        program = Program(root, self.screen, command, **kwargs)
        self._programs.append(program)
        return program

    def close(self):
        for program in self._programs:
            program.stop()


def run(scenarios, characters=""):
    """Entry point of a test script: runs the scenarios named on its command
    line, each on a screen of its own. characters: what the scenarios type
    that a standard keyboard map has no key for."""
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True, help="folder for the tests' roots and logs")
    parser.add_argument("--option", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("scenario", nargs="+", choices=sorted(scenarios))
    args = parser.parse_args()
    options = dict(o.split("=", 1) for o in args.option)
    try:
        enter_private_mount_namespace()
    except Skip as e:
        return _skip(str(e))

    status = 0
    before = _real_tarnwick()
    for name in args.scenario:
        folder = os.path.join(os.path.abspath(args.work), name)
        if os.path.lexists(folder):
            shutil.rmtree(folder)
        os.makedirs(folder)
        screen = context = None
        print(f"--- {name}", flush=True)
        started = time.monotonic()
        try:
            screen = Screen(folder, characters)
            context = Context(folder, screen, options)
            scenarios[name](context)
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except Skip as e:
            return _skip(str(e))
        except Exception:
            status = 1
            traceback.print_exc()
            if screen is not None:
                with contextlib.suppress(Exception):
                    shot = os.path.join(folder, "failure.png")
                    screen.save_png(shot)
                    print(f"screen at the failure: {shot}")
                    print(f"windows that mapped, in order: {screen.mapped}")
            if context is not None:
                for program in context._programs:
                    with contextlib.suppress(Exception):
                        print(f"program's output ({program.stderr_path}):\n{program.stderr()}")
            print(f"FAIL {name} (its files: {folder})", flush=True)
        finally:
            if context is not None:
                context.close()
            if screen is not None:
                screen.close()
    if _real_tarnwick() != before:
        print("FAIL: the machine's own /tarnwick changed", flush=True)
        status = 1
    return status


def _real_tarnwick():
    try:
        st = os.lstat("/tarnwick")
        return (st.st_mode, st.st_ino, st.st_mtime_ns)
    except FileNotFoundError:
        return None


def _skip(reason):
    print(f"SKIPPED: {reason}", flush=True)
    if os.environ.get("CI"):
        print("CI must run the end-to-end tests: failing instead of skipping.", flush=True)
        return 1
    return SKIP
