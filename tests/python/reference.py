"""Straightforward Python versions of the library's algorithms, written for clarity, not speed.

The tests compare the module against them: every fast path of the library must give exactly
what these loops give.
"""

import math
from collections.abc import Iterable, Sequence

import numpy as np
import numpy.typing as npt

import _zorp_cpp
import zorp_miner
from zorp_miner import _native
from zorp_miner.compute.sliding import FLAT_FRACTION, RESOLUTION, znormalised


def symbol_key(word: str) -> list[int]:
    """Order of words: bytes compare as signed 8-bit values, a prefix before its extensions."""
    return [ord(c) - 256 if ord(c) >= 128 else ord(c) for c in word]


def lcs(a: str, b: str) -> int:
    cell = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            if a[i - 1] == b[j - 1]:
                cell[i][j] = cell[i - 1][j - 1] + 1
            else:
                cell[i][j] = max(cell[i][j - 1], cell[i - 1][j])
    return cell[len(a)][len(b)]


def mine_patterns(
    words: Sequence[str], minsup: float, min_len: int = 3, max_len: int = 0,
    max_overlap: float = 0.9,
) -> dict[str, dict[int, list[int]]]:
    """Pattern -> {series: positions}, in table order; raises ValueError for an endless run."""
    threshold = minsup * len(words)
    if not threshold > 0 and max_len == 0 and any(words):
        raise ValueError("endless search")
    table: dict[str, dict[int, list[int]]] = {}
    levels: list[list[str]] = [[], []]

    def prune(pattern: str) -> None:
        if threshold > len(table[pattern]):
            del table[pattern]
        else:
            levels[len(pattern)].append(pattern)

    for i, word in enumerate(words):
        for j, letter in enumerate(word):
            table.setdefault(letter, {}).setdefault(i, []).append(j)
    for letter in sorted(table, key=symbol_key):
        prune(letter)

    level = 2
    while levels[1]:
        if max_len != 0 and max_len < level:
            break
        levels.append([])
        accepted = levels[level - 1]
        candidates = [a + b[-1] for a in accepted for b in accepted if a[1:] == b[:-1]]
        for candidate in candidates:
            table.setdefault(candidate, {})
            for series, positions in table[candidate[:-1]].items():
                for position in positions:
                    if words[series][position : position + level] == candidate:
                        table[candidate].setdefault(series, []).append(position)
            prune(candidate)
        level += 1
        if not levels[level - 1]:
            break

    kept: list[str] = []
    for length in range(len(levels) - 1, 0, -1):
        for pattern in levels[length]:
            if length < min_len:
                table.pop(pattern, None)
            else:
                kept.append(pattern)
    removed: list[str] = []
    for q in kept:
        if q in removed:
            continue
        for p in kept:
            if len(q) < len(p) or p == q or p in removed:
                continue
            if lcs(q, p) / len(p) > max_overlap:
                del table[p]
                removed.append(p)
    return {pattern: table[pattern] for pattern in sorted(table, key=symbol_key)}


def add_up(values: Iterable[float]) -> float:
    """Left-to-right float sum (the builtin sum compensates rounding, the library does not)."""
    total = 0.0
    for value in values:
        total += value
    return total


def znorm(series: list[float]) -> list[float]:
    if not series:
        return []
    mean = add_up(series) / len(series)
    centred = [value - mean for value in series]
    deviation = math.sqrt(add_up(value * value for value in centred) / len(series))
    return [divide(value, deviation) for value in centred]


def divide(x: float, y: float) -> float:
    """IEEE division, which Python refuses for a zero divisor."""
    if y != 0.0:
        return x / y
    if x == 0.0 or math.isnan(x):
        return math.nan
    return math.copysign(math.inf, x) * math.copysign(1.0, y)


def occurrence(series: list[float], position: int, seglen: int, length: int) -> list[float]:
    start = position * seglen
    values = series[start : start + length]
    return values + [math.nan] * (length - len(values))


def nan_mean(values: list[float]) -> float:
    present = [value for value in values if not math.isnan(value)]
    return add_up(present) / len(present) if present else math.nan


