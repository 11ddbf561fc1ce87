"""Drawing discords over the series they were found in (matplotlib, the ``plot`` extra), as
:mod:`zorp_miner.plot` draws motifs: on the figure given, or a new one, which is returned."""

from __future__ import annotations

from typing import TYPE_CHECKING

import numpy as np

from zorp_miner.compute.sliding import znormalised_finite
from zorp_miner.discords import Discords
from zorp_miner.io.inputs import as_series_set
from zorp_miner.plot import MATCH, _draw_trace, _new_figure

if TYPE_CHECKING:
    from matplotlib.figure import Figure

DISCORD = "tab:red"


def plot_discords(discords: Discords, data: object, *, fig: Figure | None = None, labels: int = 10) -> Figure:
    """Draw the series of the farthest discord with every discord in it shaded (red) and its
    nearest neighbour (blue), and below, each of the first three discords beside its nearest
    neighbour, both z-normalised: how far apart they are is what the distance says.

    Parameters
    ----------
    discords : Discords
        What :func:`zorp_miner.find_discords` returned for ``data``.
    data : array-like, list of array-likes or DataFrame
        The series searched.
    fig : matplotlib.figure.Figure, optional
        Where to draw; a new figure by default.
    labels : int, default 10
        The most discords whose rank and distance are written over them.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on.
    """
    series = as_series_set(data)
    if [len(one) for one in series] != discords.series_lengths.tolist():
        raise ValueError(
            f"data has {len(series)} series of other lengths than the {len(discords.series_lengths)} "
            "searched: pass the data the discords were found in"
        )
    if labels < 0:
        raise ValueError(f"labels must be 0 or more, got {labels}")
    figure = _new_figure((10.0, 5.4)) if fig is None else fig
    shown = min(3, len(discords))
    grid = figure.subplots(2, max(1, shown), height_ratios=[1.3, 1], squeeze=False)
    top = figure.add_subplot(grid[0, 0].get_gridspec()[0, :])
    for axes in grid[0]:
        axes.remove()
    chosen = int(discords.series[0]) if len(discords) else 0
    values = series[chosen]
    _draw_trace(top, values)
    m = discords.length
    for k in range(len(discords)):
        for s, start, colour in (
            (discords.series[k], discords.starts[k], DISCORD),
            (discords.neighbour_series[k], discords.neighbour_starts[k], MATCH),
        ):
            if int(s) == chosen:
                top.axvspan(int(start), int(start) + m - 1, color=colour, alpha=0.3, linewidth=0)
        if discords.series[k] == chosen and k < labels:
            top.annotate(
                f"#{k + 1}: {discords.distances[k]:.3f}",
                (int(discords.starts[k]) + m / 2, float(np.nanmax(values))),
                ha="center",
                fontsize="small",
            )
    where = "" if discords.within else f" (series {chosen})"
    top.set_title(
        f"{len(discords)} discords of {m} points{where}: red each discord, blue its nearest neighbour",
        loc="left",
    )
    top.set_xlabel("time (points)")
    for k in range(shown):
        axes = grid[1, k]
        for s, start, colour, name in (
            (discords.series[k], discords.starts[k], DISCORD, "discord"),
            (discords.neighbour_series[k], discords.neighbour_starts[k], MATCH, "nearest"),
        ):
            window = znormalised_finite(series[int(s)][int(start) : int(start) + m])
            axes.plot(np.arange(len(window)), window, color=colour, linewidth=1.0, label=f"{name} {s}:{start}")
        axes.set_title(f"#{k + 1}: distance {discords.distances[k]:.3f}", loc="left", fontsize="small")
        axes.legend(fontsize="x-small", loc="best")
    if shown == 0:
        grid[1, 0].set_axis_off()
    return figure
