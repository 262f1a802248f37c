#!/usr/bin/env python3
"""Plants single faults, one at a time, and asks whether the fast tests catch them.

Each line of mutants.txt is one planted fault:
    file ||| text ||| replacement (or "(deleted)") ||| the kind of bug it stands for
The text must occur exactly once in the file. For each fault the file is changed,
the build (build/mutate, the default preset's settings) is brought up to date, the
fast tests run until the first failure, and the file is put back. A table of
caught and missed faults ends the run; the exit code is 1 when one was missed.

    ./run mutate [filter]     only the faults whose line the filter (a regex) finds
"""
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "mutate"
# The fast tests: all but the long runs of the bridge, valgrind, wine, the
# benchmark, the package and the layer probes (which build probes of their own).
SLOW = ("valgrind|win32|bench|package|layers|independent|"
        "BridgeOnBroker\\.(AnAbsent|EveryCommand|ATlsBroker|SigtermPublishes)")


def run(command, **kw):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, **kw)


def build():
    return run(["cmake", "--build", str(BUILD), "-j2"]).returncode == 0


# The tests nearest a file's folder run first: a fault there is most often caught by
# them, in seconds; the rest of the fast tests run only when they pass.
NEAREST = (("tools/roderavo/bridge/", "Bridge|Modbus|bridge"),
           ("tools/roderavo/commands/", "Tool|tool|Bridge"),
           ("tools/roderavo/poll/", "Poller|Poll|Tool"),
           ("muxsim/", "Muxsim|muxsim"),
           ("zanpro/", "Zanpro|zanpro"),
           ("driver/", "Comm|Port|Exchange|Address|Lifecycle|Entry|Frame|Status|Control"))


def tests_pass(name=""):
    base = ["ctest", "--test-dir", str(BUILD), "-j2", "--stop-on-failure", "--timeout", "120",
            "-E", SLOW]
    nearest = next((tests for folder, tests in NEAREST if name.startswith(folder)), None)
    if nearest and run(base + ["-R", nearest]).returncode != 0:
        return False
    return run(base).returncode == 0


def mutants(only):
    for number, line in enumerate((ROOT / "tests/mutation/mutants.txt").read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#") or (only and not re.search(only, line)):
            continue
        parts = [part.strip() for part in line.split(" ||| ", 3)]
        if len(parts) != 4:
            sys.exit(f"mutants.txt:{number}: give file ||| text ||| replacement ||| kind")
        if parts[2] == "(deleted)":
            parts[2] = ""
        yield number, parts


def main():
    only = sys.argv[1] if len(sys.argv) > 1 else ""
    if not (BUILD / "CMakeCache.txt").exists():
        run(["cmake", "--preset", "default", "-B", str(BUILD)], check=True)
    if not build() or not tests_pass():
        sys.exit("mutate: the unchanged tree does not build or pass its fast tests")
    rows = []
    for number, (name, text, replacement, kind) in mutants(only):
        path = ROOT / name
        original = path.read_text()
        if original.count(text) != 1:
            rows.append((number, name, kind, "BAD: the text is not there exactly once", 0))
            continue
        start = time.monotonic()
        try:
            path.write_text(original.replace(text, replacement))
            if not build():
                outcome = "does not build"
            else:
                outcome = "missed" if tests_pass(name) else "caught"
        finally:
            path.write_text(original)
        rows.append((number, name, kind, outcome, time.monotonic() - start))
        print(f"{number:4} {outcome:15} {name}: {kind}", flush=True)
    build()
    print("\n| line | file | kind of bug | outcome | seconds |\n|---|---|---|---|---|")
    for number, name, kind, outcome, seconds in rows:
        print(f"| {number} | {name} | {kind} | {outcome} | {seconds:.0f} |")
    caught = sum(1 for row in rows if row[3] == "caught")
    print(f"\n{caught} of {len(rows)} caught")
    return 0 if caught == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main())
