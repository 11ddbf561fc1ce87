"""Robust motif discovery: symbolic proposals, exact verification by sliding distances.

The exact pipeline finds a shape only where it reads as the same letters in every series. Here
letters only *propose* shapes; every proposal is then checked against the numbers:

1. Proposals. Windows of the motif length m are taken from every series (a stride of about
   m / 16 points), z-normalised one by one and reduced to the means of ``letters`` segments,
   which ``_native.propose`` turns into SAX letters for each alphabet in ``ALPHABETS``. A word
   also counts, tolerantly, under each of its one-letter wildcards ("abdc" also as ".bdc",
   "a.dc", ...). A key held by at least ``proposal_support`` of the series proposes the medoid
   of its windows (the window whose segment means are closest to the key's average); keys that
   occur once in many series come first (support divided by the square root of the
   occurrences per series), monotone shapes are skipped.
2. Screening. Each proposal's length-normalised z-normalised distance to every window of every
   series gives its best match per series (``SeriesBank.best``); the proposals are ranked by
   the consensus score below, computed on series averaged over m / 24 points for speed.
3. Refinement. The best proposals are refined at full resolution: take the best matches of the
   ceil(minsup x N) closest series, shift them together by the common offset (up to m / 2
   points) at which they agree best, and replace the shape by their average; twice.
4. Acceptance. A series holds the motif when its best match is closer, by the factor
   ``MARGIN``, than the best match in that series of any of ``SURROGATES`` random shapes with
   the motif's spectrum (the motif with its Fourier phases scrambled: as smooth, but not the
   same shape). A motif must be held by at least ceil(minsup x N) series, and its score must
   also be below MARGIN x the score of the surrogates' best matches.
5. Ranking. The score is the mean, over the ceil(minsup x N) closest series, of the best-match
   distance sqrt(2 (1 - r)) (r the Pearson correlation): the root mean square difference per
   point of the z-normalised shapes, 0 for identical, 1.41 for unrelated. Motifs whose matches
   coincide with a better motif's are dropped (before their surrogates are matched).

Without a length, candidate lengths come from the longest frequent letter patterns of the
detrended series (``_zorp_cpp.PatternMiner`` over two phase offsets of the segment grid); each is
searched as above, and a motif found is lengthened by a quarter at a time while its score stays
within ``SLACK`` of the length it was found at.

Nothing depends on the order of the series: every choice is made on shapes and distances, and
ties between equal keys fall to the key's letters. The work per series (window statistics and
words, key counts, best matches, the sums of the members' windows that refining averages, the
windows at given places) is separate from the choices made
over the whole set (ranking keys, screening, refining, accepting, ranking motifs): the series
are read only through a `RobustStore`, whose per-series steps run part by part over a set held
in parts (see ``zorp_miner._parts``), each from its own series alone, and whose results add up
the same whatever the parts. A run over a Dask cluster is this same run over parts loaded on
the workers, and gives the same motifs bit for bit.
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Callable
from typing import TypeVar, cast

import numpy as np
import numpy.typing as npt

import _zorp_cpp

from zorp_miner import _native
from zorp_miner import progress as _progress
from zorp_miner._parts import LocalParts, Parts
from zorp_miner._sliding import FloatArray, SeriesBank, window_statistics, znormalised

IntArray = npt.NDArray[np.int64]
T = TypeVar("T")

# Fixed rules of the method (not tuned per data set; see bench/README.md).
ALPHABETS = (3, 4)  # letters per position of the proposal words
MONOTONE = 0.9  # a shape whose variance a monotone curve explains beyond this is trivial
SURROGATES = 4  # phase-scrambled shapes whose best matches set the bar for acceptance
MARGIN = 0.8  # a series holds a motif when its best match is this much closer than chance
GROWTH = 1.25  # factor by which a motif of unknown length is lengthened per step
SLACK = 1.1  # a longer motif is kept while its score is at most this times the first
COARSE_POINTS = 24  # points per shape when screening proposals on averaged series
WINDOWS_PER_SERIES = 4096  # at most this many proposal windows per series
SEED = 20261208  # of the surrogate phases
PHASES = 4  # progress steps per length: proposals, screening, refinement, acceptance
LENGTH_SEGLEN = 8  # points per letter of the length proposals, by default
LENGTH_LETTERS_MIN = 4  # the shortest length proposed, in letters (32 points by default)


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
        Mean best-match distance over the ceil(minsup x N) closest series; smaller is better.
    pattern : str
        The symbolic key that proposed the motif ("." a wildcard letter).
    seglen : int
        Points per letter of ``pattern`` (at the length the motif was proposed at).
    """

    length: int
    representative: FloatArray
    starts: dict[int, int]
    distances: dict[int, float]
    support: int
    score: float
    pattern: str
    seglen: int


