"""The native kernels of the robust discovery against numpy and direct computations."""

import collections
import math
import pathlib
import shutil
import subprocess
from typing import TypedDict

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import reference
from conftest import examples
from zorp_miner import _native
from zorp_miner.robust.rules import ALPHABETS
from zorp_miner.compute.shapes import unit_scaled
from zorp_miner.robust.tasks import window_words
from zorp_miner.compute.sliding import DIRECT_POINTS, SeriesBank, znormalised

FloatArray = np.ndarray


def increasing_fit(values: list[float]) -> list[float]:
    """Least-squares non-decreasing fit (pool adjacent violators), point by point."""
    means: list[float] = []
    weights: list[int] = []
    for value in values:
        means.append(value)
        weights.append(1)
        while len(means) > 1 and means[-2] > means[-1]:
            weight = weights[-2] + weights[-1]
            means[-2] = (means[-2] * weights[-2] + means[-1] * weights[-1]) / weight
            weights[-2] = weight
            means.pop()
            weights.pop()
    return [mean for mean, weight in zip(means, weights, strict=True) for _ in range(weight)]


def monotone_share(shape: list[float], points: int = 32) -> float:
    """The share of the variance of the block means that a monotone fit explains."""
    m = len(shape)
    if m == 0:
        return 1.0
    blocks = min(points, m)
    edges = [int(b * (m / blocks)) for b in range(blocks)] + [m]
    means = [sum(shape[a:b]) / (b - a) for a, b in zip(edges[:-1], edges[1:], strict=True)]
    average = sum(means) / blocks
    total = sum((value - average) ** 2 for value in means)
    if not total > 1e-12 * blocks:
        return 1.0
    best = 0.0
    for sign in (1.0, -1.0):
        signed = [sign * value for value in means]
        fit = increasing_fit(signed)
        residual = sum((a - b) ** 2 for a, b in zip(signed, fit, strict=True))
        best = max(best, 1.0 - residual / total)
    return best


@settings(max_examples=examples(200), deadline=None)
@given(st.lists(st.floats(-1e3, 1e3), min_size=0, max_size=80), st.integers(1, 40))
def test_monotone_share_equals_the_pooled_fit(values: list[float], points: int) -> None:
    expected = monotone_share(values, points)
    assert _native.monotone_share(np.array(values, dtype=np.float64), points) == pytest.approx(
        expected, abs=1e-9
    )


series_values = st.lists(
    st.one_of(st.floats(-1e3, 1e3, allow_nan=False), st.just(float("nan"))),
    min_size=1,
    max_size=300,
)


@settings(max_examples=examples(100), deadline=None)
@given(
    st.lists(series_values, min_size=1, max_size=4),
    st.integers(2, DIRECT_POINTS),
    st.integers(1, 6),
    st.integers(0, 2**32 - 1),
    st.lists(st.tuples(st.integers(0, 299), st.integers(1, 80), st.floats(-5, 5)), max_size=3),
)
def test_direct_best_matches_equal_the_fft_distances(
    values: list[list[float]],
    m: int,
    shape_count: int,
    seed: int,
    constant_runs: list[tuple[int, int, float]],
) -> None:
    """The native best match of every shape in every series is the smallest FFT distance."""
    series = [np.array(v, dtype=np.float64) for v in values]
    for i, (start, run, level) in enumerate(constant_runs):
        target = series[i % len(series)]
        target[start : start + run] = level
    rng = np.random.default_rng(seed)
    shapes = np.stack([znormalised(rng.normal(size=m)) for _ in range(shape_count)])
    bank = SeriesBank(series, m)
    starts, best = bank.best(shapes)
    distances = [bank.series_distances(i, shapes) for i in range(len(series))]
    assert starts.shape == best.shape == (shape_count, len(series))
    assert not np.any(np.isnan(best))
    for c in range(shape_count):
        for i in range(len(series)):
            row = distances[i][c]
            if not np.isfinite(row).any():
                assert best[c, i] == np.inf and starts[c, i] == 0
                continue
            smallest = float(row.min())
            # Squared distances are linear in the correlation: compare those.
            assert best[c, i] ** 2 == pytest.approx(smallest**2, abs=1e-7)
            assert row[starts[c, i]] ** 2 == pytest.approx(smallest**2, abs=1e-7)


