"""The quality benchmark's ground truth: where it says a shape is planted, that shape is there.

These check the set builders and the scoring of bench/quality on made-up shapes (the labelled
data sets themselves are a benchmark-only install), and the cache that keeps the peers' results.
"""

import pathlib
import sys

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench" / "quality"))

import calibration  # noqa: E402
import development  # noqa: E402
import membership  # noqa: E402
import methods  # noqa: E402
import planted_sets  # noqa: E402
import run  # noqa: E402
import scoring  # noqa: E402
from labelled_data import DataSet  # noqa: E402
from conftest import examples


def made_up_data() -> DataSet:
    """Three classes of made-up instances, one of unequal lengths."""
    rng = np.random.default_rng(3)
    instances = [np.sin(np.linspace(0, 6, 40)) + rng.normal(0, 0.1, 40) for _ in range(5)]
    instances += [np.cumsum(rng.normal(size=int(n))) for n in rng.integers(20, 60, 7)]
    instances += [rng.normal(size=30) for _ in range(4)]
    labels = ["a"] * 5 + ["b"] * 7 + ["c"] * 4
    return DataSet("made-up", tuple(instances), tuple(labels))


@settings(max_examples=examples(60), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    lengths=st.lists(st.integers(1, 80), min_size=0, max_size=3),
    spare=st.integers(1, 300),
    host=st.sampled_from(planted_sets.HOSTS + planted_sets.OTHER_HOSTS),
)
def test_assembled_hosts_hold_each_shape_whole_at_its_start(
    seed: int, lengths: list[int], spare: int, host: str
) -> None:
    rng = np.random.default_rng(seed)
    shapes = [rng.normal(size=n) for n in lengths]
    points = sum(lengths) + spare
    fill = planted_sets.filler_for(host, made_up_data(), ("a",), 40)
    series, starts = planted_sets.assembled(rng, points, shapes, fill)
    assert len(series) == points
    spans = sorted((start, start + len(shape)) for start, shape in zip(starts, shapes))
    assert all(a_end <= b_start for (_, a_end), (b_start, _) in zip(spans, spans[1:]))
    for start, shape in zip(starts, shapes):
        window = series[start : start + len(shape)]
        np.testing.assert_allclose(window - window[0], shape - shape[0], atol=1e-9)


@settings(max_examples=examples(60), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), count=st.integers(0, 40), pool=st.integers(1, 12))
def test_draws_use_every_instance_before_repeating_one(seed: int, count: int, pool: int) -> None:
    picks = planted_sets.draws(np.random.default_rng(seed), count, pool)
    assert len(picks) == count
    for round_start in range(0, count, pool):
        chunk = picks[round_start : round_start + pool]
        assert len(set(chunk)) == len(chunk)
    assert all(0 <= p < pool for p in picks)


@pytest.mark.parametrize("layout", planted_sets.PAIR_LAYOUTS)
def test_a_planted_case_records_where_each_instance_went(layout: str) -> None:
    data = made_up_data()
    case = planted_sets.planted_case(
        f"test/{layout}", data, ("b", "a"), "crops", planted_sets.pair_carriers(layout, 10),
        10, 1.0, 0.5,
    )
    pools = [data.of_class("b"), data.of_class("a")]
    for plants, pool in zip(case.plants, pools):
        held = [i for i, plant in enumerate(plants) if plant is not None]
        assert len(held) == (10 if layout == "both" else 5)
        for i in held:
            plant = plants[i]
            assert plant is not None
            start, n = plant
            window = case.series[i][start : start + n]
            assert any(
                len(x) == n and np.allclose(window - window[0], x - x[0]) for x in pool
            )
    lengths = [p[1] for plants in case.plants for p in plants if p is not None]
    assert case.length == int(np.floor(np.median(lengths)))
    same = planted_sets.planted_case(
        f"test/{layout}", data, ("b", "a"), "crops", planted_sets.pair_carriers(layout, 10),
        10, 1.0, 0.5,
    )
    assert all(np.array_equal(x, y) for x, y in zip(case.series, same.series))