def discover(
    series: list[FloatArray] | Parts | RobustStore,
    *,
    length: int | None = None,
    minsup: float = 0.5,
    top: int | None = 3,
    letters: int = 8,
    proposal_support: float = 0.25,
    candidates: int = 256,
    refined: int = 24,
    seglen: int = LENGTH_SEGLEN,
) -> list[Found]:
    """The best motifs shared by a set of series, best first.

    Parameters
    ----------
    series : list of 1-D float64 arrays, or Parts
        The series, of any lengths; NaN marks missing points (windows holding one never match).
        Or a set held in parts (``zorp_miner._parts``), which gives the same motifs.
    length : int or None, default None
        Motif length in points (at least 4). None: lengths proposed from frequent letter
        patterns (see the module's description), the length found is reported per motif.
    minsup : float, default 0.5
        Fraction of the series (0 < minsup <= 1) that must hold a motif; the score averages the
        ceil(minsup x N) closest of them.
    top : int or None, default 3
        The motifs wanted: the best max(refined, 2 x top) screened proposals are refined (only
        ``refined`` when None). Every motif accepted among them is returned.
    letters : int, default 8
        Letters per proposal word (each covers length // letters points).
    proposal_support : float, default 0.25
        Fraction of the series in which a word must occur to propose a shape.
    candidates : int, default 256
        Proposals screened.
    refined : int, default 24
        Screened proposals refined and ranked exactly.
    seglen : int, default 8
        Points per letter of the length proposals when ``length`` is None.

    Returns
    -------
    list of Found
        The motifs accepted, smallest score first (without a length, at the length each was
        grown to; the first ``top`` are grown, the others keep the length they were found at);
        empty when no shape is held by enough series.
    """
    _check(length, minsup, top, letters, proposal_support, candidates, refined, seglen)
    store = as_store(series)
    if length is not None:
        _progress.plan(PHASES)  # progress: the phases of one length
        return _discover_length(store, length, minsup, top, letters, proposal_support, candidates, refined)
    _progress.plan(1)  # progress: proposing the lengths
    _progress.step("proposing motif lengths")
    lengths = proposed_lengths(store, seglen, proposal_support)
    _progress.plan(PHASES * len(lengths) + 1)  # progress: each length's phases, then growing
    found: list[Found] = []
    for m in lengths:
        found.extend(_discover_length(store, m, minsup, top, letters, proposal_support, candidates, refined))
    found.sort(key=lambda motif: (motif.score, motif.length, motif.pattern))
    kept: list[Found] = []
    for motif in found:
        if not any(_same_places(motif, other) for other in kept):
            kept.append(motif)
    grown = len(kept) if top is None else top
    _progress.step(f"lengthening {min(grown, len(kept))} motifs")  # progress
    lengthened: list[Found] = []
    for motif in [_grown(store, motif, minsup) for motif in kept[:grown]] + kept[grown:]:
        # A lengthened motif may now cover a lesser one's matches.
        if not any(_same_places(motif, other) for other in lengthened):
            lengthened.append(motif)
    return lengthened


def _check(
    length: int | None,
    minsup: float,
    top: int | None,
    letters: int,
    proposal_support: float,
    candidates: int,
    refined: int,
    seglen: int,
) -> None:
    def whole(name: str, value: object, least: int, meaning: str) -> None:
        if isinstance(value, bool) or not isinstance(value, int) or value < least:
            raise ValueError(f"{name} must be an integer of at least {least} {meaning}, got {value!r}")

    if length is not None:
        whole("length", length, 4, "points")
    for name, fraction in (("minsup", minsup), ("proposal_support", proposal_support)):
        if not (isinstance(fraction, (int, float)) and 0.0 < fraction <= 1.0):
            raise ValueError(f"{name} must be a fraction of the series in (0, 1], got {fraction!r}")
    if top is not None:
        whole("top", top, 1, "motifs")
    whole("letters", letters, 1, "letters per word")
    whole("candidates", candidates, 1, "proposals")
    whole("refined", refined, 1, "proposals")
    whole("seglen", seglen, 1, "points per letter")


