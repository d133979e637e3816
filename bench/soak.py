#!/usr/bin/env python3
"""Soak and hostile clients against modbus-bridged and modbus-sim.

Sends a mix of requests (valid reads, bad HTTP, bad JSON, line faults, refused overlapping
requests, disconnects) and checks that every request that should be answered is answered exactly
once, with its own reply, that the bridge never crashes, and that its memory stays flat. Then
hostile clients: thousands of idle connections, a slow sender, a huge body, deeply nested JSON,
each followed by a normal request that must be served. Prints the figures; exits 1 on a failure.

    bench/soak.py --bridged build/modbus-bridged --sim build/modbus-sim [--requests 100000]
"""

import argparse
import json
import os
import random
import shutil
import signal
import socket
import sys
import tempfile
import time
import urllib.parse

# The port check that every test of the bridge's port shares.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from bridge_port import PORT, port_taken  # noqa: E402
from bridge_programs import start_bridged, start_sim  # noqa: E402

BUSY_LINE = "Предыдущая команда не обработана ..."
# Beyond ten a second the busy lines are counted in one line instead.
BUSY_COUNT_LINE = "Ещё запросов во время обработки предыдущей команды без строки в журнале: "


def request_json(rand, pdu, com_port=1, timeout_ms=300, baud=115200):
    return json.dumps({
        "company_id": 1, "device_id": 2, "slave_addr": 1, "baud_rate": baud,
        "com_port": com_port, "poll_ms": 100, "timeout_ms": timeout_ms, "ctrl_echo": False,
        "ctrl_dtr": False, "ctrl_rts": False, "ctrl_invert": False, "rand_string": rand,
        "pdu": pdu}, separators=(",", ":"))


