"""Reading series from files: :func:`load`."""

import csv
import json
import math
import os
import stat
import zipfile
from collections.abc import Iterable, Iterator, Sequence
from itertools import chain, islice
from pathlib import Path
from typing import IO, Any, Literal, TypeGuard, get_args

import numpy as np
from numpy.typing import NDArray

from zorp_miner._errors import LoadError as LoadError  # also where it was defined before
from zorp_miner._interface import option
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set

Format = Literal["csv", "tsv", "txt", "ucr", "json", "npy", "npz"]
Layout = Literal["rows", "columns"]
FORMATS: tuple[str, ...] = get_args(Format)
SUFFIXES = {
    ".csv": "csv",
    ".tsv": "tsv",
    ".tab": "tsv",
    ".txt": "txt",
    ".json": "json",
    ".npy": "npy",
    ".npz": "npz",
}
TEXT_FORMATS = ("csv", "tsv", "txt", "ucr")
# The separators told apart in text files, by name; None splits on runs of spaces and tabs.
SEPARATORS: dict[str, str | None] = {",": ",", ";": ";", "\t": "\t", " ": None}
# The default separator of each text format, tried first when the separator is detected.
DEFAULT_SEPARATORS: dict[str, str | None] = {"csv": ",", "tsv": "\t", "txt": None, "ucr": "\t"}
# Non-blank lines a separator (and a pandas index column) is detected from.
SAMPLE_LINES = 5

# Limits that refuse a file before it takes the machine's memory or minutes of parsing.
MAX_LINE_BYTES = 64 << 20  # a line of text: one series of some millions of numbers
MAX_JSON_BYTES = 256 << 20  # JSON is parsed whole, into Python objects ten times its size
SNIFF_BYTES = 1 << 16  # read first, for NUL bytes, before reading more
MEMORY_SHARE = 0.5  # of the machine's memory, the most an array of a .npy or .npz may take


