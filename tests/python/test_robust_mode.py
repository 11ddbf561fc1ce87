"""find_motifs in the robust mode (the default): parameters, results, outputs and plots."""

import io
import json
import math
import pathlib
from typing import Any

import numpy as np
import numpy.typing as npt
import pytest

import zorp_miner
from zorp_miner.compute.sliding import znormalised
from zorp_miner.cli import main

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "unaligned.json"
WAVE = np.repeat([3.0, -3.0, 3.0, -3.0], 12)

Data = npt.NDArray[np.float64]


def planted(count: int = 16, seed: int = 0) -> tuple[Data, list[int]]:
    """Noisy random walks with the wave added at an arbitrary point of each; the starts."""
    rng = np.random.default_rng(seed)
    data = np.cumsum(rng.normal(0.0, 0.05, (count, 400)), axis=1) + rng.normal(size=(count, 400))
    starts = [int(s) for s in rng.integers(0, 400 - len(WAVE), size=count)]
    for row, start in zip(data, starts, strict=True):
        row[start : start + len(WAVE)] += WAVE
    return data, starts


@pytest.fixture(scope="module")
def wave() -> tuple[Data, list[int], zorp_miner.Motifs]:
    data, starts = planted()
    return data, starts, zorp_miner.find_motifs(data, length=len(WAVE))


def test_the_default_mode_is_robust_and_finds_the_wave_anywhere(
    wave: tuple[Data, list[int], zorp_miner.Motifs],
) -> None:
    data, starts, motifs = wave
    assert motifs.mode == "robust" and isinstance(motifs.params, zorp_miner.RobustParams)
    assert motifs.params == zorp_miner.RobustParams(length=48, minsup=0.5, top=None)
    top = motifs[0]
    assert top.mode == "robust" and top.length == 48 and top.rank == 1
    assert top.support >= 15
    on_wave = sum(
        abs(int(start) - starts[s]) < 24
        for s, start in zip(top.series.tolist(), top.best_matches.tolist(), strict=True)
    )
    assert on_wave >= 15
    assert repr(motifs) == f"Motifs({len(motifs)} of {motifs.found} found in 16 series, mode='robust')"
    assert top.likely and top.evidence >= 3
    assert repr(top) == (
        f"Motif(rank=1, support={top.support}, length=48, score={top.score:.4g}, "
        f"evidence={top.evidence:.3g}, likely)"
    )


def test_fields_say_what_the_ranking_used(wave: tuple[Data, list[int], zorp_miner.Motifs]) -> None:
    data, _, motifs = wave
    evidences = [motif.evidence for motif in motifs]
    assert evidences == sorted(evidences, reverse=True)
    core = math.ceil(0.5 * len(data))
    for motif in motifs:
        assert math.isnan(motif.naed)
        assert motif.occurrence_series.size == motif.occurrence_letters.size == 0
        assert len(motif.pattern) == 8 and motif.seglen * 8 <= motif.length
        assert motif.distances.shape == motif.series.shape == motif.best_matches.shape
        assert motif.average_occurrences.shape == (motif.support, motif.length)
        np.testing.assert_allclose(np.mean(motif.representative), 0.0, atol=1e-9)
        np.testing.assert_allclose(np.std(motif.representative), 1.0, atol=1e-9)
        for row, s, start, distance in zip(
            motif.average_occurrences,
            motif.series.tolist(),
            motif.best_matches.tolist(),
            motif.distances.tolist(),
            strict=True,
        ):
            window = znormalised(data[s, start : start + motif.length])
            np.testing.assert_allclose(row, window, atol=1e-9)
            # The distance is the root mean square gap of the z-normalised shapes.
            rms = math.sqrt(float(np.mean((window - motif.representative) ** 2)))
            assert distance == pytest.approx(rms, abs=1e-6)
        # The score averages the closest ceil(minsup x N) series; the series that hold the
        # motif are the closest ones.
        if motif.support >= core:
            assert motif.score == pytest.approx(float(np.mean(np.sort(motif.distances)[:core])))
        else:
            assert not motif.likely and 0 < motif.support
            assert motif.score >= float(np.mean(motif.distances))


