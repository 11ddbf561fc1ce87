"""Search by example: find_matches against a window-by-window computation (reference.py)."""

import json
import math
import pathlib
import pickle
import re

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st

import zorp_miner
from reference import distance_profile, greedy_matches, usable_windows
from conftest import examples
from zorp_miner.compute.sliding import FLAT_FRACTION, RESOLUTION

FloatArray = npt.NDArray[np.float64]


@st.composite
def searches(draw: st.DrawFn) -> tuple[FloatArray, list[FloatArray]]:
    """A query and a few series: random walks or noise, with copies of the query planted
    (scaled, shifted, a little noise), exact constant stretches and missing points."""
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    m = draw(st.integers(4, 24))
    query = np.cumsum(rng.normal(size=m)) if draw(st.booleans()) else rng.normal(size=m)
    series = []
    for _ in range(draw(st.integers(1, 4))):
        n = draw(st.integers(max(1, m - 3), 160))
        values = np.cumsum(rng.normal(size=n)) if draw(st.booleans()) else rng.normal(size=n)
        for _ in range(draw(st.integers(0, 3))):
            if n >= m:
                at = int(rng.integers(0, n - m + 1))
                noise = draw(st.sampled_from([0.0, 0.01, 0.3]))
                values[at : at + m] = 3.0 * query + 5.0 + noise * rng.normal(size=m)
        if draw(st.booleans()) and n > 10:
            at = int(rng.integers(0, n - 5))
            values[at : at + int(rng.integers(2, 9))] = values[at]
        for _ in range(draw(st.integers(0, 3))):
            values[int(rng.integers(0, n))] = np.nan
        values[-1] = 0.5 if np.isnan(values[-1]) else values[-1]  # no trailing padding
        series.append(values)
    if all(len(one) < m for one in series):
        series[0] = np.concatenate([series[0], rng.normal(size=m)])
    return query, series


def reference_profiles(query: FloatArray, series: list[FloatArray]) -> list[list[float]]:
    m = len(query)
    return [
        distance_profile(
            query.tolist(), one.tolist(), usable_windows(one.tolist(), m, FLAT_FRACTION, RESOLUTION)
        )
        if len(one) >= m
        else []
        for one in series
    ]


def tolerances(query: FloatArray, series: list[FloatArray]) -> list[FloatArray]:
    """How far a squared distance may be from the reference, per window: about 1e-10 x (the
    series' spread / the window's deviation), as the kernels' rounding grows."""
    m = len(query)
    out = []
    for values in series:
        if len(values) < m:
            out.append(np.zeros(0))
            continue
        finite = values[np.isfinite(values)]
        spread = float(np.max(np.abs(finite - finite.mean())))
        windows = np.lib.stride_tricks.sliding_window_view(np.nan_to_num(values), m)
        with np.errstate(divide="ignore"):
            out.append(np.minimum(1e-8 + 1e-9 * spread / windows.std(axis=1), 1.0))
    return out


def check_search(
    query: FloatArray,
    series: list[FloatArray],
    found: zorp_miner.Matches,
    radius: float,
    exclusion: int,
    top: int | None,
) -> None:
    """What holds for every search, whatever the ties: the matches are usable windows at
    their reference distance, within the radius, best first, apart by more than the
    exclusion, and every window within the radius that is left out is excluded by a match at
    least as close (when the cut to top leaves it out, by a match closer than the cut)."""
    profiles = reference_profiles(query, series)
    slack = tolerances(query, series)
    got = list(zip(found.distances.tolist(), found.series.tolist(), found.starts.tolist()))
    assert got == sorted(got)
    for d, i, s in got:
        expected = profiles[i][s]
        assert math.isfinite(expected), (i, s)
        assert abs(d * d - expected * expected) <= slack[i][s], (i, s, d, expected)
        assert d <= radius
    for i in set(found.series.tolist()):
        starts = np.sort(found.starts[found.series == i])
        assert np.all(np.diff(starts) > exclusion)
    cut = math.inf if top is None or len(found) < top else float(found.distances[-1])
    taken = {(i, s) for _, i, s in got}
    for i, profile in enumerate(profiles):
        for s, d in enumerate(profile):
            inside = math.isfinite(d) and d * d <= radius * radius - slack[i][s]
            if (i, s) in taken or not inside or not d * d < cut * cut - slack[i][s]:
                continue
            blockers = [
                other
                for other_d, j, other in got
                if j == i and abs(other - s) <= exclusion and other_d**2 <= d * d + slack[i][s]
            ]
            assert blockers, (i, s, d)


