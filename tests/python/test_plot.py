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
