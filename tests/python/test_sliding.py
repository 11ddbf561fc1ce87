"""Sliding z-normalised distances: the batched FFT equals the window-by-window computation."""

import warnings

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import example, given, settings, strategies as st

import reference
from conftest import examples
from zorp_miner.compute.shapes import close_shifts, shifted_distance, shifted_within
from zorp_miner.compute.sliding import SeriesBank, constant_windows, resolution, window_statistics, window_sums, znormalised

FloatArray = npt.NDArray[np.float64]


def tolerance(values: FloatArray, m: int) -> FloatArray:
    """Accuracy of a squared distance: about 1e-10 x (the series' spread / the window's deviation)."""
    finite = values[np.isfinite(values)]
    spread = float(np.max(np.abs(finite - finite.mean()))) if len(finite) else 0.0
    # On the series mapped into [-1, 1], as the flatness test, so that subnormal series keep it.
    scaled = (values - finite.mean()) / spread if spread > 0.0 else values
    deviations = np.array([reference.scaled_deviation(scaled[j : j + m]) for j in range(len(values) - m + 1)])
    with np.errstate(divide="ignore", invalid="ignore"):
        return 1e-8 + 1e-9 * (spread > 0.0) / deviations


def assert_matches_direct(series: list[FloatArray], shape: FloatArray) -> None:
    bank = SeriesBank(series, len(shape))
    for i, expected in enumerate(reference.sliding_distances(series, shape)):
        got = bank.series_distances(i, znormalised(shape)[None])[0]
        assert len(got) == len(expected), f"series {i}: a distance per window of the series"
        assert np.array_equal(np.isinf(got), np.isinf(expected)), f"series {i}"
        finite = np.isfinite(expected)
        # Squared distances (2 (1 - r)) are linear in the correlation, so their error is the
        # correlation's; a square root near 0 would magnify it.
        error = np.abs(got[finite] ** 2 - np.asarray(expected)[finite] ** 2)
        assert np.all(error <= tolerance(series[i], len(shape))[finite]), f"series {i}: {error.max()}"


series_values = st.lists(
    st.one_of(
        st.floats(-1e3, 1e3, allow_nan=False),
        st.just(float("nan")),
    ),
    min_size=1,
    max_size=60,
)


@settings(max_examples=examples(150), deadline=None)
@example(values=[[0.0, 5e-324]], m=2, seed=0, constant_runs=[])
@given(
    st.lists(series_values, min_size=1, max_size=4),
    st.integers(2, 12),
    st.integers(0, 2**32 - 1),
    st.lists(st.tuples(st.integers(0, 59), st.integers(1, 30), st.floats(-5, 5)), max_size=3),
)
def test_distances_equal_the_direct_computation(
    values: list[list[float]], m: int, seed: int, constant_runs: list[tuple[int, int, float]]
) -> None:
    series = [np.array(v, dtype=np.float64) for v in values]
    for i, (start, run, level) in enumerate(constant_runs):
        target = series[i % len(series)]
        target[start : start + run] = level
    shape = np.random.default_rng(seed).normal(size=m)
    assert_matches_direct(series, shape)


@pytest.mark.parametrize(
    "values",
    [
        np.full(50, 3.0),  # a constant series: no window has a shape
        np.full(50, np.nan),  # all missing
        np.concatenate([np.full(20, 1e6), np.sin(np.arange(30.0))]),  # a plateau far from the rest
        np.concatenate([np.sin(np.arange(25.0)), [np.nan], np.cos(np.arange(24.0))]),
        np.arange(8.0),  # shorter than the shape
        np.array([1.0, 0.0, 8e-252, 0.0] * 5),  # wiggles far below the rounding of the sums
        np.array([0.0, 4.5e-159] * 10),  # a series of tiny values only
    ],
    ids=["constant", "all-nan", "plateau", "one-nan", "too-short", "below-rounding", "tiny"],
)
def test_degenerate_series_give_inf_or_exact_distances_never_nan(values: FloatArray) -> None:
    shape = np.sin(np.linspace(0, 3, 2))
    for m in (2, 10):
        shape = np.sin(np.linspace(0, 3, m))
        bank = SeriesBank([values, np.cos(np.arange(40.0))], m)
        for i in range(2):
            assert not np.any(np.isnan(bank.series_distances(i, znormalised(shape)[None])))
        assert_matches_direct([values], shape)


