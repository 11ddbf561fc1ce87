"""The types the package passes around: a series and its float64 values, int64 indexes, the
JSON values its results turn into, and rows left on a cluster until read."""

from typing import Protocol, TypeAlias

import numpy as np
from numpy.typing import NDArray

FloatArray: TypeAlias = NDArray[np.float64]
IntArray: TypeAlias = NDArray[np.int64]
# JSON values: what json.dumps writes without help (NaN is written as null).
JSONValue: TypeAlias = None | bool | int | float | str | list["JSONValue"] | dict[str, "JSONValue"]


class LaterRows(Protocol):
    """Rows of numbers left where the parts computed them (the workers of a cluster), fetched
    when asked for."""

    def fetch(self) -> FloatArray:
        """The rows, a float64 array of shape (rows, width), in part order; a fresh array at
        every call."""
        ...
