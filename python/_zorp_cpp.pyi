# Types of the extension module _zorp_cpp. The module itself carries no docstrings; see README.md.
from collections.abc import Buffer, Sequence
from typing import SupportsFloat, SupportsIndex, final

# One series: numbers, or an object exposing a 1-D numeric buffer (a numpy array, array.array).
_Series = Sequence[SupportsFloat | SupportsIndex] | Buffer
# A series set: one series per item, or a 2-D numeric buffer whose rows are the series.
_SeriesSet = Sequence[_Series] | Buffer
# One symbol: a str of one character of code point 0 to 255, or one byte.
_Symbol = str | bytes

@final
class Motif:
    @property
    def pattern(self) -> str: ...
    @property
    def indexes(self) -> dict[int, list[int]]: ...
    @property
    def average_occurrences(self) -> dict[int, list[float]]: ...
    @property
    def representative(self) -> list[float]: ...
    @property
    def best_matches(self) -> dict[int, int]: ...
    @property
    def length(self) -> int: ...
    @property
    def naed(self) -> float: ...

@final
class Miner:
    def __init__(
        self,
        minsup: float,
        seglen: int,
        alphabet: int,
        min_len: int = 3,
        max_len: int = 0,
        max_overlap: float = 0.9,
        k: int = 0,
    ) -> None: ...
    def mine(self, arg0: _SeriesSet, /) -> list[Motif]: ...
    @property
    def motifs(self) -> list[Motif]: ...

@final
class PatternMiner:
    def __init__(
        self, minsup: float, min_len: int = 3, max_len: int = 0, max_overlap: float = 0.9
    ) -> None: ...
    def mine(self, arg0: Sequence[Sequence[_Symbol]], /) -> None: ...
    @property
    def frequent(self) -> dict[str, Motif]: ...

def sax(ts: _SeriesSet, seglen: int, alphabet: int) -> list[list[str]]: ...
