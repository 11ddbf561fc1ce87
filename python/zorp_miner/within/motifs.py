"""Motifs within one long series: groups of windows of the same series that share a shape.

Each motif is the closest pair of windows (more than the exclusion zone apart), found without
comparing every window with every other (proposals by reduced windows, exact distances along
the diagonals near them, the closest verified against every window), and every other window of
the series closer to its shape than the shape comes in shuffled copies of the series; its
evidence weighs how many such windows there are beyond the pair. The method, step by step, and
what it guarantees: docs/within.md.
"""

from __future__ import annotations

import dataclasses
import math
import statistics
import sys
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from zorp_miner import _native
from zorp_miner import progress as _progress
from zorp_miner.compute import threads as _threads
from zorp_miner.compute.evidence import LIKELY
from zorp_miner.compute.shapes import close_shifts, shifted_distance
from zorp_miner.compute.sliding import SeriesBank, window_sums, znormalised
from zorp_miner._types import FloatArray
from zorp_miner.search.matches import CHANCE_FACTOR, CHANCE_SHAPES, scrambled
from zorp_miner.within.chance import NULL_DRAWS, Chance

IntArray = npt.NDArray[np.int64]
BoolArray = npt.NDArray[np.bool_]

EXCLUSION_SHARE = 0.5  # the default exclusion zone: ceil(this x m) points
MOST_MOTIFS = 10  # motifs per series when no top is given
SEGMENTS = 8  # segment means per window in the proposal step
TABLES = 8  # random cuttings of the reduced windows into cells, at least
CUT_WINDOWS = 200_000  # and more for shorter series: windows x cuttings, up to MOST_TABLES
MOST_TABLES = 64
NEIGHBOURS = 4  # windows compared with each window in each cutting (the next ones in its cell)
CELL_WINDOWS = 8  # the cells' size aimed at (mean windows per cell seen from a window)
MOST_DIRECTIONS = 8  # random directions per cutting, at most
CELL_REACH = 31  # cells from the centre along a direction, at most (the rest share the last)
KEPT = 4096  # the closest proposals kept from each cutting
PROPOSALS = 256  # distinct proposals followed along their diagonal
NEAR_DIAGONALS = 3  # and along the diagonals this close to theirs (offsets b - a, points)
ABSORBED_SHARE = 3  # pairs followed per motif wanted, at most, when later ones join earlier ones
VERIFIED = 4  # closest pairs whose windows are matched against the whole series, per motif
# Series whose whole profile of nearest neighbours takes at most this many window pairs (about
# 1.4 x 10^5 windows, under 2 s on two cores) have it walked: its closest windows are proposed
# too, so that the closest pair is the exact one.
PROFILE_CELLS = 1e10
PROFILE_SEEDS = 8  # windows of the highest profile proposed, one per exclusion zone
SEED = 20261208


def default_exclusion(m: int) -> int:
    """The exclusion zone for windows of m points: ceil(m / 2) points."""
    return math.ceil(EXCLUSION_SHARE * m)


def pair_distance(values: FloatArray, a: int, b: int, m: int) -> float:
    """The distance sqrt(2 (1 - r)) of the windows of m points at a and b, computed directly;
    +inf when either holds a NaN or is flat."""
    first, second = values[a : a + m], values[b : b + m]
    if not (np.isfinite(first).all() and np.isfinite(second).all()):
        return math.inf
    za, zb = znormalised(first), znormalised(second)
    if not (za.any() and zb.any()):
        return math.inf
    r = float(np.clip(np.mean(za * zb), -1.0, 1.0))
    return math.sqrt(2.0 * (1.0 - r))


@dataclass(frozen=True)
class Pair:
    """Two windows (starts a < b, points) of one series and their distance."""

    a: int
    b: int
    distance: float


