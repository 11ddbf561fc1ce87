"""What chance gives in the data at hand: shuffled series, and the evidence of a motif.

The *null* of a series is the series with its segments of ceil(m / NULL_PIECES) points
shuffled, each joined to the one before it as the series' own memory would join it, so that it
keeps what the series is made of and breaks every longer shape. A candidate's *gain* is how
much closer its matches are in the series than in the null; a motif's *evidence* is its gain
less the largest gain of the shapes the same search finds in the null, in standard errors
(LIKELY, 3, from which a motif is likely). Every step depends on a series' values only (its
content key, not its place in the set), so that parts, and any order, give the same null. The
method: docs/robust.md ("The null and the evidence").
"""

from __future__ import annotations

import hashlib
import math

import numpy as np
import numpy.typing as npt

from zorp_miner import _native
from zorp_miner.compute.sliding import FloatArray

IntArray = npt.NDArray[np.int64]

LIKELY = 3.0  # evidence (standard errors) from which a motif is likely, in every mode
NULL_PIECES = 4  # the null cuts a series into segments of ceil(m / NULL_PIECES) points
SHORTEST_SEGMENT = 4  # and of at least this many
BOOTSTRAP = 200  # resamples of the series for the standard errors
SEED = 20261208  # of the null's shuffles and of the resamples


def content_key(values: FloatArray) -> int:
    """A 64-bit key of a series' shape: a hash of the order of its values (NaN last, ties by
    place), the same for the series wherever it is, and scaled or shifted."""
    order = np.argsort(values, kind="stable").astype(np.int64)
    digest = hashlib.blake2b(order.tobytes(), digest_size=8)
    return int.from_bytes(digest.digest(), "little")


