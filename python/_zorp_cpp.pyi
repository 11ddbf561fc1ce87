# Types of the extension module _zorp_cpp. The module itself carries no docstrings; see README.md.
from collections.abc import Buffer, Sequence
from typing import SupportsFloat, SupportsIndex, final

# A number wherever a float is taken: anything float() converts through __float__ or __index__
# (an int, a numpy scalar, a Fraction), but not a str, bytes or complex number.
_Real = SupportsFloat | SupportsIndex
# One series: a sequence of numbers, or an object exposing a 1-D buffer of numbers (a numpy
# array, array.array, memoryview). A str or bytes object is refused, though it is a sequence.
_Series = Sequence[_Real] | Buffer
# A series set: a sequence of series, or an object exposing a 2-D buffer of numbers whose rows
# are the series (a 2-D numpy array in any order or view, a 2-D memoryview). An object with a
# buffer must also be a sequence, and its items must not be complex.
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
        minsup: _Real,
        seglen: SupportsIndex,
        alphabet: SupportsIndex,
        min_len: SupportsIndex = 3,
        max_len: SupportsIndex = 0,
        max_overlap: _Real = 0.9,
        k: SupportsIndex = 0,
    ) -> None: ...
    def mine(self, arg0: _SeriesSet, /) -> list[Motif]: ...
    @property
    def motifs(self) -> list[Motif]: ...

@final
class PatternMiner:
    def __init__(
        self,
        minsup: _Real,
        min_len: SupportsIndex = 3,
        max_len: SupportsIndex = 0,
        max_overlap: _Real = 0.9,
    ) -> None: ...
    def mine(self, arg0: Sequence[Sequence[_Symbol]], /) -> None: ...
    @property
    def frequent(self) -> dict[str, Motif]: ...

def sax(ts: _SeriesSet, seglen: SupportsIndex, alphabet: SupportsIndex) -> list[list[str]]: ...
