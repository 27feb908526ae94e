"""An X desktop for the tests of the desktop program: Xvfb, optionally a tray
host (trayer), and helpers to find windows, send input and take screenshots."""
import contextlib
import os
import threading
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from Xlib import X, XK, Xatom, display as xdisplay, protocol
from Xlib.error import XError
from Xlib.ext import xtest

BUILD_DIR = Path(os.environ.get("SEALDESK_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "test"))
SCREENSHOTS = BUILD_DIR / "screenshots"


def wait_until(condition, timeout=10.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return value
        time.sleep(step)


class Desktop:
    def __init__(self, tray=True):
        self.runtime = Path(tempfile.mkdtemp(prefix="sealdesk-runtime-"))
        os.chmod(self.runtime, 0o700)
        read, write = os.pipe()
        # -displayfd picks a free display number: tests run side by side.
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.name = ":" + number.decode().strip()
        self.x = xdisplay.Display(self.name)
        self.root = self.x.screen().root
        self.tray = None
        if tray:
            self.start_tray()

    def start_tray(self):
        self.tray = subprocess.Popen(
            ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "32"],
            env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: self.find_window("panel")), "trayer did not start"

    def restart_tray(self):
        self.tray.terminate()
        self.tray.wait(timeout=10)
        assert wait_until(lambda: self.find_window("panel") is None, 5)
        self.start_tray()

    def env(self, extra=None):
        env = dict(os.environ)
        for name in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        env.update({"DISPLAY": self.name, "XDG_RUNTIME_DIR": str(self.runtime), "QT_QPA_PLATFORM": "xcb"})
        env.update(extra or {})
        return env

    def close(self):
        self.x.close()
        for process in (self.tray, self.xvfb):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)

    # ---- windows ------------------------------------------------------------

    def _walk(self, window):
        try:
            children = window.query_tree().children
        except XError:
            return
        for child in children:
            yield child
            yield from self._walk(child)

    def title(self, window):
        """_NET_WM_NAME, else WM_NAME, of any text type (Qt writes UTF-8)."""
        for atom in (self.x.intern_atom("_NET_WM_NAME"), Xatom.WM_NAME):
            value = window.get_full_property(atom, X.AnyPropertyType)
            if value and value.value:
                text = value.value
                return text.decode("utf-8", "replace") if isinstance(text, bytes) else str(text)
        return None

    def windows(self, name=None, viewable=True):
        found = []
        for window in self._walk(self.root):
            try:
                title = self.title(window)
                if name is not None and title != name:
                    continue
                if viewable and window.get_attributes().map_state != X.IsViewable:
                    continue
                found.append(window)
            except XError:
                continue
        return found

    def find_window(self, name, viewable=True):
        found = self.windows(name, viewable)
        return found[0] if found else None

    def window_type(self, window):
        atom = self.x.intern_atom("_NET_WM_WINDOW_TYPE")
        try:
            value = window.get_full_property(atom, Xatom.ATOM)
        except XError:
            return []
        return [self.x.get_atom_name(a) for a in value.value] if value else []

    def window_state(self, window):
        atom = self.x.intern_atom("_NET_WM_STATE")
        value = window.get_full_property(atom, Xatom.ATOM)
        return [self.x.get_atom_name(a) for a in value.value] if value else []

    def windows_of_type(self, kind):
        return [w for w in self.windows() if f"_NET_WM_WINDOW_TYPE_{kind}" in self.window_type(w)]

    def tooltips(self):
        """Tooltip windows (the tray's balloon is one too)."""
        return {w.id for w in self._top_level() if "_NET_WM_WINDOW_TYPE_TOOLTIP" in self.window_type(w)}

    def popup_menus(self):
        """Open popup menus: windows that bypass the window manager and are
        no tooltips."""
        return [w for w in self._top_level()
                if w.get_attributes().override_redirect
                and "_NET_WM_WINDOW_TYPE_TOOLTIP" not in self.window_type(w)
                and w.get_geometry().width > 1]

    def _top_level(self):
        found = []
        for window in self.root.query_tree().children:
            try:
                if window.get_attributes().map_state == X.IsViewable:
                    found.append(window)
            except XError:
                continue
        return found

    def centre(self, window):
        geometry = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        return -origin.x + geometry.width // 2, -origin.y + geometry.height // 2

    def tray_icon(self, program="sealdesk"):
        """The program's icon window embedded in the tray host's panel."""
        panel = self.find_window("panel")
        if panel is None:
            return None
        for window in self._walk(panel):
            try:
                if self.title(window) == program and window.get_attributes().map_state == X.IsViewable:
                    return window
            except XError:
                continue
        return None

    def request_close(self, window):
        """What a window manager's close box sends: WM_DELETE_WINDOW."""
        protocols = self.x.intern_atom("WM_PROTOCOLS")
        delete = self.x.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        self.x.flush()

    # ---- input --------------------------------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env(), check=True)

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def keys_down(self, keysyms, down=True):
        for name in keysyms:
            code = self.x.keysym_to_keycode(XK.string_to_keysym(name))
            xtest.fake_input(self.x, X.KeyPress if down else X.KeyRelease, code)
        self.x.sync()

    def nudge_pointer(self, dx):
        xtest.fake_input(self.x, X.MotionNotify, True, x=dx, y=0)
        self.x.sync()

    @contextlib.contextmanager
    def busy_pointer(self):
        """Keeps the desktop's idle time near zero: the pointer moves every
        30 ms, from an X connection of its own (Xlib's are not shared between
        threads)."""
        mover = xdisplay.Display(self.name)
        stop = threading.Event()

        def run():
            step = 1
            while not stop.is_set():
                xtest.fake_input(mover, X.MotionNotify, True, x=step, y=0)
                mover.sync()
                step = -step
                time.sleep(0.03)

        thread = threading.Thread(target=run)
        thread.start()
        try:
            time.sleep(0.1)
            yield
        finally:
            stop.set()
            thread.join()
            mover.close()

    # ---- pictures -----------------------------------------------------------

    def screenshot(self, name):
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        target = SCREENSHOTS / f"{name}.png"
        subprocess.run(["import", "-window", "root", str(target)], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return target
