"""Robust motif discovery: a consensus search over windows of the series, and its evidence.

A motif of length m (points) is a shape whose best matches in ceil(minsup x N) of the N series
are close: the distance of a window to a shape is sqrt(2 (1 - r)), r their Pearson correlation
(the root mean square difference per point of the z-normalised shapes, 0 for the same shape,
1.41 for unrelated ones), and a motif's *score* is the mean of its best matches' distances over
the ceil(minsup x N) closest series. At every length the search runs on a *sample* of at most
SAMPLE series (all of them in smaller sets: the ones of smallest content key otherwise), twice:
on the series and on their null (``zorp_miner.compute.evidence``: the same series with their segments
of a quarter of m shuffled), in the same steps:

1. Candidates. Every window of a few *seed* series of the sample (enough of them that a shape
   held by minsup of the series is in at least one with probability 1 - SEED_MISS), and up to
   PROPOSALS shapes proposed by frequent words (`_proposals`: the medoid window of a SAX key,
   or of one of its one-letter wildcards, held by PROPOSAL_SUPPORT of the sample). And the
   shapes refined by the searches at the shorter lengths of the grid searched without a length
   (those of at least m / 4 points), each grown to m: the average of the windows of m points
   centred on its closest matches (`_grown`). A length given only sets the window: what the
   search without a length finds at shorter lengths is among its candidates too.
2. Screening, coarse to fine. Every candidate's consensus score on the sample's series
   averaged over blocks of m / SEED_POINTS points (at most SEED_WINDOWS seed windows, strided
   beyond); the best SCREENED x ``refined`` again over blocks of m / SCREEN_POINTS points; of
   those the best ``refined`` are taken, each unless its best matches coincide with those of
   one taken before (sharing half the length in most of the series both have among their
   ceil(minsup x S) closest): variants of one shape cannot take every place.
3. Refinement, until the matches stay (at most REFINEMENTS times): take the best matches of the
   ceil(minsup x S) closest series, shift them together by the common offset (up to m / 2
   points) at which they agree best, and replace the shape by their average; a shape whose
   closest matches are those it was averaged from is done (it would come back). A shape that
   changed after NEAR_SEED refinements is kept as it was then too: it may have drifted from
   its seed towards what the closest series share most, and the evidence judges both. Shapes
   that a monotone curve explains beyond MONOTONE (ramps and steps, which every series holds)
   are dropped.
4. Evidence. Each refined shape, of the series and of the null, is matched in a second null:
   a shape's gain is how much closer its matches are where it was found, and a motif's
   evidence how far its gain exceeds the largest gain of the null's shapes, in standard errors
   (``zorp_miner.compute.evidence``).
5. Motifs. The shapes are matched in every series; a series *holds* a motif when its best
   match is closer than all but MEMBER_RATE of the motif's best matches in the second null,
   or lies nearer, in standard deviations, its ceil(minsup x N) closest matches than those
   null matches, or is among the closest series that most outnumber what chance puts as close
   (`_held_bar`; a shape no series holds is no motif). A motif is *likely* when
   its evidence is at least LIKELY and at least ceil(minsup x N) series hold it. Likely
   motifs go first, the longest first, then the highest evidence (`_rank`); one whose
   matches coincide with a better one's (`_same_places`: more often than chance puts them
   together) is that motif again, and is left out.

Without a length, the lengths SHORTEST, LENGTH_STEP times that, ... up to half the median
length of the series are searched; motifs of several lengths whose matches coincide are one
motif, at the longest length at which it is likely (`_merged`), and the best likely ones (the
first max(top, TRIMMED): a top under TRIMMED does not change them) are searched again at their
extent, the span over which their matches agree (`_trimmed`, `extent`), as is the longest motif
not likely that is longer than all of them (`_longest_unlikely`): at its extent the shorter
searches' shapes grow into it, as they do for a length given.

Nothing depends on the order of the series: every choice is made on shapes, distances and the
series' content keys, ties fall to the keys. The work per series (window statistics, best
matches, the null series, the sums of the members' windows that refining averages, the windows
at given places) is separate from the choices made over the whole set: the series are read only
through a `RobustStore`, whose per-series steps run part by part over a set held in parts (see
``zorp_miner.cluster.parts``), each from its own series alone, and whose results add up the same
whatever the parts. A run over a Dask cluster is this same run over parts loaded on the
workers, and gives the same motifs bit for bit.
"""

