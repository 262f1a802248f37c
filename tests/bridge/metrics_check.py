#!/usr/bin/env python3
"""A real bridge's /metrics against Prometheus's own checker, and the shipped alert
rules and Grafana dashboard against that scrape: the text passes `promtool check
metrics`, the rules `promtool check rules` and fire as rules_test.yml expects, every
metric the rules and the dashboard name is in the scrape, and the process's figures are
plausible.

metrics_check.py TOOL DRIVER RULES DASHBOARD
"""
import json
import os
import re
import selectors
import signal
import socket
import subprocess
import sys
import time
import urllib.request

DEADLINE = 60  # seconds, for a busy machine or a sanitizer build


def free_ports(count):
    """Ports free now, each another: the sockets are held until all are picked."""
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def wait_for_line(bridge, wanted):
    """Reads the bridge's log until `wanted` is in a line; the lines read."""
    lines, pending = [], b""
    selector = selectors.DefaultSelector()
    selector.register(bridge.stderr, selectors.EVENT_READ)
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        if not selector.select(timeout=end - time.monotonic()):
            break
        chunk = os.read(bridge.stderr.fileno(), 4096)
        if not chunk:
            break
        pending += chunk
        *complete, pending = pending.split(b"\n")
        lines += [line.decode(errors="replace") for line in complete]
        if any(wanted in line for line in lines):
            return lines
    sys.exit(f"no line with {wanted!r} from the bridge:\n" + "\n".join(lines))


def samples(text):
    """{(name, labels): value} of the text's sample lines."""
    found = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            series, value = line.rsplit(" ", 1)
            name, _, labels = series.partition("{")
            found[(name, labels.rstrip("}"))] = float(value)
    return found


def scrape_until(url, condition, what):
    """The first scrape whose samples meet `condition`: its type, text and samples."""
    end = time.monotonic() + DEADLINE
    while True:
        with urllib.request.urlopen(url, timeout=DEADLINE) as answer:
            kind = answer.headers["Content-Type"]
            text = answer.read().decode()
        seen = samples(text)
        if condition(seen):
            return kind, text, seen
        if time.monotonic() > end:
            sys.exit(f"the metrics never showed {what}:\n" + text)
        time.sleep(0.1)


def modbus_clients(count):
    return lambda seen: seen.get(("roderavo_modbus_connections", "")) == count


def polled_with_a_client(seen):
    return (seen.get(("roderavo_poll_cycle_seconds_count", ""), 0) > 0
            and all(("roderavo_mux_up", f'mux="{m}"') in seen for m in range(5))
            and modbus_clients(1)(seen))


def promtool(*args, stdin=None):
    run = subprocess.run(["promtool", *args], input=stdin, capture_output=True, text=True)
    return run.returncode, (run.stdout + run.stderr).strip()


def metric_names(text):
    return set(re.findall(r"\b(?:roderavo|process)_[a-z_]+", text))


def main(tool, driver, rules, dashboard):
    failures = []
    port, modbus = free_ports(2)
    bridge = subprocess.Popen(
        [tool, "bridge", "--driver", driver, "--simulate", "--http", f"127.0.0.1:{port}",
         "--modbus", f"127.0.0.1:{modbus}"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    url = f"http://127.0.0.1:{port}/metrics"
    try:
        wait_for_line(bridge, f"web face on http://127.0.0.1:{port}")
        # A Modbus client counted while it is connected, and no longer once it has gone.
        with socket.create_connection(("127.0.0.1", modbus), timeout=DEADLINE):
            kind, text, seen = scrape_until(url, polled_with_a_client,
                                            "a poll cycle, every multiplexer and one client")
        scrape_until(url, modbus_clients(0), "the Modbus client gone")
    finally:
        bridge.send_signal(signal.SIGTERM)
        try:
            bridge.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            bridge.kill()
            failures.append("the bridge did not end on SIGTERM")

    if not kind.startswith("text/plain; version=0.0.4"):
        failures.append(f"/metrics served as {kind}")
    code, said = promtool("check", "metrics", stdin=text)
    if code != 0 or said:
        failures.append(f"promtool check metrics ({code}): {said}")
    code, said = promtool("check", "rules", rules)
    if code != 0:
        failures.append(f"promtool check rules ({code}): {said}")
    # The test names the rules by their path from it: it must be the file given.
    rules_test = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rules_test.yml")
    code, said = promtool("test", "rules", rules_test)
    if code != 0:
        failures.append(f"promtool test rules ({code}): {said}")

    scraped = {name for name, _ in seen}
    with open(rules) as f:
        rule_text = f.read()
    with open(dashboard) as f:
        board = json.load(f)
    if not board.get("schemaVersion") or not all(p.get("targets") for p in board["panels"]):
        failures.append("the dashboard has no schemaVersion, or a panel without targets")
    for source, names in [(rules, metric_names(rule_text)),
                          (dashboard, metric_names(json.dumps(board)))]:
        if not names:
            failures.append(f"{source} names no metric")
        for name in sorted(names - scraped):
            failures.append(f"{source} names {name}, which /metrics does not have")

    # The process's own: started within the run, some memory, a few descriptors.
    started = seen.get(("process_start_time_seconds", ""), 0)
    if abs(started - time.time()) > 3600:
        failures.append(f"process_start_time_seconds {started} is not this hour")
    if seen.get(("process_resident_memory_bytes", ""), 0) < 1e6:
        failures.append("process_resident_memory_bytes under 1 MB")
    if seen.get(("process_open_fds", ""), 0) < 3:
        failures.append("process_open_fds under 3")

    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print(text)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