def test_results_do_not_depend_on_series_order(
    wave: tuple[Data, list[int], zorp_miner.Motifs],
) -> None:
    data, _, motifs = wave
    order = np.random.default_rng(3).permutation(len(data))
    shuffled = zorp_miner.find_motifs(data[order], length=len(WAVE))
    assert len(shuffled) == len(motifs) > 0
    for a, b in zip(motifs, shuffled, strict=True):
        assert a.score == pytest.approx(b.score, abs=1e-9)
        np.testing.assert_allclose(a.representative, b.representative, atol=1e-9)
        back = {int(order[s]): int(start) for s, start in zip(b.series, b.best_matches)}
        assert back == dict(zip(a.series.tolist(), a.best_matches.tolist(), strict=True))


def test_constant_stretches_never_match_and_give_finite_scores() -> None:
    data, starts = planted(12, seed=4)
    series = [row.copy() for row in data]
    series[0][:200] = 5.0  # a plateau around the wave's own level
    series[1][250:] = series[1][249]
    series.append(np.full(300, 2.0))  # a constant series: no window has a shape
    motifs = zorp_miner.find_motifs(series, length=len(WAVE), top=3)
    assert len(motifs) > 0
    for motif in motifs:
        assert math.isfinite(motif.score) and np.isfinite(motif.distances).all()
        assert len(series) - 1 not in motif.series.tolist()
        for s, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True):
            assert np.ptp(series[s][start : start + motif.length]) > 0


def test_without_a_length_the_length_found_is_reported() -> None:
    data, starts = planted(12, seed=9)
    top = zorp_miner.find_motifs(data, top=1)[0]
    assert 0.5 * len(WAVE) <= top.length <= 1.5 * len(WAVE)
    assert top.average_occurrences.shape == (top.support, top.length)


def test_noise_alone_yields_no_likely_motif() -> None:
    data = np.random.default_rng(2).normal(size=(16, 300))
    motifs = zorp_miner.find_motifs(data, length=40, keep="likely")
    assert len(motifs) == motifs.found == 0
    marked = zorp_miner.find_motifs(data, length=40)
    assert len(marked) > 0 and not any(motif.likely for motif in marked)


def test_to_dict_and_to_frame_cover_the_robust_fields(
    wave: tuple[Data, list[int], zorp_miner.Motifs],
) -> None:
    _, _, motifs = wave
    result: dict[str, Any] = json.loads(json.dumps(motifs.to_dict(), allow_nan=False))
    assert result["mode"] == "robust"
    assert result["parameters"] == {"length": 48, "minsup": 0.5, "top": None, "keep": "all"}
    first = result["motifs"][0]
    assert first["mode"] == "robust" and first["naed"] is None
    assert first["score"] == motifs[0].score
    assert first["evidence"] == motifs[0].evidence and first["likely"] is True
    assert first["distances"] == motifs[0].distances.tolist()
    assert first["occurrences"] == {"series": [], "letters": [], "starts": []}
    pytest.importorskip("pandas")
    frame = motifs.to_frame()
    assert frame["score"].tolist() == [m.score for m in motifs]
    assert (frame["distances"][0] == motifs[0].distances).all()


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"length": 3}, ValueError, "length must be a whole number of points, at least 4, got 3"),
        ({"length": 40.0}, TypeError, "length must be a whole number of points"),
        ({"length": True}, TypeError, "length must be a whole number of points"),
        ({"minsup": 0}, ValueError, "minsup must be a number above 0 and at most 1"),
        ({"top": -1}, ValueError, "top must be a whole number of motifs, 0 or None for all"),
        ({"seglen": 8}, ValueError, "seglen is a parameter of the exact mode: pass mode='exact'"),
        ({"max_overlap": 0.5}, ValueError, "max_overlap is a parameter of the exact mode"),
        ({"mode": "exact", "length": 40, "seglen": 8}, ValueError, "length is a parameter of"),
        ({"mode": "exact"}, ValueError, "mode='exact' needs seglen, the points per letter"),
    ],
)
def test_parameters_of_each_mode_are_checked_before_the_input_is_read(
    kwargs: dict[str, Any], error: type[Exception], message: str
) -> None:
    class Untouchable:
        def __iter__(self) -> Any:
            raise AssertionError("the input was read before the parameters were checked")

    with pytest.raises(error) as raised:
        zorp_miner.find_motifs(Untouchable(), **kwargs)
    assert message in str(raised.value)


