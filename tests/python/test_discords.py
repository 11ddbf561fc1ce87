"""Discords: exactly those of the full matrix of distances, computed here window by window."""

import json
import math
import pathlib

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st

import zorp_miner
from conftest import examples
from reference import usable_windows
from zorp_miner.cli import main
from zorp_miner.compute.sliding import FLAT_FRACTION, RESOLUTION

FloatArray = npt.NDArray[np.float64]


def all_distances(a: FloatArray, b: FloatArray, m: int) -> FloatArray:
    """The distance sqrt(2 (1 - r)) of every window of a to every window of b, +inf where
    either is unusable (a missing point, flat)."""
    def z(values: FloatArray) -> tuple[FloatArray, npt.NDArray[np.bool_]]:
        usable = np.array(usable_windows(values.tolist(), m, FLAT_FRACTION, RESOLUTION), dtype=bool)
        windows = np.lib.stride_tricks.sliding_window_view(np.nan_to_num(values), m)
        centred = windows - windows.mean(axis=1, keepdims=True)
        deviation = np.sqrt((centred**2).mean(axis=1, keepdims=True))
        return centred / np.where(usable[:, None], deviation, 1.0), usable

    za, ua = z(a)
    zb, ub = z(b)
    r = np.clip(za @ zb.T / m, -1.0, 1.0)
    d = np.sqrt(2.0 * (1.0 - r))
    d[~ua, :] = np.inf
    d[:, ~ub] = np.inf
    return d


def brute_within(values: FloatArray, m: int, zone: int, top: int) -> list[tuple[int, float]]:
    d = all_distances(values, values, m)
    n = len(d)
    starts = np.arange(n)
    d[np.abs(starts[:, None] - starts[None, :]) <= zone] = np.inf
    nearest = d.min(axis=1)
    usable = np.isfinite(np.diag(all_distances(values, values, m)))
    nearest[~usable | ~np.isfinite(nearest)] = -1.0
    found: list[tuple[int, float]] = []
    while len(found) < top and nearest.max() >= 0:
        at = int(np.argmax(nearest))
        found.append((at, float(nearest[at])))
        nearest[max(0, at - m + 1) : at + m] = -1.0
    return found


def series_of(seed: int, kind: str, n: int) -> FloatArray:
    rng = np.random.default_rng(seed)
    values = rng.normal(size=n)
    if kind in ("walk", "gaps"):
        values = np.cumsum(values)
    if kind == "gaps":
        for at in rng.integers(0, n - 5, size=3):
            values[at : at + int(rng.integers(1, 5))] = np.nan
    return values


@settings(max_examples=examples(30), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    kind=st.sampled_from(["walk", "noise", "gaps"]),
    n=st.integers(40, 400),
    m=st.integers(4, 32),
    top=st.integers(1, 4),
)
def test_discords_within_a_series_are_those_of_all_pairs(seed: int, kind: str, n: int, m: int, top: int) -> None:
    values = series_of(seed, kind, n)
    if m > n:
        return
    zone = math.ceil(m / 4)
    expected = brute_within(values, m, zone, top)
    found = zorp_miner.find_discords(values, m, top=top, progress=False)
    assert found.starts.tolist() == [start for start, _ in expected]
    np.testing.assert_allclose(found.distances, [distance for _, distance in expected], rtol=1e-9, atol=1e-9)
    # each neighbour is beyond the zone and at the distance reported
    d = all_distances(values, values, m)
    for start, neighbour, distance in zip(found.starts, found.neighbour_starts, found.distances):
        assert abs(int(start) - int(neighbour)) > zone
        assert d[start, neighbour] == pytest.approx(distance, abs=1e-9)
    assert found.within and found.exclusion == zone


