"""Settings examples of the documentation, run as a user would: the program they configure is
started with the example as its settings file, and every setting is checked by what it does.

The window's log settings start the window (offscreen) and read its daily file; every other
example starts modbus-bridged and reads its output. A setting without a check here fails the
run, so an example cannot be added without saying how it is seen to work. Paths a test cannot
use as printed are moved: the simulator's link to the runner's simulator, LogFolder below the
run's folder.
"""

import datetime
import json
import os
import re
import subprocess
import threading
import time
import urllib.parse

from bridge_http import exchange
from bridge_port import PORT
from bridge_programs import start_bridged, start_window

# The view option lines of the start, by key; "НЕХ" is spelt in Cyrillic, as the program writes it.
VIEW_LINES = {
    "viewerror": "Показывать Только ошибки",
    "viewset": "Показывать Параметры связи",
    "viewhex": "Показывать \u041d\u0415\u0425 данные",
}
WINDOW_KEYS = {"loglimitmb", "logfolder", "logdays"}
READ = [3, 0, 0, 0, 1]
WRITE = [6, 0, 1, 0, 42]
# The Modbus TCP master a guide shows beside a [ModbusTcp] example: the check runs exactly this.
MBPOLL_TCP = "mbpoll -m tcp -p {port} -a 1 -r 1 -c 2 -1 127.0.0.1"


def settings_lines(text):
    """(section, key, value) of every setting, read as the programs read them: a ';' after a
    blank starts a comment; names compare without case."""
    found, section = [], ""
    for line in text.splitlines():
        line = re.split(r"[ \t];", line, maxsplit=1)[0].strip(" \t")
        if not line or line[0] in ";#":
            continue
        if line.startswith("["):
            section = line[1:].split("]", 1)[0].strip().lower()
        elif "=" in line:
            key, value = line.split("=", 1)
            found.append((section, key.strip(), value.strip()))
    return found


class Run:
    """One example's program, the requests sent to it and its log."""

    def __init__(self, settings, folder, sim_link, log_folder):
        self.settings = settings
        self.folder = folder
        self.sim_link = sim_link
        self.log_folder = log_folder
        self.key = value_of(settings, "server", "key")
        self.log_file = None

    def mapped_ports(self):
        return {int(k[3:]) for s, k, v in self.settings
                if s == "ports" and re.fullmatch(r"(?i)com\d+", k) and v}

    def log_lines(self):
        """The texts of the log's lines so far, after their time stamps."""
        if self.log_folder is not None:
            name = time.strftime("modbus-bridge-%Y-%m-%d.txt")
            try:
                with open(os.path.join(self.log_folder, name), encoding="cp1251") as daily:
                    text = daily.read()
            except OSError:
                return []
        else:
            self.log_file.seek(0)
            text = self.log_file.read()
        return [line.split("\t", 1)[-1] for line in text.splitlines()]

    def ask(self, com_port=1, pdu=None, host=f"localhost:{PORT}", origin=None, key=None):
        """The reply to a request, as a dictionary."""
        request = {"company_id": 1, "device_id": 1, "slave_addr": 1, "baud_rate": 19200,
                   "com_port": com_port, "poll_ms": 1000, "timeout_ms": 500, "ctrl_echo": False,
                   "ctrl_dtr": False, "ctrl_rts": False, "ctrl_invert": False,
                   "rand_string": "settings", "pdu": {"p": pdu or READ}}
        key = self.key if key is None else key
        body = (f"key={urllib.parse.quote(key, safe='')}&" if key else "") + \
            "json_data=" + urllib.parse.quote(json.dumps(request), safe="")
        head = f"POST / HTTP/1.1\r\nHost: {host}\r\n" + \
            (f"Origin: {origin}\r\n" if origin else "") + \
            "Content-Type: application/x-www-form-urlencoded\r\n" + \
            f"Content-Length: {len(body)}\r\n\r\n"
        answer = exchange((head + body).encode(), "127.0.0.1")
        return json.loads(answer.partition(b"\r\n\r\n")[2])


def code(reply):
    return reply.get("error_code")


def expect(condition, problem):
    return None if condition else problem


def check_view_option(run, key, value):
    if key != "viewerror" and value_of(run.settings, "options", "viewerror", "0") not in ("", "0"):
        return None
    wanted = f"{VIEW_LINES[key]}: {'Отключено' if value == '0' else 'Включено'}"
    return expect(wanted in run.log_lines(), f"no start line \"{wanted}\"")


