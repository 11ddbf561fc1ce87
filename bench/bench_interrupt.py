"""Times how soon Ctrl-C stops each long call of _zorp_cpp: SIGINT sent to KeyboardInterrupt raised.

Each case runs in a child process, which builds its input and starts one call of several seconds
or more; the parent sends SIGINT --after seconds later (default 1.0). The child notes when the
signal's handler ran, which is when the module's check noticed the signal, and when the
exception reached Python, after the call had freed what it had built. Two kinds of calls per
entry point: work on data as users have it (random walks, Decimal numbers), and small inputs
that take long (20 random binary words or series of noise, every substring of up to 40 letters
of which is frequent at minsup 0.05, which leaves the redundancy pass millions of patterns).

    .venv/bin/python bench/bench_interrupt.py [--after 1.0] [--repeat 3] [--full]
    .venv/bin/python bench/bench_interrupt.py --module /path/to/an/earlier/build

--full also times each call once uninterrupted. An earlier build without the checks raises
only once the call ends; a case still running --give-up seconds after the signal (default 120)
is killed and reported as such.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time
from dataclasses import dataclass

CHILD = """
import json, random, signal, sys, time
from decimal import Decimal
import numpy as np
import _zorp_cpp

rng = random.Random(1)
{setup}
handled = []
def on_interrupt(number, frame):
    handled.append(time.monotonic())
    raise KeyboardInterrupt
signal.signal(signal.SIGINT, on_interrupt)
print("calling", flush=True)
started = time.monotonic()
try:
    {call}
    outcome = "returned"
except KeyboardInterrupt:
    outcome = "KeyboardInterrupt"
ended = time.monotonic()
print(json.dumps({{"outcome": outcome, "started": started, "ended": ended,
                   "handled": handled[0] if handled else None}}), flush=True)
"""

WALKS = "np.cumsum(np.random.default_rng(1).standard_normal(({rows}, {points})), axis=1)"


@dataclass(frozen=True)
class Case:
    name: str
    setup: str
    call: str


CASES = [
    Case(
        "sax, 10 million Decimal numbers in lists",
        'row = [Decimal("-12345678901234567890.123456789e-300")] * 1_000_000\nts = [row] * 10',
        "_zorp_cpp.sax(ts, 10, 6)",
    ),
    Case(
        "PatternMiner(0.3).mine, 600 words of 30000 letters (walks)",
        f"words = [list(w) for w in _zorp_cpp.sax({WALKS.format(rows=600, points=60000)}, 2, 6)]",
        "_zorp_cpp.PatternMiner(0.3).mine(words)",
    ),
    Case(
        "PatternMiner(0.05, 3, 40).mine, 20 random binary words of 5000 letters",
        'words = [[rng.choice("ab") for _ in range(5000)] for _ in range(20)]',
        "_zorp_cpp.PatternMiner(0.05, 3, 40).mine(words)",
    ),
    Case(
        "Miner(0.1, 4, 6).mine, 300 x 40000 walks (ndarray)",
        f"series = {WALKS.format(rows=300, points=40000)}",
        "_zorp_cpp.Miner(0.1, 4, 6).mine(series)",
    ),
    Case(
        "Miner(0.05, 1, 2, 3, 40).mine, 20 series of 5000 points of noise",
        "series = [[rng.gauss(0.0, 1.0) for _ in range(5000)] for _ in range(20)]",
        "_zorp_cpp.Miner(0.05, 1, 2, 3, 40).mine(series)",
    ),
]


@dataclass(frozen=True)
class Stop:
    outcome: str
    noticed: float | None  # seconds from the signal to its handler, None if it never ran
    raised: float  # seconds from the signal to the end of the call
    ran: float  # seconds the call ran


def run(case: Case, after: float | None, give_up: float, module: str | None) -> Stop:
    """One call in a child process, sent SIGINT `after` seconds in (or never)."""
    environment = dict(os.environ)
    if module:
        environment["PYTHONPATH"] = module + os.pathsep + environment.get("PYTHONPATH", "")
    code = CHILD.format(setup=case.setup, call=case.call)
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True,
                             env=environment)
    assert child.stdout is not None
    if child.stdout.readline().strip() != "calling":
        raise RuntimeError(f"{case.name}: the child failed before the call")
    sent = time.monotonic()
    if after is not None:
        time.sleep(after)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
    try:
        out, _ = child.communicate(timeout=give_up + (after or 0.0))
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        return Stop("still running, killed", None, time.monotonic() - sent, time.monotonic() - sent)
    report = json.loads(out.strip().splitlines()[-1])
    handled = report["handled"]
    return Stop(
        report["outcome"],
        None if handled is None else handled - sent,
        report["ended"] - sent,
        report["ended"] - report["started"],
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--after", type=float, default=1.0, help="seconds into the call (1.0)")
    parser.add_argument("--repeat", type=int, default=3, help="interruptions per case (3)")
    parser.add_argument("--full", action="store_true", help="also time each call uninterrupted")
    parser.add_argument("--give-up", type=float, default=120.0, help="seconds after the signal")
    parser.add_argument("--module", metavar="DIR", help="import _zorp_cpp from DIR instead")
    args = parser.parse_args()

    print(f"SIGINT sent {args.after} s into each call, {args.repeat} times; module: "
          f"{args.module or 'installed'}")
    print("  noticed: signal to its handler; raised: signal to KeyboardInterrupt in Python "
          "(the call frees what it built in between)")
    for case in CASES:
        stops = [run(case, args.after, args.give_up, args.module) for _ in range(args.repeat)]
        noticed = [s.noticed for s in stops if s.noticed is not None]
        worst_noticed = f"{max(noticed) * 1000:8.1f} ms" if noticed else "   never"
        print(f"{case.name}")
        print(f"  outcome {', '.join(sorted({s.outcome for s in stops}))}; "
              f"noticed within {worst_noticed}; raised within {max(s.raised for s in stops):.3f} s "
              f"(best {min(s.raised for s in stops):.3f} s)")
        if args.full:
            whole = run(case, None, args.give_up, args.module)
            print(f"  uninterrupted: {whole.outcome} after {whole.ran:.2f} s")


if __name__ == "__main__":
    main()