def test_exact_distances_average_to_naed() -> None:
    data, _ = planted(12, seed=1)
    motifs = zorp_miner.find_motifs(data, mode="exact", seglen=4, alphabet=5, top=5)
    assert len(motifs) > 0
    for motif in motifs:
        assert motif.mode == "exact" and motif.score == motif.naed
        assert float(np.mean(motif.distances)) == pytest.approx(motif.naed, rel=1e-9)


def test_the_command_runs_the_robust_mode_by_default(capsys: pytest.CaptureFixture[str]) -> None:
    assert main([str(EXAMPLE), "--length", "96", "--top", "1"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[1] == "mode robust, length 96 points, minsup 0.5"
    assert lines[3].split()[:5] == ["rank", "length", "support", "score", "evidence"]
    assert lines[5].split()[:3] == ["1", "96", "40/40"] and lines[5].split()[5] == "likely"
    assert main([str(EXAMPLE), "--length", "96", "--format", "json"]) == 0
    expected = zorp_miner.find_motifs(zorp_miner.load(EXAMPLE), length=96, top=10).to_dict()
    assert json.loads(capsys.readouterr().out) == {"file": str(EXAMPLE), **expected}
    pandas = pytest.importorskip("pandas")
    assert main([str(EXAMPLE), "--length", "96", "--format", "csv"]) == 0
    written = pandas.read_csv(io.StringIO(capsys.readouterr().out))
    motifs = zorp_miner.find_motifs(zorp_miner.load(EXAMPLE), length=96, top=10)
    pandas.testing.assert_frame_equal(written, motifs.matches_frame(zorp_miner.load(EXAMPLE)))


def test_plots_draw_robust_motifs(
    tmp_path: pathlib.Path, wave: tuple[Data, list[int], zorp_miner.Motifs]
) -> None:
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    from matplotlib.patches import Rectangle

    data, _, motifs = wave
    top = motifs[0]
    axes = zorp_miner.plot_matches(top, data).axes[0]
    # One line per best match (each window z-normalised), then the representative.
    lines = axes.get_lines()
    assert len(lines) == top.support + 1
    np.testing.assert_allclose(
        np.asarray(lines[0].get_ydata(), dtype=np.float64), top.average_occurrences[0]
    )
    assert "score" in axes.get_title()
    axes = zorp_miner.plot_occurrences(top, data, count=3).axes[0]
    shaded = [p for p in axes.patches if isinstance(p, Rectangle)]
    assert len(shaded) == 3 and {p.get_width() for p in shaded} == {top.length}
    figure = zorp_miner.plot_motifs(motifs, data, top=1)
    assert "robust mode, length 48 points" in figure.get_suptitle()
    out = tmp_path / "robust.png"
    assert main([str(EXAMPLE), "--length", "96", "--plot", str(out)]) == 0
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def counted_walks(count: int, seed: int) -> list[Data]:
    """Walks of whole steps up to 40 (counts), each with four plateaus of 40 points on which one
    point is one count up: z-normalised, every such window is the same spike."""
    rng = np.random.default_rng(seed)
    out = []
    for _ in range(count):
        walk = np.cumsum(rng.integers(-40, 41, 600)).astype(np.float64)
        for at in rng.choice(np.arange(20, 540, 60), size=4, replace=False).tolist():
            walk[at : at + 40] = walk[at]
            walk[at + 15] += 1.0
        out.append(walk)
    return out


@pytest.mark.parametrize("length", [16, None])
def test_a_count_up_on_a_plateau_of_counted_series_is_no_motif(length: int | None) -> None:
    series = counted_walks(12, seed=11)
    motifs = zorp_miner.find_motifs(series, length=length, top=3)
    for motif in motifs:
        for s, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True):
            assert np.std(series[s][start : start + motif.length]) > 1.0, (motif.rank, s, start)


def burst_and_spike(seed: int) -> tuple[list[Data], list[int]]:
    """16 noisy walks, each with a noisy 128-point burst in its first half and the same sharp
    8-point spike in its second: both recur beyond chance. The bursts' starts."""
    rng = np.random.default_rng(seed)
    burst = np.sin(np.linspace(0, 6 * np.pi, 128)) * np.hanning(128) * 4
    spike = np.array([0, 0, 3, -3, 3, 0, 0, 0.0]) * 6
    series, starts = [], []
    for _ in range(16):
        x = np.cumsum(rng.normal(0, 0.3, 1200)) + rng.normal(0, 0.5, 1200)
        at = int(rng.integers(0, 500))
        x[at : at + 128] += burst + rng.normal(0, 0.3, 128)
        where = int(rng.integers(700, 1190))
        x[where : where + 8] += spike
        series.append(x)
        starts.append(at)
    return series, starts


@pytest.mark.parametrize("seed", [0, 5])
def test_without_a_length_a_long_likely_shape_goes_before_a_short_one(seed: int) -> None:
    # A short spike copied exactly is more evident than a burst whose copies vary; of the two
    # shapes that recur beyond chance, the longer says more of the series and goes first.
    series, starts = burst_and_spike(seed)
    motifs = zorp_miner.find_motifs(series, top=3)
    first = motifs[0]
    assert first.likely
    on_burst = [abs(start - starts[s]) < 128 for s, start in zip(first.series.tolist(), first.best_matches.tolist(), strict=True)]
    assert sum(on_burst) >= 0.75 * len(series), (first.length, first.evidence)
    likely = [motif.length for motif in motifs if motif.likely]
    assert likely == sorted(likely, reverse=True)


@pytest.mark.parametrize("m", [150, 64, 100])
def test_instances_cut_to_the_length_give_their_consensus(m: int) -> None:
    # Each series is one instance of m points: its one window cannot shift, and the motif is
    # the consensus of the instances (the shifts tried are multiples of m // 32, 0 among them).
    rng = np.random.default_rng(m)
    shape = np.sin(np.linspace(0, np.pi, m)) ** 3 - 0.5 * np.exp(-((np.arange(m) - m / 3) / (m / 12)) ** 2)
    series = np.stack([shape * rng.uniform(0.5, 2.0) + rng.normal(0, 0.15, m) + rng.normal() for _ in range(30)])
    motifs = zorp_miner.find_motifs(series, length=m, top=1)
    assert len(motifs) == 1, motifs.reason
    first = motifs[0]
    assert first.support >= 15  # minsup 0.5 of 30
    assert np.corrcoef(first.representative, shape)[0, 1] > 0.95


def copies_close_and_farther(seed: int) -> tuple[list[Data], list[int]]:
    """20 gentle walks, each with a copy of a 100-point burst: every other copy with a little
    noise, the others with three times as much. The copies' starts."""
    rng = np.random.default_rng(seed)
    burst = np.sin(np.linspace(0, 4 * np.pi, 100)) * np.hanning(100) * 3
    series, starts = [], []
    for k in range(20):
        x = np.cumsum(rng.normal(0, 0.1, 1000)) + rng.normal(0, 0.2, 1000)
        at = int(rng.integers(0, 900))
        x[at : at + 100] += burst + rng.normal(0, 0.2 if k % 2 else 0.6, 100)
        series.append(x)
        starts.append(at)
    return series, starts


@pytest.mark.parametrize("seed", [1, 5, 9, 10])
def test_a_shape_in_every_series_is_held_beyond_its_closest_half(seed: int) -> None:
    # minsup 0.5 scores a motif on its closest half; the noisier copies stand apart from chance
    # too and hold it (they were left out: 11 or 12 of the 20 series held it).
    series, starts = copies_close_and_farther(seed)
    first = zorp_miner.find_motifs(series, length=100, top=1)[0]
    assert first.support >= 16, first.support
    for s, start in zip(first.series.tolist(), first.best_matches.tolist(), strict=True):
        assert abs(start - starts[s]) < 50
