"""Turning the data users hold into the set of series the miner reads.

Every discovery mode starts here: :func:`as_series_set` checks and converts the input into a list
of 1-D float64 arrays before any work, and :func:`native_series_set` hands that list to the
native module in the form it reads fastest.
"""

import math
import numbers
import sys
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from zorp_miner._types import FloatArray


def as_series_set(data: object) -> list[FloatArray]:
    """Check a set of numeric series and convert it to a list of float64 arrays.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or pandas Series
        The series, in one of these forms:

        - a 2-D numpy array: each row is one series; a 3-D array of one channel, shaped
          (series, 1, points) as aeon and sktime hold series, is read as its 2-D rows;
        - a list (or other iterable) of 1-D arrays, lists or tuples, of any lengths: each item is
          one series;
        - a pandas DataFrame: each *column* is one series (rows are time steps, as pandas
          usually holds time series; pass ``df.T`` when your series are rows);
        - a 1-D numpy array, a flat list of numbers or a pandas Series: a set of one series.

        Series ``i`` of the result is row, item or column ``i`` of the input. A masked numpy
        array (``numpy.ma``) is read with its masked points missing (NaN).

    Returns
    -------
    list of numpy.ndarray
        One 1-D float64 array per series. Arrays may share memory with ``data``; nothing here
        writes to them.

    Notes
    -----
    NaN at the end of a series is padding and is dropped: this is how pandas and numpy hold
    series of different lengths in one table (a DataFrame whose columns are shorter than its
    index, a 2-D array of ragged rows). A NaN anywhere else is a missing point and is kept
    (the robust mode reads it so: a window holding one never matches; the exact mode refuses
    it, see :func:`refuse_missing`). An infinity, or a number beyond float64's range, is an
    error.

    Raises
    ------
    TypeError
        For input that is not numbers: strings, booleans, complex numbers, dates, ``None``
        among the values, a dict, a scalar. The message names the series and the point.
    ValueError
        For input of the wrong shape or with unusable values: 0-D arrays, 3-D arrays of
        several channels, an empty set, an empty series, an infinity or a number out of
        float64's range (``10**400``) inside a series.
    """
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(data, pandas.DataFrame):
        return _from_frame(data)
    if pandas is not None and isinstance(data, pandas.Series):
        return [_series(_pandas_values(data), "the series")]
    if isinstance(data, np.ndarray):
        return _from_array(_unmasked(data))
    if isinstance(data, (str, bytes)):
        raise TypeError(f"data must be numeric series, got a {type(data).__name__}")
    if isinstance(data, Mapping):
        raise TypeError("data must be a list of series, not a mapping; pass list(data.values())")
    if not isinstance(data, Iterable):
        raise TypeError(
            f"data must be an array, a list of series or a DataFrame, got {type(data).__name__}"
        )
    items = list(data)
    if not items:
        raise ValueError("data is an empty set of series; pass at least one series")
    scalars = [_is_scalar(item) for item in items]
    if all(scalars):
        return [_series(as_array(items, "the series"), "the series")]
    if any(scalars):
        first = scalars.index(True)
        raise TypeError(
            f"data mixes numbers and series: item {first} is {items[first]!r}; pass a list of "
            "series, or one flat list of numbers"
        )
    return [_series(as_array(item, f"series {i}"), f"series {i}") for i, item in enumerate(items)]


def refuse_missing(series: Sequence[FloatArray]) -> None:
    """Refuse a missing point (NaN) inside a series, as the exact mode must.

    The exact mode normalises each series as a whole, which one missing point would make
    missing; the robust mode reads NaN as a missing point instead.

    Parameters
    ----------
    series : sequence of numpy.ndarray
        Series as :func:`as_series_set` returns them (trailing NaN already dropped).

    Raises
    ------
    ValueError
        Naming the first series holding a NaN, and the point (see :func:`missing_error`).
    """
    missing = first_missing(series)
    if missing is not None:
        raise missing_error(*missing)


def first_missing(series: Sequence[FloatArray]) -> tuple[int, int] | None:
    """The first series holding a missing point (NaN), and that point; None when none does."""
    for i, values in enumerate(series):
        missing = np.isnan(values)
        if missing.any():
            return i, int(np.argmax(missing))
    return None


