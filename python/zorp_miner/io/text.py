"""Reading text files of series (CSV, TSV, plain text, UCR): lines read one at a time, the
separator and a header or an index column detected from the first lines, every cell checked
with the line and column it stands in."""

import csv
import math
from collections.abc import Iterable, Iterator
from itertools import chain, islice

import numpy as np

from zorp_miner._errors import LoadError
from zorp_miner._interface import option
from zorp_miner._types import FloatArray
from zorp_miner.io.checks import listed

TEXT_FORMATS = ("csv", "tsv", "txt", "ucr")
# The separators told apart in text files, by name; None splits on runs of spaces and tabs.
SEPARATORS: dict[str, str | None] = {",": ",", ";": ";", "\t": "\t", " ": None}
# The default separator of each text format, tried first when the separator is detected.
DEFAULT_SEPARATORS: dict[str, str | None] = {"csv": ",", "tsv": "\t", "txt": None, "ucr": "\t"}
# Non-blank lines a separator (and a pandas index column) is detected from.
SAMPLE_LINES = 5
MAX_LINE_BYTES = 64 << 20  # a line of text: one series of some millions of numbers



def read_text(
    name: str,
    chosen: str,
    *,
    layout: str,
    header: bool,
    sep: str | None,
    index_col: bool | None,
    label: str | int | float | None,
) -> list[FloatArray]:
    """The series of the text file name, read as the format chosen (one of TEXT_FORMATS), with
    :func:`zorp_miner.load`'s options, already checked against the format."""
    lines = _text_lines(name)
    first = next(lines, None)
    if first is None:
        raise LoadError(f"{name}: the file is empty")
    sample = [first, *islice(lines, SAMPLE_LINES - 1)]
    lines = chain(sample, lines)
    delimiter = SEPARATORS[sep] if sep is not None else _separator(sample, chosen)
    if chosen == "ucr":
        return _read_ucr(name, _cells(lines, delimiter, name, header), label)
    table = _Table.of(name, sample, delimiter, header=header, index_col=index_col)
    rows = _cells(lines, delimiter, name, table.header)
    if layout == "columns":
        return _columns(name, table, rows)
    series = [table.row(line, cells) for line, cells in rows]
    if not series:
        raise LoadError(f"{name}: holds no series, only its header line")
    return table.without_index(series)


_NOT_TEXT = "{name} line {line}: holds NUL bytes, so it is not a text file"


def _text_lines(name: str) -> Iterator[tuple[int, str]]:
    """The non-blank lines of a text file with their numbers, read a line at a time (memory
    bounded by the longest line); refuses lines over MAX_LINE_BYTES, text that is not UTF-8,
    and NUL bytes (binary data, a sparse file, a device such as /dev/zero)."""
    number = 0
    offset = 0
    with open(name, "rb") as file:
        while True:
            raw = file.readline(MAX_LINE_BYTES + 1)
            if not raw:
                return
            if len(raw) > MAX_LINE_BYTES:
                if b"\0" in raw:
                    raise LoadError(_NOT_TEXT.format(name=name, line=number + 1))
                raise LoadError(
                    f"{name} line {number + 1}: longer than {MAX_LINE_BYTES >> 20} MiB, more "
                    "than a line of series is read (save long series as .npy)"
                )
            try:
                text = raw.decode("utf-8-sig" if offset == 0 else "utf-8")
            except UnicodeDecodeError as error:
                # utf-8-sig counts from after the byte order mark.
                mark = 3 if offset == 0 and raw.startswith(b"\xef\xbb\xbf") else 0
                at = offset + mark + error.start
                raise LoadError(f"{name}: not UTF-8 text (byte {at} cannot be read)") from None
            offset += len(raw)
            if "\0" in text:
                raise LoadError(_NOT_TEXT.format(name=name, line=number + 1))
            # splitlines also ends lines at a lone carriage return.
            for line in text.splitlines() or [""]:
                number += 1
                if line.strip():
                    yield number, line


def _separator(sample: list[tuple[int, str]], chosen: str) -> str | None:
    """The separator held by every sampled line: the format's own first, then ",", ";", tab;
    else runs of spaces and tabs."""
    default = DEFAULT_SEPARATORS[chosen]
    if chosen == "ucr":
        return default
    for candidate in dict.fromkeys([default, ",", ";", "\t"]):
        if candidate is not None and all(candidate in line for _, line in sample):
            return candidate
    if default is not None and all(len(line.split()) == 1 for _, line in sample):
        return default  # a single column: the format's own separator reads it as well
    return None


