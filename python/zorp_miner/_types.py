"""The types the package passes around: a series and its float64 values, int64 indexes, and
the JSON values its results turn into."""

from typing import TypeAlias

import numpy as np
from numpy.typing import NDArray

FloatArray: TypeAlias = NDArray[np.float64]
IntArray: TypeAlias = NDArray[np.int64]
# JSON values: what json.dumps writes without help (NaN is written as null).
JSONValue: TypeAlias = None | bool | int | float | str | list["JSONValue"] | dict[str, "JSONValue"]