def test_noisy_hosts_hold_each_instance_with_a_quarter_of_its_deviation_added() -> None:
    data = made_up_data()
    case = planted_sets.planted_case(
        "test/noisy", data, ("a",), "noisy", planted_sets.random_carriers(20, 1.0), 20, 1.0, 0.5
    )
    pool = data.of_class("a")
    for series, plant in zip(case.series, case.plants[0]):
        assert plant is not None
        start, n = plant
        window = series[start : start + n]
        # the closest instance of the class, less the level: what is left is the noise
        residuals = [window - x - np.mean(window - x) for x in pool if len(x) == n]
        noise = min(residuals, key=lambda r: float(np.std(r)))
        assert 0.15 < np.std(noise) / np.std(pool[0]) < 0.35


@pytest.mark.parametrize("host", ["longwalk", "noise", "ar"])
def test_other_hosts_fill_a_gap_with_one_piece_of_the_class_scale(host: str) -> None:
    fill = planted_sets.filler_for(host, made_up_data(), ("a",), 40)
    pieces = fill(np.random.default_rng(5), 4000)
    assert len(pieces) == 1 and len(pieces[0]) == 4000
    spread = float(np.median([np.std(x) for x in made_up_data().of_class("a")]))
    if host != "longwalk":  # a walk's deviation grows with its length
        assert 0.8 < np.std(pieces[0]) / spread < 1.2


def test_crop_hosts_need_another_class() -> None:
    with pytest.raises(ValueError, match="no other class"):
        planted_sets.filler_for("crops", made_up_data(), ("a", "b", "c"), 40)


@pytest.mark.parametrize(
    ("start", "length", "hit"),
    [(100, 50, True), (125, 50, True), (126, 50, False), (75, 50, True), (74, 50, False),
     (110, 10, True), (0, 400, True), (0, 124, False)],
)
def test_a_hit_overlaps_the_plant_by_half_the_shorter_length(start: int, length: int, hit: bool) -> None:
    plants: list[tuple[int, int] | None] = [(100, 50), None]
    result = scoring.score({0: (start, length), 1: (0, 50)}, plants)
    assert (result.hits, result.reported, result.planted) == (int(hit), 2, 1)


def test_the_best_score_picks_the_motif_on_the_shape() -> None:
    plants: list[tuple[int, int] | None] = [(10, 20), (30, 20), None]
    off = {0: (200, 20), 1: (200, 20)}
    on = {0: (12, 20), 1: (30, 20), 2: (0, 20)}
    assert scoring.best_score([off, on], plants).f1 == pytest.approx(0.8)
    assert scoring.best_score([], plants).f1 == 0.0