def daily_files_line(run):
    return next((line for line in run.log_lines() if line.startswith("Все строки журнала")), "")


def check_log_limit(run, value):
    return expect(f"до {value} МБ" in daily_files_line(run),
                  f"the log's line does not say {value} MB: {daily_files_line(run)!r}")


def check_log_folder(run, value):
    lines = run.log_lines()
    return expect("RAVO Duridur - Modbus демонстрационный мост" in lines,
                  f"no daily file with the start lines in {run.log_folder}")


def check_log_days(run, value):
    expired, kept = planted_daily_files(run.log_folder, int(value))
    present = set(os.listdir(run.log_folder))
    return (expect(expired not in present, f"{expired} is older than {value} days, yet kept")
            or expect(kept in present, f"{kept} is {value} days old, yet removed")
            or expect(f"хранятся {value} дн." in daily_files_line(run),
                      f"the log's line does not say {value} days: {daily_files_line(run)!r}"))


def planted_daily_files(folder, days):
    """The names of a daily file just too old to keep and of one just young enough."""
    today = datetime.date.today()
    return tuple(f"modbus-bridge-{today - datetime.timedelta(days=age)}.txt"
                 for age in (days + 1, days))


def check_port(run, key, value):
    number = int(key[3:])
    reply = run.ask(com_port=number)
    if value == run.sim_link:
        return expect(reply.get("status") == "ok", f"COM{number} does not reach the simulator: "
                      f"{reply}")
    wanted = f"COM{number} ({value}) не открыт: "
    found = any(line.startswith(wanted) for line in run.log_lines())
    return expect(code(reply) == 122 and found,
                  f"COM{number} is not {value}: {code(reply)}, no line \"{wanted}...\"")


def check_listen(run, value):
    done = subprocess.run(["ss", "-ltnH", f"sport = :{PORT}"], capture_output=True, text=True)
    addresses = sorted(line.split()[3] for line in done.stdout.splitlines())
    wanted = [f"*:{PORT}"] if value.lower() == "any" else [f"127.0.0.1:{PORT}", f"[::1]:{PORT}"]
    return expect(addresses == wanted, f"listens on {addresses}, not {wanted}")


def check_allowed_hosts(run, value):
    for host in filter(None, (name.strip() for name in value.split(","))):
        if code(run.ask(host=f"{host}:{PORT}")) == 125:
            return f"Host: {host} is refused"
    return expect(code(run.ask(host=f"not-allowed.example:{PORT}")) == 125,
                  "a Host that is not allowed is served")


def check_key(run, value):
    return (expect(code(run.ask(key="")) == 125, "a request without the key is served")
            or expect(code(run.ask(key=value + "x")) == 125, "a wrong key is served")
            or expect(code(run.ask()) != 125, "the right key is refused"))


def check_origins(run, value):
    refused = code(run.ask(origin="https://unlisted.example")) == 125
    return expect(refused == (value.lower() != "any"),
                  f"Origins={value}: an unlisted page is {'refused' if refused else 'served'}")


def check_origin(run, origin, value):
    refused = code(run.ask(origin=origin)) == 125
    return expect(refused == (value != "1"),
                  f"{origin}={value}: the page is {'refused' if refused else 'served'}")


def check_unmapped_ports(run, value):
    unmapped = min(set(range(1, 256)) - run.mapped_ports())
    refused = code(run.ask(com_port=unmapped)) == 126
    return expect(refused == (value.lower() == "deny"),
                  f"UnmappedPorts={value}: COM{unmapped} is {'refused' if refused else 'opened'}")


def check_read_only_ports(run, value):
    for name in filter(None, (name.strip() for name in value.split(","))):
        if code(run.ask(com_port=int(name[3:]), pdu=WRITE)) != 126:
            return f"a write to {name} is not refused"
    return None


def check_queue(run, value):
    """Two requests at once: with a queue both are answered, the second once the first is."""
    replies = []
    def ask():
        try:
            replies.append(run.ask())
        except OSError:
            pass

    askers = [threading.Thread(target=ask) for _ in range(2)]
    for asker in askers:
        asker.start()
    for asker in askers:
        asker.join()
    # Without a queue the second gets no reply at all; what the line said is not the point.
    return expect(len(replies) == 2 and all(code(reply) is not None for reply in replies),
                  f"Queue={value}: of two requests at once {len(replies)} answered: {replies}")