def test_fft_and_direct_paths_agree_on_a_long_shape() -> None:
    rng = np.random.default_rng(5)
    m = DIRECT_POINTS + 8
    series = [np.cumsum(rng.normal(size=n)) for n in (2 * m, m + 18, 3 * m // 2)]
    shapes = np.stack([znormalised(rng.normal(size=m)) for _ in range(3)])
    bank = SeriesBank(series, m)
    fft_starts, fft_best = bank.best(shapes)
    direct_starts, correlations = _native.best_correlations(bank.values, bank.weights, shapes)
    np.testing.assert_array_equal(fft_starts, direct_starts)
    np.testing.assert_allclose(fft_best, np.sqrt(2 * (1 - np.clip(correlations, -1, 1))), atol=1e-7)


def numpy_realignment_sums(block: FloatArray, m: int, scale: float) -> tuple[FloatArray, FloatArray]:
    """The realignment sums of one group as numpy computes them: every row scaled by its largest
    finite magnitude, its windows at every shift z-normalised (0 where a NaN is), clipped to
    within sqrt(m), scaled, rounded and added up."""
    half, step = m // 2, max(1, m // 32)
    block = np.stack([unit_scaled(row) for row in block])
    views = np.lib.stride_tricks.sliding_window_view(block, m, axis=1)[:, half % step :: step, :]
    deviation = views.std(axis=2, keepdims=True)
    usable = np.isfinite(deviation) & (deviation > 0.0)
    rows = np.nan_to_num((views - views.mean(axis=2, keepdims=True)) / np.where(usable, deviation, 1.0))
    bound = math.sqrt(m)
    return np.rint(np.clip(rows, -bound, bound) * scale).astype(np.int64).sum(axis=0), np.all(usable[:, :, 0], axis=0)


@settings(max_examples=examples(150), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    m=st.sampled_from([4, 7, 8, 9, 31, 32, 33, 64, 100, 128, 129, 150, 427, 1000]),
    sizes=st.lists(st.integers(1, 6), min_size=1, max_size=3),
    kind=st.sampled_from(["walk", "nan", "flat", "coarse", "missing"]),
    magnitude=st.sampled_from([1e-300, 1.0, 1e300]),
)
def test_realignment_sums_are_numpys_bit_for_bit(
    seed: int, m: int, sizes: list[int], kind: str, magnitude: float
) -> None:
    # Sums that differ in a single unit give realigned shapes that differ: the kernel must add
    # in numpy's order (pairwise) and round as numpy rounds, including NaN, flat stretches and
    # values near the ends of the floating-point range.
    rng = np.random.default_rng(seed)
    width = m + 2 * (m // 2)
    blocks, scales = [], []
    for size in sizes:
        block = np.cumsum(rng.normal(size=(size, width)), axis=1) * magnitude
        if kind == "nan":
            block[rng.random(block.shape) < 0.02] = np.nan
        elif kind == "flat":
            block[:, : m // 2 + 1] = 3.0 * magnitude
        elif kind == "coarse":
            block = np.round(block / np.max(np.abs(block)) * 3.0)
        elif kind == "missing":
            block[0] = np.nan
        blocks.append(block)
        scales.append(math.ldexp(1.0, min(40, 62 - math.ceil(math.log2(size * (math.sqrt(m) + 1.0))))))
    step = max(1, m // 32)
    totals, usable = _native.realignment_sums(
        np.vstack(blocks), np.array(sizes), np.array(scales), m, (m // 2) % step, step, math.sqrt(m)
    )
    assert totals.shape == (len(sizes), 2 * ((m // 2) // step) + 1, m)
    for g, (block, scale) in enumerate(zip(blocks, scales, strict=True)):
        expected, expected_usable = numpy_realignment_sums(block, m, scale)
        assert totals[g].tobytes() == expected.tobytes()
        assert usable[g].tolist() == expected_usable.tolist()


def test_realignment_sums_round_half_to_even_and_clip() -> None:
    # Windows of 2 points are -1 and 1 once z-normalised: at scale 2.5 each point is 2.5, which
    # rounds to the even 2; a bound of 0.5 clips them first.
    rows = np.array([[0.0, 1.0, 0.0, 1.0], [5.0, -5.0, 5.0, -5.0]])
    totals, usable = _native.realignment_sums(rows, np.array([1, 1]), np.array([2.5, 3.5]), 2, 0, 1, 10.0)
    assert totals[:, :, 0].tolist() == [[-2, 2, -2], [4, -4, 4]]
    assert usable.all()
    clipped, _ = _native.realignment_sums(rows, np.array([2]), np.array([2.0**20]), 2, 0, 1, 0.5)
    assert clipped[0, 0].tolist() == [0, 0]  # the two rows are opposite: their sums cancel
    alone, _ = _native.realignment_sums(rows[:1], np.array([1]), np.array([2.0**20]), 2, 0, 1, 0.5)
    assert alone[0, 0].tolist() == [-(2**19), 2**19]


def test_a_window_with_a_nan_or_without_a_shape_is_not_usable() -> None:
    rows = np.array([[1.0, 2.0, np.nan, 4.0, 5.0, 6.0], [2.0, 2.0, 2.0, 0.0, 1.0, 3.0]])
    totals, usable = _native.realignment_sums(rows, np.array([2]), np.array([16.0]), 3, 0, 1, 3.0)
    # Windows at 0 and 1 hold the NaN (which adds 0), the one at 0 is flat in the second row too.
    assert usable[0].tolist() == [False, False, False, True]
    assert totals[0, 0].tolist() == [0, 0, 0]
    assert np.array_equal(totals[0, 3], numpy_realignment_sums(rows, 3, 16.0)[0][3])


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_proposals_are_frequent_words_of_real_windows(alphabet: int) -> None:
    rng = np.random.default_rng(1)
    m = 32
    bump = np.sin(np.linspace(0, 2 * np.pi, m)) * 3
    series = []
    for _ in range(8):
        values = rng.normal(size=400)
        at = int(rng.integers(0, 400 - m))
        values[at : at + m] += bump
        series.append(values)
    owners, starts, means = window_words(series, m, 8)
    proposals = reference.propose(series, owners, starts, means, m, alphabet, 4.0, 10)
    assert 0 < len(proposals) <= 10
    for owner, start, word in proposals:
        assert 0 <= owner < len(series) and 0 <= start <= len(series[owner]) - m
        assert len(word) == 8 and word.count(".") <= 1
        assert set(word) <= set("abcdefghij"[:alphabet] + ".")
        index = np.flatnonzero((owners == owner) & (starts == start))
        assert len(index) == 1, "a proposal is one of the windows it was given"
    # Every proposal comes from a different key (the letters kept and the one left out).
    assert len({word for _, _, word in proposals}) == len(proposals)


def test_native_kernels_refuse_tables_that_do_not_fit() -> None:
    with pytest.raises(ValueError, match="weights must hold one row per series"):
        _native.best_correlations([np.zeros(10)], [], np.zeros((1, 4)))
    with pytest.raises(ValueError, match="has 7 windows of 4 points but 6 weights"):
        _native.best_correlations([np.zeros(10)], [np.ones(6)], np.zeros((1, 4)))


class Windows(TypedDict):
    owners: np.ndarray
    starts: np.ndarray
    means: np.ndarray


class Keys(TypedDict):
    projections: np.ndarray
    keys: np.ndarray


def windows(letters: int, count: int = 3) -> Windows:
    """count windows of series 0, every letter the highest of any alphabet (mean 3.0)."""
    return {
        "owners": np.zeros(count, np.int64),
        "starts": np.arange(count, dtype=np.int64),
        "means": np.full((count, letters), 3.0),
    }


# (alphabet, letters): alphabet^letters keys, beyond 2^64 each; these wrote past the counts.
BEYOND_64_BITS = [(4, 32), (8, 22), (10, 20), (10, 64), (2, 64), (3, 41)]


@pytest.mark.parametrize("alphabet, letters", BEYOND_64_BITS)
def test_windows_whose_keys_do_not_fit_in_64_bits_are_refused(alphabet: int, letters: int) -> None:
    args = windows(letters)
    keys: Keys = {"projections": np.zeros(1, np.int64), "keys": np.zeros(1, np.uint64)}
    most = max(n for n in range(1, 65) if alphabet**n <= 2**64 - 1)  # the count of keys fits
    message = f"means must have 1 to {most} columns .* alphabet {alphabet}"
    with pytest.raises(ValueError, match=message):
        _native.count_keys(**args, alphabet=alphabet)
    with pytest.raises(ValueError, match=message):
        _native.sum_members(**args, alphabet=alphabet, **keys)
    with pytest.raises(ValueError, match=message):
        _native.nearest_members(**args, alphabet=alphabet, **keys, averages=np.zeros((1, letters)))


@pytest.mark.parametrize("alphabet, letters", [(alphabet, letters - 1) for alphabet, letters in BEYOND_64_BITS[:3]])
def test_the_largest_key_space_that_fits_is_counted_in_full(alphabet: int, letters: int) -> None:
    counts = _native.count_keys(**windows(letters), alphabet=alphabet)
    # Every letter the last one: the largest key, alphabet^letters - 1, and one letter fewer
    # under each projection that leaves one out.
    assert int(counts[0][0][0]) == alphabet**letters - 1
    assert {int(keys[0]) for keys, _, _ in counts[1:]} == {alphabet ** (letters - 1) - 1}
    assert all(w.tolist() == [3] and s.tolist() == [1] for _, w, s in counts)


def some_windows() -> dict[str, np.ndarray]:
    return {"owners": np.array([0, 0, 1]), "starts": np.array([0, 4, 2]), "means": np.zeros((3, 4))}


def part_motif(letters: int = 2, series: list[int] = [0], ends: list[int] = [1], positions: list[int] = [0]) -> tuple[int, np.ndarray, np.ndarray, np.ndarray]:
    return (letters, np.array(series, np.int32), np.array(ends, np.int64), np.array(positions, np.int32))


KEY = {"projections": np.zeros(1, np.int64), "keys": np.zeros(1, np.uint64)}
SERIES = [np.arange(12.0), np.arange(12.0)[::-1].copy()]
# (function, valid arguments, argument changed: its bad value, what the message must say; None
# for a TypeError)
BAD_ARGUMENTS: list[tuple[str, dict[str, object], dict[str, object], str | None]] = [
    ("best_correlations", {"values": SERIES, "weights": [np.ones(9), np.ones(9)], "shapes": np.ones((1, 4))},
     {"shapes": np.ones((1, 0))}, "shapes must have at least 1 columns"),
    ("best_correlations", {"values": SERIES, "weights": [np.ones(9), np.ones(9)], "shapes": np.ones((1, 4))},
     {"shapes": np.ones(4)}, "shapes must be a 2-D array, got 1 dimensions"),
    ("best_correlations", {"values": SERIES, "weights": [np.ones(9), np.ones(9)], "shapes": np.ones((1, 4))},
     {"values": [np.arange(12.0), np.full(12, np.nan)]}, r"values\[1\] must hold finite numbers, got nan at 0"),
    ("best_correlations", {"values": SERIES, "weights": [np.ones(9), np.ones(9)], "shapes": np.ones((1, 4))},
     {"weights": [np.ones(9), -np.ones(9)]}, r"weights\[1\] must hold numbers of at least 0"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"alphabet": 1}, "alphabet must be a whole number of letters, from 2 to 10, got 1"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"owners": np.array([1, 0, 1])}, "owners must be in ascending order, got 0 after 1 at 1"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"owners": np.array([0, 0, 2**31])}, "owners must hold series indexes from 0 to 2147483647"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"starts": np.array([0, -4, 2])}, "starts must hold window starts .* got -4 at 1"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"starts": np.array([0, 4])}, r"starts must have one value per entry of owners \(3\), got 2"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"means": np.zeros((2, 4))}, r"means' rows must have one value per entry of owners \(3\)"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"means": np.full((3, 4), 2.0**30)}, "means must hold finite segment means below"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"means": np.zeros((3, 0))}, "means must have 1 to 40 columns"),
    ("ranked_keys", {"counts": [(np.array([1], np.uint64), np.array([2]), np.array([1]))], "support": 1.0},
     {"counts": [(np.array([1], np.uint64), np.array([2]), np.array([3]))]}, r"counts\[0\] must count at least 1 series per key"),
    ("ranked_keys", {"counts": [(np.array([1], np.uint64), np.array([2]), np.array([1]))], "support": 1.0},
     {"counts": [(np.array([1], np.uint64), np.array([2, 2]), np.array([1]))]}, r"counts\[0\]'s window counts must have one value per entry of its keys"),
    ("ranked_keys", {"counts": [(np.array([1], np.uint64), np.array([2]), np.array([1]))], "support": 1.0},
     {"support": float("nan")}, "support must be a number of series, got nan"),
    ("sum_members", {**some_windows(), "alphabet": 3, **KEY}, {"projections": np.array([5])}, "projections must hold letters left out .* from 0 to 4, got 5 at 0"),
    ("sum_members", {**some_windows(), "alphabet": 3, **KEY}, {"keys": np.zeros(2, np.uint64)}, r"keys must have one value per entry of projections \(1\), got 2"),
    ("nearest_members", {**some_windows(), "alphabet": 3, **KEY, "averages": np.zeros((1, 4))},
     {"averages": np.zeros((1, 3))}, r"averages must have one row per key and one column per letter \(1 x 4\), got 1 x 3"),
    ("nearest_members", {**some_windows(), "alphabet": 3, **KEY, "averages": np.zeros((1, 4))},
     {"averages": np.full((1, 4), np.inf)}, "averages must hold finite numbers, got inf at 0"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"members": np.array([1])}, "members must add up to the rows: 1 for 2 rows"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"members": np.array([-1, 3])}, "members must hold rows"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"scales": np.array([16.0, 2.0])}, r"scales must have one value per entry of members \(1\), got 2"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"scales": np.array([np.inf])}, "scales must be finite numbers above 0, got inf at 0"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"scales": np.array([2.0**62])}, "bound x scale x members must stay below 2"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"m": 0}, "m must be a whole number of points, at least 1, got 0"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"step": 0}, "step must be a whole number of points, at least 1, got 0"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"bound": float("nan")}, "bound must be a finite number of at least 0, got nan"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"rows": np.ones(8)}, "rows must be a 2-D array, got 1 dimensions"),
    ("best_correlations", {"values": SERIES, "weights": [np.ones(9), np.ones(9)], "shapes": np.ones((1, 4))},
     {"threads": 0}, "threads must be a whole number of threads, from 1 to 1024, got 0"),
    ("count_keys", {**some_windows(), "alphabet": 3}, {"threads": 1025}, "threads must be a whole number of threads, from 1 to 1024, got 1025"),
    ("sum_members", {**some_windows(), "alphabet": 3, **KEY}, {"threads": -1}, "threads must be .* got -1"),
    ("nearest_members", {**some_windows(), "alphabet": 3, **KEY, "averages": np.zeros((1, 4))}, {"threads": 0}, "threads must be .* got 0"),
    ("realignment_sums", {"rows": np.ones((2, 8)), "members": np.array([2]), "scales": np.array([16.0]), "m": 4, "first": 0, "step": 1, "bound": 2.0}, {"threads": 0}, "threads must be .* got 0"),
    ("monotone_share", {"shape": np.arange(5.0), "points": 4}, {"points": 0}, "points must be a whole number of blocks, at least 1, got 0"),
    ("monotone_share", {"shape": np.arange(5.0), "points": 4}, {"shape": np.array([1.0, np.nan])}, "shape must hold finite numbers, got nan at 1"),
    ("proposal_word", {"means": np.zeros(4), "alphabet": 3, "projection": 0}, {"projection": 5}, "projection must be .* from 0 to 4, got 5"),
    ("proposal_word", {"means": np.zeros(4), "alphabet": 3, "projection": 0}, {"alphabet": 11}, "alphabet must be .* from 2 to 10, got 11"),
    ("znormalised", {"shape": np.arange(4.0)}, {"shape": np.zeros((2, 2))}, "shape must be a 1-D array, got 2 dimensions"),
    ("normalised_words", {"series": SERIES, "seglen": 2, "alphabet": 4}, {"seglen": 0}, "seglen must be a whole number of points per letter, at least 1, got 0"),
    ("normalised_words", {"series": SERIES, "seglen": 2, "alphabet": 4}, {"series": [np.zeros((2, 2))]}, r"series\[0\] must be a 1-D array"),
    ("mine_words", {"words": [b"abab", b"abab"], "minsup": 1.0, "min_len": 1, "max_len": 0, "max_overlap": 0.9},
     {"minsup": 0.0}, "minsup must be a number above 0 and at most 1, got 0"),
    ("mine_words", {"words": [b"abab", b"abab"], "minsup": 1.0, "min_len": 1, "max_len": 0, "max_overlap": 0.9},
     {"min_len": 0}, "min_len must be a whole number of letters, at least 1, got 0"),
    ("mine_words", {"words": [b"abab", b"abab"], "minsup": 1.0, "min_len": 2, "max_len": 0, "max_overlap": 0.9},
     {"max_len": 1}, r"max_len must be 0 \(no limit\) or at least min_len \(2\) letters, got 1"),
    ("mine_words", {"words": [b"abab", b"abab"], "minsup": 1.0, "min_len": 1, "max_len": 0, "max_overlap": 0.9},
     {"max_overlap": float("nan")}, "max_overlap must be a number from 0 to 1, got nan"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"first": -1}, "first must be a whole number of series .* got -1"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"seglen": 0}, "seglen must be a whole number of points per letter, at least 1, got 0"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"motifs": [part_motif(letters=0)]}, r"motifs\[0\]'s letters must be at least 1"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"motifs": [part_motif(series=[2])]}, r"motifs\[0\]'s series must be indexes of the part's series, from 0 to 1, got 2 at 0"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"motifs": [part_motif(ends=[0], positions=[])]}, r"motifs\[0\]'s ends must rise"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"motifs": [part_motif(positions=[5])]}, r"motifs\[0\]'s positions must be letter positions from 0 to 4 in series 0 \(a word of 6 letters\), got 5 at 0"),
    ("part_averages", {"series": SERIES, "first": 0, "motifs": [part_motif()], "seglen": 2},
     {"motifs": [None]}, None),
    ("part_best_matches", {"series": SERIES, "first": 0, "motifs": [part_motif()], "representatives": [np.zeros(4)], "seglen": 2},
     {"representatives": [np.zeros(5)]}, r"representatives\[0\] \(points\) must have one value per entry of motifs\[0\]'s length"),
    ("part_best_matches", {"series": SERIES, "first": 0, "motifs": [part_motif()], "representatives": [np.zeros(4)], "seglen": 2},
     {"representatives": []}, r"representatives must have one value per entry of motifs \(1\), got 0"),
    ("add_to_representative", {"sums": np.zeros(3), "counts": np.zeros(3), "averages": np.zeros((2, 3))},
     {"averages": np.zeros((2, 4))}, r"averages' columns must have one value per entry of sums \(3\), got 4"),
    ("add_to_representative", {"sums": np.zeros(3), "counts": np.zeros(3), "averages": np.zeros((2, 3))},
     {"counts": np.array([0.0, -1.0, 0.0])}, "counts must hold numbers of at least 0, got -1 at 1"),
    ("representative_from", {"sums": np.zeros(3), "counts": np.ones(3)}, {"counts": np.ones(2)}, r"counts must have one value per entry of sums \(3\), got 2"),
    ("ranking_order", {"naeds": np.zeros(3)}, {"naeds": np.zeros((1, 3))}, "naeds must be a 1-D array, got 2 dimensions"),
    ("motif_lengths", {"letters": np.array([3, 4]), "seglen": 2}, {"letters": np.array([0])}, "letters must hold letters from 1 to 2147483647, got 0 at 0"),
    ("motif_lengths", {"letters": np.array([3, 4]), "seglen": 2}, {"seglen": 0}, "seglen must be a whole number of points per letter, at least 1, got 0"),
    ("refuse_oversized_statistics", {"lengths": np.array([8]), "supports": np.array([3])}, {"supports": np.array([3, 1])},
     r"supports must have one value per entry of lengths \(1\), got 2"),
    ("refuse_oversized_statistics", {"lengths": np.array([8]), "supports": np.array([3])}, {"lengths": np.array([0])},
     "lengths must hold points from 1 to 2147483647, got 0 at 0"),
    ("segment_jumps", {"befores": np.zeros(3), "ends": np.zeros(3), "tails": np.ones(3)}, {"tails": np.ones(2)},
     r"ends and tails must have one value per entry of befores \(3\), got 3 and 2"),
    ("segment_jumps", {"befores": np.zeros(3), "ends": np.zeros(3), "tails": np.ones(3)}, {"ends": np.zeros((3, 1))},
     "ends must be a 1-D array, got 2 dimensions"),
]


