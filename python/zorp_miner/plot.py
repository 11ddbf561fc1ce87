"""Drawing motifs over the data they were found in (matplotlib, the ``plot`` extra).

Every function draws on the axes or figure it is given, or on a new figure, and returns the
figure; none calls ``plt.show()``. New figures are plain ``matplotlib.figure.Figure`` objects,
not registered with pyplot: save them with ``fig.savefig(...)``, or let Jupyter show the value.
To draw inside a pyplot figure, pass its axes (``ax=``) or the figure (``fig=``).
"""

from __future__ import annotations

import warnings
from collections.abc import Sequence
from typing import TYPE_CHECKING

import numpy as np

from zorp_miner._extras import require
from zorp_miner.compute.sliding import znormalised, znormalised_finite
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set
from zorp_miner.params import ExactParams
from zorp_miner.results import Motif, Motifs

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure, SubFigure

    from zorp_miner.search.matches import Matches

# Colours: the representative in black, matches in blue, occurrences in orange.
REPRESENTATIVE = "black"
MATCH = "tab:blue"
OCCURRENCE = "tab:orange"


# Matches of more points than this are drawn as a band and their median, not line by line.
LONG_LINES = 400
# Series of more points than this are drawn as the band of their values per column.
ENVELOPE_POINTS = 3000


def plot_matches(
    motif: Motif, data: object, *, ax: Axes | None = None, max_lines: int = 50
) -> Figure:
    """Draw the representative curve with every series' best match overlaid.

    Parameters
    ----------
    motif : Motif
        A motif found in ``data``.
    data : array-like, list of array-likes or DataFrame
        The series the motif was found in, in any form :func:`zorp_miner.find_motifs` takes.
    ax : matplotlib.axes.Axes, optional
        Where to draw; a new figure by default.
    max_lines : int, default 50
        The most best matches drawn as lines. Beyond that, an evenly spaced sample of them is
        drawn, and a band shows where the middle 80% of all best matches lie.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on.
    """
    if max_lines < 1:
        raise ValueError(f"max_lines must be at least 1, got {max_lines}")
    axes = _axes(ax, (5.0, 3.6))
    series = _normalised(data, motif)
    offsets = np.arange(motif.length)
    if motif.mode == "robust":
        # The robust mode compares each window z-normalised on its own: draw them so.
        matches = np.array(motif.average_occurrences).reshape(-1, motif.length)
    else:
        matches = np.array(
            [
                _window(series[s], int(start), motif.length)
                for s, start in zip(motif.series, motif.best_matches, strict=True)
            ]
        ).reshape(-1, motif.length)
    # A long shape's lines, each as jagged as its series, fill the panel: past LONG_LINES
    # points the band and the median stand for them.
    shown = _sample(len(matches), max_lines if motif.length <= LONG_LINES else 0)
    # A motif found within one series has windows of that series, not a best match per series.
    unit = "series" if motif.exclusion is None else "windows"
    label = "best match, each series" if motif.exclusion is None else "each window"
    if len(shown) < len(matches):
        label = f"{'best match, ' if motif.exclusion is None else ''}{len(shown)} of {len(matches)} {unit}"
    # A sample of many lines is drawn fainter, under the band that summarises them all.
    alpha = 0.35 if len(shown) == len(matches) else 0.2
    for number, row in enumerate(matches[shown]):
        axes.plot(
            offsets, row, color=MATCH, alpha=alpha, linewidth=0.7, label=None if number else label
        )
    if len(shown) < len(matches):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # an all-NaN column
            low, middle, high = np.nanpercentile(matches, [10, 50, 90], axis=0)
        if not shown:
            axes.plot(offsets, middle, color=MATCH, linewidth=0.9, label=f"median of all {len(matches)}")
        axes.fill_between(
            offsets,
            low,
            high,
            facecolor=MATCH,
            alpha=0.25,
            edgecolor="navy",
            linewidth=1.0,
            linestyle="--",
            label=f"middle 80% of all {len(matches)}",
        )
    axes.plot(
        offsets, motif.representative, color=REPRESENTATIVE, linewidth=2.5, label="representative"
    )
    if motif.mode == "robust":
        axes.set_title(
            f"#{motif.rank}: {motif.length} points, {motif.support} {unit}, "
            f"score {motif.score:.3f}, {_mark(motif)}"
        )
        axes.set_xlabel("points from the start of the match")
        axes.set_ylabel("z-normalised value (each window)")
    else:
        axes.set_title(
            f"#{motif.rank} {_short(motif.pattern)}: {motif.support} series, "
            f"naed {motif.naed:.3f}"
        )
        axes.set_xlabel(
            f"points from the start of the match ({motif.letters} letters × {motif.seglen})"
        )
        axes.set_ylabel("z-normalised value")
    axes.set_xlim(0, max(motif.length - 1, 1))
    if motif.mode == "exact" and motif.letters <= 40:
        for boundary in range(motif.seglen, motif.length, motif.seglen):
            axes.axvline(boundary, color="0.85", linewidth=0.6, zorder=0)
    # Headroom above the curves for the legend, so that it hides none of them.
    low_y, high_y = axes.get_ylim()
    axes.set_ylim(low_y, high_y + 0.3 * (high_y - low_y))
    axes.legend(loc="upper right", fontsize="small", framealpha=0.9)
    return _figure_of(axes)


