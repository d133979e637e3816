#!/usr/bin/env python3
"""The window's tray icon on a desktop session of its own (Xvfb and icewm, whose taskbar holds
a system tray or, when a case says so, none), as an operator meets it. A notification service on
the session bus (notification-listener, under dbus-run-session) prints what it gets and clicks on
request; the window is a copy in a folder of its own, with daily log files there, its
autostart folder there (XDG_CONFIG_HOME) and its runtime folder, where it keeps its one-copy
marker and socket (XDG_RUNTIME_DIR).

    dbus-run-session -- tray-program-test.py MODBUS_BRIDGE NOTIFICATION_LISTENER MODBUS_SIM
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from bridge_http import exchange  # noqa: E402
from bridge_port import PORT, port_taken  # noqa: E402

WINDOW, LISTENER, SIM = sys.argv[1:4]
CAPTION = "RAVO Duridur"
NO_TRAY = "Значок моста не показан: на рабочем столе нет области уведомлений"
TRAY_CAME = "Область уведомлений появилась"


def wait_until(what, condition, seconds=20):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {seconds} s: {what}")
        time.sleep(0.05)


class Desktop:
    """Xvfb, icewm with or without its tray, and what the case starts on it."""

    def __init__(self, folder, tray):
        self.folder = folder
        self.processes = []
        # A desktop that never came up leaves no Xvfb or icewm behind.
        try:
            self.start_session(tray)
        except BaseException:
            self.stop()
            raise

    def start_session(self, tray):
        folder = self.folder
        read, write = os.pipe()
        # Without -noreset the server starts over each time its last client leaves, as the
        # probe below does just before icewm comes: one moving part fewer.
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp", "-noreset"], pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as numbers:
            self.display = ":" + numbers.readline().strip()
        wait_until(f"Xvfb answers on {self.display}",
                   lambda: subprocess.run(["xprop", "-root"], env=self.environment(),
                                          capture_output=True).returncode == 0)
        preferences = os.path.join(folder, "icewm")
        os.makedirs(preferences)
        with open(os.path.join(preferences, "preferences"), "w") as file:
            file.write(f"TaskBarEnableSystemTray={1 if tray else 0}\n")
        # The window manager is there once it owns the root window's redirection. It is the
        # test's scaffolding, not what the test is about: one that ends at once while Xvfb runs
        # is started again, once, and its output says so.
        for attempt in (1, 2):
            icewm = self.start(["icewm"], environment={"ICEWM_PRIVCFG": preferences})
            try:
                wait_until("icewm manages the display",
                           lambda: self.running(icewm) and
                           "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.x(["xprop", "-root"]))
                return
            except AssertionError:
                if attempt == 2 or icewm.poll() is None or self.processes[0].poll() is not None:
                    raise
                print(f"tray-program-test: icewm ended with {icewm.returncode} on "
                      f"{self.display}; started again", file=sys.stderr)

    def running(self, process):
        if process.poll() is not None:
            raise AssertionError(f"{process.args[0]} ended with {process.returncode}")
        return True

    def environment(self, extra=None):
        return {**os.environ, "DISPLAY": self.display, **(extra or {})}

    def start(self, command, environment=None, **options):
        log = open(os.path.join(self.folder, os.path.basename(command[0]) + ".out"), "a")
        process = subprocess.Popen(command, stdout=options.pop("stdout", log),
                                   stderr=subprocess.STDOUT, env=self.environment(environment)
                                   if hasattr(self, "display") else None, **options)
        self.processes.append(process)
        return process

    def x(self, command):
        result = subprocess.run(command, env=self.environment(), capture_output=True, text=True,
                                timeout=30)
        return result.stdout

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


class Bridge:
    """The window on the desktop, with the notification service beside it."""

    def __init__(self, desktop, options=()):
        self.desktop = desktop
        self.folder = desktop.folder
        self.program = os.path.join(self.folder, "bridge", "modbus-bridge")
        os.makedirs(os.path.dirname(self.program))
        shutil.copy(WINDOW, self.program)
        self.logs = os.path.join(self.folder, "logs")
        with open(self.program + ".ini", "w") as settings:
            settings.write(f"[Options]\nLogFolder={self.logs}\n")
        self.config = os.path.join(self.folder, "config")
        self.autostart = os.path.join(self.config, "autostart", "modbus-bridge.desktop")
        self.notifications = desktop.start([LISTENER], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True)
        ready = self.notifications.stdout.readline().strip()
        assert ready == "ready", f"the notification service did not start: {ready}"
        # The window's marker and socket in a runtime folder of the case's own.
        self.runtime = os.path.join(self.folder, "runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.process = self.start(options)
        wait_until("the window listens", self.listening)
        # Started hidden, it has no window on the display until it is first shown.
        self.window = None if options else wait_until("the window exists", self.main_window)

    def start(self, options=()):
        return self.desktop.start([self.program, *options],
                                  environment={"XDG_CONFIG_HOME": self.config,
                                               "XDG_RUNTIME_DIR": self.runtime,
                                               "QT_QPA_PLATFORM": "xcb"})

    def listening(self):
        assert self.process.poll() is None, f"the window ended with {self.process.returncode}"
        try:
            socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
            return True
        except OSError:
            return False

    def windows(self, *search):
        found = self.desktop.x(["xdotool", "search", *search]).split()
        return [window for window in found if self.geometry(window)]

    def geometry(self, window):
        info = self.desktop.x(["xwininfo", "-id", window])
        fields = dict(line.strip().split(": ", 1) for line in info.splitlines()
                      if ": " in line)
        if "Width" not in fields:
            return None
        return int(fields["Width"]), int(fields["Height"]), fields["Map State"]

    def main_window(self):
        for window in self.windows("--name", CAPTION):
            width, height, _ = self.geometry(window)
            if width >= 500 and height >= 300:
                return window
        return None

    def tray_icon(self):
        """The icon's window in a tray, once it is shown there."""
        for window in self.windows("--classname", "modbus-bridge"):
            width, height, state = self.geometry(window)
            if width <= 64 and height <= 64 and state == "IsViewable":
                return window
        return None

    def state(self):
        """shown, iconic (minimized on the taskbar) or hidden (withdrawn)."""
        _, _, mapped = self.geometry(self.window)
        wm_state = self.desktop.x(["xprop", "-id", self.window, "WM_STATE"])
        if "Iconic" in wm_state:
            return "iconic"
        return "shown" if mapped == "IsViewable" else "hidden"

    def lines(self):
        text = ""
        if os.path.isdir(self.logs):
            for name in sorted(os.listdir(self.logs)):
                with open(os.path.join(self.logs, name), encoding="cp1251") as file:
                    text += file.read()
        return text

    def click_icon(self, button):
        icon = self.tray_icon()
        assert icon, "no tray icon to click"
        self.desktop.x(["xdotool", "mousemove", "--window", icon, "5", "5", "click", button])

    def tray_menu(self, item):
        """Chooses the tray menu's item by its place: 1 "Показать окно", 2 "Сайты…",
        3 "Запускать при входе в систему", 4 "Выход" (the separator is skipped by the keys)."""
        self.click_icon("3")
        time.sleep(0.5)
        self.desktop.x(["xdotool", "key", *(["Down"] * item), "Return"])

    def minimize(self):
        self.desktop.x(["xdotool", "windowminimize", self.window])

    def ask_from(self, origin):
        body = "json_data=" + urllib.parse.quote('{"company_id":1}')
        request = (f"POST / HTTP/1.1\r\nHost: localhost:{PORT}\r\nOrigin: {origin}\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\n"
                   f"Content-Length: {len(body)}\r\n\r\n{body}").encode()
        return exchange(request)

    def notification(self):
        line = self.notifications.stdout.readline().rstrip("\n")
        assert line.startswith("notify "), f"not a notification: {line!r}"
        number, summary, body, actions = line[len("notify "):].split("\t")
        return number, summary, body, actions

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        assert self.process.wait(timeout=10) == 0, f"the window ended with {self.process.returncode}"
        self.notifications.stdin.close()


