"""Properties over random inputs: the library equals the straightforward algorithm."""

import math
import random

from hypothesis import HealthCheck, assume, example, given, settings
from hypothesis import strategies as st

import reference
from _zorp_cpp import Miner, PatternMiner, sax

SETTINGS = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])

letters = st.sampled_from("abc") | st.sampled_from("é\x80\x00")
word_sets = st.lists(st.text(alphabet=letters, max_size=14), max_size=7)


@SETTINGS
@given(
    texts=word_sets,
    minsup=st.sampled_from([0.1, 0.25, 0.4, 0.5, 2 / 3, 1.0, 1.5]),
    min_len=st.integers(-1, 4),
    max_len=st.integers(-1, 6),
    max_overlap=st.sampled_from([-0.5, 0.0, 0.4, 0.5, 0.6, 0.75, 0.9, 1.0, math.nan]),
)
def test_pattern_miner_equals_the_straightforward_algorithm(
    texts: list[str], minsup: float, min_len: int, max_len: int, max_overlap: float
) -> None:
    miner = PatternMiner(minsup, min_len, max_len, max_overlap)
    miner.mine([list(text) for text in texts])
    expected = reference.mine_patterns(texts, minsup, min_len, max_len, max_overlap)
    got = {pattern: motif.indexes for pattern, motif in miner.frequent.items()}
    assert list(got) == list(expected)
    assert got == expected


@SETTINGS
@given(texts=st.lists(st.text(alphabet="ab", max_size=6), max_size=3), max_len=st.integers(1, 4))
def test_zero_threshold_with_a_bound_accepts_every_candidate(texts: list[str], max_len: int) -> None:
    miner = PatternMiner(0.0, 1, max_len, 1.0)
    miner.mine([list(text) for text in texts])
    expected = reference.mine_patterns(texts, 0.0, 1, max_len, 1.0)
    assert {p: m.indexes for p, m in miner.frequent.items()} == expected


def series_sets(
    max_series: int = 6, max_points: int = 60
) -> st.SearchStrategy[list[list[float]]]:
    values = st.floats(-5.0, 5.0, allow_nan=False) | st.sampled_from([0.0, 1.0, -1.0])
    series = st.lists(values, max_size=max_points)
    return st.lists(series, max_size=max_series)


def occurrences(word: list[str], pattern: str) -> list[int]:
    text = "".join(word)
    return [i for i in range(len(text) - len(pattern) + 1) if text.startswith(pattern, i)]


@SETTINGS
@given(
    ts=series_sets(),
    seglen=st.integers(1, 5),
    alphabet=st.integers(2, 6),
    minsup=st.sampled_from([0.3, 0.5, 0.8, 1.0]),
    min_len=st.integers(1, 4),
)
def test_miner_results_hold_their_invariants(
    ts: list[list[float]], seglen: int, alphabet: int, minsup: float, min_len: int
) -> None:
    miner = Miner(minsup, seglen, alphabet, min_len=min_len)
    motifs = miner.mine(ts)
    normalised = [reference.znorm(series) for series in ts]
    words = sax(normalised, seglen, alphabet)
    expected = reference.mine_patterns(["".join(w) for w in words], minsup, min_len)
    assert sorted(m.pattern for m in motifs) == sorted(expected)

    naeds = [m.naed for m in motifs]
    assert naeds == sorted(naeds)
    for motif in motifs:
        assert motif.length == seglen * len(motif.pattern)
        for series, positions in motif.indexes.items():
            assert positions == occurrences(words[series], motif.pattern)
        for series, start in motif.best_matches.items():
            assert start % seglen == 0
            assert 0 <= start < len(ts[series])
        averages, representative, best, naed = reference.motif_statistics(
            motif.indexes, normalised, seglen, len(motif.pattern)
        )
        assert motif.average_occurrences.keys() == averages.keys()
        for series in averages:
            assert_same_floats(motif.average_occurrences[series], averages[series])
        assert_same_floats(motif.representative, representative)
        assert motif.best_matches == best
        assert_same_floats([motif.naed], [naed])


def assert_same_floats(got: list[float], expected: list[float]) -> None:
    assert len(got) == len(expected)
    for a, b in zip(got, expected):
        assert (math.isnan(a) and math.isnan(b)) or a == b, (got, expected)


@settings(max_examples=40, deadline=None)
@example(seed=11323, shift=0.0, scale=1.0)  # a representative with NaN at its end
@given(
    seed=st.integers(0, 2**32 - 1),
    shift=st.floats(-1e3, 1e3),
    scale=st.floats(0.01, 100.0),
)
def test_statistics_ignore_shifting_and_positive_scaling(seed: int, shift: float, scale: float) -> None:
    rng = random.Random(seed)
    ts: list[list[float]] = []
    for _ in range(5):
        level, series = 0.0, list[float]()
        for _ in range(rng.randint(40, 90)):
            level += rng.gauss(0.0, 1.0)
            series.append(level)
        ts.append(series)
    moved = [[shift + scale * value for value in series] for series in ts]
    words, moved_words = sax([reference.znorm(s) for s in ts], 4, 4), sax(
        [reference.znorm(s) for s in moved], 4, 4
    )
    assume(words == moved_words)  # a segment mean on a cut point may tip either way
    a, b = Miner(0.5, 4, 4).mine(ts), Miner(0.5, 4, 4).mine(moved)
    assert sorted(m.pattern for m in a) == sorted(m.pattern for m in b)
    by_pattern = {m.pattern: m for m in b}
    for motif in a:
        other = by_pattern[motif.pattern]
        assert motif.indexes == other.indexes
        assert math.isclose(motif.naed, other.naed, rel_tol=1e-7, abs_tol=1e-9)
        for x, y in zip(motif.representative, other.representative):
            # NaN where every occurrence runs past its series' end
            assert (math.isnan(x) and math.isnan(y)) or math.isclose(x, y, rel_tol=1e-7, abs_tol=1e-9)
        assert motif.best_matches == other.best_matches


@SETTINGS
@given(ts=series_sets(max_series=4, max_points=30), seglen=st.integers(1, 4))
def test_callers_series_are_never_modified(ts: list[list[float]], seglen: int) -> None:
    snapshot = [list(series) for series in ts]
    sax(ts, seglen, 4)
    Miner(0.5, seglen, 4, min_len=1).mine(ts)
    assert ts == snapshot