def _split(line: str, delimiter: str | None, name: str, number: int) -> list[str]:
    """The cells of one line, stripped, trailing empty cells dropped."""
    if delimiter is None:
        cells = line.split()
    elif '"' in line:
        try:
            cells = next(csv.reader([line], delimiter=delimiter))
        except csv.Error as error:
            raise LoadError(f"{name} line {number}: cannot be split into cells ({error})") from None
    else:
        cells = line.split(delimiter)
    cells = [cell.strip() for cell in cells]
    while cells and not cells[-1]:
        cells.pop()
    return cells


def _cells(
    lines: Iterable[tuple[int, str]], delimiter: str | None, name: str, header: bool
) -> Iterator[tuple[int, list[str]]]:
    """The cells of every non-blank line with its line number, the first line left out when
    header (it holds column names)."""
    for index, (number, line) in enumerate(lines):
        if header and index == 0:
            continue
        yield number, _split(line, delimiter, name, number)


class _Table:
    """What a text table holds besides its values: a header line, an index column.

    Attributes
    ----------
    header : bool
        Whether the first line holds names (and is skipped).
    index : bool or None
        Whether the first column is an index; None while undecided: it is when it holds
        0, 1, 2, ... under a header line, which is known once every row is read.
    """

    def __init__(self, name: str, header: bool, index: bool | None) -> None:
        self.name = name
        self.header = header
        self.index = index

    @classmethod
    def of(
        cls,
        name: str,
        sample: list[tuple[int, str]],
        delimiter: str | None,
        *,
        header: bool,
        index_col: bool | None,
    ) -> "_Table":
        """The header and index column of a table, given or detected from its first lines."""
        rows = [_split(line, delimiter, name, number) for number, line in sample]
        if index_col is None and len(rows) > 1 and rows[0] and not rows[0][0]:
            # DataFrame.to_csv(): names over an index. Told from a series whose first point is
            # missing by the names (not numbers) or the index (labels, or 0, 1, 2, ...).
            firsts = [cells[0] if cells else "" for cells in rows[1:]]
            names = [cell for cell in rows[0][1:] if cell]
            if names and all(firsts) and (
                not all(map(_is_number, names))
                or not any(map(_is_number, firsts))
                or _counts_up(firsts)
            ):
                return cls(name, True, True)
        if not header and len(rows) > 1 and len(rows[0]) >= 3 and _counts_up(rows[0]):
            # Column names 0, 1, 2, ... over other values: DataFrame.to_csv(index=False).
            header = not _counts_up(rows[1])
        if index_col is None:
            return cls(name, header, None if header else False)
        return cls(name, header, index_col)

    @property
    def first_column(self) -> int:
        """The file column of a row's first value."""
        return 2 if self.index else 1

    def row(self, line: int, cells: list[str]) -> FloatArray:
        """One series from the cells of one line (an undecided index still in)."""
        if self.index:
            cells = cells[1:]
        return _row(self.name, line, cells, first_column=self.first_column, header=self.header)

    def without_index(self, series: list[FloatArray]) -> list[FloatArray]:
        """The rows' series, their first value dropped when it is the index."""
        if self.index is None:
            firsts = [float(one[0]) for one in series]
            self.index = len(series) > 1 and firsts == list(range(len(series)))
            if self.index:
                return [self._values(number, one[1:]) for number, one in enumerate(series)]
        return series

    def _values(self, number: int, values: FloatArray) -> FloatArray:
        present = np.flatnonzero(~np.isnan(values))
        if len(present) == 0:
            raise LoadError(f"{self.name}: row {number + 1} holds its index only, no values")
        return values[: present[-1] + 1]


def _is_number(cell: str) -> bool:
    try:
        float(cell)
    except ValueError:
        return False
    return True


def _counts_up(cells: list[str]) -> bool:
    """Whether cells read 0, 1, 2, ... written as integers."""
    return bool(cells) and cells == [str(i) for i in range(len(cells))]


def _row(name: str, line: int, cells: list[str], *, first_column: int, header: bool) -> FloatArray:
    """One series from the cells of one line; first_column is the file column of cells[0]."""
    if not cells:
        raise LoadError(f"{name} line {line}: the line holds no numbers")
    values = _numbers(name, line, cells, first_column, header)
    present = np.flatnonzero(~np.isnan(values))
    if len(present) == 0:
        raise LoadError(f"{name} line {line}: the line holds no numbers, only NaN")
    values = values[: present[-1] + 1]
    _refuse_infinite(name, line, values, cells, first_column, "its end")
    return values


