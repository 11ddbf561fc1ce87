"""The candidates a robust search refines: windows of a few seed series and shapes proposed by
frequent words, screened on averaged series by their closest matches, and those that gain most
over a null (`chosen_seeds`). The method: docs/robust.md."""

import math

import numpy as np
import numpy.typing as npt

from zorp_miner import _native
from zorp_miner._types import FloatArray, IntArray
from zorp_miner.compute.evidence import core_means, gains, segment_points
from zorp_miner.compute.shapes import paa
from zorp_miner.compute.sliding import znormalised
from zorp_miner.robust.rules import (
    ALPHABETS,
    FIRST_SCREEN_KEPT,
    FIRST_SCREEN_SERIES,
    GAINED,
    GAIN_SERIES,
    MONOTONE,
    PROPOSALS,
    PROPOSAL_LETTERS,
    PROPOSAL_SUPPORT,
    SCREENED,
    SCREEN_NULL,
    SCREEN_POINTS,
    SEED_MISS,
    SEED_POINTS,
    SEED_WINDOWS,
)
from zorp_miner.robust.store import RobustStore
from zorp_miner.robust.tasks import SERIES, Null


def seed_count(minsup: float, available: int) -> int:
    """Seed series needed so that a shape held by minsup of the series is in at least one of
    them with probability 1 - SEED_MISS (at least 2), at most the available ones."""
    if minsup >= 1.0:
        return min(available, 2)
    # A minsup near 0 asks for more seeds than any set holds (or than a float counts): all.
    needed = math.log(SEED_MISS) / math.log1p(-minsup)
    if not needed < available:
        return available
    return min(available, max(2, math.ceil(needed)))