def radius_of(profiles: list[list[float]], share: float) -> float:
    """A radius passing about a share of the usable windows."""
    finite = sorted(d for profile in profiles for d in profile if math.isfinite(d))
    if not finite:
        return 1.0
    return finite[min(len(finite) - 1, int(share * len(finite)))]


@settings(max_examples=examples(150), deadline=None)
@given(
    searches(),
    st.sampled_from([0.0, 0.05, 0.3, 1.0]),
    st.one_of(st.none(), st.integers(0, 30)),
    st.one_of(st.none(), st.integers(1, 6)),
)
def test_the_matches_are_those_of_a_window_by_window_search(
    search: tuple[FloatArray, list[FloatArray]],
    share: float,
    exclusion: int | None,
    top: int | None,
) -> None:
    query, series = search
    profiles = reference_profiles(query, series)
    radius = math.inf if share == 1.0 else radius_of(profiles, share)
    found = zorp_miner.find_matches(
        query, series, max_distance=radius, exclusion=exclusion, top=top
    )
    zone = len(query) - 1 if exclusion is None else exclusion
    check_search(query, series, found, radius, zone, top)
    assert (found.length, found.exclusion, found.top) == (len(query), zone, top)
    finite = [d for profile in profiles for d in profile if math.isfinite(d)]
    assert math.isclose(found.closest, min(finite, default=math.inf), abs_tol=1e-4)
    # Without near ties the greedy order is the reference's, window for window.
    candidates = sorted(d * d for d in finite if d <= radius)
    if all(b - a > 1e-6 for a, b in zip(candidates, candidates[1:])) and all(
        abs(d - radius * radius) > 1e-6 for d in candidates
    ):
        expected = greedy_matches(profiles, radius, zone, top)
        assert [(i, s) for _, i, s in expected] == list(
            zip(found.series.tolist(), found.starts.tolist())
        )


@settings(max_examples=examples(60), deadline=None)
@given(searches(), st.one_of(st.none(), st.integers(1, 4)))
def test_the_default_radius_is_chances_and_the_search_holds_within_it(
    search: tuple[FloatArray, list[FloatArray]], top: int | None
) -> None:
    query, series = search
    found = zorp_miner.find_matches(query, series, top=top)
    assert 0.0 <= found.max_distance < 2.0 or math.isinf(found.max_distance)
    check_search(query, series, found, found.max_distance, len(query) - 1, top)


@settings(max_examples=examples(60), deadline=None)
@given(searches())
def test_a_masked_array_is_the_same_data_with_nan(
    search: tuple[FloatArray, list[FloatArray]],
) -> None:
    query, series = search
    width = max(len(one) for one in series)
    table = np.full((len(series), width), np.nan)
    for i, one in enumerate(series):
        table[i, : len(one)] = one
    masked = np.ma.masked_invalid(table)
    masked.data[masked.mask] = 123.0  # what lies under the mask is never read
    expected = zorp_miner.find_matches(query, table, max_distance=0.5)
    got = zorp_miner.find_matches(query, masked, max_distance=0.5)
    for name in ("series", "starts", "distances", "series_lengths"):
        assert getattr(got, name).tobytes() == getattr(expected, name).tobytes()