@dataclass(frozen=True)
class WithinMotif:
    """A motif of one series: its occurrences (pair first), their distances to its shape, the
    shape (z-normalised) and its evidence."""

    series: int
    length: int
    pair: Pair
    starts: IntArray
    distances: FloatArray
    representative: FloatArray
    evidence: float
    radius: float = math.inf  # chance's radius around its shape (see `_grown`), or above it:
    radius_exact: bool = True  # ... when not exact, no window beyond the pair is within it
    reach: float = math.inf  # the radius of its occurrences beyond the pair's

    @property
    def likely(self) -> bool:
        """Whether the evidence reaches the robust mode's mark."""
        return bool(self.evidence >= LIKELY)


class Windows:
    """The windows of m points of one series, prepared for exact distances."""

    def __init__(self, values: FloatArray, m: int, zone: int) -> None:
        self.m = m
        self.zone = zone
        self.bank = SeriesBank([values], m)
        self.scaled = self.bank.values[0]
        self.usable = self.bank.usable[0]
        self.count = len(self.usable)
        self.mean = window_sums(self.scaled, m) / m if self.count else np.zeros(0)
        self.std = self.bank.deviations[0]

    def shapes(self, starts: IntArray) -> FloatArray:
        """The z-normalised windows at starts, (len(starts), m)."""
        rows = self.scaled[starts[:, None] + np.arange(self.m)]
        return np.asarray((rows - self.mean[starts, None]) / self.std[starts, None])

    def reduced(self) -> FloatArray:
        """Each window's weighted segment means, (windows, SEGMENTS or m when shorter): their
        Euclidean distance is at most the windows' distance."""
        m = self.m
        pieces = min(SEGMENTS, m)
        bounds = np.rint(np.arange(pieces + 1) * m / pieces).astype(np.int64)
        sums = np.concatenate([[0.0], np.cumsum(self.scaled)])
        starts = np.arange(self.count)
        out = np.empty((self.count, pieces))
        for k in range(pieces):
            points = int(bounds[k + 1] - bounds[k])
            segment = (sums[starts + bounds[k + 1]] - sums[starts + bounds[k]]) / points
            out[:, k] = (segment - self.mean) / self.std * math.sqrt(points / m)
        out[~self.usable] = 0.0
        return out

    def profiles(self, starts: IntArray, blocked: BoolArray) -> FloatArray:
        """Distance of each window at starts to every window, (len(starts), windows); +inf
        within the exclusion zone of the window itself and on blocked windows."""
        rows = self.bank.series_distances(0, self.shapes(starts))
        places = np.arange(self.count)
        rows[np.abs(places[None, :] - starts[:, None]) <= self.zone] = np.inf
        rows[:, blocked] = np.inf
        return rows


