"""The methods the quality benchmark compares: a registry of named callables.

Each method takes the series, the length L given for the set (points), the set's minsup and how
many motifs to return, and gives its motifs best first, each as the window it reports in each
series (see scoring.py). The rules, the same for every set (nothing tuned per set or on the
ground truth):

- robust: ``zorp_miner.find_motifs(series, length=L, minsup=minsup, top=top)``;
- robust-nolength: the same with ``length=None`` (the run proposes lengths);
- exact: ``zorp_miner.find_motifs(series, mode="exact", seglen=max(1, L // 8),
  minsup=minsup, top=top)``, other settings at their defaults (alphabet 7): the planted length
  is 8 letters;
- stumpy: STUMPY's ``ostinato(series, L)``, then ``stumpy.mass`` of its consensus window
  against every series, whose nearest neighbour is that series' match; one motif; its numba
  compilation is done before the first timed call;
- random: one random window of L points per series (generator seeded with 7); one motif.

To compare a variant, register it (e.g. in run.py, or from a script that imports this module
before calling ``run.main``)::

    register(Method("robust-all", lambda s, L, minsup, top: motif_matches(
        zorp_miner.find_motifs(s, length=L, minsup=minsup, top=top, keep="all"))))

``cached`` methods are peers whose results do not change with this branch's robust mode:
run.py keeps their results on disk (build/quality-cache/) and computes them once per set.
``ranked`` methods return several motifs and also run in the two-shape section.
"""

from __future__ import annotations

import dataclasses
import importlib
from collections.abc import Callable
from typing import Any

import numpy as np
import zorp_miner
from labelled_data import FloatArray
from scoring import Matches

Runner = Callable[[list[FloatArray], int, float, int], list[Matches]]


@dataclasses.dataclass(frozen=True)
class Method:
    """A named method: run(series, length, minsup, top) -> motifs, best first."""

    name: str
    run: Runner
    cached: bool = False
    ranked: bool = True
    warm_up: Callable[[], None] | None = None


METHODS: dict[str, Method] = {}


def register(method: Method) -> None:
    """Add a method to the registry (a name may be registered once)."""
    if method.name in METHODS:
        raise ValueError(f"a method named {method.name!r} is already registered")
    if not method.name or "," in method.name or "/" in method.name:
        raise ValueError(f"a method name is a non-empty word without ',' or '/', got {method.name!r}")
    METHODS[method.name] = method


def motif_matches(motifs: zorp_miner.Motifs) -> list[Matches]:
    """Each motif's best match in each series it holds, with the motif's length."""
    return [
        {
            i: (start, motif.length)
            for i, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True)
        }
        for motif in motifs
    ]


def robust(series: list[FloatArray], length: int, minsup: float, top: int) -> list[Matches]:
    return motif_matches(zorp_miner.find_motifs(series, length=length, minsup=minsup, top=top))


def robust_nolength(series: list[FloatArray], length: int, minsup: float, top: int) -> list[Matches]:
    return motif_matches(zorp_miner.find_motifs(series, minsup=minsup, top=top))


def exact_seglen(length: int) -> int:
    """The exact mode's seglen rule: the length given is 8 letters."""
    return max(1, length // 8)


def exact(series: list[FloatArray], length: int, minsup: float, top: int) -> list[Matches]:
    return motif_matches(
        zorp_miner.find_motifs(
            series, mode="exact", seglen=exact_seglen(length), minsup=minsup, top=top
        )
    )


def stumpy() -> Any:
    return importlib.import_module("stumpy")


def stumpy_consensus(series: list[FloatArray], length: int, minsup: float, top: int) -> list[Matches]:
    _, owner, start = stumpy().ostinato(series, length)
    window = series[owner][start : start + length]
    return [
        {i: (int(np.argmin(stumpy().mass(window, values))), length) for i, values in enumerate(series)}
    ]


def warm_up_stumpy() -> None:
    """Compile STUMPY's numba functions (before any timed call)."""
    rng = np.random.default_rng(0)
    stumpy().ostinato([rng.normal(size=200) for _ in range(3)], 24)
    stumpy().mass(rng.normal(size=24), rng.normal(size=200))


def random_window(series: list[FloatArray], length: int, minsup: float, top: int) -> list[Matches]:
    rng = np.random.default_rng(7)
    return [{i: (int(rng.integers(0, len(values) - length + 1)), length) for i, values in enumerate(series)}]


register(Method("robust", robust))
register(Method("robust-nolength", robust_nolength))
register(Method("exact", exact, cached=True))
register(Method("stumpy", stumpy_consensus, cached=True, ranked=False, warm_up=warm_up_stumpy))
register(Method("random", random_window, cached=True, ranked=False))