def missing_error(series: int, point: int, where: str = "") -> ValueError:
    """The exact mode's refusal of a missing point; ``where`` names the part holding it."""
    return ValueError(
        f"{where}{': ' if where else ''}series {series}, point {point}: nan is not a finite "
        "number (only NaN at the end of a series is dropped as padding); the exact mode "
        "normalises each series as a whole, which one missing point would make missing: fill "
        "or drop missing values first, or use the robust mode, which reads NaN as a missing "
        "point"
    )


def native_series_set(series: Sequence[FloatArray]) -> FloatArray | list[FloatArray]:
    """The series as the native module reads them fastest.

    Parameters
    ----------
    series : sequence of numpy.ndarray
        1-D float64 arrays, as :func:`as_series_set` returns them.

    Returns
    -------
    numpy.ndarray or list of numpy.ndarray
        A 2-D C-contiguous float64 array whose rows are the series when all have the same
        length, else the list of 1-D C-contiguous float64 arrays.
    """
    if len({len(one) for one in series}) == 1:
        return np.ascontiguousarray(np.stack(series), dtype=np.float64)
    return [np.ascontiguousarray(one, dtype=np.float64) for one in series]


def _is_scalar(item: object) -> bool:
    return isinstance(item, (numbers.Number, np.generic)) or item is None


def _unmasked(array: NDArray[Any]) -> NDArray[Any]:
    """A masked array's values with its masked points NaN (missing); other arrays as they are."""
    if not isinstance(array, np.ma.MaskedArray):
        return array
    if array.dtype.kind in "iuf":
        return np.ma.filled(array.astype(np.float64), np.nan)
    if array.dtype.kind == "O":
        return np.ma.filled(array, np.nan)
    # Booleans, strings, dates: refused by kind, whatever the mask.
    return np.ma.getdata(array)


def _from_array(array: NDArray[Any]) -> list[FloatArray]:
    if array.ndim == 3:
        array = _one_channel(array)
    if array.ndim == 1:
        return [_series(array, "the series")]
    if array.ndim != 2:
        raise ValueError(
            f"data must be a 1-D array (one series) or a 2-D array (one series per row), "
            f"got an array of {array.ndim} dimensions with shape {array.shape}"
        )
    if array.shape[0] == 0:
        raise ValueError("data is an empty set of series (a 2-D array of 0 rows)")
    if array.dtype.kind in "iuf":
        values = array.astype(np.float64, copy=False)
        if array.shape[1] > 0 and bool(np.isfinite(values).all()):
            # The common case, checked in one pass: the rows are views, nothing is copied.
            return list(values)
    return [_series(row, f"series {i}") for i, row in enumerate(array)]


def _one_channel(array: NDArray[Any]) -> NDArray[Any]:
    """The rows of a 3-D array of one channel, (series, 1, points), as aeon and sktime hold
    series; several channels are refused."""
    series, channels, points = array.shape
    if channels == 1:
        return array[:, 0, :]
    if points == 1 and channels > 1:
        raise ValueError(
            f"data is a 3-D array of shape {array.shape}, read as (series, channels, points): "
            f"{channels} channels of one point each; for (series, points, 1) pass data[:, :, 0]"
        )
    raise ValueError(
        f"data is a 3-D array of shape {array.shape}: {channels} channels per series (as "
        "(series, channels, points)); motifs are found in one channel at a time: pass one, "
        "such as data[:, 0, :]"
    )


def _from_frame(frame: Any) -> list[FloatArray]:
    if frame.shape[1] == 0:
        raise ValueError("data is a DataFrame without columns, an empty set of series")
    return [
        _series(_pandas_values(frame.iloc[:, i]), f"series {i} (column {label!r})")
        for i, label in enumerate(frame.columns)
    ]


def _pandas_values(column: Any) -> NDArray[Any]:
    pandas = sys.modules["pandas"]
    dtype = column.dtype
    if pandas.api.types.is_bool_dtype(dtype) or not pandas.api.types.is_numeric_dtype(dtype):
        # Left to _series, which names the first value that is not a number.
        return np.asarray(column.to_numpy(dtype=object))
    # Nullable integer and float columns hold pd.NA, which becomes NaN here.
    return np.asarray(column.to_numpy(dtype=np.float64, na_value=np.nan))


