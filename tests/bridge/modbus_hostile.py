#!/usr/bin/env python3
"""Sends the bridge's Modbus face what no client should: random bytes, truncated MBAP
headers, lengths that lie, unknown functions, each on a connection of its own, then
reads with sixteen good clients at once.

Usage: modbus_hostile.py PORT (a bridge with --modbus-idle 1s). Exit 0 when a silent
connection is closed, every bad connection was answered with an
exception or closed within 3 s, and the good clients then read; else prints why.
"""
import random
import socket
import struct
import sys
import time

from pymodbus.client import ModbusTcpClient


def frames(rng):
    yield b"\x00"  # one byte
    yield b"\x00\x01\x00\x00\x00"  # a header cut short
    yield struct.pack(">HHHB", 1, 0, 6, 1) + b"\x02"  # the length says 6, 2 come
    yield struct.pack(">HHHB", 2, 0, 255, 1) + bytes(254)  # longer than any request
    yield struct.pack(">HHHB", 3, 7, 6, 1) + b"\x02\x00\x00\x00\x08"  # a protocol id not 0
    yield struct.pack(">HHHBB", 4, 0, 2, 1, 0x2B)  # a function without its data
    yield struct.pack(">HHHBBHH", 5, 0, 6, 1, 0x41, 0, 1)  # a function nobody has
    for _ in range(40):
        yield bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 300)))


def answered_or_closed(port, frame):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(frame)
        s.settimeout(3.5)
        start = time.monotonic()
        try:
            while time.monotonic() - start < 3.5:
                data = s.recv(512)
                if not data:
                    return True  # closed
                if len(data) >= 9 and data[7] & 0x80:
                    return True  # an exception answer
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
    return False


def closed_when_idle(port):
    """A connection that sends nothing is closed (the bridge runs with --modbus-idle 1s)."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.settimeout(10)
        try:
            return s.recv(16) == b""
        except (socket.timeout, ConnectionResetError):
            return False


def main():
    port = int(sys.argv[1])
    if not closed_when_idle(port):
        print("a connection that sent nothing was still open after 10 s")
        return 1
    rng = random.Random(20)
    for number, frame in enumerate(frames(rng)):
        if not answered_or_closed(port, frame):
            print("frame", number, frame[:16].hex(), "was neither answered nor closed in 3 s")
            return 1
    # Then sixteen good clients, all connected at once, each read.
    clients = [ModbusTcpClient("127.0.0.1", port=port, timeout=5) for _ in range(16)]
    if not all(client.connect() for client in clients):
        print("a good client could not connect")
        return 1
    answers = [client.read_input_registers(105, 5, slave=1) for client in clients]
    for client in clients:
        client.close()
    failed = [answer for answer in answers if answer.isError()]
    if failed:
        print("a good client's read failed:", failed[0])
        return 1
    print("ages", " ".join(str(v) for v in answers[0].registers))
    return 0


if __name__ == "__main__":
    sys.exit(main())
