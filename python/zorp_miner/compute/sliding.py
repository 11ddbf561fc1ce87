"""Sliding z-normalised distances between short shapes and a set of series.

The distance of a shape q and a window t of m points is reported *length-normalised*,
d = sqrt(2 (1 - r)), r their Pearson correlation: the root mean square difference per point of
the two z-normalised shapes (0 for the same shape, about 1.41 for unrelated ones, 2 for mirror
images), which makes distances of different lengths comparable. A window that holds a NaN, or
that is flat (constant, or whose deviation is negligible next to the series' typical window or
range, or at most the series' resolution), has no shape: its distance is +inf, so it never
matches. Shapes of up to DIRECT_POINTS points are matched by direct products (native, on every
thread), longer ones through FFTs of each series; every series is prepared on its own, so that
a series' matches are the same bit for bit whatever set it is in.
"""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from zorp_miner import _native
from zorp_miner.compute import threads as _threads
from zorp_miner._types import FloatArray as FloatArray  # also imported from here

BoolArray = npt.NDArray[np.bool_]

# A window is flat when its deviation is at most this fraction of the median deviation of the
# series' windows: a plateau, a constant stretch, or rounding noise on one.
FLAT_FRACTION = 1e-3
# A window is also flat when its deviation is at most this fraction of its series' largest
# deviation from the series' mean: the rounding of the window sums reaches about 1e-8 of it.
RESOLUTION = 1e-6
# A window is also flat when its deviation is at most the series' resolution, the smallest change
# between two consecutive points (see `resolution`): on data recorded in steps (counts, a
# converter's levels), a window that moves by a step or two on a plateau is the rounding of a
# flat stretch, and z-normalising it would make a spike or a square of it. Only in a series that
# spans at least LEVELS steps: one of fewer levels is made of its steps.
LEVELS = 16

# Shapes of up to this many points are matched by direct dot products (the native module, on
# every thread), which beat the FFTs per window on one thread below about 220 points and run on
# threads without the interpreter lock; longer ones through FFTs.
DIRECT_POINTS = 256
# Longer shapes are matched through FFTs a few at a time, holding at most about this many
# products (16 bytes each) at once.
FFT_VALUES = 1 << 22


def fft_size(points: int) -> int:
    """The smallest product of 2, 3 and 5 that is at least points (fast sizes for the FFT)."""
    best = 1 << max(0, (points - 1).bit_length())
    p5 = 1
    while p5 < best:
        p35 = p5
        while p35 < best:
            size = p35
            while size < points:
                size *= 2
            best = min(best, size)
            p35 *= 3
        p5 *= 5
    return best


