"""Ctrl-C inside a long call of zorp_miner._native raises KeyboardInterrupt soon after, although
the call runs without the interpreter lock, and the module works on afterwards.

Each case runs in a child process. best_correlations matches 256 shapes of 64 points against 40
series of 200,000 points (130 billion products, tens of seconds), on one thread and on four,
realignment_sums adds up 4 groups of 500 rows of 2001 windows of 2000 points on four threads; mine_words sifts the
millions of patterns of 20 random binary words of 5000 letters at minsup 0.05. The parent sends
SIGINT 0.3 s after the call starts; the delay allowed until the exception is generous: what it
checks is that the call stops long before it would end.
"""

import pytest

from test_interrupt import run_child

CHILD = """
import json, random, sys, time
import numpy as np
from zorp_miner import _native

entry, threads = sys.argv[1].split("@")
threads = int(threads)
rng = np.random.default_rng(1)
if entry == "best_correlations":
    values = [rng.normal(size=200_000) for _ in range(40)]
    weights = [np.full(len(v) - 63, 1.0 / 64) for v in values]
    shapes = rng.normal(size=(256, 64))
    long_call = lambda: _native.best_correlations(values, weights, shapes, threads=threads)
    small = lambda: _native.best_correlations(values[:1], weights[:1], shapes[:1])[0].tolist()
elif entry == "realignment_sums":
    m = 2000
    rows = rng.normal(size=(2000, 2 * m))
    members = np.full(4, 500, dtype=np.int64)
    scales = np.full(4, 1024.0)
    long_call = lambda: _native.realignment_sums(rows, members, scales, m, 0, 1, 45.0, threads=threads)
    pair = np.array([2], dtype=np.int64)
    small = lambda: _native.realignment_sums(rows[:2, :20], pair, scales[:1], 10, 0, 1, 3.2)[0].tolist()
else:
    letters = random.Random(1)
    words = [bytes(letters.choice(b"ab") for _ in range(5000)) for _ in range(20)]
    long_call = lambda: _native.mine_words(words, 0.05, 3, 40, 0.9)
    small = lambda: [p for p, *_ in _native.mine_words([b"abcabd", b"abcab"], 1.0, 3, 0, 0.9)]
expected = small()

print("calling", flush=True)
try:
    long_call()
    outcome = "returned"
except BaseException as error:
    outcome = type(error).__name__
raised = time.monotonic()
print(json.dumps({"outcome": outcome, "raised": raised, "works_on": small() == expected}))
"""

# Seconds from the signal to the exception that still pass; a stopped mining frees millions of
# patterns on the way out. A threaded kernel stops within a second: every thread stops at its
# next count of work, a fraction of a millisecond away.
GENEROUS_DELAY = 5.0
THREADED_DELAY = 1.0


@pytest.mark.parametrize(
    "entry",
    ["best_correlations@1", "best_correlations@4", "realignment_sums@4", "mine_words@1"],
)
def test_sigint_stops_a_long_native_call(entry: str) -> None:
    report, sent = run_child(entry, interrupt_after=0.3, script=CHILD)
    assert report["outcome"] == "KeyboardInterrupt"
    threaded = not entry.endswith("@1")
    assert report["raised"] - sent < (THREADED_DELAY if threaded else GENEROUS_DELAY)
    assert report["works_on"]