import dataclasses
import math
from typing import cast

import numpy as np
import numpy.typing as npt

import _zorp_cpp

from zorp_miner import _native, progress as _progress
from zorp_miner.compute.evidence import core_means, evidences, gains, member_bar, segment_points
from zorp_miner.cluster.parts import Parts
from zorp_miner.compute.shapes import monotone_share, paa, unit_scaled
from zorp_miner.robust.store import Candidates, RobustStore, as_store
from zorp_miner.robust.tasks import Null, SERIES, shifts
from zorp_miner.compute.sliding import znormalised, znormalised_finite
from zorp_miner._types import FloatArray, IntArray
from zorp_miner.params import INT32_MAX, MINSUP_DEFAULT, Keep, RealNumber, WholeNumber, whole_number, robust_params

# Fixed rules of the method (not tuned per data set; see the README).
SEED_POINTS = 8  # points per seed window when the seeds are screened on averaged series
SCREEN_POINTS = 24  # points per shape when the best of them are screened again
SCREENED = 8  # times `refined` candidates screened again
SEED_MISS = 0.001  # the chance that no seed series holds a shape held by minsup of the series
SEED_WINDOWS = 8192  # seed windows screened at most, per search
MONOTONE = 0.9  # a shape whose variance a monotone curve explains beyond this is trivial
LIKELY = 3.0  # evidence (standard errors) from which a motif is likely
MEMBER_RATE = 0.05  # a series holds a motif when its best match beats all but this share of chance's
ALPHABETS = (3, 4)  # letters per position of the proposal words
PROPOSALS = 64  # shapes proposed by frequent words, per search
PROPOSAL_LETTERS = 8  # letters per proposal word
PROPOSAL_SUPPORT = 0.25  # the share of the sample's series a word must occur in to propose a shape
PHASES = 3  # progress steps per length: the search, the null's search, the evidence
SHORTEST = 8  # the shortest length searched without a length (points)
LENGTH_STEP = 2.0  # the ratio of one length searched without a length to the next
STEADY_SERIES = 3  # series in which two motifs must stand at one offset to be one motif
CHANCE_DEVIATIONS = 2.0  # beyond chance's count of coinciding matches that makes two motifs one
REFINEMENTS = 6  # times a candidate is refined at most (fewer when its closest matches stay)
NEAR_SEED = 2  # refinements after which a candidate's shape is kept as a candidate too
GAINED = 4  # candidates per search chosen by their gain over a null, beside those chosen by closeness
GAIN_SERIES = 8  # series of the sample in which the seeds' gains are measured
SCREEN_NULL = 3  # the draw of the null in which they are (the search's own is 1, the evidence's 2)
TRIMMED = 3  # likely motifs found without a length searched again at their extent (at least; top when more)
EXTENT_REST = 0.05  # the share of a motif's agreement left outside its extent
PATTERN_LETTERS = 8  # letters of a motif's name
PATTERN_ALPHABET = 4


