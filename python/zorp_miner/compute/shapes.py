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
