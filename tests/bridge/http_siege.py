#!/usr/bin/env python3
"""The web face as clients good and hostile find it.

Usage: http_siege.py PORT TOKEN (a bridge with --http 127.0.0.1:PORT --http-writable and
a token file holding TOKEN, on multiplexers 0 and 1).
1. What every answer carries (CSP, nosniff, no caching of the API), the page's files.
2. Commands: each refusal with its status and record (no token, a wrong token, a page of
   another site, not JSON, a field missing, a value refused, a body over 4 kB, headers
   over 8 kB), then KEY1=53 done (200, result 0): prints "key sent".
3. 200 idle connections, a client with a 1 MB header, one that asks for the event stream
   and never reads, and ten that ask and never read their answers: the page, the state and
   the metrics still answer, each within 2 s, a page's stream stays open for 7 s (past
   every deadline) with the state each second, and no more than 64 connections are kept.
4. Prints "besieged" and holds those clients until the bridge stops listening (the test
   sends it SIGTERM), 60 s at most.
Exit 0 when all holds, else prints why and exits 1.
"""
import http.client
import json
import socket
import sys
import time

PORT, TOKEN = int(sys.argv[1]), sys.argv[2]
HOST = f"127.0.0.1:{PORT}"


def fail(why):
    print(why, flush=True)
    sys.exit(1)


def request(method, path, body=None, headers=None, timeout=2):
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=timeout)
    connection.request(method, path, body=body, headers=headers or {})
    answer = connection.getresponse()
    data = answer.read()
    connection.close()
    return answer.status, dict(answer.getheaders()), data


def command(body, token=TOKEN, origin=None, raw=False):
    headers = {"Content-Type": "application/json"}
    if token is not None:
        headers["Authorization"] = f"Bearer {token}"
    if origin is not None:
        headers["Origin"] = origin
    status, _, data = request("POST", "/api/v1/commands", body if raw else json.dumps(body),
                              headers, timeout=10)
    return status, json.loads(data) if data.startswith(b"{") else data


def check_headers():
    for path, kind in (("/", "text/html"), ("/app.js", "text/javascript"),
                       ("/app.css", "text/css"), ("/api/v1/state", "application/json"),
                       ("/metrics", "text/plain")):
        status, headers, _ = request("GET", path)
        if status != 200 or not headers.get("Content-Type", "").startswith(kind):
            fail(f"{path}: {status} {headers}")
        if headers.get("Content-Security-Policy") != "default-src 'self'" or \
                headers.get("X-Content-Type-Options") != "nosniff":
            fail(f"{path}: the security headers are missing: {headers}")
        if path.startswith("/api") and headers.get("Cache-Control") != "no-store":
            fail(f"{path}: an API answer may be cached: {headers}")
    if request("GET", "/nothing")[0] != 404:
        fail("/nothing is not 404")


def check_commands():
    key = {"mux": 1, "command": "key", "value": "53", "id": "c-1"}
    cases = [
        ("no token", dict(body=key, token=None), 401),
        ("a wrong token", dict(body=key, token="x" * len(TOKEN)), 403),
        ("another site's page", dict(body=key, origin="http://evil.example"), 403),
        ("not JSON", dict(body="key=53", raw=True), 400),
        ("no command", dict(body={"mux": 1, "value": "53"}), 400),
        ("a value refused", dict(body={"mux": 1, "command": "key", "value": "999"}), 422),
        ("a word unknown", dict(body={"mux": 1, "command": "reboot", "value": "1"}), 422),
    ]
    for what, args, expected in cases:
        status, answer = command(**args)
        if status != expected or not isinstance(answer, dict) or answer.get("result") != 1:
            fail(f"{what}: {status} {answer}, not {expected} with result 1")
    status, _, _ = request("POST", "/api/v1/commands", "{" + " " * 5000 + "}",
                           {"Authorization": f"Bearer {TOKEN}"})
    if status != 413:
        fail(f"a body over 4 kB: {status}, not 413")
    status, _, _ = request("GET", "/api/v1/state", headers={"X-Big": "y" * 9000})
    if status != 431:
        fail(f"headers over 8 kB: {status}, not 431")
    status, answer = command(key, origin=f"http://{HOST}")
    if status != 200 or answer.get("result") != 0 or answer.get("gate") != "KEY1" or \
            answer.get("id") != "c-1":
        fail(f"KEY1=53: {status} {answer}")
    print("key sent", flush=True)


def hostile():
    held = []
    for _ in range(200):
        held.append(socket.create_connection(("127.0.0.1", PORT), timeout=5))
    big = socket.create_connection(("127.0.0.1", PORT), timeout=5)
    big.setblocking(False)
    try:
        big.send(b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"z" * (1 << 20))
    except (BlockingIOError, OSError):
        pass
    held.append(big)
    stream = socket.create_connection(("127.0.0.1", PORT), timeout=5)
    stream.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stream.send(b"GET /api/v1/events HTTP/1.1\r\nHost: x\r\n\r\n")
    held.append(stream)
    for _ in range(10):
        lazy = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        lazy.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        lazy.send(b"GET /api/v1/state HTTP/1.1\r\nHost: x\r\n\r\n" * 50)
        held.append(lazy)
    return held


def still_answers():
    for path in ("/", "/api/v1/state", "/metrics"):
        start = time.monotonic()
        status, _, data = request("GET", path, timeout=5)
        took = time.monotonic() - start
        if status != 200 or not data or took > 2:
            fail(f"{path} under siege: {status} after {took:.1f} s")
    state = json.loads(request("GET", "/api/v1/state")[2])
    if len(state["cameras"]) != 100 or not state["muxes"]:
        fail(f"the state under siege: {state}")


def stream_holds(seconds):
    """A good page's stream stays open past every deadline and hears the state each second."""
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=3)
    sock.send(b"GET /api/v1/events HTTP/1.1\r\nHost: x\r\n\r\n")
    heard, data, deadline = 0, b"", time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            fail("the event stream was quiet for 3 s")
        if not chunk:
            fail(f"the event stream ended after {seconds - (deadline - time.monotonic()):.1f} s")
        data += chunk
        heard = data.count(b"event: state\n")
    sock.close()
    if heard < seconds - 1:
        fail(f"the event stream gave {heard} states in {seconds} s")
    # Every message whole: its event line and one JSON document (writes never mixed).
    body = data.split(b"\r\n\r\n", 1)[1]
    for block in body.split(b"\n\n")[:-1]:
        head, _, document = block.partition(b"\ndata: ")
        if head != b"event: state":
            fail(f"a message of the stream is not whole: {block[:80]!r}")
        json.loads(document)


def evicted(idle):
    """How many of the idle sockets the bridge has closed: all but 64 at most must be."""
    closed = 0
    for sock in idle:
        sock.setblocking(False)
        try:
            closed += sock.recv(1) == b""
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    return closed


def main():
    check_headers()
    check_commands()
    held = hostile()
    still_answers()
    stream_holds(7)
    closed = evicted(held[:200])
    if closed < 200 - 64:
        fail(f"only {closed} of 200 idle sockets were closed: more than 64 connections kept")
    print("besieged", flush=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
        except OSError:
            break
        time.sleep(0.05)
    for sock in held:
        sock.close()


main()
