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
words, best matches) is separate from the choices made over the whole set (counting keys,
screening, refining, accepting, ranking), so that the per-series steps can run apart.
"""

from __future__ import annotations

import dataclasses
import math

import numpy as np
import numpy.typing as npt

import _zorp_cpp

from zorp_miner import _native
from zorp_miner._sliding import FloatArray, SeriesBank, window_statistics, znormalised

IntArray = npt.NDArray[np.int64]

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
    series: list[FloatArray],
    *,
    length: int | None = None,
    minsup: float = 0.5,
    top: int | None = 3,
    letters: int = 8,
    proposal_support: float = 0.25,
    candidates: int = 256,
    refined: int = 24,
    seglen: int = 8,
) -> list[Found]:
    """The best motifs shared by a set of series, best first.

    Parameters
    ----------
    series : list of 1-D float64 arrays
        The series, of any lengths; NaN marks missing points (windows holding one never match).
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
    arrays = [np.asarray(s, dtype=np.float64).ravel() for s in series]
    if length is not None:
        return _discover_length(arrays, length, minsup, top, letters, proposal_support, candidates, refined)
    found: list[Found] = []
    for m in proposed_lengths(arrays, seglen, proposal_support):
        found.extend(_discover_length(arrays, m, minsup, top, letters, proposal_support, candidates, refined))
    found.sort(key=lambda motif: (motif.score, motif.length, motif.pattern))
    kept: list[Found] = []
    for motif in found:
        if not any(_same_places(motif, other) for other in kept):
            kept.append(motif)
    grown = len(kept) if top is None else top
    lengthened: list[Found] = []
    for motif in [_grown(arrays, motif, minsup) for motif in kept[:grown]] + kept[grown:]:
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
    series: list[FloatArray],
    m: int,
    minsup: float,
    top: int | None,
    letters: int,
    proposal_support: float,
    candidates: int,
    refined: int,
) -> list[Found]:
    count = len(series)
    if count == 0 or m > max(len(s) for s in series):
        return []
    core_size = max(1, math.ceil(minsup * count))
    shapes, names = _proposals(series, m, letters, proposal_support * count, candidates)
    if len(shapes) == 0:
        return []
    order = _screened(series, shapes, core_size)
    bank = SeriesBank(series, m)
    chosen = order[: refined if top is None else max(refined, 2 * top)]
    # The chosen proposals are refined together: one pass over the series per round.
    current = shapes[chosen]
    for _ in range(2):
        starts, best = _best_matches(bank, current)
        current = np.stack(
            [
                realigned(series, starts[c][core], core, m)
                for c, core in enumerate(_closest(row, core_size) for row in best)
            ]
        )
    trivial = [monotone_share(shape) > MONOTONE for shape in current]
    kept_shapes = [c for c in range(len(chosen)) if not trivial[c]]
    if not kept_shapes:
        return []
    starts, best = _best_matches(bank, current[kept_shapes])
    ranked = sorted(
        (
            (_consensus(best[k], core_size), names[chosen[c]], current[c], starts[k], best[k])
            for k, c in enumerate(kept_shapes)
        ),
        key=lambda item: (item[0], item[1]),
    )
    kept: list[Found] = []
    for score, name, shape, starts_row, best_row in ranked:
        # A candidate whose matches coincide with a kept motif's, in the series that motif
        # holds, is that motif again: it is dropped before its surrogates are matched.
        matched = np.flatnonzero(np.isfinite(best_row))
        places = {int(i): int(starts_row[i]) for i in matched}
        if any(_coincide(places, m, other) for other in kept):
            continue
        _, chance = _best_matches(bank, surrogates(shape, SURROGATES))
        held = _held(best_row, chance, core_size)
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
    series: list[FloatArray], m: int, letters: int, wanted: float, count: int
) -> tuple[FloatArray, list[str]]:
    """Up to count shapes proposed by frequent words, split evenly over the alphabets.

    The words, their ranking and the choice of each key's medoid are the native module's
    (``_native.propose``); see the module's description.
    """
    owners, starts, means = _window_words(series, m, letters)
    shapes: list[FloatArray] = []
    names: list[str] = []
    if len(owners) == 0:
        return np.zeros((0, m)), names
    for alphabet in ALPHABETS:
        for owner, start, word in _native.propose(
            series, owners, starts, means, m, alphabet, wanted, count // len(ALPHABETS)
        ):
            shapes.append(znormalised(series[owner][start : start + m]))
            names.append(word)
    return (np.stack(shapes) if shapes else np.zeros((0, m))), names


