#!/usr/bin/env python3
"""Lays siege to the bridge's Modbus face as hostile clients would, and measures a good
client beside them.

Usage: modbus_siege.py PORT (a bridge with --modbus-idle 30s).
1. 28 hostile connections: 10 trickle a frame one byte every 0.3 s, 10 send requests
   and never read the answers, 8 send half a frame and fall silent. Beside them a
   pymodbus client reads 20 times: prints "good reads: median M ms, slowest S ms".
   The tricklers, the half frames and the ones that never read must be closed.
2. A 0x2B request with bytes after its function, a read frame sent in the same packet,
   and a request of function 0x84: each answered for its own transaction.
3. 40 silent connections, one after another: the first 8 are closed to admit the
   rest, and then a new client is still served.
4. Prints "besieged" and holds 10 tricklers and 10 that never read until the bridge
   stops listening (the test sends it SIGTERM), 60 s at most.
Exit 0 when all holds, else prints why and exits 1.
"""
import select
import socket
import statistics
import struct
import sys
import threading
import time

from pymodbus.client import ModbusTcpClient

READ = struct.pack(">HHHBBHH", 1, 0, 6, 1, 4, 105, 5)  # the ages


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=5)


def reset_within(sock, seconds):
    """True when the bridge drops a socket that never reads: sending on shows it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            sock.send(READ)
        except BlockingIOError:
            time.sleep(0.1)
        except OSError:
            return True
    return False


def closed_within(sock, seconds):
    """True when the bridge closes the socket within `seconds` (answers are skipped)."""
    sock.settimeout(0.2)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if sock.recv(65536) == b"":
                return True
        except socket.timeout:
            continue
        except OSError:
            return True
    return False


class Trickler(threading.Thread):
    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = connect(port)
        self.stop = threading.Event()

    def run(self):
        frame = READ * 1000
        for byte in frame:
            if self.stop.wait(0.3):
                return
            try:
                self.sock.send(bytes([byte]))
            except OSError:
                return


def never_reader(port):
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.settimeout(5)
    sock.connect(("127.0.0.1", port))
    sock.setblocking(False)
    try:
        for _ in range(200000):
            sock.send(READ)
    except (BlockingIOError, OSError):
        pass
    return sock


def good_reads(port, count):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=10)
    if not client.connect():
        return None
    times = []
    for _ in range(count):
        start = time.monotonic()
        answer = client.read_input_registers(105, 5, slave=1)
        times.append((time.monotonic() - start) * 1000)
        if answer.isError():
            client.close()
            return None
    client.close()
    return times


def siege(port):
    tricklers = [Trickler(port) for _ in range(10)]
    for t in tricklers:
        t.start()
    readers = [never_reader(port) for _ in range(10)]
    halves = [connect(port) for _ in range(8)]
    for s in halves:
        s.sendall(READ[:5])
    times = good_reads(port, 20)
    if times is None:
        return "a good client beside the siege was not served"
    print("good reads: median %.3f ms, slowest %.3f ms"
          % (statistics.median(times), max(times)), flush=True)
    if not all(reset_within(s, 10) for s in readers):
        return "a connection that never reads was not dropped"
    for name, socks in (("half frame", halves), ("trickling", [t.sock for t in tricklers])):
        if not all(closed_within(s, 10) for s in socks):
            return "a %s connection was not closed" % name
    for t in tricklers:
        t.stop.set()
    for s in halves + readers + [t.sock for t in tricklers]:
        s.close()
    return None


def answers(port):
    with connect(port) as s:
        s.sendall(struct.pack(">HHHBBBBB", 9, 0, 5, 1, 0x2B, 0x0E, 1, 0)
                  + struct.pack(">HHHBBHH", 10, 0, 6, 1, 4, 105, 1)
                  + struct.pack(">HHHBBHH", 11, 0, 6, 1, 0x84, 0, 1))
        got = b""
        s.settimeout(5)
        while len(got) < 9 + 11 + 9:
            chunk = s.recv(256)
            if not chunk:
                break
            got += chunk
    want = [(9, 0xAB, 1), (10, 4, None), (11, 0x84, 1)]
    at = 0
    for transaction, function, code in want:
        head = struct.unpack(">HHHBB", got[at:at + 8])
        if head[0] != transaction or head[4] != function or (code and got[at + 8] != code):
            return "answers %s are not those of transactions 9, 10, 11" % got.hex()
        at += 6 + head[2]
    return None


def crowd(port):
    silent = [connect(port) for _ in range(40)]
    if good_reads(port, 1) is None:
        return "a new client was not served beside 40 silent connections"
    if not all(closed_within(s, 3) for s in silent[:9]):
        return "the connections idle longest were not closed to admit new ones"
    readable, _, _ = select.select(silent[9:], [], [], 0.5)
    if readable:
        return "a connection that was not idle longest was closed"
    for s in silent:
        s.close()
    return None


def main():
    port = int(sys.argv[1])
    for step in (siege, answers, crowd):
        why = step(port)
        if why:
            print(why, flush=True)
            return 1
    tricklers = [Trickler(port) for _ in range(10)]
    for t in tricklers:
        t.start()
    readers = [never_reader(port) for _ in range(10)]
    print("besieged", flush=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            connect(port).close()
        except OSError:
            return 0
        time.sleep(0.05)
    return 0


if __name__ == "__main__":
    sys.exit(main())