def motif_statistics(
    indexes: dict[int, list[int]], ts: list[list[float]], seglen: int, pattern_length: int
) -> tuple[dict[int, list[float]], list[float], dict[int, int], float]:
    """Averages, representative, best matches and naed of one motif; series add up in index order."""
    length = seglen * pattern_length
    series_order = sorted(indexes)
    averages: dict[int, list[float]] = {}
    for s in series_order:
        occurrences = [occurrence(ts[s], p, seglen, length) for p in indexes[s]]
        averages[s] = [nan_mean([o[i] for o in occurrences]) for i in range(length)]
    if averages:
        representative = [nan_mean([averages[s][i] for s in series_order]) for i in range(length)]
    else:
        representative = [0.0] * length
    best_matches: dict[int, int] = {}
    naed = 0.0
    for s in series_order:
        best, best_position = 1000000.0, 0
        for p in indexes[s]:
            values = occurrence(ts[s], p, seglen, length)
            terms = [(v - r) * (v - r) for v, r in zip(values, representative) if not math.isnan(v)]
            distance = math.sqrt(add_up(terms))
            if distance < best:
                best, best_position = distance, p
        best_matches[s] = best_position * seglen
        naed += best
    naed = naed / (len(indexes) * length) if indexes and length else math.nan
    return averages, representative, best_matches, naed


# The exact mode in one process as it was first written: _zorp_cpp.Miner, its lists and dicts
# copied into a result, and each best match's distance measured with numpy.

# The most one series adds to the exact mode's naed (before dividing by the length).
DISTANCE_CAP = 1e6


def exact_motifs(series: Sequence[npt.NDArray[np.float64]], params: zorp_miner.ExactParams) -> zorp_miner.Motifs:
    """The exact run over checked series as _zorp_cpp.Miner finds it, cut to params.top."""
    miner = _zorp_cpp.Miner(
        params.minsup, params.seglen, params.alphabet, min_len=params.min_len,
        max_len=params.max_len, max_overlap=params.max_overlap, k=0,
    )
    natives = miner.mine([one.tolist() for one in series])
    kept = natives if params.top is None else natives[: params.top]
    normalised = [normalised_series(one) for one in series]
    return zorp_miner.Motifs(
        motifs=tuple(
            motif_from_native(native, normalised, rank=rank, seglen=params.seglen)
            for rank, native in enumerate(kept, start=1)
        ),
        found=len(natives),
        series_lengths=np.array([len(one) for one in series], dtype=np.int64),
        mode="exact",
        params=params,
    )