def load(
    path: str | os.PathLike[str],
    *,
    format: Format | None = None,
    layout: Layout = "rows",
    header: bool = False,
    label: str | int | float | None = None,
    key: str | None = None,
    sep: str | None = None,
    index_col: bool | None = None,
) -> list[FloatArray]:
    """Read a set of series from a file.

    Parameters
    ----------
    path : str or path-like
        The file.
    format : {"csv", "tsv", "txt", "ucr", "json", "npy", "npz"}, optional
        By default taken from the suffix: ``.csv`` (comma-separated), ``.tsv`` or ``.tab``
        (tab-separated), ``.txt`` (separated by spaces or tabs), ``.json``, ``.npy``,
        ``.npz``; a name ending in ``_TRAIN.tsv`` or ``_TEST.tsv`` is read as "ucr".

        - Text formats hold one series per line; lines may differ in length, and empty cells
          or NaN at the end of a line are padding; an empty cell or NaN inside a line is a
          missing point (NaN). Blank lines are skipped; a UTF-8 byte order mark and Windows
          line endings are accepted. The separator is detected (see ``sep``), and so is the
          header line and index column that pandas' ``DataFrame.to_csv()`` writes (see
          ``index_col``).
        - "ucr" is the UCR archive's layout: tab-separated, the class label in the first
          column, the values after it (shorter series padded with NaN).
        - "json": a list of series (lists of numbers), or an object whose ``"series"`` member
          is one, as in ``examples/planted.json``; at most MAX_JSON_BYTES (256 MiB), since it
          is parsed whole.
        - "npy": a 1-D array (one series), a 2-D array (one series per row) or a 3-D array
          of one channel, (series, 1, points); "npz": the array named ``key``, the only array
          of the file, or, when every array is 1-D, each array as one series in file order.
          Pickled objects are never loaded, and an array whose header announces more values
          than the file holds, or than half this machine's memory holds as float64, is
          refused before it is read.
    layout : {"rows", "columns"}, default "rows"
        "columns" reads one series per column (of a text table or a 2-D array); a column
        shorter than the others ends with empty cells or NaN.
    header : bool, default False
        Skip the first line of a text file (column names). A first line that pandas writes
        (see ``index_col``) is skipped without it.
    label : str, int or float, optional
        For "ucr": keep only the series of this class (compared as text, or as numbers when
        both are numbers, so 1 matches "1.0").
    key : str, optional
        For "npz": the array to read.
    sep : {",", ";", "\\t", " "}, optional
        Text formats: the cell separator, " " for runs of spaces and tabs. By default it is
        detected from the first five non-blank lines: the format's own separator (a comma for
        .csv, a tab for .tsv, spaces for .txt) when every one of them holds it, else the
        first of ",", ";" and tab that every one of them holds, else spaces and tabs.
    index_col : bool, optional
        Text formats: whether the first column is an index (row labels) to drop. By default
        detected: a first line whose first cell is empty above lines whose first cell is not
        (what ``DataFrame.to_csv()`` writes) is a header line over an index column, and, with
        a header line, a first column holding exactly 0, 1, 2, ... is an index. A first line
        holding exactly 0, 1, 2, ... (at least three of them, the column names of a frame
        written with ``index=False``) is a header line too. False never drops a column.

    Returns
    -------
    list of numpy.ndarray
        One float64 array per series, its trailing NaN padding dropped (NaN inside kept as
        missing points); ready for :func:`zorp_miner.find_motifs`.

    Raises
    ------
    FileNotFoundError, IsADirectoryError, PermissionError
        When the path cannot be read as a file.
    LoadError
        (a ValueError) When the content is not a set of numeric series: the message names the
        file and, for text, the line and column ("data.csv line 7, column 3: 'n/a' is not a
        number"); also for a file refused by its size or header, or that holds NUL bytes
        (binary data, not text).
    ValueError
        For options that do not apply to the file's format.
    """
    name = os.fspath(path)
    file = Path(name)
    if file.is_dir():
        raise IsADirectoryError(f"{name}: is a directory, not a file")
    if not file.exists():
        raise FileNotFoundError(f"{name}: no such file")
    chosen = _format_of(file) if format is None else format
    if chosen not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, got {chosen!r}")
    if layout not in get_args(Layout):
        raise ValueError(f"layout must be 'rows' or 'columns', got {layout!r}")
    if label is not None and chosen != "ucr":
        raise ValueError(f"label selects a class of a UCR file, but {name} is read as {chosen}")
    if key is not None and chosen != "npz":
        raise ValueError(f"key selects an array of a .npz file, but {name} is read as {chosen}")
    if header and chosen not in TEXT_FORMATS:
        raise ValueError(f"header applies to text files, but {name} is read as {chosen}")
    if sep is not None and sep not in SEPARATORS:
        raise ValueError(
            f"sep must be one of ',', ';', '\\t' (tab) or ' ' (spaces and tabs), got {sep!r}"
        )
    if (sep is not None or index_col is not None) and chosen not in TEXT_FORMATS:
        which = "sep" if sep is not None else "index_col"
        raise ValueError(f"{which} applies to text files, but {name} is read as {chosen}")
    if layout == "columns" and chosen in ("ucr", "json"):
        raise ValueError(f"layout='columns' does not apply to {chosen} files such as {name}")
    if chosen == "npy":
        return _checked(name, _oriented(name, _read_npy(name), layout))
    if chosen == "npz":
        return _read_npz(name, key, layout)
    if chosen == "json":
        return _read_json(name, _read_json_text(name))
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


def _format_of(file: Path) -> str:
    if file.name.endswith(("_TRAIN.tsv", "_TEST.tsv")):
        return "ucr"
    suffix = file.suffix.lower()
    if suffix not in SUFFIXES:
        raise ValueError(
            f"cannot tell the format of {file} from its suffix {suffix!r}; pass "
            f"{option('format')} one of {', '.join(FORMATS)}"
        )
    return SUFFIXES[suffix]


# ---------------------------------------------------------------------------------------------
# Text


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
            f"{name}: no series of class {label!r}; its classes are {_listed(list(classes))}"
        )
    return series


def _same_label(cell: str, wanted: str | int | float) -> bool:
    if cell == str(wanted):
        return True
    try:
        return float(cell) == float(wanted)
    except ValueError:
        return False


# ---------------------------------------------------------------------------------------------
# JSON