def chosen_seeds(
    store: RobustStore, m: int, sample: IntArray, core: int, minsup: float, refined: int, null: Null
) -> FloatArray:
    """The candidates chosen for refinement (steps 1 and 2), z-normalised, (C, m): windows of
    the seed series and the shapes proposed by frequent words, screened together."""
    usable = [int(i) for i in sample.tolist() if store.lengths[i] >= m]
    seeds = usable[: seed_count(minsup, len(usable))]
    if not seeds:
        return np.zeros((0, m))
    factor = max(1, m // SEED_POINTS)
    points = m // factor
    values = store.windows([(i, 0, int(store.lengths[i])) for i in seeds], null=null)
    owners, firsts, shapes = coarse_windows(values, factor, points)
    proposed, _ = proposals(
        store, m, PROPOSAL_LETTERS, PROPOSAL_SUPPORT * len(sample), PROPOSALS, rows=sample, null=null
    )
    coarse = [znormalised(paa(shape, factor)[:points]) for shape in proposed]
    shapes = np.concatenate([shapes, np.stack(coarse)]) if coarse else shapes
    if len(shapes) == 0:
        return np.zeros((0, m))
    scores, best = screened_scores(store, points, factor, shapes, sample, core, minsup, refined, null)
    # The best of them screened again, on series averaged over fewer points; and those that
    # gain most over a null, which the closest matches alone pass over where chance shapes
    # match closely everywhere (smooth humps in long walks).
    kept = [k for k in np.lexsort((np.arange(len(scores)), scores))[: SCREENED * refined].tolist() if np.isfinite(scores[k])]
    gained = most_gaining(store, m, points, factor, shapes, best, sample, minsup, set(kept))
    candidates: list[FloatArray] = []
    by_gain: list[bool] = []
    for k in [*kept, *gained]:
        if k < len(owners):
            window = values[owners[k]][firsts[k] : firsts[k] + m]
            shape = znormalised(window) if len(window) == m and np.all(np.isfinite(window)) else None
        else:
            shape = proposed[k - len(owners)]
        if shape is not None and shape.any():
            candidates.append(shape)
            by_gain.append(k not in kept)
    if not candidates:
        return np.zeros((0, m))
    factor = max(1, m // SCREEN_POINTS)
    points = m // factor
    starts, best = store.best(
        points, np.stack([znormalised(paa(shape, factor)[:points]) for shape in candidates]),
        factor=factor, rows=sample, null=null,
    )
    scores = core_means(best, core)

    def places_of(k: int) -> FloatArray:
        """The places (points) of candidate k's core matches, NaN in the other series."""
        places = np.full(len(sample), np.nan)
        closest = np.argsort(best[k], kind="stable")[:core]
        places[closest] = starts[k][closest] * factor
        return places

    chosen = np.zeros((0, len(sample)))
    windows: list[FloatArray] = []
    for k in np.lexsort((np.arange(len(scores)), scores)).tolist():
        if len(windows) == refined or not np.isfinite(scores[k]):
            break
        places = places_of(k)
        if not by_gain[k] and not coincides(places, chosen, m):
            chosen = np.vstack([chosen, places])
            windows.append(candidates[k])
    # Then up to GAINED of those chosen by their gain, in its order, each unless its matches
    # coincide with those of a candidate taken before.
    added = 0
    for k in range(len(candidates)):
        if added == GAINED:
            break
        if by_gain[k] and np.isfinite(scores[k]):
            places = places_of(k)
            if not coincides(places, chosen, m):
                chosen = np.vstack([chosen, places])
                windows.append(candidates[k])
                added += 1
    return np.stack(windows) if windows else np.zeros((0, m))


def screened_scores(
    store: RobustStore,
    points: int,
    factor: int,
    shapes: FloatArray,
    sample: IntArray,
    core: int,
    minsup: float,
    refined: int,
    null: Null,
) -> tuple[FloatArray, FloatArray]:
    """The screen of the seeds' and proposals' shapes (rows of shapes, at points blocks of
    factor points): each one's mean distance over its core closest series of the sample (inf
    for a shape not screened there), and its best distances in the first columns of the
    sample, GAIN_SERIES at least (for `most_gaining`).

    Where the shapes are many and the sample large, they are screened in two passes: all of
    them in the first FIRST_SCREEN_SERIES series of the sample, then the FIRST_SCREEN_KEPT x
    SCREENED x refined closest there (their core's mean over ceil(minsup x those series)) in
    the whole sample. The screen keeps SCREENED x refined of them, so the first pass only has to
    keep those a mean over all the series would keep; it costs a fraction of the products."""
    wanted = FIRST_SCREEN_KEPT * SCREENED * refined
    first = sample[:FIRST_SCREEN_SERIES]
    if len(shapes) <= wanted or len(first) == len(sample):
        _, best = store.best(points, shapes, factor=factor, rows=sample, null=null, starts=False)
        return core_means(best, core), best
    _, best = store.best(points, shapes, factor=factor, rows=first, null=null, starts=False)
    coarse = core_means(best, max(1, math.ceil(minsup * len(first))))
    order = np.lexsort((np.arange(len(coarse)), coarse))[:wanted]
    chosen = np.sort(order[np.isfinite(coarse[order])])
    scores = np.full(len(shapes), np.inf)
    if len(chosen):
        _, whole = store.best(points, shapes[chosen], factor=factor, rows=sample, null=null, starts=False)
        scores[chosen] = core_means(whole, core)
    return scores, best


def most_gaining(
    store: RobustStore,
    m: int,
    points: int,
    factor: int,
    shapes: FloatArray,
    best: FloatArray,
    sample: IntArray,
    minsup: float,
    taken: set[int],
) -> list[int]:
    """The screened shapes (rows of shapes, at points blocks of factor points, with their
    distances best in the sample's series) that gain most over a null, best first: the mean of
    the ceil(minsup x G) closest best matches of each in the null (draw SCREEN_NULL) of the
    first G = GAIN_SERIES series of the sample less that in the series themselves. 4 x GAINED of
    them at most, none of taken. The series search and the null's search choose theirs alike,
    against the same null, so that the evidence still weighs what the null's search finds."""
    columns = np.arange(min(GAIN_SERIES, len(sample)))
    core = max(1, math.ceil(minsup * len(columns)))
    _, in_null = store.best(
        points, shapes, factor=factor, rows=sample[columns], null=(segment_points(m), SCREEN_NULL), starts=False
    )
    gain = gains(best[:, columns], in_null, core)
    order = np.lexsort((np.arange(len(gain)), -np.where(np.isfinite(gain), gain, -np.inf)))
    return [k for k in order.tolist() if np.isfinite(gain[k]) and k not in taken][: 4 * GAINED]


def coarse_windows(values: list[FloatArray], factor: int, points: int) -> tuple[IntArray, IntArray, FloatArray]:
    """The seeds' windows of points blocks of factor points, z-normalised: their seed (index
    into values), their start (points) and their shapes; windows with a NaN or flat are left
    out, and at most SEED_WINDOWS are taken, evenly strided."""
    owners, firsts, rows = [], [], []
    for k, series in enumerate(values):
        coarse = paa(series, factor)
        if len(coarse) < points:
            continue
        views = np.lib.stride_tricks.sliding_window_view(coarse, points)
        centred = views - views.mean(axis=1, keepdims=True)
        deviation = np.sqrt((centred * centred).mean(axis=1))
        scale = np.max(np.abs(centred), axis=1)
        good = np.isfinite(deviation) & (deviation > 1e-6 * np.where(scale > 0, scale, 1.0))
        good &= deviation > 0.0
        index = np.flatnonzero(good)
        owners.append(np.full(len(index), k, np.int64))
        firsts.append(index * factor)
        rows.append(centred[index] / deviation[index, None])
    if not rows:
        return np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros((0, points))
    owner, first, shape = np.concatenate(owners), np.concatenate(firsts), np.concatenate(rows)
    stride = max(1, -(-len(shape) // SEED_WINDOWS))
    return owner[::stride], first[::stride], np.ascontiguousarray(shape[::stride])


def coincides(places: FloatArray, chosen: FloatArray, m: int) -> bool:
    """Whether, in most of the series in which both have a place (points, NaN for none), a
    candidate's best matches share half the length m with those of a row of chosen."""
    if len(chosen) == 0:
        return False
    shared = np.isfinite(chosen) & np.isfinite(places)[None, :]
    with np.errstate(invalid="ignore"):
        close = shared & (np.abs(chosen - places[None, :]) <= m // 2)
    count = shared.sum(axis=1)
    return bool(np.any((count > 0) & (2 * close.sum(axis=1) > count)))


def proposals(
    store: RobustStore,
    m: int,
    letters: int,
    wanted: float,
    count: int,
    alphabets: tuple[int, ...] = ALPHABETS,
    *,
    rows: IntArray | None = None,
    null: Null = SERIES,
) -> tuple[FloatArray, list[str]]:
    """Up to count shapes proposed by frequent words, split evenly over the alphabets, from
    the windows of the series of rows (every series when None), or of their null.

    The keys are counted part by part and added up; their ranking, the sums of their windows'
    means and each key's medoid are the native module's steps (``_native.ranked_keys``,
    ``sum_members``, ``nearest_members``), whose results add up over parts, exactly, to what
    one part holding every window gives; see the module's description.
    """
    shapes: list[FloatArray] = []
    names: list[str] = []
    tables = store.key_counts(m, letters, alphabets, rows=rows, null=null)
    for alphabet, merged in zip(alphabets, tables):
        projections, keys = _native.ranked_keys(merged, wanted)
        for word, window in medoids(store, m, letters, alphabet, projections, keys, count // len(alphabets), rows, null):
            shapes.append(znormalised(window))
            names.append(word)
    return (np.stack(shapes) if shapes else np.zeros((0, m))), names


def medoids(
    store: RobustStore,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    count: int,
    rows: IntArray | None,
    null: Null,
) -> list[tuple[str, FloatArray]]:
    """The proposals of the ranked keys: each key whose windows no earlier key held proposes
    its medoid unless that is monotone, until count, taken a batch of keys at a time (one pass
    over the parts per batch). Each as its word and its window."""
    proposals: list[tuple[str, FloatArray]] = []
    seen: set[tuple[int, int, int]] = set()
    batch = max(64, 2 * count)
    for first in range(0, len(keys), batch):
        if len(proposals) >= count:
            break
        chosen = (projections[first : first + batch], keys[first : first + batch])
        counts, prints, averages = store.member_averages(m, letters, alphabet, *chosen, rows=rows, null=null)
        nearest = store.nearest_members(m, letters, alphabet, *chosen, averages, rows=rows, null=null)
        fresh: list[int] = []
        for e in range(len(counts)):
            identity = (int(counts[e]), int(prints[e, 0]), int(prints[e, 1]))
            if identity not in seen:
                seen.add(identity)
                fresh.append(e)
        places = [(nearest[e][0], nearest[e][1], nearest[e][1] + m) for e in fresh]
        windows_at = dict(zip(fresh, store.windows(places, null=null)))
        for e in fresh:
            if len(proposals) >= count:
                break
            shape = _native.znormalised(windows_at[e])
            if _native.monotone_share(shape) > MONOTONE:
                continue
            proposals.append((nearest[e][2], windows_at[e]))
    return proposals