def _discover_length(
    store: RobustStore,
    m: int,
    minsup: float,
    top: int | None,
    letters: int,
    proposal_support: float,
    candidates: int,
    refined: int,
) -> list[Found]:
    count = store.count
    if count == 0 or m > int(store.lengths.max()):
        return []
    core_size = max(1, math.ceil(minsup * count))
    _progress.step(f"length {m}: proposing shapes")  # progress: phase 1 of PHASES
    shapes, names = _proposals(store, m, letters, proposal_support * count, candidates)
    if len(shapes) == 0:
        return []
    _progress.step(f"length {m}: screening {len(shapes)} proposals")  # progress: phase 2
    order = _screened(store, shapes, core_size)
    chosen = order[: refined if top is None else max(refined, 2 * top)]
    # The chosen proposals are refined together: one pass over the series per round.
    current = shapes[chosen]
    _progress.step(f"length {m}: refining {len(chosen)} shapes")  # progress: phase 3
    for _ in range(2):
        starts, best = store.best(m, current)
        cores = [_closest(row, core_size) for row in best]
        current = np.stack(realigned_each(store, [(starts[c][core], core) for c, core in enumerate(cores)], m))
    trivial = [monotone_share(shape) > MONOTONE for shape in current]
    kept_shapes = [c for c in range(len(chosen)) if not trivial[c]]
    if not kept_shapes:
        return []
    _progress.step(f"length {m}: accepting motifs")  # progress: phase 4
    starts, best = store.best(m, current[kept_shapes])
    ranked = sorted(
        (
            (_consensus(best[k], core_size), names[chosen[c]], current[c], starts[k], best[k])
            for k, c in enumerate(kept_shapes)
        ),
        key=lambda item: (item[0], item[1]),
    )
    kept: list[Found] = []
    chances: dict[int, FloatArray] = {}
    for place, (score, name, shape, starts_row, best_row) in enumerate(ranked):
        # A candidate whose matches coincide with a kept motif's, in the series that motif
        # holds, is that motif again: it is dropped before its surrogates are matched.
        if _repeats(kept, m, starts_row, best_row):
            continue
        if place not in chances:
            # Every pass over the series costs as much as loading them: parts away from this
            # process match the surrogates of the next few candidates that may need them at
            # once (one of them may yet repeat a motif kept meanwhile, and go unused).
            batch = [place]
            for later in range(place + 1, len(ranked)):
                if len(batch) == store.surrogate_batch:
                    break
                if not _repeats(kept, m, ranked[later][3], ranked[later][4]):
                    batch.append(later)
            _, matched = store.best(
                m, np.concatenate([surrogates(ranked[k][2], SURROGATES) for k in batch]), starts=False
            )
            for j, k in enumerate(batch):
                chances[k] = matched[j * SURROGATES : (j + 1) * SURROGATES]
        held = _held(best_row, chances[place], core_size)
        if len(held) < core_size:
            continue
        motif = Found(
            m,
            shape,
            {int(i): int(starts_row[i]) for i in held},
            {int(i): float(best_row[i]) for i in held},
            len(held),
            score,
            name,
            m // min(letters, m),
        )
        if any(_same_places(motif, other) for other in kept):
            continue
        kept.append(motif)
    return kept


def _repeats(kept: list[Found], m: int, starts_row: IntArray, best_row: FloatArray) -> bool:
    """Whether a candidate's matches coincide with those of a kept motif."""
    matched = np.flatnonzero(np.isfinite(best_row))
    places = {int(i): int(starts_row[i]) for i in matched}
    return any(_coincide(places, m, other) for other in kept)


# ---------------------------------------------------------------------------------------------
# Proposals