@dataclasses.dataclass(frozen=True)
class Found:
    """One motif found by `discover`.

    Attributes
    ----------
    length : int
        Motif length in points.
    representative : ndarray
        The motif's shape, z-normalised (mean 0, population deviation 1), ``length`` points.
    starts : dict[int, int]
        Series index -> start (points) of the best match, for the series that hold the motif.
    distances : dict[int, float]
        Series index -> length-normalised z-normalised distance of that best match (0 to 2).
    support : int
        Number of series that hold the motif (``len(starts)``).
    score : float
        Mean best-match distance over the ceil(minsup x N) closest series; smaller is tighter.
    evidence : float
        How far the motif's gain over the null exceeds the best gain of chance shapes, in
        standard errors (see ``zorp_miner.compute.evidence``); NaN when it cannot be measured.
    gain : float
        The mean distance of the motif's ceil(minsup x S) closest best matches in the null minus
        that in the series, over the sample's S series (see ``zorp_miner.compute.evidence``).
    likely : bool
        Whether the evidence is at least LIKELY and ceil(minsup x N) series hold the motif.
    pattern : str
        The SAX letters of the representative's segment means (alphabet 4): a name.
    seglen : int
        Points per letter of ``pattern``.
    """

    length: int
    representative: FloatArray
    starts: dict[int, int]
    distances: dict[int, float]
    support: int
    score: float
    evidence: float
    gain: float
    likely: bool
    pattern: str
    seglen: int


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
        The motifs, in the order of `_rank`; empty when no series has a window of the length.

    Raises
    ------
    TypeError, ValueError
        For a bad argument, as ``zorp_miner.params.robust_params`` raises it.
    """
    length, minsup, top, keep, refined = _check(length, minsup, top, keep, refined)
    store = as_store(series)
    wanted = refined if top is None else max(refined, 2 * top)
    if length is not None:
        _progress.plan(PHASES)  # progress: the phases of one length
        found = _discover_length(store, length, minsup, wanted)
    else:
        lengths = searched_lengths(store)
        _progress.plan(PHASES * len(lengths))  # progress: each length's phases
        # The lengths searched are the shorter lengths of one another: each is searched alone,
        # and the motifs kept are grown to their extent (`_trimmed`), which a length given
        # grows from the same searches.
        found = _merged(
            [motif for m in lengths for motif in _discover_length(store, m, minsup, wanted, grow=False)],
            store.lengths,
        )
        # As many as top when more, never fewer than TRIMMED: a likely motif searched again at
        # its extent can go first, so asking for fewer motifs must not change the first ones.
        ends = TRIMMED if top is None else max(top, TRIMMED)
        # The longest motif that is not likely is searched again too: a grid length does not
        # grow the shorter searches' shapes, and at its own extent, grown from them as a length
        # given would be, a long shape can be likely where its grid length left it short.
        longer = _longest_unlikely(found)
        trimmed = sorted(
            [
                _trimmed(store, motif, minsup, wanted) if (motif.likely and k < ends) or motif is longer else motif
                for k, motif in enumerate(found)
            ],
            key=_rank,
        )
        found = []
        for motif in trimmed:
            if not any(_same_motif(motif, other, store.lengths) for other in found):
                found.append(motif)
    return [motif for motif in found if keep == "all" or motif.likely]


def _longest_unlikely(found: list[Found]) -> Found | None:
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
    return _length_grid(int(np.median(store.lengths)) // 2)


def _length_grid(longest: int) -> list[int]:
    """SHORTEST, LENGTH_STEP times that, ... (rounded, points), up to longest."""
    lengths: list[int] = []
    size = float(SHORTEST)
    while round(size) <= longest:
        lengths.append(int(round(size)))
        size *= LENGTH_STEP
    return lengths


def _trimmed(store: RobustStore, motif: Found, minsup: float, refined: int) -> Found:
    """A motif found without a length, searched again at the length of its extent (see
    `extent`: over windows twice its length, centred on its matches in the closest series, NaN
    where they run off a series)
    when that differs from its length by more than an eighth: the likely motif found there
    whose matches coincide with its own and that holds most of its series, the most evident of
    those (the motif as it is when none does: a likely motif is not traded for one that is
    not)."""
    core = max(1, math.ceil(minsup * store.count))
    m = motif.length
    closest = sorted(motif.distances, key=lambda i: (motif.distances[i], i))[:core]
    windows = store.windows([(i, motif.starts[i] - m // 2, motif.starts[i] + m + m // 2) for i in closest])
    if len(windows) < 2:
        return motif
    points = max(SHORTEST, extent(windows))
    if 8 * abs(points - m) <= m or points > int(np.median(store.lengths)) // 2:
        return motif
    _progress.plan(PHASES)  # progress: the phases of the length of its extent
    again = [
        found
        for found in _discover_length(store, points, minsup, refined)
        if found.likely and _same_places(found, motif, store.lengths)
    ]
    # The one that holds most of the motif's series (a part it shares with another shape
    # holds some of that shape's series instead), the most evident of those.
    return min(again, key=lambda found: (-len(found.starts.keys() & motif.starts.keys()), _rank(found)), default=motif)


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


def _merged(found: list[Found], lengths: IntArray) -> list[Found]:
    """The motifs of several lengths, each reported once, in the order of `_rank`.

    Taken longest first, a motif whose matches coincide with those of a longer one taken
    before (see `_same_places`: its part, or at its places; lengths: the series' points) is
    that motif again. Each motif is reported at the longest length at which it is likely (at
    the length of its highest evidence when it is likely at none). Two shapes that share a part stay two motifs: the part
    goes with one of them.
    """
    groups: list[list[Found]] = []
    for motif in sorted(found, key=lambda motif: (-motif.length, _rank(motif))):
        for group in groups:
            if _same_motif(motif, group[0], lengths):
                group.append(motif)
                break
        else:
            groups.append([motif])
    chosen = []
    for group in groups:
        likely = [motif for motif in group if motif.likely]
        chosen.append(likely[0] if likely else min(group, key=_rank))
    return sorted(chosen, key=_rank)


def _rank(motif: Found) -> tuple[bool, int, bool, float, float, int]:
    """Likely motifs first, the longest of them first; then the highest evidence (NaN last),
    the smaller score and the shorter length. Of the shapes that recur beyond chance, the
    longest says most of the series: a shorter likely motif is a part of a longer shape, or
    material that recurs in pieces; a motif that is not likely is only as good as its
    evidence."""
    unknown = math.isnan(motif.evidence)
    longest = -motif.length if motif.likely else 0
    return (not motif.likely, longest, unknown, 0.0 if unknown else -motif.evidence, motif.score, motif.length)


def _check(
    length: object, minsup: object, top: object, keep: object, refined: object
) -> tuple[int | None, float, int | None, Keep, int]:
    """The arguments of `discover`, checked by the robust mode's rules (``zorp_miner.params``)
    and converted as they check them (numpy integers to int, minsup to float)."""
    params = robust_params(length=length, minsup=minsup, top=top, keep=keep)
    return params.length, params.minsup, params.top, params.keep, whole_number(refined, "refined", 1, INT32_MAX, "candidates")


# ---------------------------------------------------------------------------------------------
# The search at one length


def _discover_length(
    store: RobustStore, m: int, minsup: float, refined: int, *, grow: bool = True
) -> list[Found]:
    """The motifs of length m (steps 1 to 5 of the module's description), best first; with
    ``grow``, the candidates include the shapes of the shorter searches grown to m (see
    `_search`)."""
    count = store.count
    if count == 0 or m > int(store.lengths.max()):
        return []
    sample = store.sample()
    core = max(1, math.ceil(minsup * len(sample)))
    _progress.step(f"length {m}: searching the series")  # progress: phase 1 of PHASES
    found = _search(store, m, sample, core, minsup, refined, SERIES, grow=grow)
    if len(found.shapes) == 0:
        return []
    _progress.step(f"length {m}: searching the shuffled series")  # progress: phase 2
    chance = _search(store, m, sample, core, minsup, refined, (segment_points(m), 1), grow=grow)
    _progress.step(f"length {m}: evidence of {len(found.shapes)} shapes")  # progress: phase 3
    # Every shape's gain is measured in a second null: chance shapes made of pieces of a
    # motif (which the first null holds, shuffled) gain nothing there, as they would in it.
    other: Null = (segment_points(m), 2)
    _, found_in_null = store.best(m, found.shapes, rows=sample, null=other, starts=False)
    _, chance_elsewhere = store.best(m, chance.shapes, rows=sample, null=other, starts=False)
    evidence = evidences(found.best, found_in_null, chance.best, chance_elsewhere, core)
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
        bar = _held_bar(best[c], found_in_null[c], full_core)
        held = np.flatnonzero(np.isfinite(best[c]) & (best[c] < bar))
        if len(held) == 0:
            continue
        pattern, letter = _name(found.shapes[c])
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
                bool(evidence[c] >= LIKELY and len(held) >= full_core),
                pattern,
                letter,
            )
        )
    kept: list[Found] = []
    for motif in sorted(motifs, key=_rank):
        if not any(_same_motif(motif, other, store.lengths) for other in kept):
            kept.append(motif)
    return kept


def _held_bar(best: FloatArray, null: FloatArray, core: int) -> float:
    """The distance under which a series holds a motif, from its best-match distances in the
    series (best) and in the second null (null), the highest of three points:

    - closer than all but MEMBER_RATE of chance's;
    - nearer its core matches (its core closest) than chance's, each counted in its own
      standard deviations: the point as many deviations above the core's mean as below the
      null's. Instances of a shape that vary more than chance material fits it are then still
      told from chance by which of the two they resemble;
    - where the series closer than it most outnumber what chance puts there (the finite
      series times the share of a normal fitted to the null's matches below it), but no
      nearer chance's mean than one of its deviations. The core measures a shape on its
      closest series only; a shape held by more of the series than the core holds all of them
      by this point, as long as they stand apart from chance.
    """
    bar = member_bar(null, MEMBER_RATE)
    finite = np.sort(best[np.isfinite(best)])
    members = finite[:core]
    chance = null[np.isfinite(null)]
    if len(members) < 2 or len(chance) < 2:
        return bar
    near, far = float(members.mean()), float(chance.mean())
    spread_near, spread_far = float(members.std()), float(chance.std())
    if not (near < far and spread_near + spread_far > 0.0):
        return bar
    bar = max(bar, (near * spread_far + far * spread_near) / (spread_near + spread_far))
    if not spread_far > 0.0:
        return bar
    # Series below each distance, less chance's expected count there: its largest excess.
    scale = spread_far * math.sqrt(2.0)
    below_chance = np.array([0.5 * math.erfc((far - d) / scale) for d in finite.tolist()])
    excess = np.arange(1, len(finite) + 1) - len(finite) * below_chance
    last = float(finite[int(np.argmax(excess))])
    return max(bar, min(float(np.nextafter(last, math.inf)), far - spread_far))


def _name(shape: FloatArray) -> tuple[str, int]:
    """A motif's name: the SAX letters of its segment means, and the points per letter."""
    letters = min(PATTERN_LETTERS, len(shape))
    seglen = len(shape) // letters
    word = _zorp_cpp.sax(shape[: letters * seglen][None, :].tolist(), seglen, PATTERN_ALPHABET)[0]
    return "".join(word), seglen


def seed_count(minsup: float, available: int) -> int:
    """Seed series needed so that a shape held by minsup of the series is in at least one of
    them with probability 1 - SEED_MISS (at least 2), at most the available ones."""
    wanted = 2 if minsup >= 1.0 else max(2, math.ceil(math.log(SEED_MISS) / math.log1p(-minsup)))
    return min(available, wanted)


def _search(
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
    shapes = _chosen_seeds(store, m, sample, core, minsup, refined, null)
    if grow:
        grown = _grown(store, m, sample, core, minsup, refined, null)
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
        cores = [_closest(row, core) for row in best]
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


def shorter_lengths(m: int) -> list[int]:
    """The lengths (points) searched without a length that are shorter than m and at least a
    quarter of it: the searches whose shapes a window of m points holds, with their context.
    Their shapes are grown to m and refined with m's own candidates, so that a length given
    does not lose what the search without a length finds at it."""
    return [points for points in _length_grid(m - 1) if 4 * points >= m]


def _grown(
    store: RobustStore, m: int, sample: IntArray, core: int, minsup: float, refined: int, null: Null
) -> FloatArray:
    """The refined shapes of the searches at the shorter lengths, each grown to m points: the
    average of the windows of m points centred on its matches in its ceil(minsup x S) closest
    series, at the common shift at which they agree best (`realigned_each`). (C, m)."""
    groups: list[tuple[IntArray, IntArray]] = []
    for points in shorter_lengths(m):
        found = _search(store, points, sample, core, minsup, refined, null, grow=False)
        for c in range(len(found.shapes)):
            chosen = _closest(found.best[c], core)
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


def _closest(best: FloatArray, size: int) -> IntArray:
    """The size columns with the smallest best-match distances (ties: the first), less those
    without a match (no window whole and not flat: refining averages whole windows only)."""
    closest = np.argsort(best, kind="stable")[:size]
    matched = closest[np.isfinite(best[closest])]
    return matched if len(matched) else closest


def _chosen_seeds(
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
    owners, firsts, shapes = _coarse_windows(values, factor, points)
    proposed, _ = _proposals(
        store, m, PROPOSAL_LETTERS, PROPOSAL_SUPPORT * len(sample), PROPOSALS, rows=sample, null=null
    )
    coarse = [znormalised(paa(shape, factor)[:points]) for shape in proposed]
    shapes = np.concatenate([shapes, np.stack(coarse)]) if coarse else shapes
    if len(shapes) == 0:
        return np.zeros((0, m))
    _, best = store.best(points, shapes, factor=factor, rows=sample, null=null, starts=False)
    scores = core_means(best, core)
    # The best of them screened again, on series averaged over fewer points; and those that
    # gain most over a null, which the closest matches alone pass over where chance shapes
    # match closely everywhere (smooth humps in long walks).
    kept = [k for k in np.lexsort((np.arange(len(scores)), scores))[: SCREENED * refined].tolist() if np.isfinite(scores[k])]
    gained = _most_gaining(store, m, points, factor, shapes, best, sample, minsup, set(kept))
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
        if not by_gain[k] and not _coincides(places, chosen, m):
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
            if not _coincides(places, chosen, m):
                chosen = np.vstack([chosen, places])
                windows.append(candidates[k])
                added += 1
    return np.stack(windows) if windows else np.zeros((0, m))


def _most_gaining(
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


def _coarse_windows(values: list[FloatArray], factor: int, points: int) -> tuple[IntArray, IntArray, FloatArray]:
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


def _coincides(places: FloatArray, chosen: FloatArray, m: int) -> bool:
    """Whether, in most of the series in which both have a place (points, NaN for none), a
    candidate's best matches share half the length m with those of a row of chosen."""
    if len(chosen) == 0:
        return False
    shared = np.isfinite(chosen) & np.isfinite(places)[None, :]
    with np.errstate(invalid="ignore"):
        close = shared & (np.abs(chosen - places[None, :]) <= m // 2)
    count = shared.sum(axis=1)
    return bool(np.any((count > 0) & (2 * close.sum(axis=1) > count)))


# ---------------------------------------------------------------------------------------------
# Proposals by frequent words


def _proposals(
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
        for word, window in _medoids(store, m, letters, alphabet, projections, keys, count // len(alphabets), rows, null):
            shapes.append(znormalised(window))
            names.append(word)
    return (np.stack(shapes) if shapes else np.zeros((0, m))), names




def _medoids(
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
        medoids = dict(zip(fresh, store.windows(places, null=null)))
        for e in fresh:
            if len(proposals) >= count:
                break
            shape = _native.znormalised(medoids[e])
            if _native.monotone_share(shape) > MONOTONE:
                continue
            proposals.append((nearest[e][2], medoids[e]))
    return proposals


# ---------------------------------------------------------------------------------------------
# Refinement


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
        _realigned_shape(centres, valid, m)
        for centres, valid in store.realignment_means(groups, m, null=null)
    ]



def _realigned_shape(centres: FloatArray, valid: npt.NDArray[np.bool_], m: int) -> FloatArray:
    """`realigned` from the members' mean z-normalised windows at every shift (see
    `tasks._realignment_task`) and whether every member's window is usable there."""
    agreement = np.where(valid, np.einsum("ij,ij->i", centres, centres) / m, -1.0)
    moves = shifts(m)[: len(agreement)]
    for j in np.lexsort((np.abs(moves), -agreement)).tolist():
        if agreement[j] < 0.0:
            break
        if monotone_share(centres[j]) <= MONOTONE:
            return znormalised(centres[j])
    unshifted = len(shifts(m)) // 2
    return znormalised(centres[unshifted] if len(centres) > unshifted else np.zeros(m))


def _same_motif(a: Found, b: Found, lengths: IntArray) -> bool:
    """Whether a and b are one motif: their matches coincide (`_same_places`, either way)."""
    return _same_places(a, b, lengths) or _same_places(b, a, lengths)


def _same_places(a: Found, b: Found, lengths: IntArray) -> bool:
    """Whether a is b again: whether, in most of the series both hold, a's matches share half
    the shorter length with b's, more often than chance puts them there (`_beyond_chance`), or
    stand at one offset from them (the same within a quarter of the shorter length, and at most
    the longer length, in at least STEADY_SERIES series): a part of b, or of a longer shape
    that b is a part of. lengths: the points of every series."""
    shared = [i for i in a.starts if i in b.starts]
    if not shared:
        return False
    shorter, longer = min(a.length, b.length), max(a.length, b.length)
    offsets = np.array([b.starts[i] - a.starts[i] for i in shared], dtype=np.int64)
    ends = np.array([min(a.starts[i] + a.length, b.starts[i] + b.length) for i in shared])
    begins = np.array([max(a.starts[i], b.starts[i]) for i in shared])
    overlapping = int(np.sum(2 * (ends - begins) >= shorter))
    if 2 * overlapping > len(shared) and _beyond_chance(overlapping, lengths[shared], shorter, longer):
        return True
    if len(shared) < STEADY_SERIES:
        return False
    offset = float(np.median(offsets))
    steady = int(np.sum(4 * np.abs(offsets - offset) <= shorter))
    return abs(offset) <= longer and 2 * steady > len(shared)


def _beyond_chance(overlapping: int, points: IntArray, shorter: int, longer: int) -> bool:
    """Whether matches of a shorter and a longer motif that share half the shorter length in
    overlapping of the series of the given points do so more often than chance does.

    In a series of n points a window of the shorter length placed at random shares half its
    length with a given window of the longer one at longer + 1 of its n - shorter + 1 places.
    Beyond chance is at least CHANCE_DEVIATIONS standard deviations over the number of series
    chance makes share, or halfway from it to all of them, whichever is fewer: where the
    series are little longer than the motifs, every two windows share, and a motif's repeat is
    told by nothing else.
    """
    share = np.minimum(1.0, (longer + 1) / np.maximum(points - shorter + 1, 1))
    expected = float(share.sum())
    spread = math.sqrt(float((share * (1.0 - share)).sum()))
    return overlapping >= min(expected + CHANCE_DEVIATIONS * spread, (len(points) + expected) / 2)
