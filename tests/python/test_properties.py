"""Properties over random inputs: the library equals the straightforward algorithm."""

import math
import random

from hypothesis import HealthCheck, assume, example, given, settings, strategies as st

import reference
from conftest import examples
from _zorp_cpp import Miner, PatternMiner, sax

SETTINGS = settings(max_examples=examples(150), deadline=None, suppress_health_check=[HealthCheck.too_slow])

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


@settings(max_examples=examples(40), deadline=None)
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


# Words made of runs of one letter, repeated whole: long runs hold many overlapping occurrences
# of every stretch of one letter, and a repeated word as many of every stretch of its period.
@st.composite
def words_with_runs(draw: st.DrawFn, longest_run: int) -> str:
    runs: list[tuple[str, int]] = draw(
        st.lists(st.tuples(st.sampled_from("ab\x80"), st.integers(1, longest_run)), max_size=4)
    )
    return "".join(letter * count for letter, count in runs) * draw(st.integers(1, 2))


def substrings(texts: list[str], shortest: int, longest: int) -> set[str]:
    return {
        text[i:j]
        for text in texts
        for i in range(len(text))
        for j in range(i + shortest, min(len(text), i + longest) + 1)
    }


# The straightforward algorithm compares every pair of patterns in its redundancy pass: the
# words stay short enough for it.
@settings(max_examples=examples(100), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    texts=st.lists(words_with_runs(longest_run=6), max_size=6),
    minsup=st.sampled_from([0.2, 1 / 3, 0.5, 1.0]),
    min_len=st.integers(-1, 4),
    max_len=st.sampled_from([0, 0, 1, 2, 5, 30]),
    max_overlap=st.sampled_from([0.0, 0.5, 0.9, 1.0]),
)
def test_pattern_miner_equals_the_straightforward_algorithm_on_runs(
    texts: list[str], minsup: float, min_len: int, max_len: int, max_overlap: float
) -> None:
    assume(len(substrings(texts, max(min_len, 1), max_len or 10**6)) <= 120)
    miner = PatternMiner(minsup, min_len, max_len, max_overlap)
    miner.mine([list(text) for text in texts])
    expected = reference.mine_patterns(texts, minsup, min_len, max_len, max_overlap)
    got = {pattern: motif.indexes for pattern, motif in miner.frequent.items()}
    assert list(got) == list(expected)
    assert got == expected


# Without the redundancy pass (an overlap ratio never exceeds 1) the table is every stretch of
# the allowed lengths that occurs in enough words, with all its occurrences: longer runs.
@SETTINGS
@given(
    texts=st.lists(words_with_runs(longest_run=40), min_size=1, max_size=6),
    minsup=st.sampled_from([0.2, 1 / 3, 0.5, 1.0]),
    min_len=st.integers(-1, 6),
    max_len=st.sampled_from([0, 0, 1, 2, 7, 60]),
)
def test_long_runs_give_every_frequent_stretch(
    texts: list[str], minsup: float, min_len: int, max_len: int
) -> None:
    miner = PatternMiner(minsup, min_len, max_len, 1.0)
    miner.mine([list(text) for text in texts])
    shortest, longest = max(min_len, 1), 10**6 if max_len == 0 else max(max_len, 1)
    found: dict[str, dict[int, list[int]]] = {}
    for s, text in enumerate(texts):
        for i in range(len(text)):
            for j in range(i + shortest, min(len(text), i + longest) + 1):
                found.setdefault(text[i:j], {}).setdefault(s, []).append(i)
    expected = {
        pattern: found[pattern]
        for pattern in sorted(found, key=reference.symbol_key)
        if len(found[pattern]) >= minsup * len(texts)
    }
    got = {pattern: motif.indexes for pattern, motif in miner.frequent.items()}
    assert list(got) == list(expected)
    assert got == expected


# Series of plateaus, some with noise: at one point per letter a plateau of 64 points or more is
# a run of as many letters, whose occurrences are summed as sliding sums and mostly set aside
# by their distance bounds.
@st.composite
def plateau_series(draw: st.DrawFn) -> list[float]:
    rng = random.Random(draw(st.integers(0, 2**32 - 1)))
    noise = draw(st.sampled_from([0.0, 0.0, 1e-3, 0.3]))
    series: list[float] = []
    for level, count in draw(
        st.lists(st.tuples(st.floats(-3.0, 3.0), st.integers(1, 160)), min_size=1, max_size=5)
    ):
        series.extend(level + noise * rng.gauss(0.0, 1.0) for _ in range(count))
    return series


@settings(max_examples=examples(60), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(ts=st.lists(plateau_series(), min_size=1, max_size=4), seglen=st.integers(1, 2))
def test_statistics_over_long_runs(ts: list[list[float]], seglen: int) -> None:
    motifs = Miner(0.5, seglen, 3, min_len=4, max_len=12, max_overlap=1.0).mine(ts)
    normalised = [reference.znorm(series) for series in ts]
    for motif in motifs:
        length = motif.length
        for series, positions in motif.indexes.items():
            points = normalised[series]
            occurrences = [reference.occurrence(points, p, seglen, length) for p in positions]
            # One-by-one sums, within the rounding of the sliding ones.
            for i, average in enumerate(motif.average_occurrences[series]):
                terms = [o[i] for o in occurrences if not math.isnan(o[i])]
                if not terms:
                    assert math.isnan(average)
                    continue
                expected = reference.add_up(terms) / len(terms)
                if not math.isfinite(expected):
                    assert_same_floats([average], [expected])
                    continue
                bound = 1e-12 * sum(abs(t) for t in terms) / len(terms) + 4e-16 * abs(expected)
                assert abs(average - expected) <= bound
            # The nearest occurrence to the motif's own representative, the first on a tie.
            distances = [
                math.sqrt(reference.add_up(
                    (v - r) * (v - r) for v, r in zip(o, motif.representative) if not math.isnan(v)
                ))
                for o in occurrences
            ]
            best = min([1000000.0] + distances)
            start = positions[distances.index(best)] * seglen if best < 1000000.0 else 0
            assert motif.best_matches[series] == start
