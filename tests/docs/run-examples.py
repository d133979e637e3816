#!/usr/bin/env python3
"""Runs every request and settings example that the documentation prints and checks that each
does what the text says.

A request example is either a fenced `sh` block whose commands send to localhost:19284 with curl
(its reply is the next fenced block), or a fenced block that starts with a raw "POST " request
(its reply is the next fenced block that starts with "HTTP/1.1 "). A fenced `sh` block that starts
with mbpoll talks to the simulator's link directly and must print every register it asks for, as
an independent master sees them; one that starts with "mbpoll -m tcp" must be the command that
the check of a [ModbusTcp] settings example runs (settings_examples.MBPOLL_TCP). The request examples run against a default modbus-bridged whose
COM1 is a modbus-sim of device type 0x0110, as the texts say. A fenced `ini` block is a settings
example: the program it configures starts with it, and each setting is checked by its effect
(settings_examples.py). Other blocks are left alone, so sections can come and go without touching
this runner.

    run-examples.py --bridged build/modbus-bridged --window build/modbus-bridge \
        --sim build/modbus-sim README.md docs/*.md

With --windows-build (and --bridged naming that build's modbus-bridged.exe) the request examples
run against the Windows program under wine, its COM1 leading to the simulator; the settings
examples, which name Linux devices and folders, are left out.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

# The port check that every test of the bridge's port shares.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bridge_http import exchange  # noqa: E402
from bridge_port import PORT, port_taken  # noqa: E402
from bridge_programs import start_bridged, start_sim, stop_bridge, wine_com_port  # noqa: E402
from settings_examples import MBPOLL_TCP, run_settings_example  # noqa: E402

SIM_OPTIONS = ["--device-type", "0x0110"]
# The simulator's link as the documents name it; the runner's own simulator stands in for it.
SIM_LINK = "/tmp/modbus-sim-port"
FENCE = re.compile(r"^```\s*([\w-]*)\s*$")


class Block:
    def __init__(self, path, line, language, text):
        self.path, self.line, self.language, self.text = path, line, language, text

    def where(self):
        return f"{self.path}:{self.line}"


def fenced_blocks(path):
    blocks = []
    opened = None
    lines = []
    with open(path, encoding="utf-8") as document:
        for number, line in enumerate(document, 1):
            match = FENCE.match(line.rstrip("\n"))
            if opened is None and match:
                opened = (number, match.group(1))
                lines = []
            elif opened is not None and line.strip() == "```":
                blocks.append(Block(path, opened[0], opened[1], "".join(lines)))
                opened = None
            elif opened is not None:
                lines.append(line)
    return blocks


def is_curl_example(block):
    return block.language == "sh" and "curl" in block.text and f"localhost:{PORT}" in block.text


def is_mbpoll_example(block):
    return block.language == "sh" and block.text.startswith("mbpoll ") and SIM_LINK in block.text


def is_mbpoll_tcp_example(block):
    return block.language == "sh" and block.text.startswith("mbpoll -m tcp")


def is_raw_example(block):
    first = block.text.lstrip().split("\n", 1)[0]
    return first.startswith("POST ") and " HTTP/1." in first


def examples(path):
    """(request block, kind, reply block or None) for every request example of a document."""
    blocks = fenced_blocks(path)
    found = []
    for index, block in enumerate(blocks):
        later = blocks[index + 1:]
        if is_curl_example(block):
            found.append((block, "curl", later[0] if later else None))
        elif is_mbpoll_example(block):
            found.append((block, "mbpoll", None))
        elif is_mbpoll_tcp_example(block):
            found.append((block, "mbpoll-tcp", None))
        elif is_raw_example(block):
            replies = [b for b in later if b.text.startswith("HTTP/1.1 ")]
            found.append((block, "raw", replies[0] if replies else None))
    return found


def settings_examples(path):
    return [block for block in fenced_blocks(path) if block.language == "ini"]


def send_raw(text):
    request = text.rstrip("\n").replace("\n", "\r\n").encode("utf-8")
    head = request.split(b"\r\n\r\n", 1)[0]
    length = re.search(rb"(?im)^content-length:\s*(\d+)", head)
    body = request[len(head) + 4:]
    if length is None or int(length.group(1)) != len(body):
        return f"the example's Content-Length does not match its body of {len(body)} bytes"
    answer = exchange(request)
    return answer.decode("utf-8", "replace").replace("\r\n", "\n")


def run_mbpoll(text, link):
    """None when the master read every register the command asks for, else what went wrong."""
    command = text.replace(SIM_LINK, link)
    first = int(re.search(r"-r (\d+)", command).group(1))
    count = int(re.search(r"-c (\d+)", command).group(1))
    done = subprocess.run(["bash", "-c", command], capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        return f"exit status {done.returncode}: {done.stderr.strip()}"
    missing = [n for n in range(first, first + count)
               if not re.search(rf"^\[{n}\]:\s+-?\d+", done.stdout, re.M)]
    return f"registers {missing} not read: {done.stdout.strip()}" if missing else None


def run_curl(text):
    done = subprocess.run(["bash", "-c", text], capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        return f"exit status {done.returncode}: {done.stderr.strip()}"
    return done.stdout


def run_request_examples(documents, link, failures):
    count = 0
    for document in documents:
        for request, kind, reply in examples(document):
            count += 1
            if kind == "mbpoll":
                problem = run_mbpoll(request.text, link)
                if problem:
                    failures.append(f"{request.where()}: {problem}")
                else:
                    print(f"run-examples: {request.where()} (mbpoll) reads every register")
                continue
            if kind == "mbpoll-tcp":
                port = re.search(r"-p (\d+)", request.text)
                if port is None or request.text.strip() != MBPOLL_TCP.format(port=port.group(1)):
                    failures.append(f"{request.where()}: not the command the [ModbusTcp] check "
                                    f"runs: {MBPOLL_TCP}")
                else:
                    print(f"run-examples: {request.where()} (mbpoll -m tcp) is run by the "
                          "[ModbusTcp] settings example")
                continue
            if reply is None:
                failures.append(f"{request.where()}: no reply shown after the example")
                continue
            actual = run_curl(request.text) if kind == "curl" else send_raw(request.text)
            if actual.strip() != reply.text.strip():
                failures.append(f"{request.where()}: the reply differs from the one at "
                                f"{reply.where()}\n  shown:  {reply.text.strip()}\n"
                                f"  actual: {actual.strip()}")
            else:
                print(f"run-examples: {request.where()} ({kind}) answers as shown")
    return count


def run_settings_examples(documents, programs, folder, link, failures):
    count = 0
    for document in documents:
        for block in settings_examples(document):
            count += 1
            problems = run_settings_example(block.text, programs,
                                            os.path.join(folder, f"settings-{count}"), link)
            if problems is None:
                print(f"run-examples: {block.where()} (settings) left out: it needs the window")
            elif problems:
                failures.extend(f"{block.where()}: {problem}" for problem in problems)
            else:
                print(f"run-examples: {block.where()} (settings) does what the text says")
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridged", required=True)
    parser.add_argument("--window", help="the window's settings examples are left out without it")
    parser.add_argument("--sim", required=True)
    parser.add_argument("--windows-build", help="the Windows build whose program --bridged names")
    parser.add_argument("documents", nargs="+")
    args = parser.parse_args()

    taken = port_taken()
    if taken:
        print(f"run-examples: {taken}", file=sys.stderr)
        return 1

    failures = [f"{document}: no example found" for document in args.documents
                if not examples(document) and not settings_examples(document)]
    if args.windows_build:
        failures = [f"{document}: no request example found" for document in args.documents
                    if not examples(document)]
    with tempfile.TemporaryDirectory(prefix="run-examples-") as folder:
        link = os.path.join(folder, "sim-port")
        sim, _ = start_sim(args.sim, ["--link", link, *SIM_OPTIONS], folder)
        try:
            port = wine_com_port(args.windows_build, link) if args.windows_build else link
            bridged, _ = start_bridged(args.bridged, folder, f"[Ports]\nCOM1={port}\n",
                                       args.windows_build)
            try:
                requests = run_request_examples(args.documents, link, failures)
            finally:
                stop_bridge(bridged)
            settings = 0
            if args.windows_build:
                print("run-examples: settings examples left out: they name Linux devices")
            else:
                settings = run_settings_examples(
                    args.documents, {"bridged": args.bridged, "window": args.window}, folder,
                    link, failures)
            print(f"run-examples: {requests} request and {settings} settings examples run")
        finally:
            sim.terminate()
            sim.wait(timeout=10)

    for failure in failures:
        print(f"FAIL: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
