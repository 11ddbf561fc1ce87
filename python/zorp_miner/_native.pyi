# The native kernels of the robust discovery (src/bind_native.cpp), for the package's own use.
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def best_correlations(
    values: Sequence[npt.ArrayLike], weights: Sequence[npt.ArrayLike], shapes: npt.ArrayLike
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
def propose(
    series: Sequence[npt.ArrayLike],
    owners: npt.ArrayLike,
    starts: npt.ArrayLike,
    means: npt.ArrayLike,
    length: int,
    alphabet: int,
    support: float,
    count: int,
) -> list[tuple[int, int, str]]: ...
def monotone_share(shape: npt.ArrayLike, points: int = 32) -> float: ...