def planted(seed: int = 0) -> tuple[FloatArray, FloatArray, list[int]]:
    """A random walk of 5,000 points with a 60-point shape added at three places."""
    rng = np.random.default_rng(seed)
    series = np.cumsum(rng.normal(size=5000))
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    places = [700, 2500, 4100]
    for start in places:
        series[start : start + 60] += shape
    return shape, series, places


def test_the_default_radius_finds_the_planted_copies_and_nothing_in_data_without_them() -> None:
    shape, series, places = planted()
    found = zorp_miner.find_matches(shape, series)
    assert sorted(found.starts.tolist()) == places
    clean = np.cumsum(np.random.default_rng(1).normal(size=20000))
    none = zorp_miner.find_matches(shape, clean)
    assert len(none) == 0 and none.closest > none.max_distance
    assert "none within max_distance" in repr(none)


def test_a_count_up_on_a_plateau_of_counted_data_matches_no_spike() -> None:
    # A spike searched in counts whose plateaus carry a point one count up: those windows are
    # the spike exactly once z-normalised, and are the rounding of a flat stretch.
    rng = np.random.default_rng(8)
    data = []
    for _ in range(4):
        values = np.cumsum(rng.integers(-40, 41, 800)).astype(np.float64)
        for at in range(50, 750, 150):
            values[at : at + 40] = values[at]
            values[at + 20] += 1.0
        data.append(values)
    query = np.zeros(16)
    query[5] = 1.0
    found = zorp_miner.find_matches(query, data, max_distance=1.0)
    for series, start in zip(found.series.tolist(), found.starts.tolist(), strict=True):
        assert np.std(data[series][start : start + 16]) > 1.0, (series, start)


def test_stumpys_exclusion_zone_allows_overlaps_of_three_quarters() -> None:
    shape, series, _ = planted()
    loose = zorp_miner.find_matches(
        shape, series, max_distance=math.inf, exclusion=math.ceil(60 / 4)
    )
    gaps = np.diff(np.sort(loose.starts))
    assert gaps.min() == 16 and len(loose) > len(series) // 60


def test_the_result_reads_as_a_table_a_dict_and_survives_a_pickle() -> None:
    shape, series, places = planted()
    found = zorp_miner.find_matches(shape, [series[:3000], series[3000:]], top=2)
    assert repr(found) == (
        "Matches(2 windows of 60 points in 1 of 2 series, max_distance=0.4937, best 0.3184)"
    )
    frame = found.to_frame()
    assert list(frame.columns) == ["series", "start", "distance"]
    assert frame["start"].tolist() == [700, 2500]
    record = json.loads(json.dumps(found.to_dict()))
    assert record["matches"][0] == {"series": 0, "start": 700, "distance": found.distances[0]}
    assert record["parameters"] == {"max_distance": found.max_distance, "exclusion": 59, "top": 2}
    assert record["series"] == {"count": 2, "lengths": [3000, 2000]}
    copy = pickle.loads(pickle.dumps(found))
    assert copy.starts.tolist() == found.starts.tolist()
    with pytest.raises(ValueError):
        copy.starts[0] = 1