def _window_words(series: list[FloatArray], m: int, letters: int) -> tuple[IntArray, IntArray, FloatArray]:
    """Owner series, start (points) and z-normalised segment means of the proposal windows.

    A window's means are those of its ``letters`` segments of m // letters points after
    z-normalising the window (the tail beyond letters x seglen is left out). Windows are taken
    every max(1, m // 16) points, fewer in a series with more than WINDOWS_PER_SERIES of them;
    windows with a NaN or without a shape (flat) are left out.
    """
    letters = min(letters, m)
    seglen = m // letters
    owners, starts, rows = [], [], []
    for index, values in enumerate(series):
        if len(values) < m:
            continue
        mean, deviation, usable = window_statistics(values, m)
        windows = len(values) - m + 1
        stride = max(1, m // 16, -(-windows // WINDOWS_PER_SERIES))
        positions = np.arange(0, windows, stride)
        positions = positions[usable[positions]]
        if len(positions) == 0:
            continue
        sums = np.concatenate([[0.0], np.cumsum(np.where(np.isfinite(values), values, 0.0))])
        edges = positions[:, None] + seglen * np.arange(letters + 1)[None, :]
        segment_means = np.diff(sums[edges], axis=1) / seglen
        rows.append((segment_means - mean[positions, None]) / deviation[positions, None])
        owners.append(np.full(len(positions), index, dtype=np.int64))
        starts.append(positions)
    if not rows:
        return np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros((0, letters))
    return np.concatenate(owners), np.concatenate(starts), np.concatenate(rows)


def _proposals(
    store: RobustStore,
    m: int,
    letters: int,
    wanted: float,
    count: int,
    alphabets: tuple[int, ...] = ALPHABETS,
) -> tuple[FloatArray, list[str]]:
    """Up to count shapes proposed by frequent words, split evenly over the alphabets.

    The keys are counted part by part and added up; their ranking, the sums of their windows'
    means and each key's medoid are the native module's steps (``_native.ranked_keys``,
    ``sum_members``, ``nearest_members``), which give, over parts, what ``_native.propose``
    gives over one part holding every window; see the module's description.
    """
    shapes: list[FloatArray] = []
    names: list[str] = []
    tables = store.key_counts(m, letters, alphabets)
    for alphabet, merged in zip(alphabets, tables):
        projections, keys = _native.ranked_keys(merged, wanted)
        for word, window in _medoids(store, m, letters, alphabet, projections, keys, count // len(alphabets)):
            shapes.append(znormalised(window))
            names.append(word)
    return (np.stack(shapes) if shapes else np.zeros((0, m))), names


KeyTable = list[tuple[npt.NDArray[np.uint64], IntArray, IntArray]]


def _added_counts(total: list[KeyTable] | None, part: list[KeyTable]) -> list[KeyTable] | None:
    """A part's key counts (one table per alphabet) added to the total of the parts before."""
    if total is None:
        return part
    return [_merged_counts([a, b]) for a, b in zip(total, part)]


def _merged_counts(tables: list[KeyTable]) -> KeyTable:
    """The key counts of the tables added up, per projection (keys ascending): integer sums,
    the same in any order and grouping."""
    merged: KeyTable = []
    for projection in range(len(tables[0])):
        keys = np.concatenate([table[projection][0] for table in tables])
        unique, inverse = np.unique(keys, return_inverse=True)
        windows = np.zeros(len(unique), np.int64)
        series = np.zeros(len(unique), np.int64)
        np.add.at(windows, inverse, np.concatenate([table[projection][1] for table in tables]))
        np.add.at(series, inverse, np.concatenate([table[projection][2] for table in tables]))
        merged.append((unique.astype(np.uint64), windows, series))
    return merged


def _medoids(
    store: RobustStore,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    count: int,
) -> list[tuple[str, FloatArray]]:
    """The proposals of the ranked keys, as ``_native.propose`` makes them: each key whose
    windows no earlier key held proposes its medoid unless that is monotone, until count. Each
    as its word and its window."""
    proposals: list[tuple[str, FloatArray]] = []
    seen: set[tuple[int, int, int]] = set()
    batch = max(64, 2 * count)
    for first in range(0, len(keys), batch):
        if len(proposals) >= count:
            break
        chosen = (projections[first : first + batch], keys[first : first + batch])
        counts, prints, averages = store.member_averages(m, letters, alphabet, *chosen)
        nearest = store.nearest_members(m, letters, alphabet, *chosen, averages)
        fresh: list[int] = []
        for e in range(len(counts)):
            identity = (int(counts[e]), int(prints[e, 0]), int(prints[e, 1]))
            if identity not in seen:
                seen.add(identity)
                fresh.append(e)
        places = [(nearest[e][0], nearest[e][1], nearest[e][1] + m) for e in fresh]
        medoids = dict(zip(fresh, store.windows(places)))
        for e in fresh:
            if len(proposals) >= count:
                break
            shape = _native.znormalised(medoids[e])
            if _native.monotone_share(shape) > MONOTONE:
                continue
            proposals.append((nearest[e][2], medoids[e]))
    return proposals


def proposed_lengths(store: RobustStore, seglen: int, support: float, most: int = 3) -> list[int]:
    """Motif lengths (points) of the longest frequent letter patterns of the detrended series.

    Each series is detrended over 32 segments, z-normalised and turned into letters (alphabet 4)
    at two phase offsets of the segment grid, 0 and seglen // 2, joined by a separator that no
    pattern may cross. Patterns of at least 4 letters held by ``support`` of the series are
    ranked by support times length; up to ``most`` lengths at least 20 % apart are returned.
    """
    words = store.length_words(max(1, seglen))
    miner = _zorp_cpp.PatternMiner(support, min_len=LENGTH_LETTERS_MIN, max_len=256)
    miner.mine(words)
    ranked = sorted(
        ((len(motif.indexes) * len(pattern), len(pattern), pattern) for pattern, motif in miner.frequent.items()
         if "#" not in pattern),
        key=lambda item: (-item[0], -item[1], item[2]),
    )
    lengths: list[int] = []
    for _, size, _ in ranked:
        points = size * seglen
        if all(abs(points - other) > 0.2 * other for other in lengths):
            lengths.append(points)
        if len(lengths) == most:
            break
    return lengths


def length_word(values: FloatArray, seglen: int) -> list[str]:
    """The letters of one series that the length proposals mine (see `proposed_lengths`)."""
    flat = detrended(values, 32 * seglen)
    parts = []
    for offset in (0, seglen // 2):
        part = flat[offset:]
        if len(part) >= seglen:
            parts.append("".join(_zorp_cpp.sax(part[None, :], seglen, 4)[0]))
    return list("#".join(parts))


def detrended(values: FloatArray, width: int) -> FloatArray:
    """values minus their centred moving average over width points, z-normalised; NaN -> 0."""
    finite = np.isfinite(values)
    filled = np.where(finite, values, 0.0)
    kernel = np.ones(min(width, max(len(values), 1)))
    total = np.convolve(filled, kernel, mode="same")
    present = np.convolve(finite.astype(np.float64), kernel, mode="same")
    out = np.where(finite, filled - total / np.maximum(present, 1.0), 0.0)
    deviation = float(out[finite].std()) if finite.any() else 0.0
    return out / deviation if deviation > 0.0 else np.zeros_like(out)


# ---------------------------------------------------------------------------------------------
# Verification


def _closest(best: FloatArray, size: int) -> IntArray:
    """The size series with the smallest best-match distances (ties: lower index), less those
    without a match (no window whole and not flat: refining averages whole windows only)."""
    closest = np.argsort(best, kind="stable")[:size]
    matched = closest[np.isfinite(best[closest])]
    return matched if len(matched) else closest


def _consensus(best: FloatArray, size: int) -> float:
    """Mean of the size smallest best-match distances; inf when fewer are finite."""
    smallest = np.sort(best)[:size]
    return float(smallest.mean()) if np.all(np.isfinite(smallest)) else math.inf


def _screened(store: RobustStore, shapes: FloatArray, core_size: int) -> list[int]:
    """Proposal indexes by consensus score on series averaged over m // COARSE_POINTS points."""
    m = shapes.shape[1]
    factor = max(1, m // COARSE_POINTS)
    coarse = np.stack([znormalised(paa(shape, factor)) for shape in shapes])
    _, best = store.best(m // factor, coarse, factor=factor, starts=False)
    scores = [_consensus(row, core_size) for row in best]
    return sorted(range(len(shapes)), key=lambda i: (scores[i], i))


def _held(best: FloatArray, chance: FloatArray, core_size: int) -> IntArray:
    """Series whose best match is closer than MARGIN x every surrogate's best match there.

    best holds the shape's best-match distance per series, chance its surrogates' (one row
    each). None at all when the shape's score is not below MARGIN x the score of the
    surrogates' best matches: a shape averaged from the noise of its closest series fits those
    series better than chance per series, but not as a whole.
    """
    chance_best = chance.min(axis=0)
    if not _consensus(best, core_size) < MARGIN * _consensus(chance_best, core_size):
        return np.zeros(0, np.int64)
    return np.flatnonzero(np.isfinite(best) & (best < MARGIN * chance_best))


def surrogates(shape: FloatArray, count: int) -> FloatArray:
    """count copies of shape with scrambled Fourier phases (same spectrum), z-normalised."""
    rng = np.random.default_rng(SEED)
    spectrum = np.abs(np.fft.rfft(shape))
    copies = []
    for _ in range(count):
        phases = rng.uniform(0.0, 2.0 * np.pi, len(spectrum))
        phases[0] = 0.0
        if len(shape) % 2 == 0:
            phases[-1] = 0.0
        copies.append(znormalised(np.fft.irfft(spectrum * np.exp(1j * phases), n=len(shape))))
    return np.stack(copies)


def realigned(
    series: list[FloatArray] | RobustStore, starts: IntArray, members: IntArray, m: int
) -> FloatArray:
    """Average of the members' windows after the common shift that makes them agree best.

    Shifts of -m/2 to m/2 points (steps of m/32) are tried; agreement is the squared norm of the
    mean z-normalised window per point (1 when all are the same shape). Shifts that run a window
    off its series, onto a NaN or a flat stretch, or whose average is monotone, are skipped;
    among equal agreements the smallest shift wins.
    """
    return realigned_each(as_store(series), [(starts, members)], m)[0]


def realigned_each(store: RobustStore, groups: list[tuple[IntArray, IntArray]], m: int) -> list[FloatArray]:
    """`realigned` for each (starts, members) of groups, in one pass over the parts.

    The parts add up their members' z-normalised windows at every shift in fixed point
    (`RobustStore.realignment_means`), so that only one mean per group and shift reaches this
    process, and it is exact: the same whatever the parts and the order of the members.
    """
    return [_realigned_shape(centres, valid, m) for centres, valid in store.realignment_means(groups, m)]


def _fixed_scale(count: int, m: int) -> float:
    """The fixed-point scale (a power of two, at most 2^40) of the sums of count z-normalised
    windows of m points: every point lies within sqrt(m) of 0, so that the sum of count of them
    stays below 2^62 in magnitude."""
    bits = 62 - math.ceil(math.log2(max(1, count) * (math.sqrt(m) + 1.0)))
    return math.ldexp(1.0, min(40, bits))


def _shifted_rows(block: FloatArray, m: int) -> tuple[FloatArray, npt.NDArray[np.bool_]]:
    """The rows' windows of m points at every shift (steps of m // 32), each z-normalised (0
    where it is flat or holds a NaN), (rows, shifts, m); and whether every row's window at a
    shift is usable (finite and not flat)."""
    step = max(1, m // 32)
    views = np.lib.stride_tricks.sliding_window_view(block, m, axis=1)[:, ::step, :]
    deviation = views.std(axis=2, keepdims=True)
    usable = np.isfinite(deviation) & (deviation > 0.0)
    safe = np.where(usable, deviation, 1.0)
    return np.nan_to_num((views - views.mean(axis=2, keepdims=True)) / safe), np.all(usable[:, :, 0], axis=0)


def _realigned_shape(centres: FloatArray, valid: npt.NDArray[np.bool_], m: int) -> FloatArray:
    """`realigned` from the members' mean z-normalised windows at every shift (see
    `_shifted_rows`) and whether every member's window is usable there."""
    half = m // 2
    step = max(1, m // 32)
    agreement = np.where(valid, np.einsum("ij,ij->i", centres, centres) / m, -1.0)
    shifts = np.arange(-half, half + 1, step)[: len(agreement)]
    for j in np.lexsort((np.abs(shifts), -agreement)).tolist():
        if agreement[j] < 0.0:
            break
        if monotone_share(centres[j]) <= MONOTONE:
            return znormalised(centres[j])
    return znormalised(centres[half // step] if len(centres) > half // step else np.zeros(m))


def _grown(store: RobustStore, motif: Found, minsup: float) -> Found:
    """motif lengthened by GROWTH at a time while its score stays within SLACK of the start."""
    core_size = max(1, math.ceil(minsup * store.count))
    best = motif
    while True:
        m = int(round(best.length * GROWTH))
        members = np.array(sorted(best.starts), dtype=np.int64)
        if m > int(store.lengths[members].min()):
            return best
        starts = np.array([best.starts[i] for i in members.tolist()]) - (m - best.length) // 2
        shape = realigned(store, starts, members, m)
        if monotone_share(shape) > MONOTONE:
            return best
        # The shape and its surrogates in one pass: each shape's matches are its own.
        starts_all, best_all = store.best(m, np.concatenate([shape[None], surrogates(shape, SURROGATES)]))
        starts_row, best_row = starts_all[0], best_all[0]
        score = _consensus(best_row, core_size)
        chance = best_all[1:]
        held = _held(best_row, chance, core_size)
        if len(held) < core_size or not score <= SLACK * motif.score:
            return best
        best = Found(
            m,
            shape,
            {int(i): int(starts_row[i]) for i in held},
            {int(i): float(best_row[i]) for i in held},
            len(held),
            score,
            motif.pattern,
            motif.seglen,
        )


def _same_places(a: Found, b: Found) -> bool:
    """Whether, in most series both hold, a's and b's matches share half the shorter length."""
    return _coincide(a.starts, a.length, b)


def _coincide(starts: dict[int, int], length: int, b: Found) -> bool:
    """Whether, in most series of starts that b holds, windows of length at starts share half
    the shorter length with b's matches."""
    shared = [i for i in starts if i in b.starts]
    half = min(length, b.length) / 2
    close = sum(
        1
        for i in shared
        if min(starts[i] + length, b.starts[i] + b.length) - max(starts[i], b.starts[i]) >= half
    )
    return 2 * close > len(shared)


# ---------------------------------------------------------------------------------------------
# Shapes


def paa(values: FloatArray, factor: int) -> FloatArray:
    """Means of consecutive blocks of factor points (a last partial block is dropped)."""
    usable = len(values) // factor * factor
    return np.asarray(values[:usable].reshape(-1, factor).mean(axis=1))


def monotone_share(shape: FloatArray, points: int = 32) -> float:
    """Share (0 to 1) of a shape's variance that the best monotone curve explains.

    Computed on the shape's means over ``points`` blocks; a flat shape counts as monotone (1).
    """
    return float(_native.monotone_share(np.ascontiguousarray(shape, dtype=np.float64), points))


# ---------------------------------------------------------------------------------------------
# The series, part by part


class RobustStore:
    """The series of a robust run, read only through the per-series steps below.

    Each step runs as a task on every part of a set held in parts (``zorp_miner._parts``),
    reads that part's series alone, and its results are put together in series order (tables
    of best matches side by side, key counts, member sums and the sums of realigned windows added up,
    nearest members taken in part order): the same whatever the parts. Parts held in this process keep what a task
    prepared from their series (the matching bank of the current length, the proposal
    windows) for the next task that needs it.

    Attributes
    ----------
    lengths : numpy.ndarray of int64
        Points of every series.
    count : int
        The number of series.
    surrogate_batch : int
        How many candidates' surrogates one pass matches (see `_discover_length`): 1 for
        parts in this process, more for parts elsewhere, for which every pass loads the series.
    """

    def __init__(self, parts: Parts) -> None:
        self.parts = parts
        self.lengths = parts.lengths
        self.count = len(parts.lengths)
        self.surrogate_batch = 1 if parts.local else 8

    def best(
        self, m: int, shapes: FloatArray, *, factor: int = 1, starts: bool = True
    ) -> tuple[IntArray, FloatArray]:
        """Start (points) and distance of each shape's best match in every series, (C, N)
        each; with ``factor``, on the series averaged over blocks of factor points (the
        starts then count blocks). Without ``starts``, the distances only ((C, 0) starts)."""
        shapes = np.ascontiguousarray(shapes, dtype=np.float64)
        found_starts = np.zeros((len(shapes), self.count if starts else 0), np.int64)
        found_best = np.zeros((len(shapes), self.count))
        if len(shapes) == 0:
            return found_starts, found_best
        # Each part's columns are put in place as it comes and dropped: this process holds
        # the table once, not once more in pieces.
        ends = [*self.parts.firsts[1:], self.count]
        for i, (part_starts, part_best) in self.parts.run_unordered(_best_task, m, factor, shapes, starts):
            columns = slice(self.parts.firsts[i], ends[i])
            found_best[:, columns] = part_best
            if part_starts is not None:
                found_starts[:, columns] = part_starts
        return found_starts, found_best

    def windows(self, places: list[tuple[int, int, int]]) -> list[FloatArray]:
        """The points lo to hi of series i for each (i, lo, hi), NaN where the series has none."""
        wanted: list[list[tuple[int, int, int, int]]] = [[] for _ in self.parts.firsts]
        for k, (index, lo, hi) in enumerate(places):
            wanted[self.parts.part_of(index)].append((k, index, lo, hi))
        out: list[FloatArray] = [np.zeros(0)] * len(places)
        if not places:
            return out
        # Parts without a window wanted are not read.
        found = self.parts.run_on(_windows_task, {i: (part,) for i, part in enumerate(wanted) if part})
        for i, values in found.items():
            for (k, _, _, _), window in zip(wanted[i], values):
                out[k] = window
        return out

    def realignment_means(
        self, groups: list[tuple[IntArray, IntArray]], m: int
    ) -> list[tuple[FloatArray, npt.NDArray[np.bool_]]]:
        """For each (starts, members) of groups: the mean of the members' z-normalised windows
        of m points at every shift of -m/2 to m/2 points from their starts (steps of m // 32),
        (shifts, m); and whether every member's window at a shift is usable. Each part adds up
        its own members in fixed point (at `_fixed_scale`); the parts' sums are added up part
        after part where the parts are, exactly, so this process receives one sum per group."""
        ends = [*self.parts.firsts[1:], self.count]
        scales = [_fixed_scale(len(members), m) for _, members in groups]
        each = []
        for first, end in zip(self.parts.firsts, ends):
            part_groups = []
            for (starts, members), scale in zip(groups, scales):
                inside = (members >= first) & (members < end)
                part_groups.append((members[inside], starts[inside], scale))
            each.append((part_groups,))
        start: RealignSums | None = None
        total = self.parts.fold(_added_sums, start, self.parts.keep(_realignment_task, m, each=each))
        if total is None or any(group is None for group in total):
            raise ValueError("a group to realign has no members")
        return [
            (sums.astype(np.float64) / (scale * float(len(members))), valid)
            for (sums, valid), scale, (_, members) in zip(
                cast(list[tuple[IntArray, npt.NDArray[np.bool_]]], total), scales, groups
            )
        ]

    def key_counts(self, m: int, letters: int, alphabets: tuple[int, ...]) -> list[KeyTable]:
        """Per alphabet, the key counts of the proposal windows (``_native.count_keys``) of
        every part, added up part after part where the parts are (this process then receives
        one table per alphabet, not one per part)."""
        start: list[KeyTable] | None = None
        total = self.parts.fold(_added_counts, start, self.parts.keep(_count_task, m, letters, alphabets))
        if total is None:
            raise ValueError("no part to count keys in")
        return total

    def member_averages(
        self, m: int, letters: int, alphabet: int, projections: IntArray, keys: npt.NDArray[np.uint64]
    ) -> tuple[IntArray, npt.NDArray[np.uint64], FloatArray]:
        """For each key: its windows, their fingerprints and the average of their means."""
        found = self.parts.run(_members_task, m, letters, alphabet, projections, keys)
        counts = np.sum([part[0] for part in found], axis=0, dtype=np.int64)
        # Fingerprints add modulo 2^64; the fixed-point sums exactly, as Python integers.
        prints = np.zeros((len(keys), 2), np.uint64)
        for part in found:
            prints += part[1]
        sums = [[sum(values) for values in zip(*rows)] for rows in zip(*(part[2].tolist() for part in found))]
        averages = np.array(
            [[float(total) * MEMBER_UNIT / float(counts[e]) for total in sums[e]] for e in range(len(keys))],
            dtype=np.float64,
        ).reshape(len(keys), -1)
        return counts, prints, averages

    def nearest_members(
        self,
        m: int,
        letters: int,
        alphabet: int,
        projections: IntArray,
        keys: npt.NDArray[np.uint64],
        averages: FloatArray,
    ) -> list[tuple[int, int, str]]:
        """For each key, the window of its members nearest its average (the first on a tie,
        in series order): its series, its start and its word under the key's projection."""
        found = self.parts.run(_nearest_task, m, letters, alphabet, projections, keys, averages)
        nearest: list[tuple[int, int, str]] = []
        for e in range(len(keys)):
            best = math.inf
            chosen: tuple[int, int, str] | None = None
            for squares, places in found:
                place = places[e]
                if place is not None and (chosen is None or squares[e] < best):
                    best, chosen = float(squares[e]), place
            if chosen is None:
                raise ValueError(f"key {int(keys[e])} of projection {int(projections[e])} has no window")
            nearest.append(chosen)
        return nearest

    def length_words(self, seglen: int) -> list[list[str]]:
        """The words of every series that the length proposals mine (`length_word`)."""
        return [word for part in self.parts.run(_length_words_task, seglen) for word in part]


MEMBER_UNIT = 2.0**-32  # the fixed-point unit of the members' sums (the native module's)


def as_store(series: list[FloatArray] | Parts | RobustStore) -> RobustStore:
    """A store over series held in this process (one part), over parts, or the store given."""
    if isinstance(series, RobustStore):
        return series
    if isinstance(series, list):
        return RobustStore(LocalParts([np.asarray(s, dtype=np.float64).ravel() for s in series]))
    return RobustStore(series)


Cache = dict[object, object] | None


def _cached(cache: Cache, key: tuple[object, ...], make: Callable[[], T]) -> T:
    """What make() gives, kept in cache under key[0] while the rest of key stays the same."""
    if cache is None:
        return make()
    held = cache.get(key[0])
    if isinstance(held, tuple) and held[0] == key[1:]:
        return cast(T, held[1])
    value = make()
    cache[key[0]] = (key[1:], value)
    return value


def _best_task(
    series: list[FloatArray],
    first: int,
    m: int,
    factor: int,
    shapes: FloatArray,
    starts: bool,
    cache: Cache = None,
) -> tuple[IntArray | None, FloatArray]:
    def bank() -> SeriesBank:
        return SeriesBank([paa(s, factor) for s in series] if factor > 1 else series, m)

    found_starts, found_best = _cached(cache, (("bank", factor), m), bank).best(shapes)
    return (found_starts if starts else None), found_best


# Rows of windows z-normalised at once when realigning: about 32 MiB of them.
REALIGN_BYTES = 32 << 20

RealignSums = list[tuple[IntArray, npt.NDArray[np.bool_]] | None]


def _realignment_task(
    series: list[FloatArray],
    first: int,
    groups: list[tuple[IntArray, IntArray, float]],
    m: int,
    cache: Cache = None,
) -> RealignSums:
    half = m // 2
    out: RealignSums = []
    for members, starts, scale in groups:
        if len(members) == 0:
            out.append(None)
            continue
        places = [(0, index, start - half, start + m + half) for index, start in zip(members.tolist(), starts.tolist())]
        shifts = (2 * half) // max(1, m // 32) + 1
        chunk = max(1, REALIGN_BYTES // (8 * shifts * m))
        total: IntArray | None = None
        valid: npt.NDArray[np.bool_] | None = None
        bound = math.sqrt(m)
        for lo in range(0, len(places), chunk):
            block = np.stack(_windows_task(series, first, places[lo : lo + chunk]))
            rows, usable = _shifted_rows(block, m)
            fixed = np.rint(np.clip(rows, -bound, bound) * scale).astype(np.int64).sum(axis=0)
            total = fixed if total is None else total + fixed
            valid = usable if valid is None else valid & usable
        assert total is not None and valid is not None
        out.append((total, valid))
    return out


def _added_sums(total: RealignSums | None, part: RealignSums) -> RealignSums:
    """A part's realignment sums added to those of the parts before (integers: exact)."""
    if total is None:
        return part
    return [
        b if a is None else a if b is None else (a[0] + b[0], a[1] & b[1])
        for a, b in zip(total, part)
    ]


def _windows_task(
    series: list[FloatArray], first: int, places: list[tuple[int, int, int, int]], cache: Cache = None
) -> list[FloatArray]:
    out = []
    for _, index, lo, hi in places:
        values = series[index - first]
        window = np.full(hi - lo, np.nan)
        a, b = max(lo, 0), min(hi, len(values))
        if b > a:
            window[a - lo : b - lo] = values[a:b]
        out.append(window)
    return out


def _proposal_windows(
    series: list[FloatArray], first: int, m: int, letters: int, cache: Cache
) -> tuple[IntArray, IntArray, FloatArray]:
    def windows() -> tuple[IntArray, IntArray, FloatArray]:
        owners, starts, means = _window_words(series, m, letters)
        return owners + first, starts, means

    return _cached(cache, ("windows", m, letters), windows)


def _count_task(
    series: list[FloatArray], first: int, m: int, letters: int, alphabets: tuple[int, ...], cache: Cache = None
) -> list[KeyTable]:
    owners, starts, means = _proposal_windows(series, first, m, letters, cache)
    return [_native.count_keys(owners, starts, means, alphabet) for alphabet in alphabets]


def _members_task(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    cache: Cache = None,
) -> tuple[IntArray, npt.NDArray[np.uint64], IntArray]:
    owners, starts, means = _proposal_windows(series, first, m, letters, cache)
    return _native.sum_members(owners, starts, means, alphabet, projections, keys)


def _nearest_task(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    averages: FloatArray,
    cache: Cache = None,
) -> tuple[FloatArray, list[tuple[int, int, str] | None]]:
    owners, starts, means = _proposal_windows(series, first, m, letters, cache)
    squares, windows = _native.nearest_members(owners, starts, means, alphabet, projections, keys, averages)
    places: list[tuple[int, int, str] | None] = [
        None
        if w < 0
        else (int(owners[w]), int(starts[w]), _native.proposal_word(means[w], alphabet, int(projections[e])))
        for e, w in enumerate(windows.tolist())
    ]
    return squares, places


def _length_words_task(
    series: list[FloatArray], first: int, seglen: int, cache: Cache = None
) -> list[list[str]]:
    return [length_word(values, seglen) for values in series]