def jumps_one_by_one(befores: list[float], ends: list[float], tails: list[float]) -> list[float]:
    """Each segment's jump in a null series, as the loop over the segments in Python gave it."""
    jumps, last = [], math.nan
    for before, end, tail in zip(befores, ends, tails):
        jump = last - before
        jumps.append(jump)
        last = end + jump * tail if math.isfinite(jump) else end
    return jumps


@settings(max_examples=examples(60), deadline=None)
@given(st.integers(0, 2**32 - 1), st.integers(0, 40))
def test_segment_jumps_are_the_loops_bit_for_bit(seed: int, count: int) -> None:
    rng = np.random.default_rng(seed)
    befores, ends = rng.normal(0.0, 10.0 ** rng.integers(0, 6), (2, count))
    tails = rng.uniform(0.0, 1.0, count)
    # Missing points stay with their segments: NaN before or at the end of some.
    befores[rng.random(count) < 0.1] = np.nan
    ends[rng.random(count) < 0.1] = np.nan
    got = _native.segment_jumps(befores, ends, tails)
    want = np.array(jumps_one_by_one(befores.tolist(), ends.tolist(), tails.tolist()))
    assert got.tobytes() == want.tobytes()


@pytest.mark.parametrize(
    "function, valid, changed, message", BAD_ARGUMENTS, ids=[f"{f}-{next(iter(c))}" for f, _, c, _ in BAD_ARGUMENTS]
)
def test_every_argument_is_checked_before_any_work(
    function: str, valid: dict[str, object], changed: dict[str, object], message: str | None
) -> None:
    """The valid call works; with one argument out of its range the call names it, and the
    range: ValueError (TypeError for what pybind11 cannot convert)."""
    getattr(_native, function)(**valid)
    expected = TypeError if message is None else ValueError
    with pytest.raises(expected, match=message):
        getattr(_native, function)(**{**valid, **changed})