@settings(max_examples=examples(20), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    kind=st.sampled_from(["walk", "noise", "gaps"]),
    count=st.integers(2, 5),
    m=st.integers(4, 24),
)
def test_each_series_discord_across_a_set_is_its_window_farthest_from_the_others(
    seed: int, kind: str, count: int, m: int
) -> None:
    rng = np.random.default_rng(seed)
    series = [series_of(seed + k, kind, int(rng.integers(max(m, 8), 120))) for k in range(count)]
    expected = []
    for s in range(count):
        d = np.concatenate([all_distances(series[s], series[t], m) for t in range(count) if t != s], axis=1)
        nearest = d.min(axis=1)
        nearest[~np.isfinite(nearest)] = -1.0
        if len(nearest) and nearest.max() >= 0:
            expected.append((s, int(np.argmax(nearest)), float(nearest.max())))
    found = zorp_miner.find_discords(series, m, top=0, progress=False)
    assert not found.within and found.exclusion is None
    # Two series' discords that are each other's nearest windows are as far, up to rounding:
    # the order of such is the rounding's.
    assert np.all(np.diff(found.distances) <= 1e-12)
    by_series = {s: (start, d) for s, start, d in expected}
    assert sorted(found.series.tolist()) == sorted(by_series)
    for s, start, distance in zip(found.series.tolist(), found.starts.tolist(), found.distances.tolist()):
        assert start == by_series[s][0] or distance == pytest.approx(by_series[s][1], abs=1e-12)
        assert distance == pytest.approx(by_series[s][1], abs=1e-9)
    for s, neighbour in zip(found.series, found.neighbour_series):
        assert s != neighbour


def test_a_planted_anomaly_in_a_long_walk_is_the_top_discord() -> None:
    rng = np.random.default_rng(3)
    values = np.cumsum(rng.normal(size=20_000))
    values[12_345 : 12_345 + 50] += 15.0 * np.sign(np.sin(np.linspace(0, 6 * np.pi, 50)))
    found = zorp_miner.find_discords(values, 100, top=1, progress=False)
    assert abs(int(found.starts[0]) - 12_345) < 100


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda x: zorp_miner.find_discords(x, 3), "length must be"),
        (lambda x: zorp_miner.find_discords(x, 400), "above every series"),
        (lambda x: zorp_miner.find_discords(x, 20, exclusion=20), "exclusion must be below"),
        (lambda x: zorp_miner.find_discords([x, x], 20, exclusion=5), "exclusion applies within one series"),
        (lambda x: zorp_miner.find_discords(x, 20, top=-1), "top must be"),
    ],
)
def test_bad_calls_say_what_to_change(call: object, message: str) -> None:
    with pytest.raises(ValueError, match=message):
        call(np.cumsum(np.random.default_rng(0).normal(size=300)))  # type: ignore[operator]


def test_results_read_as_frames_and_json() -> None:
    found = zorp_miner.find_discords(series_of(1, "walk", 500), 20, top=2, progress=False)
    assert len(found) == 2 and "Discords(2 of 20 points within the series" in repr(found)
    as_json = json.loads(json.dumps(found.to_dict()))
    assert [one["start"] for one in as_json["discords"]] == found.starts.tolist()
    pytest.importorskip("pandas")
    assert found.to_frame()["start"].tolist() == found.starts.tolist()


def test_the_command_prints_writes_and_draws_the_discords(tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]) -> None:
    values = series_of(2, "walk", 600)
    path = tmp_path / "walk.npy"
    np.save(path, values)
    expected = zorp_miner.find_discords(values, 24, top=2, progress=False)
    assert main(["discords", str(path), "--length", "24", "--top", "2", "--format", "csv"]) == 0
    rows = capsys.readouterr().out.splitlines()
    assert rows[0] == "rank,series,start,distance,neighbour_series,neighbour_start"
    assert [int(row.split(",")[2]) for row in rows[1:]] == expected.starts.tolist()
    assert main(["discords", str(path), "--length", "24", "--format", "json"]) == 0
    assert json.loads(capsys.readouterr().out)["exclusion"] == 6
    assert main(["discords", str(path), "--length", "24", "--exclusion", "30"]) == 2
    assert "exclusion must be below the length" in capsys.readouterr().err
    assert main(["discords", str(path)]) == 2
    assert "--length" in capsys.readouterr().err
    pytest.importorskip("matplotlib")
    assert main(["discords", str(path), "--length", "24", "--plot", str(tmp_path / "d.txt")]) == 2
    assert "image format" in capsys.readouterr().err
    assert main(["discords", str(path), "--length", "24", "--plot", str(tmp_path / "d.png")]) == 0
    assert (tmp_path / "d.png").stat().st_size > 0
