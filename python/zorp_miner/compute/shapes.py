"""Shapes: values scaled to a unit peak, their block means, how much of a shape a monotone
curve explains, and a shape's name (its SAX letters)."""

import math

import numpy as np

import _zorp_cpp
from zorp_miner import _native
from zorp_miner._types import FloatArray
from zorp_miner.compute.sliding import znormalised

PATTERN_LETTERS = 8  # letters of a motif's name
PATTERN_ALPHABET = 4


def unit_scaled(values: FloatArray) -> FloatArray:
    """values divided by their largest finite magnitude (as they are when that is 0 or not
    finite): shapes unchanged, and no sum of them overflows or underflows."""
    return np.asarray(values / unit(values), dtype=np.float64)


def unit(values: FloatArray) -> float:
    """What `unit_scaled` divides values by: their largest finite magnitude, or 1 when that is
    0 or not finite."""
    finite = values[np.isfinite(values)]
    peak = float(np.max(np.abs(finite))) if len(finite) else 0.0
    return peak if peak > 0.0 and math.isfinite(peak) else 1.0


def paa(values: FloatArray, factor: int) -> FloatArray:
    """Means of consecutive blocks of factor points (a last partial block is dropped), of the
    values scaled by `unit_scaled` (the same shapes, whatever the values' magnitude)."""
    usable = len(values) // factor * factor
    return np.asarray(unit_scaled(values[:usable]).reshape(-1, factor).mean(axis=1))


def monotone_share(shape: FloatArray, points: int = 32) -> float:
    """Share (0 to 1) of a shape's variance that the best monotone curve explains.

    Computed on the shape's means over ``points`` blocks; a flat shape counts as monotone (1).
    """
    return float(_native.monotone_share(np.ascontiguousarray(shape, dtype=np.float64), points))


def pattern_name(shape: FloatArray) -> tuple[str, int]:
    """A motif's name: the SAX letters of its shape's segment means, and the points per
    letter."""
    letters = min(PATTERN_LETTERS, len(shape))
    seglen = len(shape) // letters
    word = _zorp_cpp.sax(shape[: letters * seglen][None, :].tolist(), seglen, PATTERN_ALPHABET)[0]
    return "".join(word), seglen


def shifted_distance(a: FloatArray, b: FloatArray, most_shift: int, only: int | None = None) -> float:
    """The smallest distance sqrt(2 (1 - r)) between two shapes of the same length shifted
    against each other by at most ``most_shift`` points (by ``only`` points when given: b's
    point k against a's point k + only), over the points they then share (each part
    z-normalised); +inf when no shift leaves two points or every part is flat."""
    m = min(len(a), len(b))
    best = math.inf
    for shift in range(-most_shift, most_shift + 1) if only is None else (only,):
        first = a[max(0, shift) : m + min(0, shift)]
        second = b[max(0, -shift) : m + min(0, -shift)]
        if len(first) < 2:
            continue
        x, y = znormalised(first), znormalised(second)
        if not (x.any() and y.any()):
            continue
        r = float(np.mean(x * y))
        best = min(best, math.sqrt(max(0.0, 2.0 * (1.0 - r))))
    return best


def part_distance(longer: FloatArray, shorter: FloatArray, first: int, last: int) -> float:
    """The smallest distance sqrt(2 (1 - r)) between a shorter shape and the part of a longer
    one (both z-normalised) that starts at point p, first <= p <= last (within the longer
    shape); +inf when no such part is there or every one is flat, or the shorter is flat."""
    size = len(shorter)
    first, last = max(0, first), min(last, len(longer) - size)
    if size < 2 or last < first:
        return math.inf
    parts = np.lib.stride_tricks.sliding_window_view(longer, size)[first : last + 1]
    centred = parts - parts.mean(axis=1, keepdims=True)
    spread = np.sqrt((centred * centred).mean(axis=1))
    own = znormalised(shorter)
    if not own.any() or not np.any(spread > 0.0):
        return math.inf
    with np.errstate(invalid="ignore", divide="ignore"):
        r = np.where(spread > 0.0, centred @ own / (size * np.where(spread > 0.0, spread, 1.0)), -np.inf)
    return math.sqrt(max(0.0, 2.0 * (1.0 - float(np.max(r)))))


