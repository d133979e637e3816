#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run again after changing an input layout; the files are committed, so CI does not need this.
Layouts (see the fuzzers' sources):
  request: options byte (view options, access settings), HTTP length (2 bytes, big-endian),
           HTTP bytes, answer chunks
  answer:  options byte, slave address, PDU length, PDU, answer chunks
  uri:     the text itself
  mbap:    piece length byte, then a Modbus TCP connection's bytes
An answer chunk is a length byte and that many bytes; a chunk of length 0 reads as a time-out.
"""

import json
import pathlib
import shutil
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(slave, pdu):
    body = bytes([slave]) + bytes(pdu)
    crc = crc16(body)
    return body + bytes([crc & 0xFF, crc >> 8])


def chunks(*parts):
    out = b""
    for part in parts:
        part = bytes(part)
        if not part:
            out += b"\x00"
        while part:
            piece, part = part[:255], part[255:]
            out += bytes([len(piece)]) + piece
    return out


def words(*values):
    out = []
    for value in values:
        out += [(value >> 8) & 0xFF, value & 0xFF]
    return out


def http(body, extra_headers="", host="Host: 127.0.0.1:19284\r\n"):
    if isinstance(body, str):
        body = body.encode()
    head = (
        f"POST / HTTP/1.1\r\n{host}"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        f"{extra_headers}Content-Length: {len(body)}\r\n\r\n"
    )
    return head.encode() + body


def form(json_text):
    """The json_data field as a page's encodeURIComponent writes it."""
    if isinstance(json_text, str):
        json_text = json_text.encode()
    return b"json_data=" + urllib.parse.quote(json_text, safe="-_.!~*'()").encode()


def params(pdu_value, **changes):
    request = {
        "company_id": 1,
        "device_id": 1,
        "slave_addr": 1,
        "baud_rate": 19200,
        "com_port": 1,
        "poll_ms": 1000,
        "timeout_ms": 300,
        "ctrl_echo": False,
        "ctrl_dtr": False,
        "ctrl_rts": False,
        "ctrl_invert": False,
        "rand_string": "seed",
        "pdu": pdu_value,
    }
    for key, value in changes.items():
        if value is None:
            del request[key]
        else:
            request[key] = value
    return json.dumps(request, separators=(",", ":"), ensure_ascii=False)


def request_seed(http_bytes, answer=b"", view=0):
    return bytes([view]) + len(http_bytes).to_bytes(2, "big") + http_bytes + answer


def answer_seed(pdu, answer=b"", options=0, slave=1):
    return bytes([options, slave, len(pdu)]) + bytes(pdu) + answer


def file_request(*subs):
    pdu = [20, 7 * len(subs)]
    for file, record, length in subs:
        pdu += [6] + words(file, record, length)
    return pdu


def file_answer(*subs):
    """Sub-responses of (length in registers, first value)."""
    data = []
    for length, first in subs:
        data += [2 * length + 1, 6] + words(*[(first + k) & 0xFFFF for k in range(length)])
    return [20, len(data)] + data


def section_answer(device_type):
    return [69, 32] + words(1, device_type, 0x0102, 1, 0x1234, 0x5678, *range(10))


READ2 = [3, 0, 0, 0, 2]
READ2_ANSWER = frame(1, [3, 4] + words(0, 1))


def request_seeds():
    seeds = {}

    def add(name, json_text, answer=b"", view=0, extra_headers=""):
        seeds[name] = request_seed(http(form(json_text), extra_headers), answer, view)

    add("fc03-read-holding", params({"read": READ2}), chunks(READ2_ANSWER))
    add(
        "fc04-read-input",
        params({"read": [4, 0, 0, 0, 3]}),
        chunks(frame(1, [4, 6] + words(7, 8, 9))),
        view=2,
    )
    add("fc06-write-single", params({"w": [6, 0, 16, 0, 42]}), chunks(frame(1, [6, 0, 16, 0, 42])))
    add(
        "fc16-write-multiple",
        params({"w": [16, 0, 16, 0, 2, 4, 0, 1, 0, 2]}),
        chunks(frame(1, [16, 0, 16, 0, 2])),
        view=4,
    )
    for file in (0, 1, 2, 4, 5):
        add(
            f"fc20-file{file}",
            params({"f": file_request((file, 3, 2))}),
            chunks(frame(1, file_answer((2, 0x100 * file + 3)))),
        )
    add(
        "fc20-file6-events",
        params({"f": file_request((6, 2, 16))}),
        chunks(frame(1, file_answer((16, 0xA0B0)))),
        view=6,
    )
    add(
        "fc20-two-files",
        params({"f": file_request((0, 0xFFFF, 2), (6, 0, 16))}),
        chunks(frame(1, file_answer((2, 9), (16, 0x55)))),
    )
    add("fc69-device-section", params({"s": [69]}), chunks(frame(1, section_answer(0x0110))))
    add(
        "three-pdus",
        params({"a": READ2, "b": [4, 0, 1, 0, 1], "c": [69]}),
        chunks(READ2_ANSWER, frame(1, [4, 2, 0, 5]), frame(1, section_answer(0x0002))),
        view=7,
    )
    add("pdu-as-object", params({"a": {"0": 3, "1": 0, "2": 0, "3": 0, "4": 2}}),
        chunks(READ2_ANSWER))
    add("exception-answer", params({"read": READ2}), chunks(frame(1, [0x83, 2])))
    add("exception-code-0", params({"read": READ2}), chunks(frame(1, [0x83, 0])))
    add(
        "echo-then-answer",
        params({"read": READ2}, ctrl_echo=True, ctrl_dtr=True),
        chunks(frame(1, READ2) + READ2_ANSWER),
    )
    add(
        "echo-separate-chunks",
        params({"read": READ2}, ctrl_echo=True, ctrl_rts=True, ctrl_invert=True),
        chunks(frame(1, READ2), READ2_ANSWER),
    )
    add(
        "answer-byte-by-byte",
        params({"read": READ2}),
        chunks(*[[b] for b in READ2_ANSWER]),
    )
    add("noise-before-answer", params({"read": READ2}), chunks(b"\x01\x03\xff\x00" + READ2_ANSWER))
    add("bad-crc", params({"read": READ2}), chunks(READ2_ANSWER[:-1] + b"\x00"))
    add("other-slave", params({"read": READ2}), chunks(frame(2, [3, 4] + words(0, 1))))
    add("timeout-then-answer", params({"a": READ2, "b": READ2}), chunks(b"", READ2_ANSWER))
    add("no-answer", params({"read": READ2}))
    add("no-answer-awaited", params({"w": [6, 0, 1, 0, 1]}, timeout_ms=0))
    add("wrong-write-echo", params({"w": [6, 0, 16, 0, 42]}), chunks(frame(1, [6, 0, 17, 0, 42])))
    add("fc70-binding", params({"b": [70, 1, 2]}), chunks(frame(1, [70, 0, 1, 2])))
    add("count-mismatch", params({"read": READ2}), chunks(frame(1, [3, 2, 0, 1])))
    # A number sends an empty PDU: the frame's second byte, the CRC's low byte, is its function.
    add("empty-pdu-number", params({"n": 5}), chunks(frame(1, [crc16(b"\x01") & 0xFF, 0x12])))
    add("pdu-strings", params({"a": ["3", 0]}))
    add("pdu-too-long", params({"a": [16] + [0] * 253}))
    add("pdu-full-frame", params({"a": [16] + [1] * 252}), chunks(b""))
    add("com-port-0", params({"read": READ2}, com_port=0, slave_addr=247), chunks(b""))
    add("com-port-300", params({"read": READ2}, com_port=300, baud_rate=1200))
    add("missing-baud-rate", params({"read": READ2}, baud_rate=None))
    add("missing-pdu", params({"read": READ2}, pdu=None))
    add("empty-pdu-object", params({}))
    add("rand-string-number", params({"read": READ2}, rand_string=5))
    add(
        "huge-numbers",
        '{"company_id":99999999999999999999,"device_id":-9223372036854775809,"slave_addr":1e400,'
        '"baud_rate":18446744073709551615,"com_port":1,"poll_ms":1,"timeout_ms":1,'
        '"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,'
        '"rand_string":"x","pdu":{"a":[3,1e300,-1,18446744073709551615,2]}}',
    )
    add(
        "huge-pdu-bytes",
        params({"a": [3, 18446744073709551615, -9223372036854775808, 256, 2]}),
        chunks(frame(1, [3, 4] + words(1, 2))),
    )
    add("negative-timeout", params({"read": READ2}, timeout_ms=-5, baud_rate=-1), chunks(b""))
    add("non-utf8-strings", params({"read": READ2}).replace('"seed"', '"\xc0\xe9\xff"').encode(
        "latin-1"), chunks(READ2_ANSWER))
    add(
        "non-utf8-key",
        params({"read": READ2})[:-1].encode() + b',"\xc7\xe0\xef":"\xf0\x9f\x98"}',
        chunks(READ2_ANSWER),
    )
    add(
        "unicode-escapes",
        params({"read": READ2}).replace('"seed"', '"\\u00e9\\ud83d\\ude00"')[:-1]
        + ',"u":"\\udc00"}',
        chunks(READ2_ANSWER),
    )
    add("utf8-strings", params({"read": READ2}, rand_string="Привет ✓"), chunks(READ2_ANSWER))
    add("nul-escape", params({"read": READ2}, rand_string="a\u0000b"), chunks(READ2_ANSWER))
    add("bad-json-truncated", params({"read": READ2})[:60])
    add("bad-json-array-root", "[1,2,3]")
    add("bad-json-null", "null")
    add("bad-json-comment", "/*x*/" + params({"read": READ2}))
    add("bad-json-fraction", params({"read": READ2}, company_id=1.5))
    add("duplicate-keys", params({"read": READ2})[:-1] + ',"status":"busy","error_code":"x"}',
        chunks(READ2_ANSWER))
    add("reply-members-in-request", params({"read": READ2}, data=[1], events_log="x"),
        chunks(READ2_ANSWER))
    add("plus-sign", params({"read": READ2}, rand_string="a+b c"), chunks(READ2_ANSWER))
    add("keep-alive-header", params({"read": READ2}), chunks(READ2_ANSWER),
        extra_headers="Connection: keep-alive\r\nOrigin: null\r\n")

    raw = form(params({"read": READ2}))
    seeds["form-fields-after"] = request_seed(http(raw + b"&x=1&y=%7B"), chunks(READ2_ANSWER))
    seeds["field-not-first"] = request_seed(http(b"a=1&" + raw), chunks(READ2_ANSWER))
    seeds["body-unencoded"] = request_seed(
        http(b"json_data=" + params({"read": READ2}).encode()), chunks(READ2_ANSWER))
    # Brackets need no percent-encoding, which keeps these within the fuzzer's input size.
    deep = params({"read": READ2})[:-1] + ',"d":' + "[" * 900 + "]" * 900 + "}"
    seeds["deep-nesting-accepted"] = request_seed(
        http(b"json_data=" + deep.encode()), chunks(READ2_ANSWER))
    # Past the reader's nesting limit; a root that is not an object leaves the reply empty.
    seeds["deep-nesting-array-root"] = request_seed(http(b"json_data=" + b"[" * 1200))
    seeds["body-nul-byte"] = request_seed(http(raw[:40] + b"%00" + raw[40:]))
    seeds["bad-percent"] = request_seed(http(raw + b"%G1%4"))
    seeds["no-post"] = request_seed(http(raw).replace(b"POST", b"GET ", 1))
    seeds["no-http-version"] = request_seed(http(raw).replace(b"HTTP/1.1", b"", 1))
    seeds["no-header-end"] = request_seed(http(raw).replace(b"\r\n\r\n", b"\r\n", 1))
    seeds["no-json-data"] = request_seed(http(b"data=" + raw[10:]))
    seeds["truncated-head"] = request_seed(http(raw)[:50])
    seeds["empty"] = b""
    seeds["options-post"] = request_seed(b"OPTIONS / HTTP/1.1\r\n\r\n")
    access_seeds(seeds, raw)
    demo_page_seeds(seeds, raw)
    return seeds


def demo_page_seeds(seeds, raw):
    """GET requests of the bridge's own page: its files, the redirect, paths it must not serve."""

    def add(name, target, rest=b""):
        get = b"GET " + target + b" HTTP/1.1\r\nHost: localhost:19284\r\nSec-Fetch-Mode: navigate\r\n\r\n"
        seeds["demo-" + name] = request_seed(get + rest)

    add("page", b"/demo/")
    add("client-module", b"/demo/client/modbus-bridge.js?v=1")
    add("redirect", b"/demo")
    add("dot-segments", b"/demo/../README.md")
    add("encoded-dot-segments", b"/demo/%2e%2e/%2e%2e/etc/passwd")
    add("backslash", b"/demo\\..\\README.md")
    add("absolute-form", b"http://localhost:19284/demo/")
    add("outside", b"/favicon.ico")
    add("post-in-a-get", b"/demo/?POST", raw)
    seeds["demo-nul-in-target"] = request_seed(b"GET /demo/\0 HTTP/1.1\r\n\r\n")


# Option bits of the request fuzzer's access settings.
LISTEN_ANY, ORIGINS_LIST, ORIGINS_ASK, WITH_KEY, PORT_POLICY = 0x08, 0x10, 0x20, 0x40, 0x80


def access_seeds(seeds, raw):
    """Requests for the access checks: Host, fetch metadata, Origin, key and port policy."""
    answered = chunks(READ2_ANSWER)

    def add(name, extra="", host="Host: 127.0.0.1:19284\r\n", body=raw, view=0, answer=answered):
        seeds["access-" + name] = request_seed(http(body, extra, host), answer, view)

    add("no-host", host="")
    add("dns-rebinding", host="Host: rebind.evil.example:19284\r\n")
    add("lookalike-host", host="Host: 127.1:19284\r\n")
    add("ipv6-host", host="Host: [::1]:19284\r\n")
    add("two-hosts", host="Host: localhost:19284\r\nHost: localhost\r\n")
    add("other-port", host="Host: localhost:8080\r\n")
    add("interface-address", host="Host: 192.168.1.20:19284\r\n", view=LISTEN_ANY)
    add("navigation", "Sec-Fetch-Mode: navigate\r\nOrigin: https://evil.example\r\n")
    add("file-page-fetch", "Sec-Fetch-Mode: cors\r\nOrigin: null\r\n", view=ORIGINS_LIST)
    add("origin-listed", "Origin: https://scada.example\r\n", view=ORIGINS_LIST)
    add("origin-refused", "Origin: https://old.example\r\n", view=ORIGINS_LIST)
    add("origin-asked", "Origin: https://new.example\r\n", view=ORIGINS_ASK)
    add("key-right", body=b"key=k%201%2B%26x&" + raw, view=WITH_KEY)
    add("key-wrong", body=b"key=k%201%2B&" + raw, view=WITH_KEY)
    add("key-after-json", body=raw + b"&key=k%201%2B%26x", view=WITH_KEY)
    read_then_write = params({"a": READ2, "b": [6, 0, 1, 0, 42]}, com_port=258)
    add("read-only-write", body=form(read_then_write), view=PORT_POLICY)
    add("read-only-read", body=form(params({"read": READ2}, com_port=258)), view=PORT_POLICY)
    add("unmapped-port", body=form(params({"read": READ2}, com_port=3)), view=PORT_POLICY)


def answer_seeds():
    seeds = {}
    fc03 = [3] + words(0x10, 3)
    seeds["fc03"] = answer_seed(fc03, chunks(frame(1, [3, 6] + words(1, 2, 3))))
    seeds["fc03-125"] = answer_seed(
        [3] + words(0, 125), chunks(frame(1, [3, 250] + words(*range(125)))))
    seeds["fc03-wrapping-start"] = answer_seed(
        [3] + words(0xFFFF, 2), chunks(frame(1, [3, 4] + words(5, 6))))
    seeds["fc03-short-data"] = answer_seed(fc03, chunks(frame(1, [3, 6] + words(1))))
    seeds["fc04"] = answer_seed([4] + words(0, 2), chunks(frame(7, [4, 4] + words(9, 10))),
                                slave=7)
    seeds["fc06"] = answer_seed([6, 0, 1, 0, 2], chunks(frame(1, [6, 0, 1, 0, 2])))
    seeds["fc16"] = answer_seed([16, 0, 1, 0, 1, 2, 0, 9], chunks(frame(1, [16, 0, 1, 0, 1])))
    for file in (0, 1, 2, 4, 5):
        seeds[f"fc20-file{file}"] = answer_seed(
            file_request((file, 0x20, 3)), chunks(frame(1, file_answer((3, 0x20)))))
    seeds["fc20-file6"] = answer_seed(
        file_request((6, 4, 16)), chunks(frame(1, file_answer((16, 0x0102)))))
    seeds["fc20-file6-short"] = answer_seed(
        file_request((6, 4, 16)), chunks(frame(1, file_answer((2, 0x0102)))))
    seeds["fc20-three-subs"] = answer_seed(
        file_request((0, 1, 1), (6, 0, 16), (3, 0, 2)),
        chunks(frame(1, file_answer((1, 1), (16, 2), (2, 3)))))
    seeds["fc20-wrapping-range"] = answer_seed(
        file_request((5, 0x7FFF, 3)), chunks(frame(1, file_answer((3, 0xFFFF)))))
    seeds["fc69"] = answer_seed([69], chunks(frame(1, section_answer(0x0121))))
    seeds["fc70"] = answer_seed([70, 5], chunks(frame(1, [70, 0, 5])))
    seeds["fc71"] = answer_seed([71], chunks(frame(3, [71, 0])), slave=3)
    seeds["exception"] = answer_seed(fc03, chunks(frame(1, [0x83, 2])))
    seeds["exception-in-pieces"] = answer_seed(fc03, chunks(*[[b] for b in frame(1, [0x83, 4])]))
    seeds["echo"] = answer_seed(fc03, chunks(frame(1, fc03) + frame(1, [3, 6] + words(1, 2, 3))),
                                options=1)
    seeds["echo-separate"] = answer_seed(
        fc03, chunks(frame(1, fc03), frame(1, [3, 6] + words(4, 5, 6))), options=3)
    seeds["echo-expected-none-came"] = answer_seed(
        [6, 0, 1, 0, 2], chunks(frame(1, [6, 0, 1, 0, 2])), options=1)
    seeds["echo-off-echo-came"] = answer_seed(
        fc03, chunks(frame(1, fc03), frame(1, [3, 6] + words(4, 5, 6))), options=12)
    seeds["noise-first"] = answer_seed(
        fc03, chunks(bytes([1, 3, 1, 3, 0x81]) + frame(1, [3, 6] + words(1, 2, 3))))
    seeds["bad-crc"] = answer_seed(fc03, chunks(frame(1, [3, 6] + words(1, 2, 3))[:-1] + b"\x00"))
    seeds["other-slave"] = answer_seed(fc03, chunks(frame(2, [3, 6] + words(1, 2, 3))))
    seeds["count-mismatch"] = answer_seed(fc03, chunks(frame(1, [3, 4] + words(1, 2))))
    seeds["timeout"] = answer_seed(fc03)
    seeds["timeout-chunk"] = answer_seed(fc03, chunks(b"", frame(1, [3, 6] + words(1, 2, 3))))
    seeds["no-wait"] = answer_seed(fc03, chunks(frame(1, [3, 6] + words(1, 2, 3))), options=16)
    seeds["empty-pdu"] = answer_seed([], chunks(frame(1, [crc16(b"\x01") & 0xFF, 7])))
    seeds["short-request"] = answer_seed([3, 0], chunks(frame(1, [3, 0])))
    seeds["long-pdu"] = answer_seed([16] + [0] * 254, chunks(b""))
    seeds["full-buffer"] = answer_seed(fc03, chunks(bytes([1, 3] * 512), b"\x01"))
    seeds["slave-0"] = answer_seed(fc03, chunks(frame(0, [3, 6] + words(1, 2, 3))), slave=0)
    seeds["high-function"] = answer_seed([0x83, 0, 0], chunks(frame(1, [0x83, 0])))
    # Option 32: the first chunk came while the request was on the line.
    answer = frame(1, [3, 6] + words(1, 2, 3))
    seeds["turn-answer-held"] = answer_seed(fc03, chunks(answer[:2], answer[2:]), options=32)
    seeds["turn-echo-partial"] = answer_seed(
        fc03, chunks(frame(1, fc03)[:3], frame(1, fc03)[3:] + answer), options=33)
    seeds["turn-echo-and-copy"] = answer_seed(
        [6, 0, 1, 0, 2], chunks(frame(1, [6, 0, 1, 0, 2]) * 2), options=33)
    return seeds


def uri_seeds():
    texts = [
        b"",
        b"abcXYZ019",
        b"%",
        b"%4",
        b"%41",
        b"%4a%4A",
        b"%zz%g0",
        b"%%41",
        b"a%2",
        b"+ +",
        b"%00%01%FF",
        b"\x00\x01\xff",
        " <>#{}|\\^~[]`".encode(),
        "Привет".encode(),
        "Привет".encode("cp1251"),
        b"json_data=" + urllib.parse.quote(params({"read": READ2})).encode(),
        params({"read": READ2}).encode(),
        b"%E2%9C%93%",
        bytes(range(256)),
        b"%%%%%%",
    ]
    return {f"text-{i:02d}": text for i, text in enumerate(texts)}


def mbap_seeds():
    def mbap(transaction, unit, pdu, protocol=0, length=None):
        length = len(pdu) + 1 if length is None else length
        return bytes([transaction >> 8, transaction & 0xFF, protocol >> 8, protocol & 0xFF,
                      length >> 8, length & 0xFF, unit]) + bytes(pdu)

    read = mbap(1, 17, [3] + words(0x6B, 3))
    write = mbap(2, 17, [16] + words(1, 2) + [4] + words(10, 20))
    return {
        "read": bytes([64]) + read,
        "read-bytewise": bytes([1]) + read,
        "pipelined": bytes([5]) + read + write + mbap(3, 0, [0x11]),
        "longest": bytes([255]) + mbap(4, 1, [16] + [0x10] * 252),
        "protocol-1": bytes([64]) + read + mbap(5, 1, [3] + words(0, 1), protocol=1),
        "length-0": bytes([64]) + mbap(6, 1, [], length=0),
        "length-255": bytes([64]) + mbap(7, 1, [3] * 254, length=255),
        "half-frame": bytes([3]) + read[:9],
    }


def write(target, seeds):
    folder = ROOT / target
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)
    print(f"{target}: {len(seeds)} seeds")


if __name__ == "__main__":
    write("request", request_seeds())
    write("answer", answer_seeds())
    write("uri", uri_seeds())
    write("mbap", mbap_seeds())
