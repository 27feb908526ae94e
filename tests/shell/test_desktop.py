"""The desktop program under Xvfb with a real tray host: tray icon, menu,
double-click, About box, main window, single instance, stop signals, and the
operator override of the admission rule."""
import os
import signal
import socket
import subprocess
import time

import pytest
from Xlib import X

from conftest import BOM, HTTP_PORT, Service, port_open
from desktop import BUILD_DIR, Desktop, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))


def desktop_env(desktop):
    # Qt and the X libraries keep caches for the life of the process; the
    # sanitizer build reports only what the program itself leaks.
    return desktop.env({"LSAN_OPTIONS": f"suppressions={HERE}/desktop.supp:print_suppressions=0", "TZ": "UTC"})


@pytest.fixture
def desktop():
    d = Desktop(tray=True)
    yield d
    d.close()


@pytest.fixture
def bare_desktop():
    d = Desktop(tray=False)
    yield d
    d.close()


class Program(Service):
    """sealdesk started without --headless on a desktop."""

    def __init__(self, folder, desktop):
        super().__init__(folder, env=desktop_env(desktop), args=())
        self.desktop = desktop

    def quit_status(self, timeout=20):
        try:
            return self.process.wait(timeout=timeout)
        finally:
            self.read_output()


@pytest.fixture
def programs():
    started = []
    yield started
    for program in started:
        if program.process and program.process.poll() is None:
            program.process.kill()
            program.process.wait()


def start_program(program_folder, desktop, programs):
    program = Program(program_folder, desktop)
    programs.append(program)
    return program.start()


def echo(program, value="abc"):
    return program.call("/echo", {"value": value}).endswith(value.encode())


def stays_closed(port, seconds=1.5):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if port_open(port):
            return False
        time.sleep(0.1)
    return True


def open_menu(desktop):
    icon = desktop.tray_icon()
    desktop.move(*desktop.centre(icon))
    desktop.xdotool("click", 3)
    menu = wait_until(desktop.popup_menus, 5)
    assert menu, "the tray menu did not open"
    time.sleep(0.2)
    return menu[0]


def choose(desktop, position):
    """Picks the menu item at `position` among Start, Stop, About, Quit."""
    desktop.xdotool("key", *(["Down"] * (position + 1)), "Return")


def double_click_icon(desktop):
    desktop.move(*desktop.centre(desktop.tray_icon()))
    desktop.xdotool("click", "--repeat", 2, "--delay", 80, 1)


def test_tray_icon_menu_default_item_about_and_quit(program_folder, desktop, programs):
    program = start_program(program_folder, desktop, programs)
    icon = wait_until(desktop.tray_icon, 10)
    assert icon is not None, "no icon in the tray"
    assert desktop.find_window("SealDesk") is None, "the main window should be hidden"
    assert echo(program)
    desktop.screenshot("tray-balloon")

    # Hovering shows the tooltip (a tooltip window besides the balloon).
    shown = desktop.tooltips()
    desktop.move(*desktop.centre(icon))
    assert wait_until(lambda: desktop.tooltips() - shown, 5), "no tooltip"
    desktop.screenshot("tray-tooltip")

    open_menu(desktop)
    desktop.screenshot("tray-menu")
    choose(desktop, 1)  # Stop
    assert wait_until(lambda: not port_open(HTTP_PORT), 10), "Stop left the service running"

    open_menu(desktop)
    desktop.screenshot("tray-menu-after-stop")  # "Stop" in bold
    desktop.xdotool("key", "Escape")
    assert wait_until(lambda: not desktop.popup_menus(), 5)

    # The default is now Stop: a double-click stops again, which starts nothing.
    double_click_icon(desktop)
    assert stays_closed(HTTP_PORT)

    open_menu(desktop)
    choose(desktop, 0)  # Start
    assert wait_until(lambda: port_open(HTTP_PORT), 10), "Start did not start the service"
    assert echo(program, "again")

    # A stop signal stops the service and nothing else.
    program.process.send_signal(signal.SIGTERM)
    assert wait_until(lambda: not port_open(HTTP_PORT), 10)
    time.sleep(0.3)
    assert program.process.poll() is None, "a stop signal ended the desktop program"
    assert desktop.tray_icon() is not None

    # The default item is Start again (it was the last command): a
    # double-click starts the service.
    double_click_icon(desktop)
    assert wait_until(lambda: port_open(HTTP_PORT), 10), "double-click did not run Start"
    assert echo(program)

    # Start on a running service changes nothing: the page keeps its session.
    session = program.call("/getSession")[3:].decode()
    double_click_icon(desktop)
    time.sleep(1)
    assert program.call("/configOCSP", {"isOCSP": "0", "sessionID": session}) == BOM + b"0"

    # A tray host that restarts gets the icon back, without a new balloon.
    balloons = desktop.tooltips()
    desktop.restart_tray()
    assert wait_until(desktop.tray_icon, 10), "the icon did not come back to the new tray"
    time.sleep(1)
    assert desktop.tooltips() <= balloons

    open_menu(desktop)
    choose(desktop, 2)  # About
    about = wait_until(lambda: desktop.find_window("About"), 5)
    assert about is not None, "no About box"
    time.sleep(0.3)
    desktop.screenshot("about")
    desktop.xdotool("key", "Return")
    assert wait_until(lambda: desktop.find_window("About") is None, 5), "OK did not close the About box"
    assert program.process.poll() is None

    open_menu(desktop)
    choose(desktop, 3)  # Quit
    assert program.quit_status() == 0, program.stderr[-4000:]