def test_distance_is_invariant_to_offset_and_scale_of_the_window() -> None:
    rng = np.random.default_rng(3)
    shape = rng.normal(size=16)
    base = rng.normal(size=200)
    bank = SeriesBank([base, 1e4 + 250.0 * base], 16)
    d = [bank.series_distances(i, znormalised(shape)[None])[0] for i in range(2)]
    np.testing.assert_allclose(d[0], d[1], atol=1e-8)


@given(st.lists(st.floats(-1e6, 1e6), min_size=1, max_size=80), st.integers(1, 20))
def test_window_sums_and_constant_windows(values: list[float], m: int) -> None:
    x = np.array(values)
    if len(x) < m:
        return
    expected = [sum(values[j : j + m]) for j in range(len(values) - m + 1)]
    np.testing.assert_allclose(window_sums(x, m), expected, rtol=1e-9, atol=1e-6 * m)
    constant = [len(set(values[j : j + m])) == 1 for j in range(len(values) - m + 1)]
    assert constant_windows(x, m).tolist() == constant


def numpy_znormalised(shape: FloatArray) -> FloatArray:
    """The shape z-normalised by numpy's mean, max and mean of squares, step for step."""
    centred = shape - shape.mean()
    peak = float(np.max(np.abs(centred))) if len(centred) else 0.0
    if not (peak > 0.0 and np.isfinite(peak)):
        return np.zeros_like(shape)
    centred = centred / peak
    return np.asarray(centred / np.sqrt(np.mean(centred * centred)))


@settings(max_examples=examples(300), deadline=None)
@given(
    st.lists(st.floats(allow_nan=True, allow_infinity=True), min_size=0, max_size=300),
    st.sampled_from([1, 2, 3]),
    st.integers(-300, 300),
)
@example([0.0, 5e-324, 0.0, 1e-323], 1, 0)  # subnormal: the peak keeps it from underflowing
@example([1.0] * 9, 1, 0)  # flat
@example([1e308, -1e308, 3.0], 1, 0)  # the mean's sum overflows
def test_znormalised_gives_numpys_steps_bit_for_bit(values: list[float], stride: int, power: int) -> None:
    # Every shape of a search is z-normalised, and sums taken by hand here and numpy's mean
    # differ in their last bits unless both add pairwise the same way.
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # numpy's mean of no values
        shape = (np.array(values, dtype=np.float64) * 10.0**power)[::stride]
        expected = numpy_znormalised(shape)
        got = znormalised(shape)
    assert got.dtype == np.float64 and got.shape == shape.shape
    assert got.tobytes() == expected.tobytes()


def test_a_subnormal_series_keeps_its_window_deviations() -> None:
    # Its deviations, brought back to its own scale and divided again, underflowed to 0, and
    # the weights divided by them.
    with np.errstate(divide="raise", invalid="raise"):
        bank = SeriesBank([np.array([0.0, 5e-324, 0.0, 1e-323])], 2)
    assert np.all(np.isfinite(bank.weights[0])) and bank.weights[0].max() > 0.0


def counted_series(seed: int = 3) -> FloatArray:
    """A series of counts: a walk of whole steps up to 40, with a plateau at points 100 to 139
    on which point 120 is one count up."""
    rng = np.random.default_rng(seed)
    walk = np.cumsum(rng.integers(-40, 41, 400)).astype(np.float64)
    walk[100:140] = walk[100]
    walk[120] += 1.0
    return walk