def with_a_tray(folder):
    """Started at login: hidden in the tray until the icon's click. The menu writes and removes
    the autostart entry; minimizing hides the window; a page's question while it hides raises a
    notification naming the page, whose click brings the window; clicks on the icon hide and
    show it."""
    desktop = Desktop(folder, tray=True)
    try:
        bridge = Bridge(desktop, ["--minimized"])
        wait_until("the icon in icewm's tray", bridge.tray_icon)
        time.sleep(1)
        shown = bridge.windows("--onlyvisible", "--name", CAPTION)
        assert not shown, f"started with --minimized, a window was shown: {shown}"
        bridge.click_icon("1")
        bridge.window = wait_until("the window shown by a click on the icon", bridge.main_window)
        wait_until("the window in sight", lambda: bridge.state() == "shown")
        assert NO_TRAY not in bridge.lines(), bridge.lines()

        bridge.tray_menu(3)
        wait_until("the autostart entry", lambda: os.path.exists(bridge.autostart))
        with open(bridge.autostart) as entry:
            text = entry.read()
        assert f'Exec="{bridge.program}" --minimized\n' in text, text
        bridge.tray_menu(3)
        wait_until("the autostart entry removed", lambda: not os.path.exists(bridge.autostart))

        bridge.minimize()
        wait_until("the minimized window hidden in the tray", lambda: bridge.state() == "hidden")
        answer = bridge.ask_from("https://plant.example")
        assert b'"error_code":127' in answer, answer
        number, summary, body, actions = bridge.notification()
        assert summary == "Modbus мост", summary
        assert "https://plant.example" in body, body
        assert actions.startswith("default,"), actions
        bridge.notifications.stdin.write(f"click {number}\n")
        bridge.notifications.stdin.flush()
        wait_until("the window back after the notification's click",
                   lambda: bridge.state() == "shown")

        bridge.click_icon("1")
        wait_until("a click on the icon hides the window", lambda: bridge.state() == "hidden")
        bridge.click_icon("1")
        wait_until("a click on the icon shows the window", lambda: bridge.state() == "shown")
        bridge.stop()
    finally:
        desktop.stop()


