"""Which series hold a robust motif: its own closest matches, when they are closer than chance's
on average, are never left out (a motif whose instances vary more than chance material fits it
was held by none of its series, and vanished)."""

import math

import numpy as np
import numpy.typing as npt
from hypothesis import given, settings
from hypothesis import strategies as st

from zorp_miner._evidence import member_bar
from zorp_miner._robust.search import MEMBER_RATE, _held_bar

FloatArray = npt.NDArray[np.float64]


@st.composite
def distances(draw: st.DrawFn) -> tuple[FloatArray, FloatArray, int]:
    """A motif's best-match distances in N series (with a few NaN: series without a window),
    in the sample's null series, and its core, ceil(minsup x N)."""
    seed = draw(st.integers(0, 2**32 - 1))
    count = draw(st.integers(4, 60))
    core = math.ceil(draw(st.sampled_from([0.3, 0.5, 0.6, 1.0])) * count)
    rng = np.random.default_rng(seed)
    # Chance's matches, wide or narrow; the motif's, from far below chance's to among them.
    null = rng.normal(rng.uniform(0.3, 1.2), rng.uniform(0.0, 0.2), rng.integers(2, 60))
    best = rng.normal(rng.uniform(0.0, 1.2), rng.uniform(0.0, 0.2), count)
    best[rng.random(count) < 0.05] = np.nan
    return np.abs(best), np.abs(null), core


@settings(max_examples=300, deadline=None)
@given(distances())
def test_a_motifs_closest_matches_are_held_when_closer_than_chance(drawn: tuple[FloatArray, FloatArray, int]) -> None:
    best, null, core = drawn
    bar = _held_bar(best, null, core)
    members = np.sort(best[np.isfinite(best)])[:core]
    # What chance's quantile holds stays held.
    assert bar >= member_bar(null, MEMBER_RATE)
    if len(members) >= 2 and members.mean() < null.mean():
        # The core's matches closer than their mean are held ...
        assert np.all(members[members < members.mean()] < bar)
        # ... and no series as far as chance's mean is, by this rule.
        assert bar <= max(member_bar(null, MEMBER_RATE), float(null.mean()))