def test_cached_results_read_back_as_computed(tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
    calls: list[int] = []

    def counted(series: list[np.ndarray], length: int, minsup: float, top: int) -> list[dict[int, tuple[int, int]]]:
        calls.append(length)
        return [{0: (3, length), 2: (7, length)}, {1: (0, length)}][:top]

    monkeypatch.setitem(methods.METHODS, "counted", methods.Method("counted", counted, cached=True))
    series = [np.zeros(50)] * 3
    first = run.Runs(["counted"], False, tmp_path).motifs(methods.METHODS["counted"], "a/b", series, 9, 0.5, 2)
    again = run.Runs(["counted"], False, tmp_path).motifs(methods.METHODS["counted"], "a/b", series, 9, 0.5, 2)
    peer = run.Runs([], False, tmp_path).motifs(methods.METHODS["counted"], "a/b", series, 9, 0.5, 2)
    absent = run.Runs([], False, tmp_path).motifs(methods.METHODS["counted"], "a/c", series, 9, 0.5, 2)
    assert first is not None and again is not None and peer is not None
    assert again[0] == first[0] == peer[0] == [{0: (3, 9), 2: (7, 9)}, {1: (0, 9)}]
    assert (first[2], again[2], peer[2]) == (False, True, True)
    assert absent is None
    assert calls == [9]
    run.Runs(["counted"], True, tmp_path).motifs(methods.METHODS["counted"], "a/b", series, 9, 0.5, 2)
    assert calls == [9, 9]


def test_own_results_are_kept_only_by_commit(tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
    calls: list[int] = []

    def counted(series: list[np.ndarray], length: int, minsup: float, top: int) -> list[dict[int, tuple[int, int]]]:
        calls.append(length)
        return [{0: (1, length)}]

    monkeypatch.setitem(methods.METHODS, "own", methods.Method("own", counted))
    own, series = methods.METHODS["own"], [np.zeros(50)]
    for commit in ("", "", "abc", "abc", "def"):
        got = run.Runs(["own"], False, tmp_path, commit).motifs(own, "a/b", series, 5, 0.5, 1)
        assert got is not None and got[0] == [{0: (1, 5)}]
    assert len(calls) == 4
    assert run.Runs([], False, tmp_path, "abc").motifs(own, "a/b", series, 5, 0.5, 1) is not None
    assert run.Runs([], False, tmp_path, "").motifs(own, "a/b", series, 5, 0.5, 1) is None


@pytest.mark.parametrize("host", calibration.HOSTS)
@pytest.mark.parametrize("length", calibration.LENGTHS)
def test_calibration_sets_are_built_the_same_every_run_and_differ_by_key(host: str, length: int | None) -> None:
    # The false-alarm table is a measurement only when every run measures the same sets, and
    # each set draws its own series.
    first = calibration.host_set(host, 20, length, 0)
    again = calibration.host_set(host, 20, length, 0)
    other = calibration.host_set(host, 20, length, 1)
    assert len(first) == 20
    assert all(np.array_equal(a, b) for a, b in zip(first, again, strict=True))
    assert not np.array_equal(first[0][:1000], other[0][:1000])
    low, high = planted_sets.HOST_POINTS
    assert all(low <= len(values) <= high and np.all(np.isfinite(values)) for values in first)


@pytest.mark.parametrize("sets", ["0", "-2"])
def test_calibration_refuses_fewer_than_one_set(sets: str, capsys: pytest.CaptureFixture[str]) -> None:
    # No set measured would print a table of nothing (and fail on its empty maxima).
    with pytest.raises(SystemExit) as stopped:
        calibration.main(["--sets", sets])
    assert stopped.value.code == 2
    assert f"--sets must be at least 1 (sets per host and size), got {sets}" in capsys.readouterr().err


def test_every_best_match_is_each_series_closest_window() -> None:
    # A copy of the shape (scaled and shifted) in four noise series, at different places, and a
    # series too short to hold it: each series' first match is its best, the short one has none.
    rng = np.random.default_rng(11)
    shape = np.sin(np.linspace(0, 3 * np.pi, 30)) + np.linspace(0, 1, 30)
    series = []
    for k, start in enumerate((0, 17, 55, 70)):
        values = rng.normal(0, 1, 100)
        values[start : start + 30] = (k + 1) * shape - k
        series.append(values)
    series.append(rng.normal(0, 1, 20))
    best = membership.every_best_match(shape, series)
    assert sorted(best) == [0, 1, 2, 3]
    assert [best[i][0] for i in range(4)] == [0, 17, 55, 70]
    assert all(distance < 1e-6 for _, distance in best.values())


def test_means_by_host_take_each_host_then_every_set() -> None:
    tables = development.by_host({"walk": [(1.0, 4.0), (0.0, 2.0)], "crops": [(0.5, 6.0)]})
    assert [host for host, _ in tables] == ["walk", "crops", "all"]
    assert [table.shape for _, table in tables] == [(2, 2), (1, 2), (3, 2)]
    assert tables[2][1].mean(axis=0).tolist() == [0.5, 4.0]
