"""The plots, drawn headless: the artists each one promises, and readable with many series."""

import pathlib
from collections.abc import Callable

import numpy as np
import numpy.typing as npt
import pytest

import zorp_miner

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
from matplotlib.artist import Artist  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.collections import PolyCollection  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

SHAPE = np.repeat([3.0, -3.0, 3.0, -3.0], 16)


Data = npt.NDArray[np.float64]


def planted(count: int, seed: int = 0) -> tuple[Data, npt.NDArray[np.int64]]:
    """Noise with one square wave at a multiple of 8 points in each series; the starts."""
    rng = np.random.default_rng(seed)
    data = rng.normal(size=(count, 400))
    starts = 8 * rng.integers(0, (400 - len(SHAPE)) // 8, size=count)
    for row, start in zip(data, starts, strict=True):
        row[start : start + len(SHAPE)] += SHAPE
    return data, starts


def top_motif(data: Data) -> zorp_miner.Motifs:
    return zorp_miner.find_motifs(data, mode="exact", seglen=8, alphabet=7, top=3)


def legend_texts(axes: Axes) -> list[str]:
    legend = axes.get_legend()
    assert legend is not None
    return [text.get_text() for text in legend.get_texts()]


def points(line: Line2D) -> int:
    return len(np.asarray(line.get_xdata()))


def alpha(artist: Artist) -> float:
    value = artist.get_alpha()
    assert value is not None
    return value


def test_matches_draw_every_best_match_under_the_representative() -> None:
    data, _ = planted(12)
    motif = top_motif(data)[0]
    figure = zorp_miner.plot_matches(motif, data)
    assert isinstance(figure, Figure)
    (axes,) = figure.axes
    lines = [line for line in axes.get_lines() if points(line) == motif.length]
    assert len(lines) == motif.support + 1
    assert np.allclose(lines[-1].get_ydata(), motif.representative)
    assert legend_texts(axes) == ["best match, each series", "representative"]
    assert axes.get_xlabel().startswith("points from the start of the match")
    assert axes.get_ylabel() == "z-normalised value"


def test_many_series_are_sampled_and_summarised() -> None:
    data, _ = planted(300, seed=1)
    motif = top_motif(data)[0]
    assert motif.support > 40
    axes = zorp_miner.plot_matches(motif, data, max_lines=40).axes[0]
    lines = [line for line in axes.get_lines() if points(line) == motif.length]
    assert len(lines) == 40 + 1
    assert any(isinstance(artist, PolyCollection) for artist in axes.collections)
    assert legend_texts(axes) == [
        f"best match, 40 of {motif.support} series",
        f"middle 80% of all {motif.support}",
        "representative",
    ]


def test_occurrences_shade_each_occurrence_of_the_series_drawn() -> None:
    data, _ = planted(12)
    motif = top_motif(data)[1]
    chosen = [int(s) for s in motif.series[:2]]
    figure, axes = Figure(), None
    axes = figure.subplots()
    assert zorp_miner.plot_occurrences(motif, data, ax=axes, series=chosen) is figure
    shaded = [p for p in axes.patches if isinstance(p, Rectangle)]
    expected = sum(int((motif.occurrence_series == s).sum()) for s in chosen)
    assert len(shaded) == expected
    best = sorted(p.get_x() for p in shaded if alpha(p) > 0.5)
    assert best == sorted(float(motif.best_match(s)) for s in chosen)
    assert [t.get_text() for t in axes.get_yticklabels()] == [f"series {s}" for s in chosen]
    assert axes.get_xlabel() == "time (points)"


def test_motifs_draw_one_row_of_two_panels_per_motif(tmp_path: pathlib.Path) -> None:
    data, _ = planted(12)
    motifs = top_motif(data)
    figure = zorp_miner.plot_motifs(motifs, data, top=2)
    assert len(figure.subfigs) == 2
    assert all(len(row.axes) == 2 for row in figure.subfigs)
    assert figure.get_suptitle().startswith(f"The best 2 of {motifs.found} motifs in 12 series")
    figure.savefig(tmp_path / "motifs.png")
    assert (tmp_path / "motifs.png").read_bytes()[:4] == b"\x89PNG"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda m, d: zorp_miner.plot_matches(m, d[:3]), "but data has only 3 series"),
        (lambda m, d: zorp_miner.plot_matches(m, d, max_lines=0), "max_lines must be at least 1"),
        (lambda m, d: zorp_miner.plot_occurrences(m, d, series=[99]), "series 99 is not in data"),
        (lambda m, d: zorp_miner.plot_motifs([], d), "there are no motifs to plot"),
    ],
)
def test_plots_refuse_data_the_motif_was_not_found_in(
    call: Callable[[zorp_miner.Motif, Data], object], message: str
) -> None:
    data, _ = planted(12)
    motif = top_motif(data)[0]
    with pytest.raises(ValueError, match=message):
        call(motif, data)