def _read_json_text(name: str) -> str:
    """The whole text of a JSON file, refused beyond MAX_JSON_BYTES (read up to it from a
    pipe or device) and when it is not UTF-8 or holds NUL bytes."""
    with open(name, "rb") as file:
        data = file.read(SNIFF_BYTES)
        if b"\0" in data:
            raise LoadError(f"{name}: holds NUL bytes, so it is not a text file")
        data += file.read(MAX_JSON_BYTES + 1 - len(data))
    if len(data) > MAX_JSON_BYTES:
        raise LoadError(
            f"{name}: a JSON file of more than {MAX_JSON_BYTES >> 20} MiB, which is parsed "
            "whole; save large sets as .npy, .npz or CSV"
        )
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise LoadError(f"{name}: not UTF-8 text (byte {error.start} cannot be read)") from None
    if "\0" in text:
        raise LoadError(f"{name}: holds NUL bytes, so it is not a text file")
    if not text.strip():
        raise LoadError(f"{name}: the file is empty")
    return text


def _regular(name: str, kind: str) -> None:
    """Refuses a path that is not a regular file (a pipe, a device), which a numpy file,
    read by seeking, cannot be."""
    if not stat.S_ISREG(os.stat(name).st_mode):
        raise LoadError(f"{name}: not a regular file, which a {kind} file must be")


def _read_json(name: str, text: str) -> list[FloatArray]:
    try:
        content = json.loads(text)
    except json.JSONDecodeError as error:
        raise LoadError(f"{name} line {error.lineno}, column {error.colno}: {error.msg}") from None
    except RecursionError:
        raise LoadError(f"{name}: lists nested too deeply to be series") from None
    if isinstance(content, dict) and "series" in content:
        content = content["series"]
    if not isinstance(content, list):
        raise LoadError(f'{name}: expected a list of series, or an object with a "series" list')
    try:
        return _checked(name, content)
    except RecursionError:
        raise LoadError(f"{name}: lists nested too deeply to be series") from None


# ---------------------------------------------------------------------------------------------
# numpy files


def _read_npy(name: str) -> NDArray[Any]:
    _regular(name, ".npy")
    with open(name, "rb") as start:
        if start.read(6) != b"\x93NUMPY":
            # np.load would take any other file for a pickle.
            raise LoadError(f"{name}: not a readable .npy file (no .npy signature at its start)")
        start.seek(0)
        _check_header(name, start, os.fstat(start.fileno()).st_size)
    try:
        array: NDArray[Any] = np.load(name, allow_pickle=False)
    except ValueError as error:
        if "allow_pickle" in str(error):
            raise LoadError(
                f"{name}: holds Python objects, which are never unpickled; save a numeric array"
            ) from None
        raise LoadError(f"{name}: not a readable .npy file ({error})") from None
    except (OSError, EOFError) as error:
        raise LoadError(f"{name}: not a readable .npy file ({error})") from None
    if not isinstance(array, np.ndarray):
        raise LoadError(f"{name}: not a .npy file (it holds several arrays; read it as npz)")
    return array


def _check_header(where: str, stream: IO[bytes], size: int) -> None:
    """Refuses an array, from its .npy header alone, whose values the file cannot hold
    (size bytes in all) or whose float64 copy would take more than MEMORY_SHARE of the
    machine's memory. Leaves stream just past the header."""
    try:
        version = np.lib.format.read_magic(stream)
        if version == (1, 0):
            shape, _, dtype = np.lib.format.read_array_header_1_0(stream)
        else:
            shape, _, dtype = np.lib.format.read_array_header_2_0(stream)
    except (ValueError, OSError, EOFError) as error:
        raise LoadError(f"{where}: not a readable .npy header ({error})") from None
    if dtype.hasobject:
        raise LoadError(
            f"{where}: holds Python objects, which are never unpickled; save a numeric array"
        )
    values = math.prod(shape)
    needed = values * dtype.itemsize
    held = size - stream.tell()
    if needed > held:
        raise LoadError(
            f"{where}: its header announces an array of shape {shape} ({values} values, "
            f"{needed} bytes), but only {held} bytes follow it: the file is cut short or not "
            "a .npy file"
        )
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    if values * 8 > MEMORY_SHARE * memory:
        raise LoadError(
            f"{where}: an array of shape {shape} would take {values * 8 / 2**30:.1f} GiB as "
            f"float64, more than half this machine's {memory / 2**30:.1f} GiB; split it into "
            "several files (and run them on a cluster)"
        )


