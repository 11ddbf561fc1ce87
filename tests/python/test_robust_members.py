"""Which series hold a robust motif: its own closest matches, when they are closer than chance's
on average, are never left out (a motif whose instances vary more than chance material fits it
was held by none of its series, and vanished)."""

import math

import numpy as np
import numpy.typing as npt
from hypothesis import assume, given, settings, strategies as st

from conftest import examples
from zorp_miner.compute.evidence import member_bar
from zorp_miner.robust.motifs import held_bar
from zorp_miner.robust.rules import MEMBER_RATE

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


@settings(max_examples=examples(300), deadline=None)
@given(distances())
def test_a_motifs_closest_matches_are_held_when_closer_than_chance(drawn: tuple[FloatArray, FloatArray, int]) -> None:
    best, null, core = drawn
    bar = held_bar(best, null, core)
    members = np.sort(best[np.isfinite(best)])[:core]
    # What chance's quantile holds stays held.
    assert bar >= member_bar(null, MEMBER_RATE)
    if len(members) >= 2 and members.mean() < null.mean():
        # The core's matches closer than their mean are held ...
        assert np.all(members[members < members.mean()] < bar)
        # ... and no series as far as chance's mean is, by this rule.
        assert bar <= max(member_bar(null, MEMBER_RATE), float(null.mean()))


@st.composite
def apart_from_chance(draw: st.DrawFn) -> tuple[FloatArray, FloatArray, int]:
    """Best-match distances all at least 2.5 of chance's deviations below chance's mean (so
    far that chance puts less than one series there), some alike, the others spread; in any
    number of series; and the core of a minsup."""
    seed = draw(st.integers(0, 2**32 - 1))
    count = draw(st.integers(4, 60))
    core = math.ceil(draw(st.sampled_from([0.3, 0.5, 0.6, 1.0])) * count)
    rng = np.random.default_rng(seed)
    null = np.abs(rng.normal(rng.uniform(0.5, 1.3), rng.uniform(0.01, 0.15), rng.integers(2, 60)))
    top = float(null.mean() - 2.5 * null.std())
    assume(top > 0.0)
    alike = rng.uniform(0.0, top)
    best = rng.uniform(alike, top, count)
    tight = rng.random(count) < rng.uniform(0.0, 1.0)
    best[tight] = alike + rng.uniform(0.0, 0.01, tight.sum()) * (top - alike)
    return best, null, core


@settings(max_examples=examples(300), deadline=None)
@given(apart_from_chance())
def test_every_series_apart_from_chance_holds_the_motif(drawn: tuple[FloatArray, FloatArray, int]) -> None:
    # The core is only the closest of them: the series beyond it, as far from chance, hold the
    # motif too.
    best, null, core = drawn
    assert np.all(best < held_bar(best, null, core))


def test_a_motifs_farther_copies_are_held_and_a_series_as_close_as_chance_is_not() -> None:
    # A shape in every series, half its copies close and half farther (a shape planted in every
    # series was held by half of them at minsup 0.5): the farther ones stand apart from chance,
    # though beyond its closest match, and hold it; a series where chance's matches are does not.
    rng = np.random.default_rng(7)
    null = rng.normal(0.9, 0.1, 20)
    close, farther = rng.normal(0.10, 0.01, 11), rng.normal(0.77, 0.005, 9)
    assert np.all(farther > member_bar(null, MEMBER_RATE))
    as_chance = float(null.mean() - 0.5 * null.std())
    best = np.concatenate([close, farther, [as_chance]])
    bar = held_bar(best, null, core=11)
    assert np.all(best[:-1] < bar) and not as_chance < bar
