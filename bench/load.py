#!/usr/bin/env python3
"""Reads under load: no answer may be lost while the computer is busy.

Starts modbus-sim and modbus-bridged, starts K processes that spin on the processors, then sends
N reads of holding registers one after another, as a page polls. Prints the count of each error
code, the time taken and the latency of the replies. The goal is no error at all (123 is an
answer the bridge did not see); the figures are read by people, so losses do not change the exit
status. It fails only when the run itself cannot be made (port taken, a program that does not
start or crashes, a reply that never comes).

    bench/load.py --bridged build/modbus-bridged --sim build/modbus-sim [--requests 1000] [--busy 4]
"""

import argparse
import collections
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

# The port check that every test of the bridge's port shares.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from bridge_port import PORT, port_taken  # noqa: E402
from bridge_programs import start_bridged, start_sim  # noqa: E402


def read_request(index, baud, registers, timeout_ms):
    address = (index * 7) % 0x1000
    text = json.dumps({
        "company_id": 1, "device_id": 2, "slave_addr": 1, "baud_rate": baud, "com_port": 1,
        "poll_ms": 100, "timeout_ms": timeout_ms, "ctrl_echo": False, "ctrl_dtr": False,
        "ctrl_rts": False, "ctrl_invert": False, "rand_string": f"load-{index}",
        "pdu": {"read": [3, address >> 8, address & 0xFF, 0, registers]}},
        separators=(",", ":"))
    body = "json_data=" + urllib.parse.quote(text, safe="")
    return (f"POST / HTTP/1.1\r\nHost: localhost:{PORT}\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            f"Content-Length: {len(body)}\r\n\r\n{body}").encode()


def read_reply(sock, pending, bound):
    """One whole reply body as JSON and the bytes after it; None when none came in time."""
    deadline = time.monotonic() + bound
    while True:
        head, found, rest = pending.partition(b"\r\n\r\n")
        if found:
            length = next(int(line.split(b":", 1)[1]) for line in head.split(b"\r\n")
                          if line.lower().startswith(b"content-length:"))
            if len(rest) >= length + 2:
                return json.loads(rest[:length].decode("utf-8")), rest[length + 2:]
        left = deadline - time.monotonic()
        if left <= 0:
            return None, pending
        sock.settimeout(left)
        try:
            data = sock.recv(65536)
        except socket.timeout:
            return None, pending
        if not data:
            return None, pending
        pending += data


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def run(args):
    taken = port_taken()
    if taken:
        print(f"load: {taken}", file=sys.stderr)
        return 1
    folder = tempfile.mkdtemp(prefix="load-")
    processes = []
    spinners = []
    try:
        sim, sim_path = start_sim(args.sim, ["--verbose"] if args.keep else [], folder)
        processes.append(sim)
        bridge, _ = start_bridged(
            args.bridged, folder,
            f"[Options]\nViewError=0\nViewSet=0\nViewHex=1\n[Ports]\nCOM1={sim_path}\n")
        processes.append(bridge)

        for _ in range(args.busy):
            spinners.append(subprocess.Popen([sys.executable, "-c", "while True: pass"]))

        sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
        pending = b""
        codes = collections.Counter()
        lost = []
        latencies = []
        start = time.monotonic()
        for index in range(args.requests):
            asked = time.monotonic()
            sock.sendall(read_request(index, args.baud, args.registers, args.timeout_ms))
            reply, pending = read_reply(sock, pending, args.timeout_ms / 1000 + 10)
            if reply is None:
                raise RuntimeError(f"no reply to request {index}")
            latencies.append(time.monotonic() - asked)
            if reply.get("rand_string") != f"load-{index}":
                raise RuntimeError(f"request {index} got the reply of another request")
            code = 0 if reply.get("status") == "ok" else reply.get("error_code")
            codes[code] += 1
            if code != 0:
                lost.append(index)
        seconds = time.monotonic() - start
        sock.close()
        if bridge.poll() is not None:
            raise RuntimeError("modbus-bridged ended during the run")
    finally:
        for process in spinners + processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if args.keep:
            print(f"load: logs kept in {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)

    print(f"load: {args.requests} reads of {args.registers} holding registers at {args.baud} baud "
          f"(time-out {args.timeout_ms} ms), {args.busy} busy processes on {os.cpu_count()} "
          "processors")
    print(f"  time {seconds:.1f} s, {args.requests / seconds:.0f} reads per second; reply "
          f"latency median {percentile(latencies, 0.5) * 1000:.1f} ms, "
          f"99th percentile {percentile(latencies, 0.99) * 1000:.1f} ms, "
          f"max {max(latencies) * 1000:.1f} ms")
    for code in sorted(codes):
        label = "ok" if code == 0 else f"error {code}"
        print(f"  {label:12s} {codes[code]:7d}")
    if lost:
        print(f"  failed reads (first ten): {lost[:10]}")
    print(f"  goal, no error 123: {'met' if codes[123] == 0 else 'NOT met'}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridged", default="build/modbus-bridged")
    parser.add_argument("--sim", default="build/modbus-sim")
    parser.add_argument("--requests", type=int, default=1000)
    parser.add_argument("--busy", type=int, default=4)
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--registers", type=int, default=10)
    parser.add_argument("--timeout-ms", type=int, default=1000)
    parser.add_argument("--keep", action="store_true", help="keep the logs of both programs, the simulator's verbose")
    try:
        return run(parser.parse_args())
    except RuntimeError as error:
        print(f"load: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
