"""Turning the data users hold into the set of series the miner reads.

Every discovery mode starts here: :func:`as_series_set` checks and converts the input into a list
of 1-D float64 arrays before any work, and :func:`native_series_set` hands that list to the
native module in the form it reads fastest.
"""

import math
import numbers
import sys
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, TypeAlias

import numpy as np
from numpy.typing import NDArray

FloatArray: TypeAlias = NDArray[np.float64]


def as_series_set(data: object) -> list[FloatArray]:
    """Check a set of numeric series and convert it to a list of float64 arrays.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or pandas Series
        The series, in one of these forms:

        - a 2-D numpy array: each row is one series;
        - a list (or other iterable) of 1-D arrays, lists or tuples, of any lengths: each item is
          one series;
        - a pandas DataFrame: each *column* is one series (rows are time steps, as pandas
          usually holds time series; pass ``df.T`` when your series are rows);
        - a 1-D numpy array, a flat list of numbers or a pandas Series: a set of one series.

        Series ``i`` of the result is row, item or column ``i`` of the input.

    Returns
    -------
    list of numpy.ndarray
        One 1-D float64 array per series. Arrays may share memory with ``data``; nothing here
        writes to them.

    Notes
    -----
    NaN at the end of a series is padding and is dropped: this is how pandas and numpy hold
    series of different lengths in one table (a DataFrame whose columns are shorter than its
    index, a 2-D array of ragged rows). A NaN or infinity anywhere else is an error, because
    normalising a series with a missing point would make all of it missing.

    Raises
    ------
    TypeError
        For input that is not numbers: strings, booleans, complex numbers, dates, ``None``
        among the values, a dict, a scalar.
    ValueError
        For input of the wrong shape or with unusable values: 0-D or 3-D arrays, an empty set,
        an empty series, a NaN or infinity inside a series.
    """
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(data, pandas.DataFrame):
        return _from_frame(data)
    if pandas is not None and isinstance(data, pandas.Series):
        return [_series(_pandas_values(data), "the series")]
    if isinstance(data, np.ndarray):
        return _from_array(data)
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
        return [_series(_as_array(items, "the series"), "the series")]
    if any(scalars):
        first = scalars.index(True)
        raise TypeError(
            f"data mixes numbers and series: item {first} is {items[first]!r}; pass a list of "
            "series, or one flat list of numbers"
        )
    return [_series(_as_array(item, f"series {i}"), f"series {i}") for i, item in enumerate(items)]


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


def _from_array(array: NDArray[Any]) -> list[FloatArray]:
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


def _as_array(item: object, where: str) -> NDArray[Any]:
    if isinstance(item, (str, bytes)):
        raise TypeError(f"{where} is a {type(item).__name__}, not a sequence of numbers")
    if isinstance(item, Mapping):
        raise TypeError(f"{where} is a {type(item).__name__}, not a sequence of numbers")
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(item, pandas.Series):
        return _pandas_values(item)
    try:
        array = np.asarray(item)
    except (ValueError, TypeError):
        raise ValueError(f"{where} is not a flat sequence of numbers") from None
    if array.ndim == 0:
        raise TypeError(f"{where} is {item!r}, not a sequence of numbers")
    if array.ndim != 1:
        raise ValueError(
            f"{where} has {array.ndim} dimensions (shape {array.shape}); each series must be 1-D"
        )
    return array


def _series(values: NDArray[Any], where: str) -> FloatArray:
    """One series as float64, its trailing NaN dropped; fails on anything else not finite."""
    floats = _as_floats(values, where)
    present = np.flatnonzero(~np.isnan(floats))
    trimmed = floats[: present[-1] + 1] if len(present) else floats[:0]
    if len(trimmed) == 0:
        padding = " after dropping its trailing NaN padding" if len(floats) else ""
        raise ValueError(f"{where} is empty{padding}; every series needs at least one point")
    finite = np.isfinite(trimmed)
    if not finite.all():
        point = int(np.argmin(finite))
        raise ValueError(
            f"{where}, point {point}: {trimmed[point]} is not a finite number (only NaN at the "
            "end of a series is dropped as padding); fill or drop missing values first"
        )
    return trimmed


def _as_floats(values: NDArray[Any], where: str) -> FloatArray:
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
    return float(value)