@pytest.mark.parametrize(
    ("values", "expected"),
    [
        (counted_series(), 1.0),
        (counted_series() * 0.25 + 7.0, 0.25),
        (np.array([0.0, 1.0, 1.0, 0.0, 1.0] * 8), 0.0),  # on and off: made of its one step
        (np.array([2.0, 2.0, 2.0]), 0.0),
        (np.array([np.nan, 0.0, np.nan, 16.0, 17.0, np.nan]), 1.0),  # from one recorded point to the next
        (np.array([0.0, 3.0, 6.0, 9.0, 12.0, 15.0, 18.0, 21.0, 24.0, 27.0, 30.0, 33.0, 36.0, 39.0, 42.0, 45.0]), 0.0),
    ],
)
def test_resolution_is_the_smallest_step_of_a_series_spanning_many(values: FloatArray, expected: float) -> None:
    assert resolution(values) == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize("scale", [1.0, 1e-300, 1e300, -3.5])
def test_a_window_moving_by_one_count_on_a_plateau_is_flat(scale: float) -> None:
    values = counted_series() * scale
    m = 16
    _, _, usable = window_statistics(values, m)
    starts = np.arange(len(usable))
    on_blip = (starts >= 105) & (starts <= 120)  # the plateau and its one-count point only
    assert not usable[on_blip].any()
    # Every window with more of the walk than the plateau keeps its shape.
    assert usable[(starts + m <= 100) | (starts >= 140)].all()
    # A window of the walk that ends on the blip's plateau keeps it too.
    assert usable[90] and usable[99]


def test_a_series_of_few_levels_keeps_its_windows() -> None:
    values = np.array([0.0, 0.0, 1.0, 1.0, 1.0, 0.0, 2.0, 0.0] * 10)
    _, _, usable = window_statistics(values, 8)
    assert usable.all()


def test_a_shuffled_series_is_given_its_series_step() -> None:
    values = counted_series()
    shuffled = values.copy()
    shuffled[300:] += shuffled[299] + 0.01 - shuffled[300]  # a join off the series' steps
    own = SeriesBank([shuffled], 16).usable[0]
    given = SeriesBank([shuffled], 16, [resolution(values)]).usable[0]
    assert own[105:121].all()
    assert not given[105:121].any()