def _refuse_infinite(
    name: str, line: int, values: FloatArray, cells: list[str], first_column: int, end: str
) -> None:
    infinite = np.isinf(values)
    if infinite.any():
        at = int(np.argmax(infinite))
        raise LoadError(
            f"{name} line {line}, column {first_column + at}: {_not_finite(cells[at], end)}"
        )


def _not_finite(cell: str, end: str) -> str:
    """Why a cell that reads as an infinity is refused."""
    if "inf" not in cell.lower():
        return f"{_shown(cell)} is out of the range of float64 numbers (at most about 1.8e308)"
    return (
        f"{_shown(cell)} is an infinite value inside the series (an empty cell or NaN is a "
        f"missing point, and at {end} padding)"
    )


def _numbers(name: str, line: int, cells: list[str], first_column: int, header: bool) -> FloatArray:
    """The cells as numbers, an empty cell NaN (a missing point)."""
    try:
        return np.array([float(cell) if cell else math.nan for cell in cells], dtype=np.float64)
    except ValueError:
        pass
    for at, cell in enumerate(cells):
        try:
            float(cell or "nan")
        except ValueError:
            where = f"{name} line {line}, column {first_column + at}"
            hint = ""
            if line == 1 and not header:
                hint = (
                    f" (if the first line holds names, skip it with {option('header', 'True')})"
                )
            elif at == 0 and first_column == 1:
                hint = (
                    " (if the first column holds row labels, drop it with "
                    f"{option('index_col', 'True')})"
                )
            raise LoadError(f"{where}: {_shown(cell)} is not a number{hint}") from None
    raise AssertionError("unreachable: every cell parsed")


def _shown(cell: str, most: int = 40) -> str:
    """A cell for a message: quoted, a long one cut short."""
    if len(cell) <= most:
        return repr(cell)
    return f"{cell[: most // 2]!r}... (a cell of {len(cell)} characters)"


def _columns(
    name: str, table: _Table, rows: Iterable[tuple[int, list[str]]]
) -> list[FloatArray]:
    numbered = [(line, cells) for line, cells in rows]
    if not numbered:
        raise LoadError(f"{name}: holds no series, only its header line")
    if table.index is None:
        firsts = [cells[0] if cells else "" for _, cells in numbered]
        table.index = len(numbered) > 1 and firsts == [str(i) for i in range(len(numbered))]
    skip = 1 if table.index else 0
    width = max(len(cells) for _, cells in numbered) - skip
    if width <= 0:
        raise LoadError(f"{name}: holds no series, only its index column")
    grid = np.full((len(numbered), width), np.nan)
    for index, (line, cells) in enumerate(numbered):
        for at, cell in enumerate(cells[skip:]):
            if cell:
                grid[index, at] = _number(name, line, at + 1 + skip, cell)
    series = []
    for column in range(width):
        values = grid[:, column]
        present = np.flatnonzero(~np.isnan(values))
        if len(present) == 0:
            raise LoadError(f"{name} column {column + 1 + skip}: the column holds no numbers")
        values = values[: present[-1] + 1]
        infinite = np.isinf(values)
        if infinite.any():
            at = int(np.argmax(infinite))
            line, cells = numbered[at]
            raise LoadError(
                f"{name} line {line}, column {column + 1 + skip}: "
                f"{_not_finite(cells[column + skip], 'the column' + chr(39) + 's end')}"
            )
        series.append(np.ascontiguousarray(values))
    return series


def _number(name: str, line: int, column: int, cell: str) -> float:
    try:
        return float(cell)
    except ValueError:
        raise LoadError(
            f"{name} line {line}, column {column}: {_shown(cell)} is not a number"
        ) from None


def _read_ucr(
    name: str, rows: Iterable[tuple[int, list[str]]], label: str | int | float | None
) -> list[FloatArray]:
    series = []
    classes: dict[str, None] = {}
    for line, cells in rows:
        classes[cells[0]] = None
        if label is None or _same_label(cells[0], label):
            series.append(_row(name, line, cells[1:], first_column=2, header=True))
    if not classes:
        raise LoadError(f"{name}: holds no series")
    if not series:
        raise LoadError(
            f"{name}: no series of class {label!r}; its classes are {listed(list(classes))}"
        )
    return series


def _same_label(cell: str, wanted: str | int | float) -> bool:
    if cell == str(wanted):
        return True
    try:
        return float(cell) == float(wanted)
    except ValueError:
        return False