def proposed_lengths(series: list[FloatArray], seglen: int, support: float, most: int = 3) -> list[int]:
    """Motif lengths (points) of the longest frequent letter patterns of the detrended series.

    Each series is detrended over 32 segments, z-normalised and turned into letters (alphabet 4)
    at two phase offsets of the segment grid, 0 and seglen // 2, joined by a separator that no
    pattern may cross. Patterns of at least 4 letters held by ``support`` of the series are
    ranked by support times length; up to ``most`` lengths at least 20 % apart are returned.
    """
    seglen = max(1, seglen)
    words = []
    for values in series:
        flat = detrended(values, 32 * seglen)
        parts = []
        for offset in (0, seglen // 2):
            part = flat[offset:]
            if len(part) >= seglen:
                parts.append("".join(_zorp_cpp.sax(part[None, :], seglen, 4)[0]))
        words.append(list("#".join(parts)))
    miner = _zorp_cpp.PatternMiner(support, min_len=4, max_len=256)
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


def _best_matches(bank: SeriesBank, shapes: FloatArray) -> tuple[IntArray, FloatArray]:
    """Start (points) and distance of each shape's best match in every series, (C, N) each."""
    return bank.best(shapes)


def _closest(best: FloatArray, size: int) -> IntArray:
    """The size series with the smallest best-match distances (ties: lower index)."""
    return np.argsort(best, kind="stable")[:size]


def _consensus(best: FloatArray, size: int) -> float:
    """Mean of the size smallest best-match distances; inf when fewer are finite."""
    smallest = np.sort(best)[:size]
    return float(smallest.mean()) if np.all(np.isfinite(smallest)) else math.inf


def _screened(series: list[FloatArray], shapes: FloatArray, core_size: int) -> list[int]:
    """Proposal indexes by consensus score on series averaged over m // COARSE_POINTS points."""
    m = shapes.shape[1]
    factor = max(1, m // COARSE_POINTS)
    bank = SeriesBank([paa(s, factor) for s in series], m // factor)
    scores: list[float] = []
    for first in range(0, len(shapes), 32):
        chunk = np.stack([znormalised(paa(shape, factor)) for shape in shapes[first : first + 32]])
        _, best = _best_matches(bank, chunk)
        scores.extend(_consensus(row, core_size) for row in best)
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


def realigned(series: list[FloatArray], starts: IntArray, members: IntArray, m: int) -> FloatArray:
    """Average of the members' windows after the common shift that makes them agree best.

    Shifts of -m/2 to m/2 points (steps of m/32) are tried; agreement is the squared norm of the
    mean z-normalised window per point (1 when all are the same shape). Shifts that run a window
    off its series, onto a NaN or a flat stretch, or whose average is monotone, are skipped;
    among equal agreements the smallest shift wins.
    """
    half = m // 2
    step = max(1, m // 32)
    block = np.full((len(members), m + 2 * half), np.nan)
    for row, (index, start) in enumerate(zip(members.tolist(), starts.tolist())):
        lo, hi = start - half, start + m + half
        a, b = max(lo, 0), min(hi, len(series[index]))
        if b > a:
            block[row, a - lo : b - lo] = series[index][a:b]
    views = np.lib.stride_tricks.sliding_window_view(block, m, axis=1)[:, ::step, :]
    deviation = views.std(axis=2, keepdims=True)
    valid = np.all(np.isfinite(deviation[:, :, 0]) & (deviation[:, :, 0] > 0.0), axis=0)
    safe = np.where(np.isfinite(deviation) & (deviation > 0.0), deviation, 1.0)
    centres = np.nan_to_num((views - views.mean(axis=2, keepdims=True)) / safe).mean(axis=0)
    agreement = np.where(valid, np.einsum("ij,ij->i", centres, centres) / m, -1.0)
    shifts = np.arange(-half, half + 1, step)[: len(agreement)]
    for j in np.lexsort((np.abs(shifts), -agreement)).tolist():
        if agreement[j] < 0.0:
            break
        if monotone_share(centres[j]) <= MONOTONE:
            return znormalised(centres[j])
    return znormalised(centres[half // step] if len(centres) > half // step else np.zeros(m))


def _grown(series: list[FloatArray], motif: Found, minsup: float) -> Found:
    """motif lengthened by GROWTH at a time while its score stays within SLACK of the start."""
    core_size = max(1, math.ceil(minsup * len(series)))
    best = motif
    while True:
        m = int(round(best.length * GROWTH))
        members = np.array(sorted(best.starts), dtype=np.int64)
        if m > min(len(series[i]) for i in members.tolist()):
            return best
        starts = np.array([best.starts[i] for i in members.tolist()]) - (m - best.length) // 2
        shape = realigned(series, starts, members, m)
        if monotone_share(shape) > MONOTONE:
            return best
        bank = SeriesBank(series, m)
        starts_row, best_row = (row[0] for row in _best_matches(bank, shape[None]))
        score = _consensus(best_row, core_size)
        _, chance = _best_matches(bank, surrogates(shape, SURROGATES))
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