def gunpoint_like(count: int = 12, seed: int = 4) -> Data:
    """Series shaped like GunPoint's: a long rest, a raised plateau, back to rest (their
    z-normalised range runs much further above 0 than below), three times over."""
    rng = np.random.default_rng(seed)
    t = np.arange(150)
    rows = []
    for _ in range(count):
        up, down = rng.integers(30, 50), rng.integers(90, 115)
        ramp = 1 / (1 + np.exp(-(t - up) / 3)) - 1 / (1 + np.exp(-(t - down) / 3))
        rows.append(np.tile(-0.9 + 2.6 * ramp, 3) + rng.normal(0, 0.03, 450))
    return np.array(rows)


def test_the_series_drawn_are_the_best_median_and_worst_matches_with_their_starts() -> None:
    data = gunpoint_like()
    motif = zorp_miner.find_motifs(data, length=150, top=1)[0]
    figure = Figure()
    axes = figure.subplots()
    zorp_miner.plot_occurrences(motif, data, ax=axes)
    by_distance = motif.series[np.argsort(motif.distances, kind="stable")].tolist()
    drawn = [int(t.get_text().removeprefix("series ")) for t in axes.get_yticklabels()]
    # Of an even number of series, either of the two in the middle is a median.
    middles = {by_distance[(len(by_distance) - 1) // 2], by_distance[len(by_distance) // 2]}
    assert drawn[0] == by_distance[0] and drawn[1] in middles and drawn[2] == by_distance[-1]
    chosen = drawn
    labels = [text.get_text() for text in axes.texts]
    for one, rank in zip(chosen, ["the best", "the median", "the worst"], strict=True):
        at = motif.series.tolist().index(one)
        assert (
            f"best match at {motif.best_matches[at]}, distance {motif.distances[at]:.3f} "
            f"({rank} of {motif.support})"
        ) in labels
    assert "best, median and worst matches" in axes.get_title(loc="left")


def test_every_trace_stays_inside_its_lane() -> None:
    data = gunpoint_like()
    motif = zorp_miner.find_motifs(data, length=150, top=1)[0]
    figure = Figure()
    axes = figure.subplots()
    zorp_miner.plot_occurrences(motif, data, ax=axes, count=4)
    low, high = axes.get_ylim()
    traces = [line for line in axes.get_lines() if points(line) == 450]
    assert len(traces) == 4
    lane = (high - low) / 4
    for place, line in enumerate(traces):
        values = np.asarray(line.get_ydata(), dtype=np.float64)
        top, bottom = high - place * lane, high - (place + 1) * lane
        assert bottom < values.min() and values.max() < top


def test_long_series_and_long_shapes_are_drawn_readably() -> None:
    """A series of 10^4 points drawn point by point, and 20 jagged windows of 1,460 points
    overlaid, each made a solid band; long series are now their per-column extent, long
    shapes their band and median, and every title says likely or chance."""
    rng = np.random.default_rng(3)
    walk = np.cumsum(rng.normal(size=10_000))
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    for start in (700, 2500, 4100, 6600, 9000):
        walk[start : start + 60] += shape
    within = zorp_miner.find_motifs(walk, length=60, top=1)
    figure = zorp_miner.plot_motif(within[0], walk)
    lines = [line for axes in figure.axes for line in axes.get_lines()]
    assert max(np.size(line.get_xdata()) for line in lines) <= zorp_miner.plot.ENVELOPE_POINTS
    assert any(isinstance(artist, PolyCollection) for axes in figure.axes for artist in axes.collections)
    titles = " ".join(axes.get_title() + axes.get_title("left") for axes in figure.axes)
    assert ("likely" in titles) or ("chance" in titles)
    jagged = rng.normal(size=(8, 1500))
    motifs = zorp_miner.find_motifs(jagged, length=600, top=1)
    drawn = zorp_miner.plot_matches(motifs[0], jagged)
    long_lines = [line for line in drawn.axes[0].get_lines() if np.size(line.get_xdata()) == 600]
    assert len(long_lines) == 2  # the median of the matches and the representative
    assert "chance" in drawn.axes[0].get_title() or "likely" in drawn.axes[0].get_title()


def test_an_image_format_matplotlib_does_not_write_is_refused_before_the_run(
    tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str]
) -> None:
    import zorp_miner.cli.motifs
    from zorp_miner.cli import main

    np.save(tmp_path / "walks.npy", planted(6)[0])

    def no_run(*args: object, **kwargs: object) -> None:
        raise AssertionError("the run started")

    monkeypatch.setattr(zorp_miner.cli.motifs, "motifs_here", no_run)
    assert main([str(tmp_path / "walks.npy"), "--length", "64", "--plot", str(tmp_path / "out.txt")]) == 2
    assert "--plot: out.txt does not end in an image format matplotlib writes" in capsys.readouterr().err