def check_modbus_tcp_port(run, value):
    """An independent master reads two registers of the simulator through the front end."""
    command = MBPOLL_TCP.format(port=value)
    done = subprocess.run(command.split(), capture_output=True, text=True, timeout=30)
    missing = [n for n in (1, 2) if not re.search(rf"^\[{n}\]:\s+-?\d+", done.stdout, re.M)]
    return expect(done.returncode == 0 and not missing,
                  f"{command}: status {done.returncode}, registers {missing} not read: "
                  f"{done.stdout.strip()} {done.stderr.strip()}")


def check_modbus_tcp_line(run, key, value):
    """The front end's start line names the line it serves: COM port, speed, time-out."""
    wanted = {"com": f"запросы на COM{value},", "baud": f" {value} бод,",
              "timeoutms": f"таймаут {value} мс"}[key]
    lines = [line for line in run.log_lines() if line.startswith("Modbus TCP слушает порт")]
    return expect(len(lines) == 1 and wanted in lines[0],
                  f"no start line of the front end with \"{wanted}\": {lines}")


def check(run, section, key, value):
    """None when the setting does what the documents say, else what went wrong."""
    name = key.lower()
    if section == "options" and name in VIEW_LINES:
        return check_view_option(run, name, value)
    if section == "ports" and re.fullmatch(r"com\d+", name):
        return check_port(run, key, value)
    if section == "origins":
        return check_origin(run, key, value)
    if section == "modbustcp" and name in ("com", "baud", "timeoutms"):
        return check_modbus_tcp_line(run, name, value)
    checks = {
        ("options", "loglimitmb"): check_log_limit,
        ("options", "logfolder"): check_log_folder,
        ("options", "logdays"): check_log_days,
        ("server", "listen"): check_listen,
        ("server", "allowedhosts"): check_allowed_hosts,
        ("server", "key"): check_key,
        ("server", "origins"): check_origins,
        ("server", "unmappedports"): check_unmapped_ports,
        ("server", "readonlyports"): check_read_only_ports,
        ("server", "queue"): check_queue,
        ("modbustcp", "port"): check_modbus_tcp_port,
    }
    if (section, name) not in checks:
        return f"no check for [{section}] {key}: say in settings_examples.py how it is seen"
    return checks[(section, name)](run, value)


def value_of(settings, section, key, default=""):
    return next((v for s, k, v in settings if (s, k.lower()) == (section, key)), default)


def run_settings_example(text, programs, folder, sim_link):
    """Every problem of one settings example, or an empty list; None when the program it needs
    was not given."""
    in_window = any(s == "options" and k.lower() in WINDOW_KEYS for s, k, _ in settings_lines(text))
    if in_window and programs.get("window") is None:
        return None
    os.makedirs(folder)
    written = text.replace("/tmp/modbus-sim-port", sim_link)
    log_folder = None
    log_setting = value_of(settings_lines(text), "options", "logfolder")
    if log_setting:
        log_folder = os.path.join(folder, "logs") + log_setting
        written = re.sub(r"(?im)^(\s*LogFolder\s*=\s*)" + re.escape(log_setting),
                         lambda match: match.group(1) + log_folder, written)
        os.makedirs(log_folder)
        days = int(value_of(settings_lines(text), "options", "logdays", "30"))
        for name in planted_daily_files(log_folder, days):
            open(os.path.join(log_folder, name), "w").close()
    settings = settings_lines(written)
    start = start_window if in_window else start_bridged
    process, log = start(programs["window" if in_window else "bridged"], folder, written)
    try:
        run = Run(settings, folder, sim_link, log_folder)
        run.log_file = log
        # The start lines are all written once the program listens; a window's reach its daily
        # file as they are written.
        deadline = time.monotonic() + 5
        while not any(line.startswith("Сервер") for line in run.log_lines()):
            if time.monotonic() > deadline:
                return [f"no start lines in the log: {run.log_lines()}"]
            time.sleep(0.05)
        problems = [line for line in run.log_lines() if line.startswith("Настройка")]
        problems = [f"the program did not understand it: {line}" for line in problems]
        for section, key, value in settings:
            problem = check(run, section, key, value)
            if problem:
                problems.append(f"[{section}] {key}={value}: {problem}")
        return problems
    finally:
        process.terminate()
        process.wait(timeout=10)
        log.close()