@settings(max_examples=examples(150), deadline=None)
@example(seed=0, m=4, walk=True, flat=0, scale=1.0, copy=True, bound=0.0)
@example(seed=1, m=2, walk=False, flat=1, scale=1e-300, copy=False, bound=1.0)
@given(
    st.integers(0, 2**32 - 1),
    st.integers(2, 200),
    st.booleans(),
    st.integers(0, 3),
    st.sampled_from([1.0, 1e-300, 1e300, -2.5, 1e6]),
    st.booleans(),
    st.floats(0.0, 2.0),
)
def test_shifts_within_a_bound_are_those_of_the_shift_by_shift_distance(
    seed: int, m: int, walk: bool, flat: int, scale: float, copy: bool, bound: float
) -> None:
    # the running sums decide where they are clear, the loop where they are not: the shifts
    # taken must be exactly the loop's, on flat parts, copies (distance 0) and extreme scales
    rng = np.random.default_rng(seed)
    a = rng.normal(size=m).cumsum() if walk else rng.normal(size=m)
    a[: m * flat // 4] = 1.0
    b = a[::-1].copy() if not copy else a + rng.normal(size=m) * rng.uniform(0.0, 0.3) * (seed % 2)
    a = a * scale
    most = int(rng.integers(0, m // 2 + 2))
    expected = [s for s in range(-most, most + 1) if shifted_distance(a, b, 0, s) <= bound]
    assert close_shifts(a, b, most, bound) == expected
    assert shifted_within(a, b, most, bound) == (shifted_distance(a, b, most) <= bound)


def numpy_tables(
    series: FloatArray, m: int, step: float | None
) -> tuple[FloatArray, FloatArray, npt.NDArray[np.bool_], FloatArray]:
    """A series' tables made by the numpy steps the native kernel must equal: its values in the
    series' scale, each window's deviation, usability and weight."""
    from zorp_miner.compute.sliding import _scaled_statistics

    _, deviations, usable, centre, scale = _scaled_statistics(series, m, step)
    weights = np.where(usable, 1.0 / (m * deviations), 0.0)
    return np.where(np.isfinite(series), (series - centre) / scale, 0.0), deviations, usable, weights


@settings(max_examples=examples(150), deadline=None)
@example(kind="subnormal", points=40, m=3, seed=0, gaps=True, own_step=True)
@example(kind="levels", points=9000, m=100, seed=1, gaps=False, own_step=False)
@given(
    kind=st.sampled_from(["noise", "walk", "levels", "plateaus", "subnormal", "offset"]),
    points=st.sampled_from([0, 1, 7, 40, 300, 9000]),
    m=st.integers(1, 120),
    seed=st.integers(0, 2**32 - 1),
    gaps=st.booleans(),
    own_step=st.booleans(),
)
def test_the_bank_prepares_each_series_as_the_numpy_steps_do_bit_for_bit(
    kind: str, points: int, m: int, seed: int, gaps: bool, own_step: bool
) -> None:
    """The native preparation (mean, cumulative window sums, median, flatness rules) equals the
    numpy steps bit for bit: the bank's tables, and so every match, are those of the steps; with
    points not finite, flat runs, few levels, subnormal and offset series (past 8,192 points, the
    pairwise sum's buffers)."""
    rng = np.random.default_rng(seed)
    noise = rng.standard_normal(points)
    series = {
        "noise": noise,
        "walk": np.cumsum(noise),
        "levels": rng.integers(-3, 4, points).astype(np.float64),
        "plateaus": np.repeat(noise[: points // 10 + 1], 10)[:points],
        "subnormal": noise * 1e-310,
        "offset": np.round(np.cumsum(noise), 1) + 1e6,
    }[kind]
    if gaps and points:
        series[rng.integers(0, points, points // 8 + 1)] = rng.choice([np.nan, np.inf, -np.inf], points // 8 + 1)
    steps = None if own_step else [float(rng.choice([0.0, 0.1, 1e-9]))]
    bank = SeriesBank([series], m, steps)
    expected = numpy_tables(series, m, None if steps is None else steps[0])
    for name, got, want in zip(
        ("values", "deviations", "usable", "weights"),
        (bank.values[0], bank.deviations[0], bank.usable[0], bank.weights[0]),
        expected,
    ):
        assert got.dtype == want.dtype and got.shape == want.shape, name
        assert got.tobytes() == np.asarray(want).tobytes(), f"{name}: first difference at {np.flatnonzero(got != want)[:3]}"


def test_the_flat_bar_takes_the_mean_of_the_two_middle_deviations() -> None:
    """With an even count of windows, the median deviation is the mean of the two middle ones
    (1.5 here, where the upper one is 2): a window of deviation 1.75e-3 stands above the flat
    bar (1e-3 of the median) only by that mean."""
    changes = [2.0] * 49 + [3.5e-3] + [4.0] * 50
    signs = np.where(np.arange(len(changes)) % 2 == 0, 1.0, -1.0)
    series = np.concatenate([[0.0], np.cumsum(signs * np.array(changes))])
    bank = SeriesBank([series], 2, steps=[0.0])
    small = 49
    assert bank.usable[0][small], "the window of deviation 1.75e-3 is usable"
    expected = numpy_tables(series, 2, 0.0)
    assert bank.usable[0].tobytes() == expected[2].tobytes()


def numpy_window_words(
    series: list[FloatArray], m: int, letters: int, steps: list[float] | None, per_series: int
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], FloatArray]:
    """The proposal windows made by the numpy steps the native kernel must equal: each series
    divided by its largest finite magnitude, its windows' statistics, and the segment means of
    every stride-th usable window less its mean, over its deviation."""
    from zorp_miner.compute.shapes import unit, unit_scaled

    letters = min(letters, m)
    seglen = m // letters
    owners, starts, rows = [], [], []
    for index, raw in enumerate(series):
        if len(raw) < m:
            continue
        values = unit_scaled(raw)
        mean, deviation, usable = window_statistics(values, m, None if steps is None else steps[index] / unit(raw))
        windows = len(values) - m + 1
        stride = max(1, m // 16, -(-windows // per_series))
        positions = np.arange(0, windows, stride)
        positions = positions[usable[positions]]
        sums = np.concatenate([[0.0], np.cumsum(np.where(np.isfinite(values), values, 0.0))])
        edges = positions[:, None] + seglen * np.arange(letters + 1)[None, :]
        rows.append((np.diff(sums[edges], axis=1) / seglen - mean[positions, None]) / deviation[positions, None])
        owners.append(np.full(len(positions), index, dtype=np.int64))
        starts.append(positions)
    if not rows:
        return np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros((0, letters))
    return np.concatenate(owners), np.concatenate(starts), np.concatenate(rows)


@settings(max_examples=examples(60), deadline=None)
@example(count=20, points=300, m=17, letters=8, per_series=4096, seed=0, own_step=False)
@given(
    count=st.integers(0, 40),
    points=st.sampled_from([1, 9, 60, 300, 2000]),
    m=st.integers(1, 90),
    letters=st.integers(1, 12),
    per_series=st.sampled_from([1, 7, 4096]),
    seed=st.integers(0, 2**32 - 1),
    own_step=st.booleans(),
)
def test_proposal_windows_are_the_numpy_steps_bit_for_bit(
    count: int, points: int, m: int, letters: int, per_series: int, seed: int, own_step: bool
) -> None:
    """The native proposal windows (which windows, and their segment means) equal the numpy
    steps bit for bit, on any threads: series of every kind side by side (more than a task's 16),
    some shorter than the windows, with points not finite, flat runs, levels and huge offsets."""
    from zorp_miner import _native
    from zorp_miner.compute.sliding import FLAT_FRACTION, LEVELS, RESOLUTION

    rng = np.random.default_rng(seed)
    series = []
    for i in range(count):
        noise = rng.standard_normal(int(rng.integers(1, points + 1)))
        one = [noise, np.cumsum(noise), rng.integers(-3, 4, len(noise)).astype(np.float64),
               np.round(np.cumsum(noise), 1) * 1e8 + 1e12, noise * 1e-310][i % 5]  # fmt: skip
        if i % 3 == 1:
            one[rng.integers(0, len(one), len(one) // 8 + 1)] = rng.choice([np.nan, np.inf, -np.inf])
        if i % 4 == 2:
            one[: len(one) // 3] = one[0]
        series.append(one)
    steps = None if own_step else [float(rng.choice([0.0, 0.1, 1e-9])) for _ in series]
    expected = numpy_window_words(series, m, letters, steps, per_series)
    arguments = (series, m, letters, steps, per_series, FLAT_FRACTION, RESOLUTION, float(LEVELS))
    for threads in (1, 3):
        got = _native.window_words(*arguments, threads=threads)
        for name, a, b in zip(("owners", "starts", "means"), got, expected):
            assert a.dtype == b.dtype and a.shape == b.shape, name
            assert a.tobytes() == b.tobytes(), f"{name}: first difference at {np.flatnonzero(a != b)[:3]}"


@pytest.mark.parametrize("shapes", [1, 3, 11])
def test_every_window_s_distances_are_the_same_on_any_threads(shapes: int) -> None:
    """The distances of shapes to every window (FFTs grouped by shapes on the run's threads)
    are the same bits on 1, 2 or 3 threads, and each shape's row is its row computed alone."""
    from zorp_miner.compute import threads

    rng = np.random.default_rng(shapes)
    series = np.cumsum(rng.normal(size=40_000))
    series[1000:1100] = np.nan
    bank = SeriesBank([series], 50)
    rows = np.stack([znormalised(rng.normal(size=50)) for _ in range(shapes)])
    with threads.using(1):
        alone = bank.series_distances(0, rows)
    for count in (2, 3):
        with threads.using(count):
            assert bank.series_distances(0, rows).tobytes() == alone.tobytes()
    assert bank.series_distances(0, rows[-1:])[0].tobytes() == alone[-1].tobytes()