def test_the_module_lives_in_the_package_and_exports_only_its_entry_point() -> None:
    path = pathlib.Path(_native.__file__ or "")
    assert path.parent.name == "zorp_miner"
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", str(path)], capture_output=True, text=True, check=True
    )
    assert [line.split()[-1] for line in listing.stdout.splitlines()] == ["PyInit__native"]


def test_lengths_and_statistics_are_refused_as_the_miner_refuses_them() -> None:
    assert _native.motif_lengths(np.array([1, 3]), 7).tolist() == [7, 21]
    with pytest.raises(ValueError, match="motif length of 2147483648 points does not fit in a 32-bit"):
        _native.motif_lengths(np.array([1, 2]), 2**30)
    _native.refuse_oversized_statistics(np.array([100, 8]), np.array([10, 0]))
    with pytest.raises(MemoryError, match=r"the statistics of the motifs found \(2\) would need .* GiB"):
        _native.refuse_oversized_statistics(np.full(2, 2**31 - 1), np.full(2, 2**31 - 1))


@settings(max_examples=examples(40), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    m=st.sampled_from([4, 8, 31]),
    lengths=st.lists(st.integers(1, 300), min_size=1, max_size=9),
    shapes=st.integers(1, 11),
    threads=st.sampled_from([2, 3, 8]),
)
def test_each_threaded_kernel_equals_its_one_thread_output(
    seed: int, m: int, lengths: list[int], shapes: int, threads: int
) -> None:
    """Every kernel that runs on threads gives, on any inputs, what it gives on one thread,
    bit for bit: NaN windows, flat stretches and series shorter than the shapes included."""
    rng = np.random.default_rng(seed)
    series = [np.cumsum(rng.normal(size=n)) for n in lengths]
    for values in series[::3]:
        values[: len(values) // 4] = 1.5  # a flat stretch
    with_gaps = [values.copy() for values in series]
    for values in with_gaps[1::2]:
        values[len(values) // 2] = np.nan
    bank = SeriesBank(with_gaps, m)
    rows = np.stack([znormalised(rng.normal(size=m)) for _ in range(shapes)])
    alone = _native.best_correlations(bank.values, bank.weights, rows)
    many = _native.best_correlations(bank.values, bank.weights, rows, threads=threads)
    assert [a.tobytes() for a in alone] == [b.tobytes() for b in many]

    width = 2 * m
    groups = rng.integers(1, 4, size=int(rng.integers(1, 6)))
    windows = rng.normal(size=(int(groups.sum()), width))
    windows[rng.random(windows.shape) < 0.02] = np.nan
    scales = np.full(len(groups), 1024.0)
    arguments = (windows, groups.astype(np.int64), scales, m, 1, 3, math.sqrt(m))
    sums = _native.realignment_sums(*arguments)
    assert [a.tobytes() for a in sums] == [b.tobytes() for b in _native.realignment_sums(*arguments, threads=threads)]

    owners, starts, means = window_words(series, m, 4)
    if len(owners) == 0:
        return
    for alphabet in ALPHABETS:
        counted = _native.count_keys(owners, starts, means, alphabet)
        again = _native.count_keys(owners, starts, means, alphabet, threads=threads)
        assert [[a.tobytes() for a in table] for table in counted] == [[a.tobytes() for a in table] for table in again]
        projections = np.concatenate([np.full(len(keys), p, np.int64) for p, (keys, _, _) in enumerate(counted)])
        keys = np.concatenate([keys for keys, _, _ in counted]).astype(np.uint64)
        members = _native.sum_members(owners, starts, means, alphabet, projections, keys)
        assert [a.tobytes() for a in members] == [
            a.tobytes() for a in _native.sum_members(owners, starts, means, alphabet, projections, keys, threads=threads)
        ]
        averages = rng.normal(size=(len(keys), means.shape[1]))
        nearest = _native.nearest_members(owners, starts, means, alphabet, projections, keys, averages)
        assert [a.tobytes() for a in nearest] == [
            a.tobytes()
            for a in _native.nearest_members(owners, starts, means, alphabet, projections, keys, averages, threads=threads)
        ]


@pytest.mark.parametrize("wanted", [None, 3], ids=["every-key", "three-keys"])
@pytest.mark.parametrize("alphabet", [3, 7])
def test_members_are_every_window_of_each_key(alphabet: int, wanted: int | None) -> None:
    # Each projection's keys as count_keys counts them, all or a few (most windows then hold
    # none of them): sum_members counts every window of each key, and the nearest member of
    # each key's average is one of its windows.
    rng = np.random.default_rng(alphabet)
    count = 3000
    owners = np.sort(rng.integers(0, 12, count))
    starts = rng.integers(0, 900, count)
    means = rng.normal(size=(count, 5))
    for projection, (keys, windows, _) in enumerate(_native.count_keys(owners, starts, means, alphabet)):
        words = collections.Counter(_native.proposal_word(row, alphabet, projection) for row in means)
        assert sorted(words.values()) == sorted(windows.tolist())
        chosen = slice(None) if wanted is None else rng.choice(len(keys), wanted, replace=False)
        keys, windows = keys[chosen], windows[chosen]
        projections = np.full(len(keys), projection)
        counts, _, sums = _native.sum_members(owners, starts, means, alphabet, projections, keys)
        assert np.array_equal(counts, windows)
        averages = sums.astype(np.float64) * reference.MEMBER_UNIT / counts[:, None]
        _, nearest = _native.nearest_members(owners, starts, means, alphabet, projections, keys, averages)
        for window, members in zip(nearest, counts):
            assert words[_native.proposal_word(means[window], alphabet, projection)] == members


def point_order_best(values: FloatArray, weights: FloatArray, shape: FloatArray) -> tuple[int, float]:
    """The window-by-window scan the kernel equals bit for bit: each window's products added in
    point order, times its weight; windows of weight 0 skipped; the first of equals kept."""
    windows = len(weights)
    if windows == 0:
        return 0, -math.inf
    sums = np.zeros(windows)
    for k, point in enumerate(shape):
        sums = sums + point * values[k : k + windows]
    scores = np.where(weights > 0.0, sums * weights, -math.inf)
    best = int(np.argmax(scores))
    return (best, float(scores[best])) if np.isfinite(scores[best]) else (0, -math.inf)


@settings(max_examples=examples(25), deadline=None)
@given(st.integers(0, 2**32 - 1))
def test_best_matches_are_the_point_order_scan_bit_for_bit(seed: int) -> None:
    # Walks (where the bounds of shapes of 64 points and more pass over most windows), noise
    # (where they stop paying), ties, windows of weight 0, copies planted, several chunks of
    # windows, any thread count: every shape's best correlation and start are the scan's.
    rng = np.random.default_rng(seed)
    m = int(rng.choice([8, 32, 63, 64, 65, 100, 200]))
    values, weights = [], []
    for _ in range(int(rng.integers(1, 5))):
        points = int(rng.integers(max(1, m - 5), 3000))
        row = rng.normal(size=points)
        kind = rng.integers(0, 3)
        row = np.cumsum(row) if kind == 1 else np.round(np.cumsum(row)) / 2 if kind == 2 else row
        weight = rng.uniform(0.01, 1.0, max(0, points - m + 1))
        weight[rng.random(len(weight)) < 0.1] = 0.0
        values.append(row)
        weights.append(weight)
    shapes = np.stack([znormalised(np.cumsum(rng.normal(size=m))) for _ in range(int(rng.integers(1, 10)))])
    for row in values:
        if len(row) >= m:
            at = int(rng.integers(0, len(row) - m + 1))
            row[at : at + m] = shapes[int(rng.integers(0, len(shapes)))] * rng.uniform(0.5, 3.0)
    starts, correlations = _native.best_correlations(values, weights, shapes, threads=int(rng.integers(1, 4)))
    for c, shape in enumerate(shapes):
        for i, (row, weight) in enumerate(zip(values, weights)):
            assert (int(starts[c, i]), float(correlations[c, i])) == point_order_best(row, weight, shape)