def as_array(item: object, where: str) -> NDArray[Any]:
    if isinstance(item, (str, bytes)):
        raise TypeError(f"{where} is a {type(item).__name__}, not a sequence of numbers")
    if isinstance(item, Mapping):
        raise TypeError(f"{where} is a {type(item).__name__}, not a sequence of numbers")
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(item, pandas.Series):
        return _pandas_values(item)
    if isinstance(item, np.ndarray):
        array = _unmasked(item)
    else:
        if isinstance(item, (list, tuple)):
            _refuse_odd_points(item, where)
        try:
            array = np.asarray(item)
        except (ValueError, TypeError):
            raise ValueError(f"{where} is not a flat sequence of numbers") from None
    if array.ndim == 0:
        raise TypeError(f"{where} is {item!r}, not a sequence of numbers")
    if array.ndim == 2 and array.shape[0] == 1:
        # One channel of a series, (1, points), as aeon holds series of different lengths.
        array = array[0]
    if array.ndim != 1:
        raise ValueError(
            f"{where} has {array.ndim} dimensions (shape {array.shape}); each series must be 1-D"
        )
    return array


def _refuse_odd_points(item: list[object] | tuple[object, ...], where: str) -> None:
    """Refuse booleans and strings among the values of a list or tuple, naming the first
    (numpy would read True as 1.0, and turn every number of the list into text)."""
    kinds = set(map(type, item))
    if not kinds & {bool, np.bool_, str, bytes, np.str_, np.bytes_}:
        return
    for point, value in enumerate(item):
        if isinstance(value, (bool, np.bool_)):
            raise TypeError(f"{where}, point {point}: {value!r} is a boolean, not a number")
        if isinstance(value, (str, bytes)):
            raise TypeError(f"{where}, point {point}: {value!r} is a string, not a number")


def _series(values: NDArray[Any], where: str) -> FloatArray:
    """One series as float64, its trailing NaN dropped, NaN inside kept (missing points);
    fails on an infinity."""
    floats = as_floats(values, where)
    present = np.flatnonzero(~np.isnan(floats))
    trimmed = floats[: present[-1] + 1] if len(present) else floats[:0]
    if len(trimmed) == 0:
        padding = " after dropping its trailing NaN padding" if len(floats) else ""
        raise ValueError(f"{where} is empty{padding}; every series needs at least one point")
    infinite = np.isinf(trimmed)
    if infinite.any():
        point = int(np.argmax(infinite))
        raise ValueError(
            f"{where}, point {point}: {trimmed[point]} is not a finite number (NaN marks a "
            "missing point; an infinity is not a value a series can hold)"
        )
    return trimmed


def as_floats(values: NDArray[Any], where: str) -> FloatArray:
    kind = values.dtype.kind
    if kind in "iuf":
        return values.astype(np.float64, copy=False)
    if kind == "b":
        raise TypeError(f"{where} holds booleans, not numbers")
    if kind == "c":
        raise TypeError(
            f"{where} holds complex numbers; pass the real part, the magnitude or the phase"
        )
    if kind in "mM":
        raise TypeError(f"{where} holds dates or durations, not numbers")
    if kind in "US":
        raise TypeError(f"{where}, point 0: {values[0].item()!r} is a string, not a number")
    floats = np.empty(len(values), dtype=np.float64)
    for point, value in enumerate(values):
        floats[point] = _as_float(value, f"{where}, point {point}")
    return floats


def _as_float(value: object, where: str) -> float:
    pandas = sys.modules.get("pandas")
    if pandas is not None and value is pandas.NA:
        return math.nan
    if (
        isinstance(value, (bool, np.bool_, str, bytes, complex, np.complexfloating))
        or value is None
    ):
        raise TypeError(f"{where}: {value!r} is not a number")
    if not isinstance(value, (numbers.Real, np.number)):
        raise TypeError(f"{where}: {value!r} is not a number")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(
            f"{where}: {_described(value)} is out of the range of float64 numbers (at most "
            "about 1.8e308 in size)"
        ) from None


def _described(value: object) -> str:
    """A number for a message: a huge integer by its digits, not in full."""
    if isinstance(value, int) and abs(value) > 10**30:
        digits = int((abs(value).bit_length() - 1) * math.log10(2)) + 1
        digits += abs(value) >= 10**digits
        return f"an integer of {digits} digits"
    return repr(value)
