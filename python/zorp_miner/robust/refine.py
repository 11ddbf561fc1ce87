"""One robust search at one length: its candidates refined until their closest matches stay,
each by averaging the matches at the shift at which they agree best (`refined_search`,
`realigned_each`), and the shapes of shorter searches grown to the length. The method:
docs/robust.md."""

from typing import cast

import numpy as np
import numpy.typing as npt

from zorp_miner._types import FloatArray, IntArray
from zorp_miner.compute.shapes import monotone_share
from zorp_miner.compute.sliding import znormalised
from zorp_miner.robust.rules import LENGTH_STEP, MONOTONE, NEAR_SEED, REFINEMENTS, SHORTEST
from zorp_miner.robust.candidates import chosen_seeds
from zorp_miner.robust.store import Candidates, RobustStore, as_store
from zorp_miner.robust.tasks import SERIES, Null, shifts


def refined_search(
    store: RobustStore,
    m: int,
    sample: IntArray,
    core: int,
    minsup: float,
    refined: int,
    null: Null,
    *,
    grow: bool,
) -> Candidates:
    """Seeds, choice and refinement (steps 1 to 3 of the module's description) on the sample's
    series, or on a null of them; with ``grow``, the shapes of the searches at the shorter
    lengths (`shorter_lengths`) grown to m are refined with the seeds. Each search is made once
    per store (kept for the lengths that grow it)."""
    key = (m, core, refined, null, grow)
    held = store.searches.get(key)
    if held is not None:
        return held
    shapes = chosen_seeds(store, m, sample, core, minsup, refined, null)
    if grow:
        grown = grown_shapes(store, m, sample, core, minsup, refined, null)
        shapes = np.concatenate([shapes, grown]) if len(grown) else shapes
    empty = Candidates(np.zeros((0, m)), np.zeros((0, len(sample)), np.int64), np.zeros((0, len(sample))))
    if len(shapes) == 0:
        store.searches[key] = empty
        return empty
    shapes = np.array(shapes, dtype=np.float64)
    refining = np.arange(len(shapes))
    last: list[frozenset[tuple[int, int]]] = [frozenset()] * len(shapes)
    # Each shape's best matches as it is now (None once it is realigned): a shape that stays
    # is not matched again at the end.
    known: list[tuple[IntArray, FloatArray] | None] = [None] * len(shapes)
    near_seeds, near_known = shapes, known
    for step in range(REFINEMENTS):
        if step == NEAR_SEED:
            near_seeds = shapes.copy()
        starts, best = store.best(m, shapes[refining], rows=sample, null=null)
        for k, c in enumerate(refining.tolist()):
            known[c] = (starts[k], best[k])
        if step == NEAR_SEED:
            near_known = list(known)
        cores = [closest(row, core) for row in best]
        groups = [(starts[k][chosen], sample[chosen]) for k, chosen in enumerate(cores)]
        # A shape whose closest matches are those it was averaged from is their average
        # already: refining it again gives it back, so it is done.
        places = [frozenset(zip(members.tolist(), at.tolist())) for at, members in groups]
        moved = [k for k, c in enumerate(refining.tolist()) if places[k] != last[c]]
        if not moved:
            break
        for k in moved:
            last[refining[k]] = places[k]
        refining = refining[moved]
        shapes[refining] = np.stack(realigned_each(store, [groups[k] for k in moved], m, null=null))
        for c in refining.tolist():
            known[c] = None
    # Refined until its matches stay, a shape can drift from what its seed held towards what
    # the closest series share most (in walks, their smooth humps); the shape of the first
    # NEAR_SEED refinements stays a candidate too, and the evidence judges both.
    drifted = [c for c in range(len(shapes)) if not np.array_equal(near_seeds[c], shapes[c])]
    matched = [*known, *(near_known[c] for c in drifted)]
    shapes = np.concatenate([shapes, near_seeds[drifted]])
    kept = [c for c in range(len(shapes)) if monotone_share(shapes[c]) <= MONOTONE]
    found = empty
    if kept:
        shapes, matched = shapes[kept], [matched[c] for c in kept]
        missing = [k for k, rows in enumerate(matched) if rows is None]
        if missing:
            starts, best = store.best(m, shapes[missing], rows=sample, null=null)
            for k, row in enumerate(missing):
                matched[row] = (starts[k], best[k])
        rows = cast(list[tuple[IntArray, FloatArray]], matched)
        found = Candidates(shapes, np.stack([r[0] for r in rows]), np.stack([r[1] for r in rows]))
    store.searches[key] = found
    return found