def without_a_tray_until_one_comes(folder):
    """Started at login without a tray: minimized on the taskbar, one line says why, and
    minimizing never hides it; a tray host that starts later takes the icon, and from then on
    minimizing hides the window."""
    desktop = Desktop(folder, tray=False)
    try:
        bridge = Bridge(desktop, ["--minimized"])
        wait_until("the line that says why there is no icon", lambda: NO_TRAY in bridge.lines())
        assert bridge.tray_icon() is None
        bridge.window = wait_until("the window exists", bridge.main_window)
        wait_until("the window minimized on the taskbar", lambda: bridge.state() == "iconic")
        desktop.x(["xdotool", "windowactivate", bridge.window])
        wait_until("the window back", lambda: bridge.state() == "shown")
        bridge.minimize()
        wait_until("the window minimized again", lambda: bridge.state() == "iconic")
        time.sleep(1)
        assert bridge.state() == "iconic", "the window left the taskbar without a tray"
        desktop.x(["xdotool", "windowactivate", bridge.window])
        wait_until("the window back", lambda: bridge.state() == "shown")

        desktop.start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "24"])
        wait_until("the line that the tray came", lambda: TRAY_CAME in bridge.lines())
        wait_until("the icon in trayer's tray", bridge.tray_icon)
        bridge.minimize()
        wait_until("the minimized window hidden in the new tray",
                   lambda: bridge.state() == "hidden")
        assert bridge.lines().count(NO_TRAY) == 1, bridge.lines()
        bridge.stop()
    finally:
        desktop.stop()


def one_copy(folder):
    """A second start (a double click on the shortcut) brings the window hidden in the tray into
    sight and ends at once with 0, leaving the settings as they were; one at login leaves it
    hidden. A first copy that was killed blocks no later start."""
    desktop = Desktop(folder, tray=True)
    try:
        bridge = Bridge(desktop, ["--minimized"])
        wait_until("the icon in icewm's tray", bridge.tray_icon)
        settings = bridge.program + ".ini"
        with open(settings, "rb") as file:
            stored = file.read()
        at_login = bridge.start(["--minimized"])
        assert at_login.wait(timeout=10) == 0, f"a start at login ended with {at_login.returncode}"
        time.sleep(1)
        assert not bridge.windows("--onlyvisible", "--name", CAPTION), "shown by a start at login"
        second = bridge.start()
        assert second.wait(timeout=10) == 0, f"the second start ended with {second.returncode}"
        bridge.window = wait_until("the first's window brought by the second start",
                                   bridge.main_window)
        wait_until("the window in sight", lambda: bridge.state() == "shown")
        assert bridge.process.poll() is None, "the first copy ended"
        with open(settings, "rb") as file:
            assert file.read() == stored, "the second start wrote the settings"
        assert bridge.lines().count("Старт") == 1, bridge.lines()

        bridge.process.kill()
        bridge.process.wait()
        bridge.process = bridge.start()
        wait_until("a start after the first was killed listens", bridge.listening)
        bridge.stop()
    finally:
        desktop.stop()


def main():
    taken = port_taken()
    if taken:
        print(f"tray-program-test: {taken}", file=sys.stderr)
        return 1
    cases = [
        ("with a tray", with_a_tray),
        ("without a tray until one comes", without_a_tray_until_one_comes),
        ("one copy", one_copy),
    ]
    failed = 0
    for name, case in cases:
        folder = tempfile.mkdtemp(prefix="tray-program-")
        try:
            case(folder)
            print(f"ok: {name}")
        except Exception as error:  # noqa: BLE001 (every case runs, each failure is told)
            failed += 1
            print(f"FAIL: {name}: {error}")
            for log in ("modbus-bridge.out", "icewm.out", "Xvfb.out"):
                path = os.path.join(folder, log)
                if os.path.exists(path):
                    print(f"--- {log}\n" + open(path, errors="replace").read()[-2000:])
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
