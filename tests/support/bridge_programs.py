"""modbus-sim, modbus-bridged and the window as programs for the scripted tests and benchmarks.

Each program writes its output into a file of the run's folder, so a failure can show it; the
bridge runs as a copy in that folder with its settings file beside it, as a user runs it.
"""

import os
import shutil
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


def start_bridged(bridged, folder, settings):
    """modbus-bridged from folder with SETTINGS as its settings file, its output in
    folder/bridge.log: (process, the log opened for reading) once it accepts connections."""
    return start_bridge(bridged, "modbus-bridged", folder, settings)


def start_window(window, folder, settings):
    """The window (modbus-bridge) offscreen, as start_bridged starts modbus-bridged. Its log is
    not in its output: only LogFolder's daily files hold it."""
    return start_bridge(window, "modbus-bridge", folder, settings,
                        {**os.environ, "QT_QPA_PLATFORM": "offscreen"})


def start_bridge(path, name, folder, settings, environment=None):
    program = os.path.join(folder, name)
    shutil.copy(path, program)
    with open(os.path.join(folder, name + ".ini"), "w") as ini:
        ini.write(settings)
    log = open(os.path.join(folder, "bridge.log"), "w+")
    process = subprocess.Popen([program], stdout=log, stderr=subprocess.STDOUT, env=environment)
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