def test_second_instance_ends_at_once_and_leaves_the_first_alone(program_folder, desktop, programs):
    first = start_program(program_folder, desktop, programs)
    assert wait_until(desktop.tray_icon, 10)
    # The balloon comes and goes on its own; everything else must stay.
    lasting = lambda: {w.id for w in desktop.windows()} - desktop.tooltips()  # noqa: E731
    windows_before = lasting()
    started = time.monotonic()
    second = subprocess.run([str(program_folder / "sealdesk")], env=desktop_env(desktop),
                            capture_output=True, timeout=20)
    assert second.returncode == 0
    assert time.monotonic() - started < 5
    assert second.stdout == b""
    assert first.process.poll() is None
    assert echo(first)
    assert lasting() == windows_before
    assert desktop.find_window("SealDesk") is None


@pytest.mark.parametrize("how", ["close box", "Escape", "Return"])
def test_without_tray_the_window_shows_closing_only_hides_it(program_folder, bare_desktop, programs, how):
    program = start_program(program_folder, bare_desktop, programs)
    window = wait_until(lambda: bare_desktop.find_window("SealDesk"), 10)
    assert window is not None, "without a tray host the main window must be visible"
    assert echo(program)  # the service starts all the same
    if how == "close box":
        bare_desktop.screenshot("main-window-without-tray")
        bare_desktop.request_close(window)
    else:
        window.set_input_focus(0, 0)
        bare_desktop.x.sync()
        time.sleep(0.2)
        bare_desktop.xdotool("key", how)
    assert wait_until(lambda: bare_desktop.find_window("SealDesk") is None, 5), f"{how} did not hide the window"
    time.sleep(0.3)
    assert program.process.poll() is None, f"{how} ended the program"
    assert echo(program)


def raw_echo_from(source, value="abc", timeout=5):
    """A POST to /echo from `source`; b"" when the service closes at once."""
    body = f"value={value}".encode()
    request = (b"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
               b"Content-Type: application/x-www-form-urlencoded\r\n"
               b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
    with socket.socket() as s:
        s.settimeout(timeout)
        s.bind((source, 0))
        s.connect(("127.0.0.1", HTTP_PORT))
        try:
            s.sendall(request)
            answer = b""
            while chunk := s.recv(4096):
                answer += chunk
        except (ConnectionResetError, BrokenPipeError):
            return b""
    return answer


OVERRIDE_KEYS = ["Control_L", "Shift_L", "Alt_L", "F12"]


def test_operator_override_admits_another_address_only_while_keys_are_held(service_factory, bare_desktop):
    service = service_factory(env=desktop_env(bare_desktop)).start()
    assert raw_echo_from("127.0.0.2") == b""
    # A held key repeats, and repeats count as input; without repeats the
    # idle-time condition can be seen on its own.
    bare_desktop.x.change_keyboard_control(auto_repeat_mode=X.AutoRepeatModeOff)

    # Three of the four keys are not enough.
    bare_desktop.keys_down(OVERRIDE_KEYS[:3])
    bare_desktop.nudge_pointer(1)
    assert raw_echo_from("127.0.0.2") == b""

    # All four, with fresh input while the request comes in.
    bare_desktop.keys_down(OVERRIDE_KEYS[3:])
    with bare_desktop.busy_pointer():
        answer = raw_echo_from("127.0.0.2")
    assert answer.endswith(b"abc"), answer

    # Keys still down but no input for a while: refused again.
    time.sleep(0.6)
    assert raw_echo_from("127.0.0.2") == b""
    bare_desktop.keys_down(OVERRIDE_KEYS, down=False)
    bare_desktop.nudge_pointer(1)
    assert raw_echo_from("127.0.0.2") == b""
    assert service.stop() == 0


@pytest.fixture
def probe(desktop):
    path = BUILD_DIR / "bin" / "shell_dialog_probe"

    def run(kind, *args):
        return subprocess.Popen([str(path), kind, *map(str, args)], env=desktop_env(desktop),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return run


def answer_of(process):
    out, err = process.communicate(timeout=20)
    assert process.returncode == 0, err.decode(errors="replace")[-4000:]
    return out.decode().strip()


def front_dialog(desktop, title):
    window = wait_until(lambda: desktop.find_window(title), 10)
    assert window is not None, f"no window {title!r}"
    # Prompts of a background service must not open behind the browser.
    assert "_NET_WM_STATE_ABOVE" in desktop.window_state(window)
    window.set_input_focus(0, 0)
    desktop.x.sync()
    time.sleep(0.3)
    return window


def test_certificate_chooser_and_pin_dialog(desktop, probe):
    chooser = probe("chooser")
    front_dialog(desktop, "Select Certificate")
    desktop.screenshot("certificate-chooser")
    desktop.xdotool("key", "Down", "Return")
    assert answer_of(chooser) == "answer 1"

    cancelled = probe("chooser")
    front_dialog(desktop, "Select Certificate")
    desktop.xdotool("key", "Escape")
    assert answer_of(cancelled) == "cancel"

    pin = probe("pin")
    front_dialog(desktop, "Token PIN")
    desktop.xdotool("type", "1234")
    desktop.screenshot("pin-dialog")
    desktop.xdotool("key", "Return")
    assert answer_of(pin) == "answer 1234"


def test_file_dialogs_propose_the_name(desktop, probe, tmp_path):
    proposed = tmp_path / "report_signed.pdf"
    save = probe("save", proposed)
    front_dialog(desktop, "Save As")
    desktop.screenshot("save-dialog")
    desktop.xdotool("key", "Return")
    assert answer_of(save) == f"answer {proposed}"

    source = tmp_path / "contract"  # no dot: "All files(*.*)" still lists it
    source.write_bytes(b"x")
    opened = probe("open", source)
    front_dialog(desktop, "Open")
    desktop.screenshot("open-dialog")
    desktop.xdotool("key", "Return")
    assert answer_of(opened) == f"answer {source}"
