# The native kernels of the robust discovery and the steps of an exact run over series held in
# parts (src/bindings/native_*), for the package's own use. Every function checks every argument
# before any work: a value out of its range raises ValueError naming the argument and the range
# it accepts; a value of the wrong type (one pybind11 cannot convert) raises TypeError; a result
# that does not fit in memory raises MemoryError. The kernels run without the interpreter lock,
# on copies of their arguments, which they never change.
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def best_correlations(
    values: Sequence[npt.ArrayLike],
    weights: Sequence[npt.ArrayLike],
    shapes: npt.ArrayLike,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
def nearest_profile(
    values: npt.ArrayLike, weights: npt.ArrayLike, m: int, exclusion: int, *, threads: int = 1
) -> npt.NDArray[np.float64]: ...
def monotone_share(shape: npt.ArrayLike, points: int = 32) -> float: ...
def prepared_series(
    series: Sequence[npt.ArrayLike],
    m: int,
    steps: npt.ArrayLike | None,
    flat_fraction: float,
    floor: float,
    levels: float,
    *,
    threads: int = 1,
) -> list[
    tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.bool_], npt.NDArray[np.float64]]
]: ...  # reads the series in place (C-contiguous float64 ones), without copying them
def window_words(
    series: Sequence[npt.ArrayLike],
    m: int,
    letters: int,
    steps: npt.ArrayLike | None,
    windows_per_series: int,
    flat_fraction: float,
    floor: float,
    levels: float,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
def within_discords(
    values: npt.ArrayLike,
    weights: npt.ArrayLike,
    m: int,
    exclusion: int,
    top: int,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
def realignment_sums(
    rows: npt.ArrayLike,
    members: npt.ArrayLike,
    scales: npt.ArrayLike,
    m: int,
    first: int,
    step: int,
    bound: float,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.bool_]]: ...
def count_keys(
    owners: npt.ArrayLike, starts: npt.ArrayLike, means: npt.ArrayLike, alphabet: int, *, threads: int = 1
) -> list[tuple[npt.NDArray[np.uint64], npt.NDArray[np.int64], npt.NDArray[np.int64]]]: ...
def ranked_keys(
    counts: Sequence[tuple[npt.ArrayLike, npt.ArrayLike, npt.ArrayLike]], support: float
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.uint64]]: ...
def sum_members(
    owners: npt.ArrayLike,
    starts: npt.ArrayLike,
    means: npt.ArrayLike,
    alphabet: int,
    projections: npt.ArrayLike,
    keys: npt.ArrayLike,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.uint64], npt.NDArray[np.int64]]: ...
def nearest_members(
    owners: npt.ArrayLike,
    starts: npt.ArrayLike,
    means: npt.ArrayLike,
    alphabet: int,
    projections: npt.ArrayLike,
    keys: npt.ArrayLike,
    averages: npt.ArrayLike,
    *,
    threads: int = 1,
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]]: ...
def proposal_word(means: npt.ArrayLike, alphabet: int, projection: int) -> str: ...
def znormalised(shape: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
def segment_jumps(befores: npt.ArrayLike, ends: npt.ArrayLike, tails: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
def normalised_words(series: Sequence[npt.ArrayLike], seglen: int, alphabet: int) -> list[bytes]: ...
def mine_words(
    words: Sequence[bytes], minsup: float, min_len: int, max_len: int, max_overlap: float
) -> list[
    tuple[bytes, npt.NDArray[np.int32], npt.NDArray[np.int64], npt.NDArray[np.int32]]
]: ...
def part_averages(
    series: Sequence[npt.ArrayLike],
    first: int,
    motifs: Sequence[tuple[int, npt.ArrayLike, npt.ArrayLike, npt.ArrayLike]],
    seglen: int,
) -> list[npt.NDArray[np.float64]]: ...
def add_to_representative(
    sums: npt.ArrayLike, counts: npt.ArrayLike, averages: npt.ArrayLike
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
def representative_from(sums: npt.ArrayLike, counts: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
def part_best_matches(
    series: Sequence[npt.ArrayLike],
    first: int,
    motifs: Sequence[tuple[int, npt.ArrayLike, npt.ArrayLike, npt.ArrayLike]],
    representatives: Sequence[npt.ArrayLike],
    seglen: int,
) -> list[tuple[npt.NDArray[np.int64], npt.NDArray[np.float64], npt.NDArray[np.float64]]]: ...
def ranking_order(naeds: npt.ArrayLike) -> npt.NDArray[np.int64]: ...
def motif_lengths(letters: npt.ArrayLike, seglen: int) -> npt.NDArray[np.int64]: ...
def refuse_oversized_statistics(lengths: npt.ArrayLike, supports: npt.ArrayLike) -> None: ...