def plot_occurrences(
    motif: Motif,
    data: object,
    *,
    ax: Axes | None = None,
    series: Sequence[int] | None = None,
    count: int = 3,
) -> Figure:
    """Draw a few series, one above the other, with each occurrence of the motif shaded and the
    start of the best match written over each.

    Parameters
    ----------
    motif : Motif
        A motif found in ``data``.
    data : array-like, list of array-likes or DataFrame
        The series the motif was found in, in any form :func:`zorp_miner.find_motifs` takes.
    ax : matplotlib.axes.Axes, optional
        Where to draw; a new figure by default.
    series : sequence of int, optional
        The series to draw (by position in ``data``); by default ``count`` series of those
        the motif occurs in, spread evenly over them by the distance of their best match:
        with 3, the series with the best, the median and the worst match.
    count : int, default 3
        How many series to draw when ``series`` is not given.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on.
    """
    normalised = _normalised(data, motif)
    ranks: dict[int, str] = {}
    if series is None:
        if count < 1:
            raise ValueError(f"count must be at least 1, got {count}")
        chosen, ranks = _by_distance(motif, count)
        if motif.exclusion is not None:  # all its windows are in one series
            chosen, ranks = [int(motif.series[0])], {}
    else:
        chosen = [int(one) for one in series]
        for one in chosen:
            if not 0 <= one < len(normalised):
                raise ValueError(f"series {one} is not in data, which has {len(normalised)} series")
    axes = _axes(ax, (9.0, 1.2 + 1.1 * len(chosen)))
    patches = require("matplotlib.patches", "plotting")
    lane = _lane_height([normalised[one] for one in chosen])
    labelled = {"occurrence": False, "best match": False, "window": False}
    for place, one in enumerate(chosen):
        values = normalised[one]
        base = -place * lane
        # Each trace centred on its lane, so that its peaks stay inside it; a long one as the
        # band of its lowest and highest values per column of the figure.
        _draw_trace(axes, values + base - _middle(values))
        best = motif.best_match(one) if one in motif.series else None
        if best is not None:
            axes.text(
                0.005,
                (base + 0.5 * lane - axes_bottom(chosen, lane)) / (len(chosen) * lane),
                _match_label(motif, one, best, ranks.get(one)),
                transform=axes.transAxes,
                va="top",
                fontsize="small",
                bbox={"facecolor": "white", "alpha": 0.75, "edgecolor": "none", "pad": 1.0},
            )
        starts = motif.occurrence_starts[motif.occurrence_series == one].tolist()
        if motif.exclusion is not None:
            # Found within the series: every window of it, each shaded alike.
            starts, best = motif.best_matches[motif.series == one].tolist(), None
        if best is not None and best not in starts:
            # The robust mode records no occurrences but the best match.
            starts.append(best)
        for start in starts:
            kind = "window" if motif.exclusion is not None else "best match" if start == best else "occurrence"
            label = kind if not labelled[kind] else None
            labelled[kind] = True
            axes.add_patch(
                patches.Rectangle(
                    (float(start), base - lane / 2),
                    motif.length,
                    lane * 0.96,
                    facecolor=OCCURRENCE,
                    alpha=0.2 if kind == "occurrence" else 0.55,
                    edgecolor="none",
                    label=label,
                )
            )
    axes.set_yticks([-place * lane for place in range(len(chosen))])
    axes.set_yticklabels([f"series {one}" for one in chosen])
    axes.set_ylim(axes_bottom(chosen, lane), 0.5 * lane)
    axes.set_xlim(0, max(len(normalised[one]) for one in chosen))
    axes.set_xlabel("time (points)")
    if motif.exclusion is not None:
        title = f"#{motif.rank}: its {motif.support} windows, in series {motif.series[0]}, {_mark(motif)}"
    elif motif.mode == "robust":
        which = "best, median and worst " if ranks and len(chosen) == 3 else ""
        title = f"#{motif.rank}: {which}matches, {len(chosen)} of its {motif.support} series, {_mark(motif)}"
    else:
        title = (
            f"#{motif.rank} {_short(motif.pattern)}: occurrences in {len(chosen)} "
            f"of its {motif.support} series"
        )
    axes.set_title(title, loc="left")
    if any(labelled.values()):
        axes.legend(
            loc="lower right", bbox_to_anchor=(1.0, 1.0), ncols=2, fontsize="small", frameon=False
        )
    return _figure_of(axes)