def proposals(windows: Windows, blocked: BoolArray, rng: np.random.Generator) -> IntArray:
    """Pairs (a, b), a < b, of windows that fall together in the random cuttings, closest first
    by their reduced distance, one per neighbourhood: (P, 2)."""
    open_ = windows.usable & ~blocked
    places = np.flatnonzero(open_)
    if len(places) < 2:
        return np.zeros((0, 2), np.int64)
    # Single precision halves the memory the cuttings stream through; the proposals are only
    # ranked by these values, every distance reported is computed again exactly.
    reduced = windows.reduced()[places].astype(np.float32)
    covariance = np.cov(reduced, rowvar=False).reshape(reduced.shape[1], reduced.shape[1])
    found_a: list[IntArray] = []
    found_b: list[IntArray] = []
    found_d: list[FloatArray] = []
    dims = _dimensions(reduced, covariance, rng)
    tables = min(MOST_TABLES, max(TABLES, CUT_WINDOWS // len(places)))
    for _ in range(tables):
        directions = rng.normal(size=(reduced.shape[1], dims))
        keys = _cell_keys(reduced, covariance, directions, rng.random(dims))
        shuffle = rng.permutation(len(keys))
        # Equal keys come out in the shuffled order, or some order of it: random either way.
        order = shuffle[np.argsort(keys[shuffle])]
        # In cell order (random within a cell), so that each step below compares two
        # contiguous stretches.
        sorted_keys, at, points = keys[order], places[order], reduced[order]
        for step in range(1, min(NEIGHBOURS, len(order) - 1) + 1):
            apart = np.abs(at[:-step] - at[step:]) > max(windows.zone, near_reach(windows.m))
            same = (sorted_keys[:-step] == sorted_keys[step:]) & apart
            gaps = points[:-step] - points[step:]
            i = np.flatnonzero(same)
            squares = np.einsum("ij,ij->i", gaps, gaps)[i]
            if len(squares) > KEPT:
                best = np.argpartition(squares, KEPT)[:KEPT]
                i, squares = i[best], squares[best]
            found_a.append(np.minimum(at[i], at[i + step]))
            found_b.append(np.maximum(at[i], at[i + step]))
            found_d.append(squares.astype(np.float64))
    a, b, d = np.concatenate(found_a), np.concatenate(found_b), np.concatenate(found_d)
    order = np.argsort(d, kind="stable")
    return _distinct(a[order], b[order], windows.zone, PROPOSALS)


def _projected(reduced: npt.NDArray[np.float32], directions: FloatArray) -> npt.NDArray[np.float32]:
    """reduced times directions, without a matrix library: a product this narrow is faster
    in one pass of einsum than through the library's threads, which only contend here."""
    return np.asarray(np.einsum("ik,kd->id", reduced, directions.astype(np.float32)), np.float32)


def _cell_keys(
    reduced: npt.NDArray[np.float32], covariance: FloatArray, directions: FloatArray, offsets: FloatArray
) -> FloatArray:
    """The cell of each window in one cutting, as one number: its cell along each direction
    (cells half the projection's spread wide, shifted by the offsets, at most CELL_REACH cells
    from the centre) as the digits of a number in base 2 CELL_REACH + 1, exact in a double for
    up to MOST_DIRECTIONS directions."""
    spread = np.sqrt(np.maximum(np.einsum("kd,kl,ld->d", directions, covariance, directions), 0.0))
    width = (0.5 * spread + 1e-30).astype(np.float32)
    cells = np.floor(_projected(reduced, directions) / width + offsets.astype(np.float32))
    np.clip(cells, -CELL_REACH, CELL_REACH, out=cells)
    powers = float(2 * CELL_REACH + 1) ** np.arange(directions.shape[1])
    return np.asarray(np.einsum("ij,j->i", cells.astype(np.float64), powers))


def _dimensions(reduced: npt.NDArray[np.float32], covariance: FloatArray, rng: np.random.Generator) -> int:
    """Random directions per cutting: the fewest whose cells hold about CELL_WINDOWS windows
    (estimated on a sample of the windows), at most MOST_DIRECTIONS."""
    sample = reduced[rng.choice(len(reduced), min(len(reduced), 8192), replace=False)]
    directions = rng.normal(size=(reduced.shape[1], MOST_DIRECTIONS))
    for dims in range(1, MOST_DIRECTIONS + 1):
        keys = _cell_keys(sample, covariance, directions[:, :dims], np.zeros(dims))
        _, counts = np.unique(keys, return_counts=True)
        mates = float(np.sum(counts.astype(np.float64) ** 2)) / len(sample) ** 2 * len(reduced)
        if mates <= CELL_WINDOWS:
            return dims
    return MOST_DIRECTIONS


def _distinct(a: IntArray, b: IntArray, zone: int, most: int) -> IntArray:
    """The first pairs (in order) of each neighbourhood: pairs whose first windows, and whose
    offsets b - a, round to the same multiple of the exclusion zone stand for one; at most
    ``most``: (P, 2)."""
    step = zone + 1
    keys = np.rint(a / step).astype(np.int64) * np.int64(1 << 32) + np.rint((b - a) / step).astype(
        np.int64
    )
    _, first = np.unique(keys, return_index=True)
    chosen = np.sort(first)[:most]
    return np.stack([a[chosen], b[chosen]], axis=1)


def along_diagonals(windows: Windows, proposed: IntArray, blocked: BoolArray) -> tuple[IntArray, FloatArray]:
    """For each pair (a, b) and each of the pairs (a, b + j), |j| up to NEAR_DIAGONALS, the
    closest pair (a + k, b + j + k), |k| within the exclusion zone, both windows usable and open
    and still beyond the zone: (P', 2) starts and (P',) distances (+inf when none is)."""
    m, zone, n = windows.m, windows.zone, len(windows.scaled)
    pairs = np.concatenate([proposed + np.array([0, j]) for j in range(-NEAR_DIAGONALS, NEAR_DIAGONALS + 1)])
    pairs = pairs[pairs[:, 1] - pairs[:, 0] > zone]
    if len(pairs) == 0:
        return pairs.reshape(0, 2), np.zeros(0)
    reach = np.arange(2 * zone + m)
    at_a = pairs[:, :1] - zone + reach
    at_b = pairs[:, 1:] - zone + reach
    inside = (at_a >= 0) & (at_b >= 0) & (at_a < n) & (at_b < n)
    products = np.where(
        inside, windows.scaled[np.clip(at_a, 0, n - 1)] * windows.scaled[np.clip(at_b, 0, n - 1)], 0.0
    )
    sums = np.concatenate([np.zeros((len(pairs), 1)), np.cumsum(products, axis=1)], axis=1)
    dots = sums[:, m : m + 2 * zone + 1] - sums[:, : 2 * zone + 1]
    shift = np.arange(-zone, zone + 1)
    starts_a, starts_b = pairs[:, :1] + shift, pairs[:, 1:] + shift
    valid = (starts_a >= 0) & (starts_b < windows.count)
    sa, sb = np.clip(starts_a, 0, windows.count - 1), np.clip(starts_b, 0, windows.count - 1)
    open_ = windows.usable & ~blocked
    valid &= open_[sa] & open_[sb]
    r = (dots / m - windows.mean[sa] * windows.mean[sb]) / (windows.std[sa] * windows.std[sb])
    distance = np.where(valid, np.sqrt(2.0 * (1.0 - np.clip(r, -1.0, 1.0))), np.inf)
    best = distance.argmin(axis=1)
    rows = np.arange(len(pairs))
    chosen = np.stack([sa[rows, best], sb[rows, best]], axis=1)
    return chosen, distance[rows, best]


def near_reach(m: int) -> int:
    """Pairs of windows of m points at most this many points apart (ceil(m / 2)) are all
    measured by near_pairs, never proposed: a window's shifts by a few points are the closest
    of its reduced neighbours, and would crowd out every other proposal."""
    return default_exclusion(m)


def near_pairs(windows: Windows, blocked: BoolArray) -> tuple[IntArray, FloatArray]:
    """For each offset j beyond the exclusion zone up to near_reach, the closest pair (a, a + j)
    of open windows, by exact sliding sums: (J, 2) starts and (J,) distances."""
    m, count = windows.m, windows.count
    open_ = windows.usable & ~blocked
    found_pairs: list[list[int]] = []
    found: list[float] = []
    for j in range(windows.zone + 1, min(near_reach(m), count - 1) + 1):
        dots = window_sums(windows.scaled[:-j] * windows.scaled[j:], m)[: count - j]
        r = (dots / m - windows.mean[:-j] * windows.mean[j:]) / (windows.std[:-j] * windows.std[j:])
        distance = np.where(open_[:-j] & open_[j:], np.sqrt(2.0 * (1.0 - np.clip(r, -1.0, 1.0))), np.inf)
        a = int(np.argmin(distance))
        found_pairs.append([a, a + j])
        found.append(float(distance[a]))
    return np.array(found_pairs, dtype=np.int64).reshape(-1, 2), np.array(found)


def nearest_profile(windows: Windows) -> FloatArray | None:
    """Each window's highest correlation with a window beyond the exclusion zone (NaN where
    none is usable), walked along the diagonals of the whole series in the native module;
    None when that takes more than PROFILE_CELLS pairs of windows."""
    beyond = max(0, windows.count - windows.zone - 1)
    cells = beyond * (beyond + 1) / 2
    if cells > PROFILE_CELLS or beyond == 0:
        return None
    return _native.nearest_profile(
        windows.bank.values[0],
        windows.bank.weights[0],
        windows.m,
        windows.zone,
        threads=_threads.for_work(4.0 * cells),
    )


def profile_seeds(windows: Windows, blocked: BoolArray, profile: FloatArray) -> tuple[IntArray, FloatArray]:
    """The open windows of the highest profile, one per exclusion zone, at most PROFILE_SEEDS,
    each as a pair of itself (its nearest window is found when it is verified) with the
    distance of its nearest window: (S, 2) and (S,). Open or not, that window is at least as
    far as the profile says."""
    r = np.where(windows.usable & ~blocked & np.isfinite(profile), profile, -np.inf)
    top = np.argsort(-r, kind="stable")[: PROFILE_SEEDS * (2 * windows.zone + 2)]
    chosen: list[int] = []
    for start in top.tolist():
        if not np.isfinite(r[start]) or len(chosen) == PROFILE_SEEDS:
            break
        if all(abs(start - other) > windows.zone for other in chosen):
            chosen.append(start)
    seeds = np.array(chosen, dtype=np.int64)
    distances = np.sqrt(2.0 * (1.0 - np.clip(r[seeds], -1.0, 1.0)))
    return np.stack([seeds, seeds], axis=1).reshape(-1, 2), distances


def candidates_of(
    windows: Windows, blocked: BoolArray, rng: np.random.Generator, profile: FloatArray | None = None
) -> tuple[IntArray, FloatArray]:
    """Candidate pairs with their exact distances: the proposals followed along their diagonals,
    the closest pair at each offset up to near_reach, and with a profile its closest windows
    (`profile_seeds`)."""
    far, far_distances = along_diagonals(windows, proposals(windows, blocked, rng), blocked)
    near, near_distances = near_pairs(windows, blocked)
    pairs, distances = [far, near], [far_distances, near_distances]
    if profile is not None:
        seeds, seed_distances = profile_seeds(windows, blocked, profile)
        pairs.append(seeds)
        distances.append(seed_distances)
    return np.concatenate(pairs), np.concatenate(distances)


def closest_pair(
    windows: Windows, blocked: BoolArray, candidates: tuple[IntArray, FloatArray], values: FloatArray
) -> Pair | None:
    """The closest pair among the candidates' windows, verified against the whole series: for
    the VERIFIED closest candidates still open, both windows' nearest open window beyond the
    exclusion zone, followed along its diagonal and verified again until it improves no more;
    None when no candidate is open."""
    pairs, distances = candidates
    open_ = windows.usable & ~blocked
    if len(pairs) == 0:
        return None
    alive = np.isfinite(distances) & open_[pairs[:, 0]] & open_[pairs[:, 1]]
    if not alive.any():
        return None
    order = np.flatnonzero(alive)[np.argsort(distances[alive], kind="stable")][:VERIFIED]
    starts = np.unique(pairs[order].reshape(-1))
    best: tuple[float, int, int] | None = None
    for _ in range(VERIFIED):
        rows = windows.profiles(starts, blocked)
        nearest = rows.argmin(axis=1)
        closest = rows[np.arange(len(starts)), nearest]
        at = int(np.argmin(closest))
        if not math.isfinite(float(closest[at])):
            break
        a, b = sorted((int(starts[at]), int(nearest[at])))
        if best is not None and (a, b) == best[1:]:
            break
        best = (float(closest[at]), a, b)
        moved, near = along_diagonals(windows, np.array([[a, b]], dtype=np.int64), blocked)
        starts = np.unique(moved[np.argmin(near)])
        if set(starts.tolist()) <= {a, b}:
            break
    if best is None:
        return None
    return Pair(best[1], best[2], pair_distance(values, best[1], best[2], windows.m))


def series_motifs(
    values: FloatArray, series: int, m: int, zone: int, most: int, *, whole_profile: bool = True
) -> list[WithinMotif]:
    """Up to ``most`` motifs of windows of m points of one series, closest pair first; with
    ``whole_profile``, the profile's closest windows proposed too where it is cheap
    (`nearest_profile`): the first pair is then the exact closest pair."""
    rng = np.random.default_rng([SEED, m, zone])
    _progress.step(f"series {series}: {NULL_DRAWS} shuffles at length {m}")
    chance = Chance(values, m)
    _progress.step(f"series {series}: motifs at length {m}")
    windows = Windows(values, m, zone)
    if windows.count == 0:
        return []
    blocked = np.zeros(windows.count, bool)
    profile = nearest_profile(windows) if whole_profile else None
    candidates = candidates_of(windows, blocked, rng, profile)
    found: list[WithinMotif] = []
    # A motif that is an earlier one's shape again, at another phase, joins it: at most
    # ABSORBED_SHARE times as many pairs followed as motifs wanted.
    for _ in range(ABSORBED_SHARE * most):
        if len(found) == most:
            break
        pair = closest_pair(windows, blocked, candidates, values)
        if pair is None:
            candidates = candidates_of(windows, blocked, rng, profile)
            pair = closest_pair(windows, blocked, candidates, values)
            if pair is None:
                break
        motif = _grown(windows, pair, blocked, chance, series)
        for start in motif.starts.tolist():
            blocked[max(0, start - zone) : start + zone + 1] = True
        for k, earlier in enumerate(found):
            shift = same_shape_shift(earlier, motif)
            if shift is not None:
                found[k] = absorbed(earlier, motif, shift, windows, chance)
                break
        else:
            found.append(motif)
    return found


def _grown(
    windows: Windows,
    pair: Pair,
    blocked: BoolArray,
    chance: Chance,
    series: int,
) -> WithinMotif:
    """The motif of a pair: its shape; every open window within chance's radius of it (the
    shape's closest window in any shuffle), from which its evidence comes (how many there
    are); and besides them every open window within the radius that finds a shape's copies in
    a search by example (CHANCE_FACTOR times the closest that shapes like it but not it come:
    see zorp_miner.search.matches). The shuffles keep what fits in a quarter of the window, so
    in a series made of one short shape over and over (a heartbeat) chance comes as close as
    the copies do: every copy is still an occurrence of the motif, which so holds every beat
    once, not a tenth of them at each of ten phases."""
    shape = znormalised(windows.shapes(np.array([pair.a, pair.b])).mean(axis=0))
    profile = windows.bank.series_distances(0, shape[None, :])[0]
    like = windows.bank.series_distances(0, scrambled(shape, CHANCE_SHAPES))
    search_reach = CHANCE_FACTOR * float(np.min(like, initial=np.inf))

    def taken_within(reach: float) -> list[int]:
        """The pair, then every open window within reach, closest first (the earlier of
        equals), none within the exclusion zone of one taken before it."""
        taken = [pair.a, pair.b]
        free = ~blocked.copy()
        for start in taken:
            free[max(0, start - windows.zone) : start + windows.zone + 1] = False
        # Sorting only the windows within reach spares a sort of every window of a long
        # series for each motif.
        near = np.flatnonzero(profile <= reach)
        for start in near[np.argsort(profile[near], kind="stable")].tolist():
            if free[start]:
                taken.append(start)
                free[max(0, start - windows.zone) : start + windows.zone + 1] = False
        return taken

    searched: list[list[int]] = []  # the windows within the search's reach, once taken

    def settled(bound: float) -> bool:
        # Chance's radius is at most bound: within the search's reach, which is then the
        # motif's whatever the shuffles left hold, and with no window beyond the pair within
        # it, the evidence is that of none.
        if not bound <= search_reach:
            return False
        if not searched:
            searched.append(taken_within(search_reach))
        return not any(profile[start] <= bound for start in searched[0][2:])

    radius, exact = chance.bound(shape, settled)
    reach = max(radius, search_reach)
    taken = searched[0] if searched and reach == search_reach else taken_within(reach)
    beyond = sum(bool(profile[start] <= radius) for start in taken[2:])
    starts = np.array(taken, dtype=np.int64)
    return WithinMotif(
        series=series,
        length=windows.m,
        pair=pair,
        starts=starts,
        distances=profile[starts],
        representative=shape,
        evidence=group_evidence(beyond),
        radius=radius,
        radius_exact=exact,
        reach=reach,
    )


def same_shape_shift(earlier: WithinMotif, later: WithinMotif) -> int | None:
    """The shift (points, at most a quarter of the length) at which a later motif's shape is
    the earlier one's again: within the earlier one's reach of it, where a search by example
    for it would take the later shape as a copy (`shifted_distance` at that shift); None when
    there is no such shift."""
    m = earlier.length
    best: tuple[float, int] | None = None
    for shift in close_shifts(earlier.representative, later.representative, m // 4, earlier.reach):
        distance = shifted_distance(earlier.representative, later.representative, 0, shift)
        if distance <= earlier.reach and (best is None or distance < best[0]):
            best = (distance, shift)
    return None if best is None else best[1]


def absorbed(
    earlier: WithinMotif, later: WithinMotif, shift: int, windows: Windows, chance: Chance
) -> WithinMotif:
    """One motif of two that are one shape (`same_shape_shift`): the earlier (the closer
    pair's), with the later one's windows moved by -shift points onto its phase (each that fits
    in the series and keeps the exclusion zone from those there), and its evidence counted
    again as any motif's is: its windows beyond the pair within chance's radius of its shape."""
    taken = earlier.starts.tolist()
    free = np.ones(windows.count, bool)
    for start in taken:
        free[max(0, start - windows.zone) : start + windows.zone + 1] = False
    for start in (later.starts - shift).tolist():
        if 0 <= start < windows.count and free[start] and windows.usable[start]:
            taken.append(start)
            free[max(0, start - windows.zone) : start + windows.zone + 1] = False
    profile = windows.bank.series_distances(0, earlier.representative[None, :])[0]
    rest = sorted(taken[2:], key=lambda start: (profile[start], start))
    starts = np.array(taken[:2] + rest, dtype=np.int64)
    if not earlier.radius_exact and bool(np.any(profile[starts[2:]] <= earlier.radius)):
        # Only a bound of chance's radius was needed so far: a window within it needs the radius.
        earlier = dataclasses.replace(earlier, radius=chance.radius(earlier.representative), radius_exact=True)
    beyond = int(np.sum(profile[starts[2:]] <= earlier.radius))
    return dataclasses.replace(earlier, starts=starts, distances=profile[starts], evidence=group_evidence(beyond))


def group_evidence(beyond: int) -> float:
    """The evidence of a motif with ``beyond`` windows besides its pair within chance's radius:
    the one-sided normal quantile of the mid-p value q^beyond (1 + q) / 2, q = 1 / (NULL_DRAWS
    + 1) (see the module's docstring)."""
    q = 1.0 / (NULL_DRAWS + 1)
    # Some 190 windows and more make the chance underflow: the evidence stops at about 37.5.
    chance = max(0.5 * q**beyond * (1.0 + q), sys.float_info.min)
    return -statistics.NormalDist().inv_cdf(chance)


def rank(motif: WithinMotif) -> tuple[bool, float, int, float, int]:
    """The order of motifs within series: likely first, then by evidence (not measured last),
    the longer first (found without a length, a shape's part as evident as the shape goes after
    it and joins it), then by pair distance."""
    evidence = motif.evidence if math.isfinite(motif.evidence) or motif.evidence > 0 else -math.inf
    return (not motif.likely, -evidence, -motif.length, motif.pair.distance, motif.series)
