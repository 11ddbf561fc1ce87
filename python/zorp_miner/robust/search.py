"""The robust search across a set: the motifs of one length (`discover_length`: a search in
the series and one in their null, the evidence, the series that hold each motif), and without a
length the lengths searched, merged, and searched again at their extent (`discover`). The method,
step by step, and the rules it keeps: docs/robust.md."""

import math

import numpy as np

from zorp_miner import progress as _progress
from zorp_miner._types import FloatArray
from zorp_miner.cluster.parts import Parts
from zorp_miner.compute.evidence import core_means, evidences, gains, segment_points, unmeasured
from zorp_miner.compute.shapes import pattern_name, unit_scaled
from zorp_miner.compute.sliding import znormalised_finite
from zorp_miner.params import INT32_MAX, MINSUP_DEFAULT, Keep, RealNumber, WholeNumber, robust_params, whole_number
from zorp_miner.robust.rules import EXTENT_REST, PHASES, SHORTEST, TRIMMED
from zorp_miner.robust.motifs import Found, held_bar, merged, ordered, rank, same_motif, same_places, why_not_likely
from zorp_miner.robust.refine import length_grid, refined_search
from zorp_miner.robust.store import RobustStore, as_store
from zorp_miner.robust.tasks import SERIES, Null


def discover(
    series: list[FloatArray] | Parts | RobustStore,
    *,
    length: WholeNumber | None = None,
    minsup: RealNumber = MINSUP_DEFAULT,
    top: WholeNumber | None = 3,
    keep: Keep = "all",
    refined: WholeNumber = 24,
) -> list[Found]:
    """The motifs shared by a set of series, likely ones first (the longest first), then the
    most evident.

    Parameters
    ----------
    series : list of 1-D float64 arrays, or Parts
        The series, of any lengths; NaN marks missing points (windows holding one never match).
        Or a set held in parts (``zorp_miner.cluster.parts``), which gives the same motifs.
    length : int or None, default None
        Motif length in points (at least 4). None: lengths proposed from frequent letter
        patterns (see the module's description), the length found is reported per motif.
    minsup : float, default 0.5
        Fraction of the series (0 < minsup <= 1) that must hold a motif; the score averages the
        ceil(minsup x N) closest of them.
    top : int or None, default 3
        The motifs wanted: each search refines max(refined, 2 x top) candidates (``refined``
        when None), and without a length the first max(top, TRIMMED) likely motifs are searched
        again at their extent (TRIMMED when None), so any top up to TRIMMED, or None, gives the
        same motifs. Every distinct motif is returned.
    keep : {"all", "likely"}, default "all"
        "all": every distinct motif, each with its evidence; "likely": only the likely ones.
    refined : int, default 24
        Candidates refined per search (at least 1).

    Returns
    -------
    list of Found
        The motifs, in the order of `rank`; empty when no series has a window of the length.

    Raises
    ------
    TypeError, ValueError
        For a bad argument, as ``zorp_miner.params.robust_params`` raises it.
    """
    length, minsup, top, keep, refined = checked_arguments(length, minsup, top, keep, refined)
    store = as_store(series)
    wanted = refined if top is None else max(refined, 2 * top)
    if length is not None:
        _progress.plan(PHASES)  # progress: the phases of one length
        found = discover_length(store, length, minsup, wanted)
    else:
        lengths = searched_lengths(store)
        ends = TRIMMED if top is None else max(top, TRIMMED)
        # progress: each length's phases, and those of the extents searched again (at most the
        # first `ends` likely motifs and one more): planned at once, so that the total never
        # grows during the run; the extents not searched are done when it ends.
        _progress.plan(PHASES * (len(lengths) + ends + 1))
        # The lengths searched are the shorter lengths of one another: each is searched alone,
        # and the motifs kept are grown to their extent (`searched_at_extent`), which a length given
        # grows from the same searches.
        found = merged(
            [motif for m in lengths for motif in discover_length(store, m, minsup, wanted, grow=False)],
            store.lengths,
        )
        # As many as top when more, never fewer than TRIMMED (ends): a likely motif searched
        # again at its extent can go first, so asking for fewer motifs must not change the
        # first ones.
        # The longest motif that is not likely is searched again too: a grid length does not
        # grow the shorter searches' shapes, and at its own extent, grown from them as a length
        # given would be, a long shape can be likely where its grid length left it short.
        longer = longest_unlikely(found)
        trimmed = sorted(
            [
                searched_at_extent(store, motif, minsup, wanted) if (motif.likely and k < ends) or motif is longer else motif
                for k, motif in enumerate(found)
            ],
            key=rank,
        )
        found = []
        for motif in trimmed:
            if not any(same_motif(motif, other, store.lengths) for other in found):
                found.append(motif)
    return [motif for motif in ordered(found) if keep == "all" or motif.likely]