def plot_motif(
    motif: Motif,
    data: object,
    *,
    fig: Figure | SubFigure | None = None,
    max_lines: int = 50,
    count: int = 3,
) -> Figure:
    """Draw one motif: its best matches (:func:`plot_matches`) beside a few series with its
    occurrences shaded (:func:`plot_occurrences`).

    Parameters
    ----------
    motif : Motif
        A motif found in ``data``.
    data : array-like, list of array-likes or DataFrame
        The series the motif was found in.
    fig : matplotlib Figure or SubFigure, optional
        Where to draw (two axes are added); a new figure by default.
    max_lines, count : int
        As for :func:`plot_matches` and :func:`plot_occurrences`.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (the top-level figure when ``fig`` is a SubFigure).
    """
    target = _new_figure((14.0, 4.0)) if fig is None else fig
    left, right = target.subplots(1, 2, width_ratios=[1, 2.2])
    plot_matches(motif, data, ax=left, max_lines=max_lines)
    plot_occurrences(motif, data, ax=right, count=count)
    return _figure_of(left)


def plot_motifs(
    motifs: Sequence[Motif],
    data: object,
    *,
    top: int = 3,
    fig: Figure | None = None,
    max_lines: int = 50,
    count: int = 3,
) -> Figure:
    """Draw the best motifs of a run, one row each (:func:`plot_motif`).

    Parameters
    ----------
    motifs : Motifs or sequence of Motif
        The motifs, best first, as :func:`zorp_miner.find_motifs` returns them.
    data : array-like, list of array-likes or DataFrame
        The series they were found in.
    top : int, default 3
        How many motifs to draw, from the first.
    fig : matplotlib.figure.Figure, optional
        Where to draw; a new figure by default.
    max_lines, count : int
        As for :func:`plot_matches` and :func:`plot_occurrences`.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on.
    """
    if top < 1:
        raise ValueError(f"top must be at least 1, got {top}")
    shown = list(motifs)[:top]
    if not shown:
        raise ValueError("there are no motifs to plot")
    target = _new_figure((14.0, 0.6 + 4.0 * len(shown))) if fig is None else fig
    rows = target.subfigures(len(shown), 1, squeeze=False)[:, 0]
    for motif, row in zip(shown, rows, strict=True):
        plot_motif(motif, data, fig=row, max_lines=max_lines, count=count)
    if isinstance(motifs, Motifs):
        params = motifs.params
        if isinstance(params, ExactParams):
            settings = (
                f"exact mode, seglen {params.seglen}, alphabet {params.alphabet}, minsup "
                f"{params.minsup:g}, min_len {params.min_len}"
            )
        else:
            length = "found" if params.length is None else f"{params.length} points"
            settings = f"robust mode, length {length}, minsup {params.minsup:g}"
        which = (
            f"The {'motif' if motifs.found == 1 else f'{len(shown)} motifs'} found"
            if len(shown) == motifs.found
            else f"The best {len(shown)} of {motifs.found} motifs"
        )
        target.suptitle(
            f"{which} in {motifs.series_count} series ({settings})", fontsize="large"
        )
    return target


