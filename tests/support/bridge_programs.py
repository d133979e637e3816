"""modbus-sim, modbus-bridged and the window as programs for the scripted tests and benchmarks.

Each program writes its output into a file of the run's folder, so a failure can show it; the
bridge runs as a copy in that folder with its settings file beside it, as a user runs it.
"""

import os
import shutil
import signal
import socket
import subprocess
import time

from bridge_port import PORT


def start_sim(sim, options, folder, name="sim"):
    """A simulated slave writing into folder/NAME.out: (process, path of its terminal)."""
    out = open(os.path.join(folder, name + ".out"), "w+")
    process = subprocess.Popen([sim, *options], stdout=out, stderr=subprocess.STDOUT)
    # Its first line is the terminal's path, printed once the terminal (and any link) exists.
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        out.seek(0)
        first = out.readline().strip()
        if first:
            return process, first
        if process.poll() is not None:
            break
        time.sleep(0.02)
    raise RuntimeError(f"modbus-sim {' '.join(options)} did not start")


def start_bridged(bridged, folder, settings, windows_build=None):
    """modbus-bridged from folder with SETTINGS as its settings file, its output in
    folder/bridge.log: (process, the log opened for reading) once it accepts connections. With
    windows_build, BRIDGED is that build's modbus-bridged.exe, run under wine."""
    if windows_build:
        return start_bridge(bridged, "modbus-bridged.exe", folder, settings,
                            windows_build=windows_build)
    return start_bridge(bridged, "modbus-bridged", folder, settings)


# The COM port of a Windows build's wine prefix that leads to a simulator for the scripts (the
# end-to-end test has COM20). Mapping it needs the wine_com_ports lock under CTest.
WINE_COM_PORT = 21


def wine_com_port(windows_build, device):
    """Maps the wine prefix's COM port to the device; what a [Ports] line names for it."""
    link = os.path.join(windows_build, "wine", "dosdevices", f"com{WINE_COM_PORT}")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(device, link)
    return f"\\\\.\\COM{WINE_COM_PORT}"


def stop_bridge(process, timeout=10):
    """Ends a bridge started here as its user would: SIGTERM, or Ctrl+C for a Windows program
    (wine turns SIGINT into it; SIGTERM would end the process at once)."""
    process.send_signal(getattr(process, "stop_signal", signal.SIGTERM))
    return process.wait(timeout=timeout)


def start_window(window, folder, settings):
    """The window (modbus-bridge) offscreen, as start_bridged starts modbus-bridged. Its log is
    not in its output: only LogFolder's daily files hold it."""
    return start_bridge(window, "modbus-bridge", folder, settings,
                        {**os.environ, "QT_QPA_PLATFORM": "offscreen"})


def start_bridge(path, name, folder, settings, environment=None, windows_build=None):
    program = os.path.join(folder, name)
    shutil.copy(path, program)
    with open(os.path.join(folder, os.path.splitext(name)[0] + ".ini"), "w") as ini:
        ini.write(settings)
    log = open(os.path.join(folder, "bridge.log"), "w+")
    command = [program]
    if windows_build:
        wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "wine-run.sh")
        command = [wine_run, windows_build, program]
    process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=environment)
    if windows_build:
        process.stop_signal = signal.SIGINT
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and process.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
            return process, log
        except OSError:
            time.sleep(0.05)
    log.seek(0)
    if process.poll() is None:
        process.kill()
        process.wait()
    raise RuntimeError(f"{name} did not start: {log.read()[-500:]}")