def window_sums(values: FloatArray, m: int) -> FloatArray:
    """The sum of every window of m points (n - m + 1 of them) of a finite 1-D array.

    Cumulative sums restart every m points, so each window sum is assembled from partial sums
    of at most 2 m terms: the rounding error does not grow with the series' length.
    """
    n = len(values)
    chunks = -(-n // m) + 1
    padded = np.zeros(chunks * m)
    padded[:n] = values
    partial = np.zeros((chunks, m + 1))
    np.cumsum(padded.reshape(chunks, m), axis=1, out=partial[:, 1:])
    sums = partial[:-1, m : m + 1] - partial[:-1, :m] + partial[1:, :m]
    return sums.reshape(-1)[: n - m + 1]


def constant_windows(values: FloatArray, m: int) -> BoolArray:
    """Which windows of m points hold one value throughout (exactly, no tolerance)."""
    n = len(values)
    changes = np.flatnonzero(values[1:] != values[:-1]) + 1
    # For each point, the start of the next run of equal values.
    run_end = np.empty(n, dtype=np.int64)
    boundaries = np.concatenate([changes, [n]])
    starts = np.concatenate([[0], changes])
    run_end[:] = np.repeat(boundaries, boundaries - starts)
    return np.asarray(run_end[: n - m + 1] - np.arange(n - m + 1) >= m)


def resolution(values: FloatArray) -> float:
    """The series' resolution, in its own units: the smallest change between two consecutive
    finite points, when the series spans at least LEVELS of them; 0 otherwise (and when no
    two points differ). Recorded in steps (counts, a converter's levels), it is a step;
    measured finely, it is far below any window's deviation. A series of a few levels (on and
    off, a handful of states) is made of its steps: its windows keep their shapes."""
    finite = values[np.isfinite(values)]
    changes = np.abs(np.diff(finite))
    changes = changes[changes > 0.0]
    if len(changes) == 0:
        return 0.0
    step = float(changes.min())
    return step if float(finite.max()) - float(finite.min()) >= LEVELS * step else 0.0


def window_statistics(
    series: FloatArray, m: int, step: float | None = None
) -> tuple[FloatArray, FloatArray, BoolArray]:
    """Mean, population deviation and usability of every window of m points of one series.

    A window is usable when it holds no NaN and is not flat (see FLAT_FRACTION, and the
    series' resolution: ``step``, in the series' units, the `resolution` of the series when
    None). A series shorter than m has no window. Means and deviations of unusable windows are
    unspecified (finite).
    """
    mean, deviation, usable, _, scale = _scaled_statistics(series, m, step)
    return mean, deviation * scale, usable


def _scaled_statistics(
    series: FloatArray, m: int, step: float | None = None
) -> tuple[FloatArray, FloatArray, BoolArray, float, float]:
    """The means of the windows, their deviations in the series' own scale (the deviation is
    scale x the one returned), their usability, and the centre and scale that map the series
    into [-1, 1]. ``step``: the resolution (series' units) at or below which a window's
    deviation is flat; the series' own `resolution` when None (a series shuffled or averaged
    is given the resolution of the series it was made from).

    The series is centred on its mean and divided by its largest deviation from it before the
    sums, so that neither huge nor tiny (subnormal) values lose precision; the deviations stay
    in that scale, where a subnormal series' deviations are not 0.
    """
    n = len(series)
    if n < m:
        return np.zeros(0), np.ones(0), np.zeros(0, dtype=bool), 0.0, 1.0
    missing = ~np.isfinite(series)
    finite = np.where(missing, 0.0, series)
    present = np.flatnonzero(~missing)
    centre = float(finite[present].mean()) if len(present) else 0.0
    centred = np.where(missing, 0.0, finite - centre)
    scale = float(np.max(np.abs(centred))) if len(present) else 0.0
    if not (scale > 0.0 and np.isfinite(scale)):
        scale = 1.0
    centred /= scale
    mean = window_sums(centred, m) / m
    variance = np.maximum(window_sums(centred * centred, m) / m - mean * mean, 0.0)
    std = np.sqrt(variance)
    usable = window_sums(missing.astype(np.float64), m) < 0.5
    usable &= ~constant_windows(finite, m)
    if usable.any():
        typical = float(np.median(std[usable]))
        usable &= std > FLAT_FRACTION * typical
    usable &= std > RESOLUTION
    usable &= std > (resolution(series) if step is None else step) / scale
    std = np.where(usable, std, 1.0)
    return mean * scale + centre, std, usable, centre, scale


class SeriesBank:
    """A set of series prepared for sliding distances to shapes of one length m (points).

    Holds each series centred and scaled (NaN set to 0), and the deviation and usability of
    every window. Best matches of short shapes (up to DIRECT_POINTS) come from direct dot
    products in the native module; longer ones, and every window's distance
    (`series_distances`), from FFTs of the series, computed on first use.

    Everything is computed series by series, from that series alone: each series has its own
    FFT size (from its own length), and shapes are transformed in batches whose size depends on
    that size only. A series' best matches are therefore the same bit for bit in any set and
    whatever series are prepared with it, which lets a set held in parts be matched part by
    part.
    """

    def __init__(self, series: list[FloatArray], m: int, steps: list[float] | None = None) -> None:
        """series: the series; m: the shapes' length (points); steps: each series'
        resolution in its units (see `window_statistics`), their own when None."""
        self.m = m
        self.lengths = np.array([len(s) for s in series], dtype=np.int64)
        self.windows = max(0, int(self.lengths.max(initial=0)) - m + 1)
        self.sizes = [fft_size(max(len(s), m, 1)) for s in series]

        # Each series is centred on its mean and divided by its largest deviation from it
        # (which cancels in the correlation), and its windows' deviations are kept in that
        # scale; with usability and weights (1 / (m x deviation) on usable windows, 0
        # elsewhere), made in the native module as `_scaled_statistics` makes them, bit for bit.
        points = float(sum(len(s) for s in series))
        each = _native.prepared_series(
            [np.ascontiguousarray(s, dtype=np.float64) for s in series],
            m,
            None if steps is None else np.asarray(steps, dtype=np.float64),
            FLAT_FRACTION,
            RESOLUTION,
            float(LEVELS),
            threads=_threads.for_work(40.0 * points),
        )
        self.values: list[FloatArray] = [one[0] for one in each]
        self.deviations: list[FloatArray] = [one[1] for one in each]
        self.usable: list[BoolArray] = [one[2] for one in each]
        self.weights: list[FloatArray] = [one[3] for one in each]
        self._spectra: dict[int, npt.NDArray[np.complex128]] = {}

    def spectrum(self, i: int) -> npt.NDArray[np.complex128]:
        """The FFT of series i (zero-padded to its own size), computed once."""
        if i not in self._spectra:
            self._spectra[i] = np.fft.rfft(self.values[i], n=self.sizes[i])
        return self._spectra[i]

    def best(
        self, shapes: FloatArray, rows: list[int] | None = None
    ) -> tuple[npt.NDArray[np.int64], FloatArray]:
        """Start and distance of each shape's best match in every series, (C, N) each; with
        ``rows``, in those series only (their positions in the bank), (C, len(rows)).

        The same as the argmin and min of `distances` over the windows (the first window among
        equals, up to rounding), without building the distances; a series with no usable window
        gives start 0 and distance +inf.
        """
        m = self.m
        chosen = list(range(len(self.lengths))) if rows is None else rows
        count = len(chosen)
        starts = np.zeros((len(shapes), count), np.int64)
        top = np.full((len(shapes), count), -np.inf)
        if self.windows == 0 or len(shapes) == 0 or count == 0:
            return starts, np.full((len(shapes), count), np.inf)
        if m <= DIRECT_POINTS:
            windows = float(sum(len(self.weights[i]) for i in chosen))
            starts, top = _native.best_correlations(
                [self.values[i] for i in chosen],
                [self.weights[i] for i in chosen],
                shapes,
                threads=_threads.for_work(windows * len(shapes) * m),
            )
        else:
            reversed_shapes: dict[int, npt.NDArray[np.complex128]] = {}
            for i in chosen:
                size = self.sizes[i]
                if self.lengths[i] >= m and size not in reversed_shapes:
                    reversed_shapes[size] = np.fft.rfft(shapes[:, ::-1], n=size, axis=1)
            matched = [column for column, i in enumerate(chosen) if self.lengths[i] >= m]

            def by_fft(column: int) -> tuple[npt.NDArray[np.int64], FloatArray]:
                i = chosen[column]
                return self._best_by_fft(i, reversed_shapes[self.sizes[i]])

            # Each series' products and transforms on their own: about 10 operations per
            # point of its transform and shape.
            work = 10.0 * len(shapes) * float(sum(self.sizes[chosen[column]] for column in matched))
            for column, (found, best) in zip(matched, _threads.map_each(by_fft, matched, work)):
                starts[:, column], top[:, column] = found, best
        distance = np.sqrt(2.0 * (1.0 - np.clip(top, -1.0, 1.0)))
        return starts, np.where(np.isfinite(top), distance, np.inf)

    def _best_by_fft(
        self, i: int, reversed_shapes: npt.NDArray[np.complex128]
    ) -> tuple[npt.NDArray[np.int64], FloatArray]:
        """Start and correlation of each shape's best match in series i, through FFTs.

        The shapes are transformed a few at a time, so that the products stay within
        FFT_VALUES values; how many depends on the series' FFT size alone.
        """
        m = self.m
        size = self.sizes[i]
        windows = int(self.lengths[i]) - m + 1
        weights = self.weights[i]
        barrier = np.where(self.usable[i], 0.0, -np.inf)
        step = max(1, FFT_VALUES // size)
        starts = np.zeros(len(reversed_shapes), np.int64)
        top = np.full(len(reversed_shapes), -np.inf)
        for first in range(0, len(reversed_shapes), step):
            products = _products(self.spectrum(i), reversed_shapes[first : first + step])
            dots = np.fft.irfft(products, n=size, axis=1)[:, m - 1 : m - 1 + windows]
            r = dots * weights
            r += barrier
            best = r.argmax(axis=1)
            starts[first : first + step] = best
            top[first : first + step] = np.take_along_axis(r, best[:, None], axis=1)[:, 0]
        return starts, top

    def series_correlations(self, i: int, shapes: FloatArray) -> FloatArray:
        """Pearson correlation of each shape with every window of series i: shapes is (C, m),
        each row z-normalised (mean 0, population deviation 1); (C, windows of series i), NaN
        on unusable windows."""
        m = self.m
        windows = max(0, int(self.lengths[i]) - m + 1)
        if windows == 0:
            return np.full((len(shapes), 0), np.nan)
        size = self.sizes[i]
        spectrum = self.spectrum(i)
        scale = m * self.deviations[i]
        row = np.empty((len(shapes), windows))

        def fill(rows: tuple[int, int]) -> None:
            # A shape's transform, product and inverse depend on that shape alone: the same
            # rows however the shapes are grouped.
            first, last = rows
            reversed_spectra = np.fft.rfft(shapes[first:last, ::-1], n=size, axis=1)
            dots = np.fft.irfft(_products(spectrum, reversed_spectra), n=size, axis=1)
            np.divide(dots[:, m - 1 : m - 1 + windows], scale, out=row[first:last])

        # Groups of shapes on the run's threads: some 10 operations per point of each transform.
        groups = min(len(shapes), 8)
        bounds = [len(shapes) * g // groups for g in range(groups + 1)]
        _threads.map_each(fill, list(zip(bounds[:-1], bounds[1:])), 10.0 * len(shapes) * size)
        np.clip(row, -1.0, 1.0, out=row)
        row[:, ~self.usable[i]] = np.nan
        return row

    def series_distances(self, i: int, shapes: FloatArray) -> FloatArray:
        """Length-normalised z-normalised distance of each shape (as for `series_correlations`)
        to every window of series i: (C, windows of series i), +inf on unusable windows (a NaN,
        flat)."""
        return distance_of(self.series_correlations(i, shapes))


def distance_of(r: FloatArray) -> FloatArray:
    """The length-normalised distance sqrt(2 (1 - r)) of correlations r; +inf where r is NaN
    (an unusable window)."""
    d = np.asarray(np.sqrt(2.0 * (1.0 - r)))  # NaN where r is: +inf below
    d[np.isnan(r)] = np.inf
    return d


def _products(
    spectrum: npt.NDArray[np.complex128], spectra: npt.NDArray[np.complex128]
) -> npt.NDArray[np.complex128]:
    """spectrum times each row of spectra, with one rounding per real product and sum.

    numpy's complex product may round differently from one stretch of an array to another (its
    vector loops and their tails compute it differently); spelled out in real arithmetic, each
    value depends on its two factors alone.
    """
    count, size = spectra.shape
    pairs = np.ascontiguousarray(spectra).view(np.float64).reshape(count, size, 2)
    real, imag = np.ascontiguousarray(spectrum.real), np.ascontiguousarray(spectrum.imag)
    products = np.empty((count, size, 2))
    np.multiply(real, pairs[:, :, 0], out=products[:, :, 0])
    products[:, :, 0] -= imag * pairs[:, :, 1]
    np.multiply(real, pairs[:, :, 1], out=products[:, :, 1])
    products[:, :, 1] += imag * pairs[:, :, 0]
    return products.view(np.complex128).reshape(count, size)


_add = np.add.reduce
_largest = np.maximum.reduce


def znormalised(shape: FloatArray) -> FloatArray:
    """shape minus its mean, divided by its population deviation (a flat shape gives zeros).

    Scaled by its largest deviation from the mean first, so that tiny values do not underflow.
    """
    if shape.dtype == np.float64 and shape.ndim == 1:
        # The same steps on the reductions themselves: numpy's mean is this sum divided by the
        # count, and a call costs a third of the general path's (this runs for every shape).
        count = len(shape)
        if count == 0:
            return np.zeros_like(shape)
        centred = shape - float(_add(shape)) / count
        peak = float(_largest(np.abs(centred)))
        if not (peak > 0.0 and math.isfinite(peak)):
            return np.zeros_like(shape)
        centred /= peak
        return np.asarray(centred / math.sqrt(float(_add(centred * centred)) / count))
    centred = shape - shape.mean()
    peak = float(np.max(np.abs(centred))) if len(centred) else 0.0
    if not (peak > 0.0 and np.isfinite(peak)):
        return np.zeros_like(shape)
    centred = centred / peak
    return np.asarray(centred / np.sqrt(np.mean(centred * centred)))


def znormalised_finite(values: FloatArray) -> FloatArray:
    """values z-normalised over their finite points (as `znormalised`), NaN elsewhere; all NaN
    when fewer than two are finite or they are flat. A whole series so normalised is what the
    plots draw, gaps left as gaps."""
    finite = np.isfinite(values)
    out = np.full(len(values), np.nan)
    if finite.sum() >= 2:
        shape = znormalised(values[finite])
        if shape.any():
            out[finite] = shape
    return out