def normalised_series(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """A series as the exact mode normalises it: mean 0, population deviation 1 (NaN when
    constant)."""
    with np.errstate(invalid="ignore", divide="ignore"):
        return np.asarray((values - values.mean()) / values.std(), dtype=np.float64)


def match_distance(values: npt.NDArray[np.float64], start: int, representative: npt.NDArray[np.float64]) -> float:
    """Euclidean distance of the window at start to the representative, divided by its
    length; points past the end and NaN points add nothing, as in the exact mode's naed."""
    length = len(representative)
    window = values[start : start + length]
    gaps = window - representative[: len(window)]
    squares = np.where(np.isnan(window), 0.0, gaps * gaps)
    if length == 0:
        return 0.0
    distance = math.sqrt(float(squares.sum()))
    # A NaN (a representative point no occurrence reaches) counts as the cap, as in naed.
    return (distance if distance < DISTANCE_CAP else DISTANCE_CAP) / length


def motif_from_native(
    native: _zorp_cpp.Motif, normalised: Sequence[npt.NDArray[np.float64]], *, rank: int, seglen: int
) -> zorp_miner.Motif:
    """One native motif as a result's motif, series in ascending order."""
    indexes = native.indexes
    best_matches = native.best_matches
    averages = native.average_occurrences
    length = native.length
    series = sorted(indexes)
    representative = np.array(native.representative, dtype=np.float64)
    starts = [best_matches[one] for one in series]
    return zorp_miner.Motif(
        rank=rank,
        pattern=native.pattern,
        seglen=seglen,
        length=length,
        naed=native.naed,
        series=np.array(series, dtype=np.int64),
        best_matches=np.array(starts, dtype=np.int64),
        average_occurrences=np.array([averages[one] for one in series], dtype=np.float64).reshape(len(series), length),
        representative=representative,
        occurrence_series=np.array([one for one in series for _ in indexes[one]], dtype=np.int64),
        occurrence_letters=np.array([p for one in series for p in indexes[one]], dtype=np.int64),
        score=native.naed,
        distances=np.array(
            [match_distance(normalised[one], start, representative) for one, start in zip(series, starts, strict=True)],
            dtype=np.float64,
        ),
        mode="exact",
    )


def usable_windows(series: Sequence[float], m: int, flat: float, resolution: float) -> list[bool]:
    """Which windows of m points have a shape: whole (no NaN), not all one value, and with a
    population deviation above ``flat`` x the median deviation of such windows, above
    ``resolution`` x the series' largest distance from its mean (of its finite points), and
    above the series' step (`series_step`)."""
    present = [value for value in series if not math.isnan(value)]
    centre = add_up(present) / len(present) if present else 0.0
    scale = max((abs(value - centre) for value in present), default=0.0) or 1.0
    count = len(series) - m + 1
    whole = [
        not any(math.isnan(value) for value in series[s : s + m])
        and len(set(series[s : s + m])) > 1
        for s in range(count)
    ]
    deviations = [
        window_deviation([(value - centre) / scale for value in series[s : s + m]])
        for s in range(count)
    ]
    typical = sorted(d for d, ok in zip(deviations, whole) if ok)
    if not typical:
        return [False] * max(count, 0)
    median = (typical[(len(typical) - 1) // 2] + typical[len(typical) // 2]) / 2
    step = series_step(series) / scale
    return [
        ok and d > flat * median and d > resolution and d > step
        for ok, d in zip(whole, deviations)
    ]


def series_step(series: Sequence[float], levels: int = 16) -> float:
    """The smallest nonzero change from one recorded (not NaN) point to the next, when the
    points span at least ``levels`` such changes; 0 otherwise."""
    present = [value for value in series if not math.isnan(value)]
    changes = [abs(b - a) for a, b in zip(present, present[1:]) if b != a]
    if not changes:
        return 0.0
    step = min(changes)
    return step if max(present) - min(present) >= levels * step else 0.0


def window_deviation(values: Sequence[float]) -> float:
    """The population deviation of the values (NaN among them counts as 0)."""
    filled = [0.0 if math.isnan(value) else value for value in values]
    mean = add_up(filled) / len(filled)
    return math.sqrt(add_up((value - mean) ** 2 for value in filled) / len(filled))


def distance_profile(
    query: Sequence[float], series: Sequence[float], usable: Sequence[bool]
) -> list[float]:
    """The root mean square difference per point between the z-normalised query and each
    z-normalised window of the series; inf for windows that are not usable."""
    m = len(query)
    shape = znorm(list(query))
    return [
        math.sqrt(
            add_up((a - b) ** 2 for a, b in zip(shape, znorm(list(series[s : s + m])))) / m
        )
        if ok
        else math.inf
        for s, ok in enumerate(usable)
    ]


def greedy_matches(
    profiles: Sequence[Sequence[float]], radius: float, exclusion: int, top: int | None
) -> list[tuple[float, int, int]]:
    """(distance, series, start) of the matches, best first: in each series the windows within
    radius, closest first (earlier on a tie), each unless it starts within exclusion points of
    one taken before; then all series together by distance, series, start, cut to top."""
    taken: list[tuple[float, int, int]] = []
    for i, profile in enumerate(profiles):
        chosen: list[int] = []
        within = sorted((d, s) for s, d in enumerate(profile) if d <= radius and d < math.inf)
        for d, start in within:
            if all(abs(start - other) > exclusion for other in chosen):
                chosen.append(start)
                taken.append((d, i, start))
    taken.sort()
    return taken if top is None else taken[:top]


def shuffled_segment_by_segment(
    values: npt.NDArray[np.float64], seglen: int, key: int, draw: int, memory: npt.NDArray[np.float64]
) -> npt.NDArray[np.float64]:
    """The null's shuffle, one segment at a time: the segments of seglen points in the order
    the draw gives, each moved by the jump from the point now before it to its predecessor in
    the series, fading as memory (the autocorrelation at lags 0 to seglen) does; a NaN jump
    moves nothing."""
    from zorp_miner.compute import evidence as _evidence

    n = len(values)
    if n < 2 * seglen:
        return np.array(values, dtype=np.float64)
    rng = np.random.default_rng([_evidence.SEED, key, seglen, draw])
    out = np.empty(n)
    last = math.nan
    at = 0
    for first in rng.permutation(np.arange(0, n, seglen)).tolist():
        piece = values[first : first + seglen]
        jump = last - (values[first - 1] if first > 0 else values[first])
        out[at : at + len(piece)] = piece + jump * memory[1 : len(piece) + 1] if np.isfinite(jump) else piece
        last = float(out[at + len(piece) - 1])
        at += len(piece)
    return out


def scaled_deviation(w: npt.NDArray[np.float64]) -> float:
    """Population deviation, computed on w scaled to [-1, 1] so that tiny values keep it."""
    centred = w - w.mean()
    peak = float(np.max(np.abs(centred)))
    return float(np.std(centred / peak)) * peak if peak > 0 else 0.0


def sliding_distances(series: list[npt.NDArray[np.float64]], shape: npt.NDArray[np.float64]) -> list[list[float]]:
    """The length-normalised z-normalised distance of shape to every window of m points of each
    series, window by window: inf for a NaN or flat window (flat relative to the series' typical
    window and its spread, as ``zorp_miner.compute.sliding`` judges it)."""
    m = len(shape)
    q = znormalised(shape)
    out = []
    for values in series:
        finite = values[np.isfinite(values)]
        spread = float(np.max(np.abs(finite - finite.mean()))) if len(finite) else 0.0
        # Flatness is relative to the series (its typical window, its spread), so it is judged
        # on the series mapped into [-1, 1], where the deviations of a series of subnormal
        # numbers do not underflow to 0.
        scaled = (values - finite.mean()) / spread if spread > 0.0 else values
        windows = [values[j : j + m] for j in range(len(values) - m + 1)]
        scaled_windows = [scaled[j : j + m] for j in range(len(values) - m + 1)]
        deviations = [
            scaled_deviation(s)
            for w, s in zip(windows, scaled_windows)
            if np.all(np.isfinite(w)) and not np.all(w == w[0])
        ]
        typical = float(np.median(deviations)) if deviations else 0.0
        step = series_step(values.tolist()) / spread if spread > 0.0 else 0.0
        row = []
        for w, s in zip(windows, scaled_windows):
            if not np.all(np.isfinite(w)) or np.all(w == w[0]):
                row.append(math.inf)
            elif (
                scaled_deviation(s) <= FLAT_FRACTION * typical
                or scaled_deviation(s) <= RESOLUTION * (spread > 0.0)
                or scaled_deviation(s) <= step
            ):
                row.append(math.inf)
            else:
                row.append(float(np.sqrt(np.mean((znormalised(s) - q) ** 2))))
        out.append(row)
    return out


# Above this share of its variance explained by a monotone curve, a medoid is not proposed.
MONOTONE = 0.9
# The fixed-point unit of the native module's sums of segment means.
MEMBER_UNIT = 2.0**-32


def propose(
    series: Sequence[npt.NDArray[np.float64]],
    owners: npt.NDArray[np.int64],
    starts: npt.NDArray[np.int64],
    means: npt.NDArray[np.float64],
    length: int,
    alphabet: int,
    support: float,
    count: int,
) -> list[tuple[int, int, str]]:
    """The shapes proposed by frequent words, from every window at once: the native kernels
    (count_keys, ranked_keys, sum_members, nearest_members) run once over all the windows, in
    the order the C++ reference (tests/cpp/straightforward_proposals.h) takes them. Each key in
    ranked order whose set of windows no earlier key held proposes its medoid window of
    ``length`` points unless that is monotone, until ``count``: (series, start, word) each."""
    projections, keys = _native.ranked_keys(_native.count_keys(owners, starts, means, alphabet), support)
    proposals: list[tuple[int, int, str]] = []
    seen: set[tuple[int, int, int]] = set()
    batch = max(64, 2 * min(count, len(keys)))
    for first in range(0, len(keys), batch):
        if len(proposals) >= count:
            break
        chosen = (projections[first : first + batch], keys[first : first + batch])
        counts, prints, sums = _native.sum_members(owners, starts, means, alphabet, *chosen)
        averages = sums.astype(np.float64) * MEMBER_UNIT / counts.astype(np.float64)[:, None]
        _, nearest = _native.nearest_members(owners, starts, means, alphabet, *chosen, averages)
        for e in range(len(counts)):
            if len(proposals) >= count:
                break
            identity = (int(counts[e]), int(prints[e, 0]), int(prints[e, 1]))
            if identity in seen:
                continue
            seen.add(identity)
            window = int(nearest[e])
            owner, start = int(owners[window]), int(starts[window])
            medoid = np.asarray(series[owner][start : start + length], dtype=np.float64)
            if _native.monotone_share(_native.znormalised(medoid)) > MONOTONE:
                continue
            word = _native.proposal_word(means[window], alphabet, int(chosen[0][e]))
            proposals.append((owner, start, word))
    return proposals