def length_grid(longest: int) -> list[int]:
    """SHORTEST, LENGTH_STEP times that, ... (rounded, points), up to longest."""
    lengths: list[int] = []
    size = float(SHORTEST)
    while round(size) <= longest:
        lengths.append(int(round(size)))
        size *= LENGTH_STEP
    return lengths


def shorter_lengths(m: int) -> list[int]:
    """The lengths (points) searched without a length that are shorter than m and at least a
    quarter of it: the searches whose shapes a window of m points holds, with their context.
    Their shapes are grown to m and refined with m's own candidates, so that a length given
    does not lose what the search without a length finds at it."""
    return [points for points in length_grid(m - 1) if 4 * points >= m]


def grown_shapes(
    store: RobustStore, m: int, sample: IntArray, core: int, minsup: float, refined: int, null: Null
) -> FloatArray:
    """The refined shapes of the searches at the shorter lengths, each grown to m points: the
    average of the windows of m points centred on its matches in its ceil(minsup x S) closest
    series, at the common shift at which they agree best (`realigned_each`). (C, m)."""
    groups: list[tuple[IntArray, IntArray]] = []
    for points in shorter_lengths(m):
        found = refined_search(store, points, sample, core, minsup, refined, null, grow=False)
        for c in range(len(found.shapes)):
            chosen = closest(found.best[c], core)
            members = sample[chosen]
            room = np.maximum(store.lengths[members] - m, 0)
            starts = np.clip(found.starts[c][chosen] + points // 2 - m // 2, 0, room)
            keep = store.lengths[members] >= m
            if keep.any():
                groups.append((starts[keep].astype(np.int64), members[keep]))
    if not groups:
        return np.zeros((0, m))
    shapes = [shape for shape in realigned_each(store, groups, m, null=null) if shape.any()]
    return np.stack(shapes) if shapes else np.zeros((0, m))


def closest(best: FloatArray, size: int) -> IntArray:
    """The size columns with the smallest best-match distances (ties: the first), less those
    without a match (no window whole and not flat: refining averages whole windows only)."""
    order = np.argsort(best, kind="stable")[:size]
    matched = order[np.isfinite(best[order])]
    return matched if len(matched) else order


def realigned(
    series: list[FloatArray] | RobustStore, starts: IntArray, members: IntArray, m: int
) -> FloatArray:
    """Average of the members' windows after the common shift that makes them agree best.

    Shifts of -m/2 to m/2 points (the multiples of m // 32, 0 among them) are tried; agreement
    is the squared norm of the mean z-normalised window per point (1 when all are the same
    shape). Shifts that run a window
    off its series, onto a NaN or a flat stretch, or whose average is monotone, are skipped;
    among equal agreements the smallest shift wins.
    """
    return realigned_each(as_store(series), [(starts, members)], m)[0]


def realigned_each(
    store: RobustStore, groups: list[tuple[IntArray, IntArray]], m: int, *, null: Null = SERIES
) -> list[FloatArray]:
    """`realigned` for each (starts, members) of groups, in one pass over the parts (over the
    null's series with ``null``, their segment length).

    The parts add up their members' z-normalised windows at every shift in fixed point
    (`RobustStore.realignment_means`), so that only one mean per group and shift reaches this
    process, and it is exact: the same whatever the parts and the order of the members.
    """
    return [
        realigned_shape(centres, valid, m)
        for centres, valid in store.realignment_means(groups, m, null=null)
    ]


def realigned_shape(centres: FloatArray, valid: npt.NDArray[np.bool_], m: int) -> FloatArray:
    """`realigned` from the members' mean z-normalised windows at every shift (see
    `tasks.realignment_task`) and whether every member's window is usable there."""
    agreement = np.where(valid, np.einsum("ij,ij->i", centres, centres) / m, -1.0)
    moves = shifts(m)[: len(agreement)]
    for j in np.lexsort((np.abs(moves), -agreement)).tolist():
        if agreement[j] < 0.0:
            break
        if monotone_share(centres[j]) <= MONOTONE:
            return znormalised(centres[j])
    unshifted = len(shifts(m)) // 2
    return znormalised(centres[unshifted] if len(centres) > unshifted else np.zeros(m))
