#!/usr/bin/env python3
"""Reads the bridge's Modbus TCP map with pymodbus, a client nobody here wrote.

Usage: modbus_client.py PORT [WRITE...]. Without writes, prints one line per probe:
its name, then the values read, or "exception N" with the Modbus exception code the
bridge answered. A WRITE is FUNCTION:ADDRESS=VALUE[,VALUE...] (6 or 16); each prints
itself, then "ok" or "exception N". 3:ADDRESS=COUNT reads holding registers back.
"""
import sys

from pymodbus.client import ModbusTcpClient


def show(name, answer, count=None):
    if answer.isError():
        print(name, "exception", getattr(answer, "exception_code", "?"))
        return
    values = answer.bits[:count] if hasattr(answer, "bits") else answer.registers
    print(name, " ".join(str(int(v)) for v in values))


def write(client, order):
    function, target = order.split(":")
    address, values = target.split("=")
    values = [int(v) for v in values.split(",")]
    if function == "3":  # a read back of `values[0]` holding registers
        show(order, client.read_holding_registers(int(address), values[0], slave=1))
        return
    if function == "6":
        answer = client.write_register(int(address), values[0], slave=1)
    else:
        answer = client.write_registers(int(address), values, slave=1)
    if answer.isError():
        print(order, "exception", getattr(answer, "exception_code", "?"))
    else:
        print(order, "ok")


def main():
    client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=10)
    if not client.connect():
        print("no connection")
        return 2
    if len(sys.argv) > 2:
        for order in sys.argv[2:]:
            write(client, order)
        client.close()
        return 0
    show("alarm-bits-21-40", client.read_discrete_inputs(20, 20, slave=1), 20)
    show("alarm-bits-unit-255", client.read_discrete_inputs(20, 20, slave=255), 20)
    show("camera-states-21-40", client.read_input_registers(20, 20, slave=1))
    show("mux-states-0-4", client.read_input_registers(100, 5, slave=1))
    answer = client.read_input_registers(156, 16, slave=1)
    if answer.isError():
        show("version-1", answer)
    else:
        text = b"".join(r.to_bytes(2, "big") for r in answer.registers).rstrip(b"\0")
        print("version-1", text.decode("ascii"))
    show("mux-2-not-polled-bits", client.read_discrete_inputs(40, 1, slave=1), 1)
    show("mux-2-not-polled-states", client.read_input_registers(40, 2, slave=1))
    show("outside-the-map", client.read_discrete_inputs(300, 1, slave=1), 1)
    show("holding-registers", client.read_holding_registers(1000, 5, slave=1))
    show("heartbeat-and-before", client.read_input_registers(299, 2, slave=1))
    show("write-register", client.write_register(1000, 53, slave=1))
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