@pytest.mark.parametrize(
    ("query", "kwargs", "error", "message"),
    [
        ([1.0, 2.0, 1.0], {}, ValueError, "query has 3 points; a query needs at least 4"),
        ([1.0, np.nan, 2.0, 3.0], {}, ValueError, "query, point 1: nan is not a finite"),
        (np.ma.masked_invalid([1.0, 2.0, np.inf, 4.0]), {}, ValueError, "point 2: nan"),
        ([2.0] * 6, {}, ValueError, "query is constant"),
        ([[1.0, 2.0, 3.0, 4.0]] * 2, {}, ValueError, "query has 2 dimensions"),
        (["a", "b", "c", "d"], {}, TypeError, "query, point 0: 'a' is a string"),
        (list(range(300)), {}, ValueError, "query has 300 points, more than every series"),
        ([1.0, 2.0, 0.0, 3.0], {"max_distance": -0.1}, ValueError, "max_distance must be"),
        ([1.0, 2.0, 0.0, 3.0], {"max_distance": math.nan}, ValueError, "got nan"),
        ([1.0, 2.0, 0.0, 3.0], {"max_distance": True}, TypeError, "max_distance must be"),
        ([1.0, 2.0, 0.0, 3.0], {"top": -2}, ValueError, "top must be a whole number of matches, 0 or None for all"),
        ([1.0, 2.0, 0.0, 3.0], {"exclusion": -1}, ValueError, "exclusion must be a whole"),
        ([1.0, 2.0, 0.0, 3.0], {"exclusion": 1.5}, TypeError, "exclusion must be a whole"),
    ],
)
def test_bad_queries_and_parameters_are_refused_before_any_work(
    query: object, kwargs: dict[str, object], error: type[Exception], message: str
) -> None:
    data = np.random.default_rng(0).normal(size=(3, 200))
    with pytest.raises(error, match=message.replace("(", r"\(")):
        zorp_miner.find_matches(query, data, **kwargs)  # type: ignore[arg-type]


def test_progress_reports_the_chance_pass_then_the_query() -> None:
    shape, series, _ = planted()
    steps: list[str] = []
    zorp_miner.find_matches(shape, series, progress=lambda step: steps.append(step.what))
    assert steps[0].startswith("matching 4 shapes") and steps[1].startswith("matching the query")
    assert steps[-1] == "finished"


def test_the_plot_shades_each_match_of_the_series_and_lays_the_query_over_it() -> None:
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.patches import Rectangle

    def spans(axes: Axes) -> list[int]:
        return sorted(int(one.get_x()) for one in axes.patches if isinstance(one, Rectangle))

    shape, series, places = planted()
    data = [series[:3000], series[3000:]]
    found = zorp_miner.find_matches(shape, data)
    figure = zorp_miner.plot_search(found, data)
    (axes,) = figure.axes
    assert spans(axes) == [700, 2500]  # the best match's series, 0
    fitted = [line for line in axes.get_lines() if line.get_linestyle() == "--"]
    assert len(fitted) == 2
    for line in fitted:
        start = int(np.asarray(line.get_xdata(), dtype=float)[0])
        window, drawn = series[start : start + 60], np.asarray(line.get_ydata(), dtype=float)
        assert start in (700, 2500) and len(drawn) == 60
        assert np.isclose(drawn.mean(), window.mean()) and np.isclose(drawn.std(), window.std())
        assert np.corrcoef(drawn, shape)[0, 1] > 1 - 1e-12
    own = Figure().subplots()
    assert zorp_miner.plot_search(found, data, ax=own, series=1) is own.figure
    assert spans(own) == [4100 - 3000]
    with pytest.raises(ValueError, match="pass the data the matches were found in"):
        zorp_miner.plot_search(found, series)


def test_the_readme_example_gives_what_it_says_and_the_figure_draws_it(
    tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    pytest.importorskip("matplotlib")
    root = pathlib.Path(__file__).resolve().parents[2]
    readme = (root / "README.md").read_text()
    block = re.search(r"## Search by example\n.*?```python\n(.*?)```", readme, re.S)
    assert block is not None
    claims = re.findall(r"^(\w+)\s+# (Matches\(.*\))$", block.group(1), re.M)
    assert [name for name, _ in claims] == ["found"]
    monkeypatch.chdir(tmp_path)
    namespace: dict[str, object] = {}
    exec(compile(block.group(1), "README.md", "exec"), namespace)
    assert repr(namespace["found"]) == claims[0][1]
    assert (tmp_path / "matches.png").exists()


def test_the_docstring_example_runs_as_written() -> None:
    import doctest

    import zorp_miner.search.matches

    assert doctest.testmod(zorp_miner.search.matches).failed == 0
