import os
import pathlib
import random
import struct
import sys

import numpy as np
import pytest
from hypothesis import settings

# The test command draws the same examples on every run (derandomized, no example database), so
# it never fails at random; ZORP_HYPOTHESIS=explore draws new ones, with --hypothesis-seed=N to
# sweep seeds, and ZORP_HYPOTHESIS=sweep draws new ones and ZORP_SWEEP_FACTOR (default 10) times
# as many of them, which scripts/sweep_properties.sh runs over many seeds (see README, "Tests").
settings.register_profile("repeatable", derandomize=True, database=None, print_blob=True)
settings.register_profile("explore", database=None, print_blob=True)
settings.register_profile("sweep", database=None, print_blob=True)
PROFILE = os.environ.get("ZORP_HYPOTHESIS", "repeatable")
settings.load_profile(PROFILE)
SWEEP_FACTOR = int(os.environ.get("ZORP_SWEEP_FACTOR") or 10) if PROFILE == "sweep" else 1


def examples(count: int) -> int:
    """The examples a property draws: its everyday count, times the sweep factor under the sweep
    profile. A property's everyday count is what keeps the suite fast; the sweep is where a
    rare draw is meant to be found."""
    return count * SWEEP_FACTOR

sys.path.insert(0, str(pathlib.Path(__file__).parent))


def random_walks(count: int, points: int, seed: int) -> list[list[float]]:
    rng = random.Random(seed)
    walks: list[list[float]] = []
    for _ in range(count):
        level, walk = 0.0, list[float]()
        for _ in range(points):
            level += rng.gauss(0.0, 1.0)
            walk.append(level)
        walks.append(walk)
    return walks


@pytest.fixture
def walks() -> list[list[float]]:
    return random_walks(8, 240, seed=1)


# Every field of a result, as the bytes that hold it: equal only when bit for bit the same.
MOTIF_ARRAYS = (
    "series",
    "best_matches",
    "average_occurrences",
    "representative",
    "occurrence_series",
    "occurrence_letters",
    "distances",
)
MOTIF_VALUES = ("rank", "mode", "pattern", "seglen", "length", "likely")


def assert_same_motifs(got: object, expected: object) -> None:
    """Two results (zorp_miner.Motifs) hold the same motifs, every field bit for bit."""
    import zorp_miner

    assert isinstance(got, zorp_miner.Motifs) and isinstance(expected, zorp_miner.Motifs)
    assert (got.found, len(got), got.mode, got.params) == (
        expected.found,
        len(expected),
        expected.mode,
        expected.params,
    )
    assert got.series_lengths.tolist() == expected.series_lengths.tolist()
    for a, b in zip(got, expected, strict=True):
        for name in MOTIF_VALUES:
            assert getattr(a, name) == getattr(b, name), (a.rank, name)
        for name in ("naed", "score", "evidence"):
            assert struct.pack("<d", getattr(a, name)) == struct.pack("<d", getattr(b, name))
        for name in MOTIF_ARRAYS:
            x, y = getattr(a, name), getattr(b, name)
            assert x.dtype == y.dtype and x.shape == y.shape, (a.rank, name)
            assert x.tobytes() == y.tobytes(), (a.rank, name)


def planted_walks(count: int, seed: int, *, ragged: bool = True) -> list[np.ndarray]:
    """Noisy walks of 400 to 540 points (400 each unless ragged), each with a 96-point square
    wave at an arbitrary start: the robust mode finds it."""
    rng = np.random.default_rng(seed)
    out = []
    for i in range(count):
        points = 400 + (35 * (i % 5) if ragged else 0)
        row = np.cumsum(rng.normal(size=points)) * 0.3 + rng.normal(size=points)
        at = int(rng.integers(0, points - 96))
        row[at : at + 96] += np.repeat([6.0, -6.0, 6.0, -6.0], 24)
        out.append(row)
    return out
