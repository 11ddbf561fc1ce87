"""What the robust search finds, and how its findings are told apart: a motif (`Found`), the
order of motifs (`rank`), when two are one motif (`same_motif`), and under which distance a
series holds one (`held_bar`). The method: docs/robust.md."""

import dataclasses
import math

import numpy as np

from zorp_miner.compute.evidence import LIKELY
from zorp_miner._types import FloatArray, IntArray
from zorp_miner.compute.evidence import member_bar
from zorp_miner.compute.shapes import part_distance, shifted_within
from zorp_miner.robust.rules import (
    CHANCE_DEVIATIONS,
    MEMBER_RATE,
    STEADY_DEVIATIONS,
    STEADY_SERIES,
    STEADY_SHARE,
)


# How a motif's why begins when its evidence could not be measured.
UNMEASURED = "evidence unmeasured"


def why_not_likely(evidence: float, support: int, needed: int, unmeasured: str = "") -> str:
    """Why a motif of this evidence, held by support series where needed must hold it, is not
    likely ("" when it is): "chance", "few series", both, or the evidence unmeasured and why."""
    if unmeasured:
        return f"{UNMEASURED}: {unmeasured}"
    reasons = (["chance"] if not evidence >= LIKELY else []) + (["few series"] if support < needed else [])
    return ", ".join(reasons)


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
    why : str
        Why the motif is not likely ("" when it is): "chance" (evidence below LIKELY), "few
        series" (held by fewer than ceil(minsup x N)), both, or "evidence unmeasured: ..." (the
        evidence, then 0, could not be measured; the reason follows).
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
    why: str = ""


def rank(motif: Found) -> tuple[bool, int, bool, float, float, int]:
    """Likely motifs first, the longest of them first; then the highest evidence (those whose
    evidence could not be measured last), the smaller score and the shorter length. Of the
    shapes that recur beyond chance, the longest says most of the series: a shorter likely motif
    is a part of a longer shape, or material that recurs in pieces; a motif that is not likely
    is only as good as its evidence."""
    unknown = math.isnan(motif.evidence) or motif.why.startswith(UNMEASURED)
    longest = -motif.length if motif.likely else 0
    return (not motif.likely, longest, unknown, 0.0 if unknown else -motif.evidence, motif.score, motif.length)


def tighter_and_more_evident(a: Found, b: Found) -> bool:
    """Whether a is better than b on both counts: of the same length, a smaller score and a
    higher evidence, both measured. Scores of different lengths are distances over different
    numbers of points, not comparable."""
    measured = not (a.why.startswith(UNMEASURED) or b.why.startswith(UNMEASURED))
    return measured and a.length == b.length and a.score < b.score and a.evidence > b.evidence


def ordered(motifs: list[Found]) -> list[Found]:
    """The motifs in the order of `rank`, except that none goes after a motif that is better on
    both counts (`tighter_and_more_evident`): at each place the first in rank that is left goes,
    unless a motif left is better than it on both counts, which then goes in its place (the
    first in rank of those, and so on). A tight, evident motif held by too few series (few
    series) so goes before a looser and less evident likely one, and nothing else moves."""
    remaining = sorted(motifs, key=rank)
    result: list[Found] = []
    while remaining:
        at = 0
        # Better on both counts is a strict partial order: this ends.
        while True:
            better = [k for k, other in enumerate(remaining) if tighter_and_more_evident(other, remaining[at])]
            if not better:
                break
            at = better[0]
        result.append(remaining.pop(at))
    return result


def merged(found: list[Found], lengths: IntArray) -> list[Found]:
    """The motifs of several lengths, each reported once, in the order of `rank`.

    Taken longest first, a motif whose matches coincide with those of a longer one taken
    before (see `same_places`: its part, or at its places; lengths: the series' points) is
    that motif again. Each motif is reported at the longest length at which it is likely (at
    the length of its highest evidence when it is likely at none). Two shapes that share a part stay two motifs: the part
    goes with one of them.
    """
    groups: list[list[Found]] = []
    for motif in sorted(found, key=lambda motif: (-motif.length, rank(motif))):
        for group in groups:
            if same_motif(motif, group[0], lengths):
                group.append(motif)
                break
        else:
            groups.append([motif])
    chosen = []
    for group in groups:
        likely = [motif for motif in group if motif.likely]
        chosen.append(likely[0] if likely else min(group, key=rank))
    return sorted(chosen, key=rank)