def _read_npz(name: str, key: str | None, layout: Layout) -> list[FloatArray]:
    _regular(name, ".npz")
    if not zipfile.is_zipfile(name):
        raise LoadError(f"{name}: not a readable .npz file (it is not a zip archive)")
    try:
        with np.load(name, allow_pickle=False) as archive:
            keys = list(archive.files)
            if key is not None:
                if key not in keys:
                    raise LoadError(f"{name}: no array {key!r}; its arrays are {_listed(keys)}")
                return _checked(name, _oriented(name, _npz_array(name, archive, key), layout))
            if len(keys) == 1:
                return _checked(name, _oriented(name, _npz_array(name, archive, keys[0]), layout))
            if not keys:
                raise LoadError(f"{name}: holds no arrays")
            if layout == "columns":
                raise LoadError(
                    f"{name}: holds several arrays ({_listed(keys)}); choose one with "
                    f"{option('key', chr(39) + 'name' + chr(39))}"
                )
            arrays = [_npz_array(name, archive, one) for one in keys]
    except (zipfile.BadZipFile, OSError, EOFError) as error:
        raise LoadError(f"{name}: not a readable .npz file ({error})") from None
    except ValueError as error:
        if isinstance(error, LoadError):
            raise
        if "allow_pickle" in str(error):
            raise LoadError(
                f"{name}: holds Python objects, which are never unpickled; save numeric arrays"
            ) from None
        raise LoadError(f"{name}: not a readable .npz file ({error})") from None
    if any(array.ndim != 1 for array in arrays):
        raise LoadError(
            f"{name}: holds several arrays ({_listed(keys)}); choose one with "
            f"{option('key', chr(39) + 'name' + chr(39))}"
        )
    return _checked(name, arrays)


def _npz_array(name: str, archive: Any, key: str) -> NDArray[Any]:
    """One array of an .npz archive, its header checked (see `_check_header`) first."""
    member = key if key in archive.zip.namelist() else f"{key}.npy"
    size = archive.zip.getinfo(member).file_size
    with archive.zip.open(member) as stream:
        _check_header(f"{name}, array {key!r},", stream, size)
    array: NDArray[Any] = archive[key]
    return array


def _listed(names: Sequence[str], most: int = 5) -> str:
    """A few names, and how many there are when there are more."""
    if len(names) <= most:
        return ", ".join(names)
    return f"{', '.join(names[:most])} and {len(names) - most} more, {len(names)} in all"


def _oriented(name: str, array: NDArray[Any], layout: Layout) -> NDArray[Any]:
    if array.ndim == 3 and array.shape[1] == 1:
        array = array[:, 0, :]  # one channel, (series, 1, points), as aeon and sktime hold it
    if array.ndim not in (1, 2):
        channels = f" of {array.shape[1]} channels" if array.ndim == 3 else ""
        raise LoadError(
            f"{name}: an array of {array.ndim} dimensions (shape {array.shape}){channels}; "
            "expected 1-D (one series), 2-D (one series per row) or 3-D of one channel "
            "(series, 1, points)"
        )
    if layout == "columns":
        if array.ndim != 2:
            raise LoadError(f"{name}: layout='columns' needs a 2-D array, got 1-D")
        return array.T
    return array


def _checked(name: str, data: object) -> list[FloatArray]:
    try:
        return as_series_set(data)
    except (TypeError, ValueError) as error:
        raise LoadError(f"{name}: {error}") from None


def is_file_list(data: object) -> TypeGuard[Sequence[str | os.PathLike[str]]]:
    """Whether data is a list (or tuple) of paths: strs or path objects, not all of them strings
    of one character (which are letters, not names)."""
    return (
        isinstance(data, (list, tuple))
        and len(data) > 0
        and all(isinstance(item, (str, os.PathLike)) for item in data)
        and any(not isinstance(item, str) or len(item) > 1 for item in data)
    )