# How far a correlation of `shifted_correlations` may stand from the one `shifted_distance`
# takes: on parts whose spread is at least SHIFTED_CLEAR of the whole's, the running sums'
# rounding moves a correlation by about 1e-14 times the length. A decision taken within it is
# taken by `shifted_distance` instead.
SHIFTED_TOLERANCE = 1e-9
SHIFTED_CLEAR = 1e-2


def shifted_correlations(a: FloatArray, b: FloatArray, most_shift: int) -> FloatArray:
    """The correlation r of the parts `shifted_distance` compares (its distance is
    sqrt(2 (1 - r))), at each shift from -most_shift to most_shift, up to SHIFTED_TOLERANCE;
    NaN where it may be off by more (a part spread less than SHIFTED_CLEAR of the whole, a value
    not finite) or is undefined (fewer than two points). From running sums and one
    cross-correlation, where the loop makes two normalisations per shift."""
    m = min(len(a), len(b))
    shifts = np.arange(-most_shift, most_shift + 1)
    correlations = np.full(len(shifts), np.nan)
    if m < 2:
        return correlations
    # Centred and scaled as wholes (a correlation is blind to both): the parts' means are then
    # small against their spreads, and the running sums lose little to cancellation.
    x, y = a[:m] - np.mean(a[:m]), b[:m] - np.mean(b[:m])
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        x, y = x / np.max(np.abs(x)), y / np.max(np.abs(y))
    if not (np.isfinite(x).all() and np.isfinite(y).all()):
        return correlations
    fit = np.abs(shifts) <= m - 2
    shifts, points = shifts[fit], m - np.abs(shifts[fit])
    sum_x = np.concatenate(([0.0], np.cumsum(x)))
    sum_y = np.concatenate(([0.0], np.cumsum(y)))
    squares_x = np.concatenate(([0.0], np.cumsum(x * x)))
    squares_y = np.concatenate(([0.0], np.cumsum(y * y)))
    # b's point k against a's point k + shift: a's points [max(0, shift), m + min(0, shift))
    first, last = np.maximum(shifts, 0), m + np.minimum(shifts, 0)
    second, end = np.maximum(-shifts, 0), m + np.minimum(-shifts, 0)
    products = np.correlate(x, y, mode="full")[m - 1 + shifts]
    mean_x = (sum_x[last] - sum_x[first]) / points
    mean_y = (sum_y[end] - sum_y[second]) / points
    spread_x = squares_x[last] - squares_x[first] - points * mean_x * mean_x
    spread_y = squares_y[end] - squares_y[second] - points * mean_y * mean_y
    clear = (spread_x > SHIFTED_CLEAR * squares_x[-1]) & (spread_y > SHIFTED_CLEAR * squares_y[-1])
    product = np.where(clear, spread_x * spread_y, 1.0)
    correlations[fit] = np.where(clear, (products - points * mean_x * mean_y) / np.sqrt(product), np.nan)
    return correlations


def shifted_within(a: FloatArray, b: FloatArray, most_shift: int, bound: float) -> bool:
    """Whether `shifted_distance`(a, b, most_shift) <= bound: decided on
    `shifted_correlations` (a distance within bound is a correlation of at least
    1 - bound^2 / 2), and by `shifted_distance` at the shifts too close to call, only when no
    shift is clearly within."""
    least = 1.0 - bound * bound / 2.0
    r = shifted_correlations(a, b, most_shift)
    unsure = np.isnan(r) | (np.abs(r - least) <= SHIFTED_TOLERANCE)
    if bool(np.any(~unsure & (r > least))):
        return True
    shifts = np.arange(-most_shift, most_shift + 1)[unsure]
    return any(shifted_distance(a, b, 0, s) <= bound for s in shifts.tolist())


def close_shifts(a: FloatArray, b: FloatArray, most_shift: int, bound: float) -> list[int]:
    """The shifts (points, -most_shift to most_shift) at which `shifted_distance` is within
    bound: those `shifted_correlations` puts clearly within, and those too close to call that
    `shifted_distance` puts within."""
    least = 1.0 - bound * bound / 2.0
    r = shifted_correlations(a, b, most_shift)
    shifts = np.arange(-most_shift, most_shift + 1)
    unsure = np.isnan(r) | (np.abs(r - least) <= SHIFTED_TOLERANCE)
    close = set(shifts[~unsure & (r > least)].tolist())
    close.update(s for s in shifts[unsure].tolist() if shifted_distance(a, b, 0, s) <= bound)
    return sorted(close)