def _mark(motif: Motif) -> str:
    """What the table marks a robust motif: likely, or chance, with its evidence."""
    return f"evidence {motif.evidence:.1f}, {'likely' if motif.likely else 'chance'}"


def _draw_trace(axes: Axes, values: FloatArray) -> None:
    """A series as a line, or, past ENVELOPE_POINTS points, as the band between its lowest and
    highest values in each of ENVELOPE_POINTS / 2 columns (a line of every point would draw a
    solid band, and take long to draw)."""
    if len(values) <= ENVELOPE_POINTS:
        axes.plot(np.arange(len(values)), values, color="0.25", linewidth=0.7)
        return
    columns = ENVELOPE_POINTS // 2
    edges = np.linspace(0, len(values), columns + 1).astype(np.int64)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # a column of missing points
        low = np.array([np.nanmin(values[a:b]) for a, b in zip(edges[:-1], edges[1:])])
        high = np.array([np.nanmax(values[a:b]) for a, b in zip(edges[:-1], edges[1:])])
    axes.fill_between((edges[:-1] + edges[1:]) / 2.0, low, high, color="0.45", linewidth=0.0)


def _new_figure(size: tuple[float, float]) -> Figure:
    require("matplotlib", "plotting")
    from matplotlib.figure import Figure

    return Figure(figsize=size, layout="constrained")


def _axes(ax: Axes | None, size: tuple[float, float]) -> Axes:
    if ax is not None:
        return ax
    axes: Axes = _new_figure(size).subplots()
    return axes


def _figure_of(axes: Axes) -> Figure:
    figure = axes.get_figure(root=True)
    assert figure is not None
    return figure


def _normalised(data: object, motif: Motif) -> list[FloatArray]:
    """The series z-normalised as the miner saw them; checks the motif belongs to them."""
    series = as_series_set(data)
    if motif.support and int(motif.series.max()) >= len(series):
        raise ValueError(
            f"the motif occurs in series {int(motif.series.max())}, but data has only "
            f"{len(series)} series: pass the data the motif was found in"
        )
    # Missing points (NaN) are skipped, and left as gaps in the lines.
    return [znormalised_finite(one) for one in series]


def _window(values: FloatArray, start: int, length: int) -> FloatArray:
    window = np.full(length, np.nan)
    part = values[start : start + length]
    window[: len(part)] = part
    return window


def _sample(total: int, most: int) -> list[int]:
    """At most `most` indices out of `total`, evenly spread, first and last included."""
    if total <= most:
        return list(range(total))
    return sorted({int(round(i)) for i in np.linspace(0, total - 1, most)})


def _lane_height(series: list[FloatArray]) -> float:
    """The height of a lane: the widest span of the series, with room for the label above."""
    spans = [np.nanmax(one) - np.nanmin(one) for one in series if np.isfinite(one).any()]
    return 1.3 * max(spans, default=1.0) if spans and max(spans) > 0 else 1.0


def axes_bottom(chosen: Sequence[int], lane: float) -> float:
    """The lower end of the lanes: the centre of the last lane, half a lane down."""
    return -(len(chosen) - 0.5) * lane


def _middle(values: FloatArray) -> float:
    """The middle of a series' range (0 when it holds no number)."""
    present = values[np.isfinite(values)]
    return float(present.max() + present.min()) / 2.0 if len(present) else 0.0


def _by_distance(motif: Motif, count: int) -> tuple[list[int], dict[int, str]]:
    """count series of the motif spread evenly over the distances of their best matches, the
    closest first (the best, the median and the worst for 3), and which each is."""
    order = np.argsort(motif.distances, kind="stable")
    places = _sample(motif.support, count)
    chosen = [int(motif.series[order[i]]) for i in places]
    names = {chosen[0]: "the best", chosen[-1]: "the worst"}
    if len(chosen) == 3:
        names[chosen[1]] = "the median"
    return chosen, names