def segment_points(m: int) -> int:
    """Points per segment of the null at motif length m (points): ceil(m / NULL_PIECES), and at
    least SHORTEST_SEGMENT: a shape of a few points is not told from noise anyway, and finer
    cuts scatter a long shape's values over the null as spikes the series do not have."""
    return max(SHORTEST_SEGMENT, -(-m // NULL_PIECES))


def autocorrelation(values: FloatArray, lags: int) -> FloatArray:
    """The series' autocorrelation at lags 0 to lags (points), over its finite points, clipped
    to [0, 1] (0 throughout for a flat series)."""
    finite = np.isfinite(values)
    if not finite.any():
        return np.zeros(lags + 1)
    centred = np.where(finite, values - values[finite].mean(), 0.0)
    peak = float(np.max(np.abs(centred)))
    if not (peak > 0.0 and np.isfinite(peak)):
        return np.zeros(lags + 1)
    centred = centred / peak
    size = 1 << (2 * len(values) - 1).bit_length()
    spectrum = np.fft.rfft(centred, size)
    present = np.fft.rfft(finite.astype(np.float64), size)
    sums = np.fft.irfft(spectrum * np.conj(spectrum), size)[: lags + 1]
    pairs = np.fft.irfft(present * np.conj(present), size)[: lags + 1]
    covariance = sums / np.maximum(np.rint(pairs), 1.0)
    if not covariance[0] > 0.0:
        return np.zeros(lags + 1)
    correlation = np.zeros(lags + 1)
    correlation[: len(covariance)] = covariance / covariance[0]
    return np.asarray(np.clip(correlation, 0.0, 1.0))


def shuffled(
    values: FloatArray, seglen: int, key: int, draw: int = 0, *, memory: FloatArray | None = None
) -> FloatArray:
    """The series with its segments of seglen points in a random order (drawn from its key and
    the draw's number),
    each joined to the one before it as described in the module's docstring. A series of
    fewer than two segments is returned as it is. NaN stay with their segment. ``memory`` is
    the series' ``autocorrelation(values, seglen)``, for many draws of one series (computed
    here when None)."""
    n = len(values)
    if n < 2 * seglen:
        return np.array(values, dtype=np.float64)
    rng = np.random.default_rng([SEED, key, seglen, draw])
    firsts = np.arange(0, n, seglen)
    if memory is None:
        memory = autocorrelation(values, seglen)
    order = rng.permutation(firsts)
    sizes = np.minimum(order + seglen, n) - order
    # Each segment's jump depends on the one before it through its last point only: a loop over
    # the segments (in the native module, one after another), then every point at once (the
    # same two operations per point).
    jumps = _native.segment_jumps(
        values[np.maximum(order - 1, 0)], values[order + sizes - 1], memory[sizes]
    )
    segment = np.repeat(np.arange(len(order)), sizes)
    offsets = np.arange(n) - np.repeat(np.cumsum(sizes) - sizes, sizes)
    pieces = values[order[segment] + offsets]
    jump_at = jumps[segment]
    joined = pieces + jump_at * memory[offsets + 1]
    return np.asarray(np.where(np.isfinite(jump_at), joined, pieces), dtype=np.float64)


def core_means(best: FloatArray, core: int) -> FloatArray:
    """Over the last axis, the mean of the core smallest values; inf where fewer are finite."""
    if best.shape[-1] < core or core < 1:
        return np.full(best.shape[:-1], np.inf)
    smallest = np.partition(best, core - 1, axis=-1)[..., :core]
    finite = np.all(np.isfinite(smallest), axis=-1)
    return np.where(finite, np.where(finite[..., None], smallest, 0.0).mean(axis=-1), np.inf)


def gains(own: FloatArray, other: FloatArray, core: int) -> FloatArray:
    """Per candidate (the leading axes): the mean of its core closest best matches in the other
    set (other's row) minus that in its own (own's row); NaN where either is not finite."""
    found, elsewhere = core_means(own, core), core_means(other, core)
    usable = np.isfinite(found) & np.isfinite(elsewhere)
    return np.where(usable, np.where(usable, elsewhere, 0.0) - np.where(usable, found, 0.0), np.nan)


def evidences(
    own: FloatArray, other: FloatArray, null_own: FloatArray, null_other: FloatArray, core: int
) -> FloatArray:
    """The evidence of each candidate (rows of own and other: its best-match distances in the
    series and in the null, the columns the same series in both) against the null's candidates
    (rows of null_own, null_other: their distances in the null and in the series).

    The difference between a candidate's gain and the null's largest gain, over the standard
    deviation of that difference when the series (columns, the same in all four tables) are
    resampled with replacement, BOOTSTRAP times. NaN for a candidate without a finite gain,
    or when the null has none; +inf or -inf when the difference never varies (0 when it is 0).
    """
    count = own.shape[1]
    gain = gains(own, other, core)
    usable = np.isfinite(gains(null_own, null_other, core))
    if not usable.any() or count == 0:
        return np.full(len(gain), np.nan)
    columns = np.random.default_rng(SEED).integers(0, count, (BOOTSTRAP, count))
    drawn = gains(null_own[usable][:, columns], null_other[usable][:, columns], core)
    best_null = np.max(np.where(np.isfinite(drawn), drawn, -np.inf), axis=0)
    best_null = np.where(np.isfinite(best_null), best_null, np.nan)
    differences = gains(own[:, columns], other[:, columns], core) - best_null[None, :]
    valid = np.isfinite(differences)
    present = valid.sum(axis=1)
    mean = np.where(valid, differences, 0.0).sum(axis=1) / np.maximum(present, 1)
    spread = np.sqrt(np.where(valid, (differences - mean[:, None]) ** 2, 0.0).sum(axis=1) / np.maximum(present, 1))
    null_gain = gains(null_own[usable], null_other[usable], core)
    difference = gain - float(np.max(null_gain))
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = difference / spread
    evidence = np.where(spread > 0.0, ratio, np.where(difference == 0.0, 0.0, np.sign(difference) * np.inf))
    return np.where(np.isfinite(gain) & (present > 1), evidence, np.nan)


def member_bar(null_distances: FloatArray, rate: float) -> float:
    """The distance under which a series holds a motif: the rate quantile (lower) of the motif's
    best-match distances in the null (inf when it has none)."""
    finite = null_distances[np.isfinite(null_distances)]
    if len(finite) == 0:
        return math.inf
    return float(np.quantile(finite, rate, method="lower"))


def unmeasured(
    own: FloatArray, other: FloatArray, null_own: FloatArray, null_other: FloatArray, core: int
) -> list[str]:
    """For each candidate of `evidences`, why its evidence cannot be measured ("" when it can):
    the null's search found no shape whose gain is measured (its shapes have too few whole
    windows in the shuffled series), or the candidate's own closest matches are too few (fewer
    than core of the series have a whole window to match, in the series or their null)."""
    gain = gains(own, other, core)
    null_measured = len(null_own) > 0 and bool(np.isfinite(gains(null_own, null_other, core)).any())
    reasons = []
    for value in gain.tolist():
        if not math.isfinite(value):
            reasons.append(f"fewer than {core} series have a whole window to match, in them or their shuffles")
        elif not null_measured:
            reasons.append("no shape the search found in the shuffled series could be measured at this length")
        else:
            reasons.append("")
    return reasons
