"""One exchange with the bridge on its port, as a page's browser makes it."""

import re
import socket

from bridge_port import PORT


def exchange(request, host="localhost"):
    """Sends the request bytes and returns the whole reply: its head, the Content-Length bytes of
    its body and the line end the bridge writes after them. The bridge keeps the connection open,
    so the reply ends where its length says, not at the connection's end."""
    with socket.create_connection((host, PORT), timeout=10) as client:
        client.sendall(request)
        answer = b""
        while True:
            chunk = client.recv(65536)
            if not chunk:
                break
            answer += chunk
            head, separator, rest = answer.partition(b"\r\n\r\n")
            declared = re.search(rb"(?im)^content-length:\s*(\d+)", head)
            if separator and declared and len(rest) >= int(declared.group(1)) + 2:
                break
    return answer