def longest_unlikely(found: list[Found]) -> Found | None:
    """Of the motifs found without a length, the one not likely that is searched again at its
    extent besides the likely ones: the longest (then the most evident) of those longer than
    every likely motif whose gain beats chance's best (evidence above 0); None when none is.
    Only a motif longer than the likely ones would go before them if it became likely."""
    longest = max((motif.length for motif in found if motif.likely), default=0)
    return max(
        (motif for motif in found if not motif.likely and motif.length > longest and motif.evidence > 0.0),
        key=lambda motif: (motif.length, motif.evidence, -motif.score),
        default=None,
    )


def searched_lengths(store: RobustStore) -> list[int]:
    """The lengths (points) searched without a length: from SHORTEST, each LENGTH_STEP times
    the one before (rounded), up to half the median length of the series."""
    if store.count == 0:
        return []
    return length_grid(int(np.median(store.lengths)) // 2)


def searched_at_extent(store: RobustStore, motif: Found, minsup: float, refined: int) -> Found:
    """A motif found without a length, searched again at the length of its extent (see
    `extent`: over windows twice its length, centred on its matches in the closest series, NaN
    where they run off a series)
    when that differs from its length by more than an eighth: the likely motif found there
    whose matches coincide with its own in most of the series both hold (a part standing at its
    place in fewer is not enough to trade one for the other) and that holds most of its series,
    the most evident of those (the motif as it is when none does: a likely motif is not traded
    for one that is not)."""
    core = max(1, math.ceil(minsup * store.count))
    m = motif.length
    closest = sorted(motif.distances, key=lambda i: (motif.distances[i], i))[:core]
    windows = store.windows([(i, motif.starts[i] - m // 2, motif.starts[i] + m + m // 2) for i in closest])
    if len(windows) < 2:
        return motif
    points = max(SHORTEST, extent(windows))
    if 8 * abs(points - m) <= m or points > int(np.median(store.lengths)) // 2:
        return motif
    again = [
        found
        for found in discover_length(store, points, minsup, refined)
        if found.likely and same_places(found, motif, store.lengths, parts=False)
    ]
    # The one that holds most of the motif's series (a part it shares with another shape
    # holds some of that shape's series instead), the most evident of those.
    return min(again, key=lambda found: (-len(found.starts.keys() & motif.starts.keys()), rank(found)), default=motif)


def extent(windows: list[FloatArray]) -> int:
    """The points over which windows of the same length agree: the shortest span holding all
    but EXTENT_REST of their agreement, the excess over chance of the mean of the windows, each
    z-normalised over its finite points: k mean^2 - 1 at each point, k the windows with a value
    there (0 where below, or where fewer than 2 have one: the mean of k unrelated windows has
    variance 1 / k). The windows' length when they agree nowhere."""
    shapes = np.stack([znormalised_finite(unit_scaled(window)) for window in windows])
    present = np.isfinite(shapes)
    count = present.sum(axis=0)
    total_values = np.where(present, shapes, 0.0).sum(axis=0)
    with np.errstate(invalid="ignore", divide="ignore"):
        excess = np.where(count >= 2, total_values**2 / np.maximum(count, 1) - 1.0, 0.0)
    excess = np.maximum(excess, 0.0)
    total = float(excess.sum())
    if not total > 0.0:
        return int(shapes.shape[1])
    cumulative = np.concatenate([[0.0], np.cumsum(excess)])
    # For each first point, the first end past which the span holds enough.
    ends = np.searchsorted(cumulative, cumulative[:-1] + (1.0 - EXTENT_REST) * total, side="left")
    valid = ends <= len(excess)
    spans = np.where(valid, ends - np.arange(len(excess)), len(excess) + 1)
    return int(max(1, spans.min()))


def checked_arguments(
    length: object, minsup: object, top: object, keep: object, refined: object
) -> tuple[int | None, float, int | None, Keep, int]:
    """The arguments of `discover`, checked by the robust mode's rules (``zorp_miner.params``)
    and converted as they check them (numpy integers to int, minsup to float)."""
    params = robust_params(length=length, minsup=minsup, top=top, keep=keep)
    return params.length, params.minsup, params.top, params.keep, whole_number(refined, "refined", 1, INT32_MAX, "candidates")


# ---------------------------------------------------------------------------------------------
# The search at one length


def discover_length(
    store: RobustStore, m: int, minsup: float, refined: int, *, grow: bool = True
) -> list[Found]:
    """The motifs of length m (steps 1 to 5 of the module's description), best first; with
    ``grow``, the candidates include the shapes of the shorter searches grown to m (see
    `refined_search`)."""
    count = store.count
    if count == 0 or m > int(store.lengths.max()):
        return []
    sample = store.sample()
    core = max(1, math.ceil(minsup * len(sample)))
    _progress.step(f"length {m}: searching the series")  # progress: phase 1 of PHASES
    found = refined_search(store, m, sample, core, minsup, refined, SERIES, grow=grow)
    if len(found.shapes) == 0:
        return []
    _progress.step(f"length {m}: searching the shuffled series")  # progress: phase 2
    chance = refined_search(store, m, sample, core, minsup, refined, (segment_points(m), 1), grow=grow)
    _progress.step(f"length {m}: evidence of {len(found.shapes)} shapes")  # progress: phase 3
    # Every shape's gain is measured in a second null: chance shapes made of pieces of a
    # motif (which the first null holds, shuffled) gain nothing there, as they would in it.
    other: Null = (segment_points(m), 2)
    _, found_in_null = store.best(m, found.shapes, rows=sample, null=other, starts=False)
    _, chance_elsewhere = store.best(m, chance.shapes, rows=sample, null=other, starts=False)
    evidence = evidences(found.best, found_in_null, chance.best, chance_elsewhere, core)
    # Where the evidence cannot be measured it is 0 (no evidence beyond chance), and why says so.
    unknown = unmeasured(found.best, found_in_null, chance.best, chance_elsewhere, core)
    evidence = np.where(np.isnan(evidence), 0.0, evidence)
    gain = gains(found.best, found_in_null, core)
    if len(sample) == count:
        order = np.argsort(sample, kind="stable")
        starts, best = found.starts[:, order], found.best[:, order]
    else:
        starts, best = store.best(m, found.shapes)
    full_core = max(1, math.ceil(minsup * count))
    scores = core_means(best, full_core)
    motifs = []
    for c in range(len(found.shapes)):
        bar = held_bar(best[c], found_in_null[c], full_core)
        held = np.flatnonzero(np.isfinite(best[c]) & (best[c] < bar))
        if len(held) == 0:
            continue
        pattern, letter = pattern_name(found.shapes[c])
        motifs.append(
            Found(
                m,
                found.shapes[c],
                {int(i): int(starts[c, i]) for i in held},
                {int(i): float(best[c, i]) for i in held},
                len(held),
                float(scores[c]),
                float(evidence[c]),
                float(gain[c]),
                not why_not_likely(float(evidence[c]), len(held), full_core, unknown[c]),
                pattern,
                letter,
                why_not_likely(float(evidence[c]), len(held), full_core, unknown[c]),
            )
        )
    kept: list[Found] = []
    for motif in sorted(motifs, key=rank):
        if not any(same_motif(motif, other, store.lengths) for other in kept):
            kept.append(motif)
    return kept


# ---------------------------------------------------------------------------------------------
# Proposals by frequent words


# ---------------------------------------------------------------------------------------------
# Refinement


