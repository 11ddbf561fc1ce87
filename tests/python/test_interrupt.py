"""A signal inside a long call of the module: the call raises what the signal's handler raises
(KeyboardInterrupt for Ctrl-C) soon after, as a Python loop would, and the object it ran on
works as before.

Each case runs in a child process, which starts a call that would take tens of seconds, on
inputs small enough to build at once: 20 random binary words of 5000 letters (or 20 series of
noise at one point per letter) hold millions of patterns of up to 40 letters, all in one
series at minsup 0.05, and sifting them takes the redundancy pass tens of seconds; sax converts
10 million Decimal numbers one by one, each through its text. The parent sends SIGINT shortly
after the call starts. The delays allowed until the exception are generous: what they check is
that the call stops long before it would end, not how fast.
"""

import json
import signal
import subprocess
import sys
import textwrap
import time
from typing import Any

import pytest

CHILD = """
import json, random, signal, sys, time
from decimal import Decimal
import _zorp_cpp

entry = sys.argv[1]
rng = random.Random(1)
binary_words = [[rng.choice("ab") for _ in range(5000)] for _ in range(20)]
noise = [[rng.gauss(0.0, 1.0) for _ in range(5000)] for _ in range(20)]
small_words = [list("abcabd"), list("abcab"), list("cabd")]
small_series = [[float(i % 7) for i in range(40)], [float(i % 5) for i in range(35)]]

def table(miner):
    return {pattern: motif.indexes for pattern, motif in miner.frequent.items()}

def motifs(found):
    return [(m.pattern, m.naed, m.best_matches, m.indexes) for m in found]

if entry == "sax":
    row = [Decimal("-12345678901234567890.123456789e-300")] * 1_000_000
    long_call = lambda: _zorp_cpp.sax([row] * 10, 10, 6)
    state = lambda: None
    again = lambda: _zorp_cpp.sax(small_series, 5, 4)
    fresh = again()
elif entry == "PatternMiner.mine":
    miner = _zorp_cpp.PatternMiner(0.05, 3, 40, 0.9)
    long_call = lambda: miner.mine(binary_words)
    state = lambda: table(miner)
    again = lambda: (miner.mine(small_words), table(miner))[1]
    fresh_miner = _zorp_cpp.PatternMiner(0.05, 3, 40, 0.9)
    fresh_miner.mine(small_words)
    fresh = table(fresh_miner)
else:
    miner = _zorp_cpp.Miner(0.05, 1, 2, 3, 40, 0.9)
    long_call = lambda: miner.mine(noise)
    state = lambda: motifs(miner.motifs)
    again = lambda: motifs(miner.mine(small_series))
    fresh = motifs(_zorp_cpp.Miner(0.05, 1, 2, 3, 40, 0.9).mine(small_series))

if len(sys.argv) > 2:
    # A handler of one's own: its exception stops the call.
    def on_alarm(number, frame):
        raise TimeoutError("alarm")
    signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, float(sys.argv[2]))

print("calling", flush=True)
started = time.monotonic()
try:
    long_call()
    outcome = "returned"
except BaseException as error:
    outcome = type(error).__name__
raised = time.monotonic()
after = repr(state())
print(json.dumps({
    "outcome": outcome,
    "started": started,
    "raised": raised,
    "state_after": after,
    "second_run_as_fresh": repr(again()) == repr(fresh),
}), flush=True)
"""

# Seconds from the signal to the exception that still pass. The calls take several seconds
# (sax) or tens of seconds (the miners), and a stop frees what the call had built: millions of
# patterns for the two miners.
GENEROUS_DELAY = {"sax": 2.0, "PatternMiner.mine": 5.0, "Miner.mine": 5.0}


# A shell starts a background job with SIGINT ignored (the test command run with "&" from a
# script), its processes inherit that, and Python then installs no handler for SIGINT: the
# child sets Python's own handler itself, as it has when started from a terminal.
SIGINT_HANDLER = "import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"


def run_child(
    *arguments: str, interrupt_after: float | None, script: str = CHILD
) -> tuple[dict[str, Any], float]:
    """The child's report, and when the parent sent SIGINT (time.monotonic, as the child's).

    The child (script) prints "calling" as it starts the call, and its report as JSON last."""
    child = subprocess.Popen(
        [sys.executable, "-c", SIGINT_HANDLER + textwrap.dedent(script), *arguments],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    assert child.stdout is not None
    try:
        assert child.stdout.readline().strip() == "calling"
        sent = time.monotonic()
        if interrupt_after is not None:
            time.sleep(interrupt_after)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert child.returncode == 0, err[-2000:]
    return json.loads(out.strip().splitlines()[-1]), sent


@pytest.mark.parametrize("entry", ["sax", "PatternMiner.mine", "Miner.mine"])
def test_sigint_raises_keyboard_interrupt_and_the_object_works_on(entry: str) -> None:
    report, sent = run_child(entry, interrupt_after=0.3)
    assert report["outcome"] == "KeyboardInterrupt"
    assert report["raised"] - sent < GENEROUS_DELAY[entry]
    assert report["second_run_as_fresh"]
    if entry == "PatternMiner.mine":
        assert report["state_after"] == "{}"  # a stopped run leaves an empty table


def test_a_handlers_own_exception_stops_the_call() -> None:
    report, started = run_child("Miner.mine", "0.3", interrupt_after=None)
    assert report["outcome"] == "TimeoutError"
    assert report["raised"] - started < 0.3 + GENEROUS_DELAY["Miner.mine"]
    assert report["second_run_as_fresh"]