def _match_label(motif: Motif, series: int, start: int, rank: str | None) -> str:
    """The text over a series' lane: its best match's start and distance, and where that
    distance ranks."""
    at = int(np.flatnonzero(motif.series == series)[0])
    if motif.exclusion is not None:
        pair = sorted(motif.best_matches[:2].tolist())
        return f"the pair at {pair[0]} and {pair[1]}, distance {motif.score:.3f}"
    text = f"best match at {start}, distance {motif.distances[at]:.3f}"
    return f"{text} ({rank} of {motif.support})" if rank else text



def _short(pattern: str, most: int = 20) -> str:
    return pattern if len(pattern) <= most else pattern[: most - 3] + "..."


def plot_search(
    matches: Matches,
    data: object,
    *,
    ax: Axes | None = None,
    series: int | None = None,
    labels: int = 10,
) -> Figure:
    """Draw one series with the matches of a search by example shaded, and the query laid
    over each match (scaled to the match's mean and deviation, as the distance compares them).

    Parameters
    ----------
    matches : Matches
        What :func:`zorp_miner.find_matches` returned for ``data``.
    data : array-like, list of array-likes or DataFrame
        The series searched, in any form :func:`zorp_miner.find_matches` takes.
    ax : matplotlib.axes.Axes, optional
        Where to draw; a new figure by default.
    series : int, optional
        The series to draw (by position in ``data``); by default that of the best match
        (series 0 when nothing matched).
    labels : int, default 10
        The most matches whose rank and distance are written over them, the closest first.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on.
    """
    values = as_series_set(data)
    if [len(one) for one in values] != matches.series_lengths.tolist():
        raise ValueError(
            f"data has {len(values)} series of other lengths than the {matches.series_count} "
            "searched: pass the data the matches were found in"
        )
    chosen = (int(matches.series[0]) if len(matches) else 0) if series is None else int(series)
    if not 0 <= chosen < len(values):
        raise ValueError(f"series {chosen} is not in data, which has {len(values)} series")
    if labels < 0:
        raise ValueError(f"labels must be 0 or more, got {labels}")
    trace = values[chosen]
    axes = _axes(ax, (10.0, 3.6))
    axes.plot(np.arange(len(trace)), trace, color="0.55", linewidth=0.7, label=f"series {chosen}")
    here = np.flatnonzero(matches.series == chosen)
    shape = znormalised(matches.query)
    m = matches.length
    offsets = np.arange(m)
    for number, at in enumerate(here.tolist()):
        start = int(matches.starts[at])
        window = trace[start : start + m]
        axes.axvspan(
            start,
            start + m - 1,
            color=OCCURRENCE,
            alpha=0.25,
            linewidth=0,
            label=None,
        )
        axes.plot(
            start + offsets[: len(window)],
            window,
            color=MATCH,
            linewidth=1.2,
            label=None if number else "match",
        )
        axes.plot(
            start + offsets,
            shape * np.nanstd(window) + np.nanmean(window),
            color=REPRESENTATIVE,
            linewidth=1.0,
            linestyle="--",
            label=None if number else "query, scaled to the window",
        )
        if number < labels:
            axes.annotate(
                f"#{at + 1}: {matches.distances[at]:.3f}",
                (start + m / 2, float(np.max(window))),
                xytext=(0, 4),
                textcoords="offset points",
                ha="center",
                fontsize="small",
            )
    held = len(np.unique(matches.series))
    shown = f"{len(here)} of its {len(matches)} matches" if held > 1 else f"{len(here)} matches"
    axes.set_title(
        f"Query of {m} points: {shown} in series {chosen} (max distance "
        f"{matches.max_distance:.3g})",
        loc="left",
    )
    axes.set_xlabel("time (points)")
    axes.set_xlim(0, max(len(trace) - 1, 1))
    low_y, high_y = axes.get_ylim()
    axes.set_ylim(low_y, high_y + 0.2 * (high_y - low_y))  # room for the labels and legend
    axes.legend(loc="best", ncols=3, fontsize="small", framealpha=0.9)
    return _figure_of(axes)