def post(json_text):
    body = "json_data=" + urllib.parse.quote(json_text, safe="")
    return (f"POST / HTTP/1.1\r\nHost: localhost:{PORT}\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            f"Content-Length: {len(body)}\r\n\r\n{body}").encode()


class Client:
    def __init__(self):
        self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data)

    def read_response(self, timeout=10.0):
        """One whole response, or None when none arrives in time or the server closes."""
        deadline = time.monotonic() + timeout
        while b"\r\n\r\n" not in self.pending:
            if not self._more(deadline):
                return None
        head, _, _ = self.pending.partition(b"\r\n\r\n")
        length = None
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":", 1)[1])
        if length is None:
            raise AssertionError(f"response without Content-Length: {head!r}")
        total = len(head) + 4 + length + 2
        while len(self.pending) < total:
            if not self._more(deadline):
                return None
        response, self.pending = self.pending[:total], self.pending[total:]
        if not response.endswith(b"\r\n"):
            raise AssertionError("response without its closing CR LF")
        return json.loads(response[len(head) + 4:total - 2].decode("utf-8"))

    def silent_for(self, seconds):
        if self.pending:
            return False
        self.sock.settimeout(seconds)
        try:
            data = self.sock.recv(1, socket.MSG_PEEK)
            return data == b""
        except (socket.timeout, BlockingIOError):
            return True
        finally:
            self.sock.settimeout(10)

    def _more(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        self.sock.settimeout(left)
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            return False
        if not data:
            return False
        self.pending += data
        return True

    def close(self):
        self.sock.close()


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


class Soak:
    def __init__(self, args):
        self.args = args
        self.random = random.Random(args.seed)
        self.counts = {}
        self.failures = []
        self.sequence = 0
        self.recent = []

    def fail(self, text):
        self.failures.append(text)
        print(f"FAIL: {text} (after {' / '.join(self.recent)})", file=sys.stderr)

    def count(self, kind):
        self.counts[kind] = self.counts.get(kind, 0) + 1
        self.recent = (self.recent + [f"{kind} {time.monotonic():.3f}"])[-6:]

    def next_id(self):
        self.sequence += 1
        return f"r{self.sequence}"

    def expect_reply(self, client, data, rand, code, kind):
        client.send(data)
        reply = client.read_response()
        self.count(kind)
        if reply is None:
            self.fail(f"{kind}: no reply")
            return None
        if reply.get("error_code") != code:
            self.fail(f"{kind}: code {reply.get('error_code')} instead of {code}")
        if rand is not None and reply.get("rand_string") != rand:
            self.fail(f"{kind}: reply of another request ({reply.get('rand_string')})")
        if not client.silent_for(0.0):
            self.fail(f"{kind}: more than one reply")
        return reply

    def one(self, client):
        """One request of a random kind; returns the client to go on with (it may be new)."""
        roll = self.random.random()
        rand = self.next_id()
        if roll < 0.35:
            self.expect_reply(client, f"GET / HTTP/1.1\r\nHost: localhost:{PORT}\r\n\r\n".encode(),
                              None, 103, "bad HTTP")
        elif roll < 0.70:
            body = b"json_data=%7B%22company_id%22%3A1%2C"
            data = (b"POST / HTTP/1.1\r\nContent-Length: " + str(len(body)).encode() +
                    b"\r\n\r\n" + body)
            self.expect_reply(client, data, None, 107, "bad JSON")
        elif roll < 0.80:
            text = request_json(rand, {"a": [3, 0, 5, 0, 1]}, com_port=9)
            self.expect_reply(client, post(text), rand, 122, "port missing")
        elif roll < 0.87:
            text = request_json(rand, {"a": [3, 0, 5, 0, 1]}, com_port=3)
            self.expect_reply(client, post(text), rand, 2, "exception")
        elif roll < 0.92:
            text = request_json(rand, {"a": [3, 0, 5, 0, 2]})
            reply = self.expect_reply(client, post(text), rand, 0, "valid read")
            if reply and reply.get("data") != {"5": 5, "6": 6}:
                self.fail(f"valid read: data {reply.get('data')}")
        elif roll < 0.93:
            text = request_json(rand, {"a": [3, 0, 5, 0, 1]}, com_port=2, timeout_ms=250)
            self.expect_reply(client, post(text), rand, 123, "silent device")
        elif roll < 0.965:
            # Overlapping: a second connection asks while the first is served; it is refused.
            text = request_json(rand, {"a": [3, 0, 7, 0, 1]})
            client.send(post(text))
            other = Client()
            other.send(post(request_json(self.next_id(), {"a": [3, 0, 8, 0, 1]})))
            reply = client.read_response()
            self.count("overlapping pair")
            if reply is None or reply.get("rand_string") != rand:
                self.fail("overlapping: the served request lost its reply")
            if not other.silent_for(0.05):
                self.fail("overlapping: the refused request got a reply")
            other.close()
        else:
            # The page gives up: the connection closes while its request is served.
            text = request_json(rand, {"a": [3, 0, 9, 0, 1]}, com_port=2, timeout_ms=2000)
            client.send(post(text))
            client.close()
            self.count("disconnect")
            return Client()
        return client

    def hostile(self):
        normal = lambda: self.expect_reply(
            Client(), post(request_json("after", {"a": [3, 0, 1, 0, 1]})), "after", 0,
            "normal request after hostile clients")

        idle = []
        for _ in range(self.args.idle):
            try:
                idle.append(socket.create_connection(("127.0.0.1", PORT), timeout=5))
            except OSError as error:
                self.fail(f"idle connection refused: {error}")
                break
        normal()
        for sock in idle:
            sock.close()
        print(f"hostile: {len(idle)} idle connections, then a normal request served")

        slow = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        for byte in b"POST / HTTP/1.1\r\nHost: slow\r\n":
            slow.send(bytes([byte]))
            time.sleep(0.05)
        normal()
        slow.close()
        print("hostile: a slow sender, then a normal request served")

        huge = socket.create_connection(("127.0.0.1", PORT), timeout=30)
        chunk = b"x" * 65536
        huge.send(b"POST / HTTP/1.1\r\nContent-Length: 50000000\r\n\r\njson_data=")
        sent = 0
        huge.settimeout(0.5)
        try:
            while sent < 20 * 1024 * 1024:
                sent += huge.send(chunk)
        except (socket.timeout, BlockingIOError, OSError):
            pass
        huge.close()
        normal()
        print(f"hostile: a huge body ({sent // 1024} KiB sent), then a normal request served")

        deep = "[" * 200000 + "]" * 200000
        self.expect_reply(Client(), post(deep), None, 107, "deeply nested JSON")
        normal()
        print("hostile: deeply nested JSON gets 107, then a normal request served")

    def run(self):
        args = self.args
        taken = port_taken()
        if taken:
            print(f"soak: {taken}", file=sys.stderr)
            return 1
        folder = tempfile.mkdtemp(prefix="soak-")
        processes = []
        try:
            sims = {}
            for port, options in ((1, []), (2, ["--silent"]), (3, ["--exception", "2"])):
                process, path = start_sim(args.sim, options, folder, f"sim{port}")
                processes.append(process)
                sims[port] = path
            ports = "".join(f"COM{port}={path}\n" for port, path in sims.items())
            bridge, log = start_bridged(
                args.bridged, folder,
                f"[Options]\nViewError=0\n[Ports]\n{ports}COM9={folder}/no-such-port\n")
            processes.append(bridge)

            client = Client()
            warmup = min(1000, args.requests // 10)
            start = time.monotonic()
            memory = []
            for index in range(args.requests):
                client = self.one(client)
                if index == warmup or (index + 1) % max(1, args.requests // 20) == 0:
                    memory.append((index + 1, resident_kib(bridge.pid)))
                if bridge.poll() is not None:
                    log.seek(0)
                    self.fail(f"modbus-bridged ended after {index} requests: {log.read()[-500:]}")
                    break
            seconds = time.monotonic() - start
            client.close()

            if not args.skip_hostile:
                self.hostile()

            if bridge.poll() is not None:
                self.fail("modbus-bridged crashed")
            bridge.send_signal(signal.SIGTERM)
            status = bridge.wait(timeout=10)
            if status != 0:
                self.fail(f"modbus-bridged ended with status {status}")
            log.seek(0)
            busy_lines = 0
            for line in log:
                text = line.rstrip("\n")
                if text.endswith(BUSY_LINE):
                    busy_lines += 1
                elif BUSY_COUNT_LINE in text:
                    busy_lines += int(text.split(BUSY_COUNT_LINE, 1)[1])

            print(f"soak: {args.requests} requests in {seconds:.1f} s "
                  f"({args.requests / seconds:.0f} per second)")
            for kind in sorted(self.counts):
                print(f"  {kind:40s} {self.counts[kind]:7d}")
            print(f"  busy lines in the log (and counted)      {busy_lines:7d}")
            if busy_lines < self.counts.get("overlapping pair", 0):
                self.fail("fewer busy lines than refused requests")
            after_warmup = [kib for count, kib in memory if count >= warmup]
            print("  resident memory (KiB) at request count: " +
                  ", ".join(f"{count}: {kib}" for count, kib in memory))
            if after_warmup:
                growth = max(after_warmup) - after_warmup[0]
                print(f"  growth after warm-up: {growth} KiB")
                if growth > args.memory_slack_kib:
                    self.fail(f"memory grew by {growth} KiB")
        finally:
            for process in processes:
                if process.poll() is None:
                    process.kill()
                    process.wait()
            if self.failures:
                shutil.copy(os.path.join(folder, "bridge.log"), "/tmp/soak-bridge.log")
            shutil.rmtree(folder, ignore_errors=True)
        if self.failures:
            print(f"soak: {len(self.failures)} failures", file=sys.stderr)
            return 1
        print("soak: every request answered exactly once, no crash")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridged", default="build/modbus-bridged")
    parser.add_argument("--sim", default="build/modbus-sim")
    parser.add_argument("--requests", type=int, default=100000)
    parser.add_argument("--idle", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--memory-slack-kib", type=int, default=2048)
    parser.add_argument("--skip-hostile", action="store_true")
    return Soak(parser.parse_args()).run()


if __name__ == "__main__":
    sys.exit(main())
