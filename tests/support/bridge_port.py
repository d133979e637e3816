"""The bridge's fixed port, and the programs that hold it.

Tests and benchmarks that start a bridge check first that nothing listens on the port: another
program there would answer in the bridge's place and fail them with unrelated messages.
"""

import os

PORT = 19284


def port_holders(port=PORT):
    """The programs that listen on the TCP port, as "name (pid N)", from /proc."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as lines:
                next(lines)
                for line in lines:
                    fields = line.split()
                    local_port = int(fields[1].rsplit(":", 1)[1], 16)
                    if local_port == port and fields[3] == "0A":  # listening
                        inodes.add(fields[9])
        except OSError:
            continue
    holders = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                if target.startswith("socket:[") and target[8:-1] in inodes:
                    with open(f"/proc/{pid}/comm") as comm:
                        holders.append(f"{comm.read().strip()} (pid {pid})")
                    break
        except OSError:
            continue
    return holders if holders or not inodes else ["a program this user cannot see"]


def port_taken(port=PORT):
    """None when no program listens on the port, otherwise a sentence that names them."""
    holders = port_holders(port)
    return f"port {port} is taken by {', '.join(holders)}" if holders else None
