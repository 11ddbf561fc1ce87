"""The native kernels of the robust discovery against numpy and direct computations."""

import pathlib
import shutil
import subprocess

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from zorp_miner import _native
from zorp_miner._robust import ALPHABETS, _window_words
from zorp_miner._sliding import DIRECT_POINTS, SeriesBank, znormalised

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


@settings(max_examples=200, deadline=None)
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


@settings(max_examples=100, deadline=None)
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
    distances = bank.distances(shapes)
    assert starts.shape == best.shape == (shape_count, len(series))
    assert not np.any(np.isnan(best))
    for c in range(shape_count):
        for i in range(len(series)):
            row = distances[c, i]
            if not np.isfinite(row).any():
                assert best[c, i] == np.inf and starts[c, i] == 0
                continue
            smallest = float(row.min())
            # Squared distances are linear in the correlation: compare those.
            assert best[c, i] ** 2 == pytest.approx(smallest**2, abs=1e-7)
            assert row[starts[c, i]] ** 2 == pytest.approx(smallest**2, abs=1e-7)


def test_fft_and_direct_paths_agree_on_a_long_shape() -> None:
    rng = np.random.default_rng(5)
    series = [np.cumsum(rng.normal(size=n)) for n in (400, 90, 333)]
    m = DIRECT_POINTS + 8
    shapes = np.stack([znormalised(rng.normal(size=m)) for _ in range(3)])
    bank = SeriesBank(series, m)
    fft_starts, fft_best = bank.best(shapes)
    direct_starts, correlations = _native.best_correlations(bank.values, bank.weights, shapes)
    np.testing.assert_array_equal(fft_starts, direct_starts)
    np.testing.assert_allclose(fft_best, np.sqrt(2 * (1 - np.clip(correlations, -1, 1))), atol=1e-7)


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
    owners, starts, means = _window_words(series, m, 8)
    proposals = _native.propose(series, owners, starts, means, m, alphabet, 4.0, 10)
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
    with pytest.raises(ValueError, match="runs past the end of series 0"):
        _native.propose([np.zeros(10)], [0], [5], np.zeros((1, 8)), 8, 3, 1.0, 1)


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