def same_motif(a: Found, b: Found, lengths: IntArray) -> bool:
    """Whether a and b are one motif: their matches coincide (`same_places`, either way), or
    they are one shape (`same_shape`)."""
    return same_shape(a, b) or same_places(a, b, lengths) or same_places(b, a, lengths)


def same_shape(a: Found, b: Found) -> bool:
    """Whether a and b, of one length, are one shape up to a shift of at most a quarter of it:
    closer to each other (`shifted_distance`, decided by `shifted_within`) than their closest
    matches are to them, on the mean (the smaller score). Such shapes are told apart by none of their matches; a periodic
    shape matches equally well at many places, so their matches need not coincide."""
    if a.length != b.length:
        return False
    return shifted_within(a.representative, b.representative, a.length // 4, min(a.score, b.score))


def same_places(a: Found, b: Found, lengths: IntArray, *, parts: bool = True) -> bool:
    """Whether a is b again: whether, in most of the series both hold, a's matches share half
    the shorter length with b's, more often than chance puts them there (`beyond_chance`), or
    stand at one offset from them (the same within a quarter of the shorter length, and at most
    the longer length, in at least STEADY_SERIES series): a part of b, or of a longer shape
    that b is a part of. With parts, also where they stand at one offset in fewer of those
    series when the shorter shape is that part of the longer one (`part_of`). lengths: the
    points of every series."""
    shared = [i for i in a.starts if i in b.starts]
    if not shared:
        return False
    shorter, longer = min(a.length, b.length), max(a.length, b.length)
    offsets = np.array([b.starts[i] - a.starts[i] for i in shared], dtype=np.int64)
    ends = np.array([min(a.starts[i] + a.length, b.starts[i] + b.length) for i in shared])
    begins = np.array([max(a.starts[i], b.starts[i]) for i in shared])
    overlapping = int(np.sum(2 * (ends - begins) >= shorter))
    if 2 * overlapping > len(shared) and beyond_chance(overlapping, lengths[shared], shorter, longer):
        return True
    if len(shared) < STEADY_SERIES:
        return False
    # The offset at which most stand (the smallest such): a window around the median may miss
    # part of a cluster that holds most of them.
    near = 4 * np.abs(offsets[:, None] - offsets[None, :]) <= shorter
    counts = near.sum(axis=1)
    most = np.flatnonzero(counts == counts.max())
    offset = int(offsets[most[np.argmin(np.abs(offsets[most]))]])
    steady = int(counts.max())
    if abs(offset) > longer:
        return False
    if 2 * steady > len(shared):
        return True
    return (
        parts
        and STEADY_SHARE * len(shared) <= steady
        and steady_beyond_chance(steady, lengths[shared], shorter, longer)
        and part_of(a, b, offset)
    )


def steady_beyond_chance(steady: int, points: IntArray, shorter: int, longer: int) -> bool:
    """Whether matches of two motifs that stand at one offset (within a quarter of the shorter
    length) in steady of the series of the given points do so more often than chance does.

    A match placed at random stands within that of a given offset at 2 floor(shorter / 4) + 1
    of at least n - longer + 1 places; beyond chance is as in `beyond_chance`, with
    STEADY_DEVIATIONS (the offset is the one most stand at, taken from the same series).
    """
    share = np.minimum(1.0, (2 * (shorter // 4) + 1) / np.maximum(points - longer + 1, 1))
    expected = float(share.sum())
    spread = math.sqrt(float((share * (1.0 - share)).sum()))
    return steady >= min(expected + STEADY_DEVIATIONS * spread, (len(points) + expected) / 2)


def part_of(a: Found, b: Found, offset: int) -> bool:
    """Whether the shorter of a and b is a part of the longer one's shape where b's matches
    stand offset points after a's (give or take an eighth of the shorter length): as close to
    that part as the closest matches of either are to it (the larger score), so that none of
    their matches tells them apart. A second shape that merely sits beside a motif in some
    series is not its part, however steadily it sits there. Two motifs of one length are one
    shape or not by `same_shape`."""
    if a.length == b.length:
        return False
    shorter, longer = (a, b) if a.length < b.length else (b, a)
    place = -offset if shorter is a else offset
    slack = shorter.length // 8
    distance = part_distance(longer.representative, shorter.representative, place - slack, place + slack)
    return distance <= max(a.score, b.score)


def beyond_chance(overlapping: int, points: IntArray, shorter: int, longer: int) -> bool:
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


def held_bar(best: FloatArray, null: FloatArray, core: int) -> float:
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
