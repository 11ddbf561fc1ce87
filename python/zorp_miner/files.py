"""Reading series from files: :func:`load`."""

import csv
import json
import os
import zipfile
from pathlib import Path
from collections.abc import Sequence
from typing import Any, Literal, TypeGuard, get_args

import numpy as np
from numpy.typing import NDArray

from .inputs import FloatArray, as_series_set

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


class LoadError(ValueError):
    """A file that cannot be read as series; the message names the file, and the line and
    column where there is one."""


def load(
    path: str | os.PathLike[str],
    *,
    format: Format | None = None,
    layout: Layout = "rows",
    header: bool = False,
    label: str | int | float | None = None,
    key: str | None = None,
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
          or NaN at the end of a line are padding. Blank lines are skipped; a UTF-8 byte order
          mark and Windows line endings are accepted.
        - "ucr" is the UCR archive's layout: tab-separated, the class label in the first
          column, the values after it (shorter series padded with NaN).
        - "json": a list of series (lists of numbers), or an object whose ``"series"`` member
          is one, as in ``examples/planted.json``.
        - "npy": a 1-D array (one series) or a 2-D array (one series per row); "npz": the
          array named ``key``, the only array of the file, or, when every array is 1-D, each
          array as one series in file order. Pickled objects are never loaded.
    layout : {"rows", "columns"}, default "rows"
        "columns" reads one series per column (of a text table or a 2-D array); a column
        shorter than the others ends with empty cells or NaN.
    header : bool, default False
        Skip the first line of a text file (column names).
    label : str, int or float, optional
        For "ucr": keep only the series of this class (compared as text, or as numbers when
        both are numbers, so 1 matches "1.0").
    key : str, optional
        For "npz": the array to read.

    Returns
    -------
    list of numpy.ndarray
        One float64 array per series, its trailing NaN padding dropped; ready for
        :func:`zorp_miner.find_motifs`.

    Raises
    ------
    FileNotFoundError, IsADirectoryError, PermissionError
        When the path cannot be read as a file.
    LoadError
        (a ValueError) When the content is not a set of numeric series: the message names the
        file and, for text, the line and column ("data.csv line 7, column 3: 'n/a' is not a
        number").
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
    if layout == "columns" and chosen in ("ucr", "json"):
        raise ValueError(f"layout='columns' does not apply to {chosen} files such as {name}")
    if chosen == "npy":
        return _checked(name, _oriented(name, _read_npy(name), layout))
    if chosen == "npz":
        return _read_npz(name, key, layout)
    text = _read_text(name)
    if chosen == "json":
        return _read_json(name, text)
    lines = text.splitlines()
    if header:
        lines[0] = ""
    if chosen == "ucr":
        return _read_ucr(name, lines, _delimiter(file, chosen), label)
    rows = _cells(lines, _delimiter(file, chosen))
    if not rows:
        raise LoadError(f"{name}: holds no series, only its header line")
    if layout == "columns":
        return _columns(name, rows)
    return [_row(name, line, cells, first_column=1, header=header) for line, cells in rows]


def _format_of(file: Path) -> str:
    if file.name.endswith(("_TRAIN.tsv", "_TEST.tsv")):
        return "ucr"
    suffix = file.suffix.lower()
    if suffix not in SUFFIXES:
        raise ValueError(
            f"cannot tell the format of {file} from its suffix {suffix!r}; pass format= "
            f"(--input-format) one of {', '.join(FORMATS)}"
        )
    return SUFFIXES[suffix]


def _delimiter(file: Path, chosen: str) -> str | None:
    """The cell separator; None splits on runs of spaces and tabs."""
    if chosen == "csv" or (chosen == "ucr" and file.suffix.lower() == ".csv"):
        return ","
    if chosen == "tsv" or (chosen == "ucr" and file.suffix.lower() in (".tsv", ".tab")):
        return "\t"
    return None


def _read_text(name: str) -> str:
    data = Path(name).read_bytes()
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise LoadError(f"{name}: not UTF-8 text (byte {error.start} cannot be read)") from None
    if not text.strip():
        raise LoadError(f"{name}: the file is empty")
    return text


def _cells(lines: list[str], delimiter: str | None) -> list[tuple[int, list[str]]]:
    """The cells of every non-blank line, with its line number, trailing empty cells dropped."""
    rows = []
    for number, line in enumerate(lines, start=1):
        if not line.strip():
            continue
        if delimiter is None:
            cells = line.split()
        else:
            cells = [cell.strip() for cell in next(csv.reader([line], delimiter=delimiter))]
        while cells and not cells[-1]:
            cells.pop()
        rows.append((number, cells))
    return rows


def _row(name: str, line: int, cells: list[str], *, first_column: int, header: bool) -> FloatArray:
    """One series from the cells of one line; first_column is the file column of cells[0]."""
    if not cells:
        raise LoadError(f"{name} line {line}: the line holds no numbers")
    values = _numbers(name, line, cells, first_column, header)
    present = np.flatnonzero(~np.isnan(values))
    if len(present) == 0:
        raise LoadError(f"{name} line {line}: the line holds no numbers, only NaN")
    values = values[: present[-1] + 1]
    finite = np.isfinite(values)
    if not finite.all():
        at = int(np.argmin(finite))
        raise LoadError(
            f"{name} line {line}, column {first_column + at}: {cells[at]!r} is a missing or "
            "infinite value inside the series (only NaN at its end is padding)"
        )
    return values


def _numbers(name: str, line: int, cells: list[str], first_column: int, header: bool) -> FloatArray:
    try:
        return np.array([float(cell) for cell in cells], dtype=np.float64)
    except ValueError:
        pass
    for at, cell in enumerate(cells):
        try:
            float(cell)
        except ValueError:
            where = f"{name} line {line}, column {first_column + at}"
            if not cell:
                raise LoadError(f"{where}: an empty cell inside the series") from None
            hint = ""
            if line == 1 and not header:
                hint = " (if the first line holds names, skip it with header=True, or --header)"
            raise LoadError(f"{where}: {cell!r} is not a number{hint}") from None
    raise AssertionError("unreachable: every cell parsed")


def _columns(name: str, rows: list[tuple[int, list[str]]]) -> list[FloatArray]:
    if not rows:
        raise LoadError(f"{name}: holds no series")
    width = max(len(cells) for _, cells in rows)
    grid = np.full((len(rows), width), np.nan)
    for index, (line, cells) in enumerate(rows):
        for at, cell in enumerate(cells):
            if cell:
                grid[index, at] = _number(name, line, at + 1, cell)
    series = []
    for column in range(width):
        values = grid[:, column]
        present = np.flatnonzero(~np.isnan(values))
        if len(present) == 0:
            raise LoadError(f"{name} column {column + 1}: the column holds no numbers")
        values = values[: present[-1] + 1]
        finite = np.isfinite(values)
        if not finite.all():
            at = int(np.argmin(finite))
            line, cells = rows[at]
            text = cells[column] if column < len(cells) else ""
            raise LoadError(
                f"{name} line {line}, column {column + 1}: {text!r} is a missing or infinite "
                "value inside the series (only empty cells or NaN at its end are padding)"
            )
        series.append(np.ascontiguousarray(values))
    return series


def _number(name: str, line: int, column: int, cell: str) -> float:
    try:
        return float(cell)
    except ValueError:
        raise LoadError(f"{name} line {line}, column {column}: {cell!r} is not a number") from None


def _read_ucr(
    name: str, lines: list[str], delimiter: str | None, label: str | int | float | None
) -> list[FloatArray]:
    series = []
    classes: dict[str, None] = {}
    for line, cells in _cells(lines, delimiter):
        classes[cells[0]] = None
        if label is None or _same_label(cells[0], label):
            series.append(_row(name, line, cells[1:], first_column=2, header=True))
    if not classes:
        raise LoadError(f"{name}: holds no series")
    if not series:
        raise LoadError(
            f"{name}: no series of class {label!r}; its classes are {', '.join(classes)}"
        )
    return series


def _same_label(cell: str, wanted: str | int | float) -> bool:
    if cell == str(wanted):
        return True
    try:
        return float(cell) == float(wanted)
    except ValueError:
        return False


def _read_json(name: str, text: str) -> list[FloatArray]:
    try:
        content = json.loads(text)
    except json.JSONDecodeError as error:
        raise LoadError(f"{name} line {error.lineno}, column {error.colno}: {error.msg}") from None
    if isinstance(content, dict) and "series" in content:
        content = content["series"]
    if not isinstance(content, list):
        raise LoadError(f'{name}: expected a list of series, or an object with a "series" list')
    return _checked(name, content)


def _read_npy(name: str) -> NDArray[Any]:
    with open(name, "rb") as start:
        if start.read(6) != b"\x93NUMPY":
            # np.load would take any other file for a pickle.
            raise LoadError(f"{name}: not a readable .npy file (no .npy signature at its start)")
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


def _read_npz(name: str, key: str | None, layout: Layout) -> list[FloatArray]:
    if not zipfile.is_zipfile(name):
        raise LoadError(f"{name}: not a readable .npz file (it is not a zip archive)")
    try:
        with np.load(name, allow_pickle=False) as archive:
            keys = list(archive.files)
            if key is not None:
                if key not in keys:
                    raise LoadError(f"{name}: no array {key!r}; its arrays are {', '.join(keys)}")
                return _checked(name, _oriented(name, archive[key], layout))
            if len(keys) == 1:
                return _checked(name, _oriented(name, archive[keys[0]], layout))
            if not keys:
                raise LoadError(f"{name}: holds no arrays")
            arrays = [archive[one] for one in keys]
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
    if any(array.ndim != 1 for array in arrays) or layout == "columns":
        raise LoadError(
            f"{name}: holds several arrays ({', '.join(keys)}); choose one with key= (--key)"
        )
    return _checked(name, arrays)


def _oriented(name: str, array: NDArray[Any], layout: Layout) -> NDArray[Any]:
    if array.ndim not in (1, 2):
        raise LoadError(
            f"{name}: an array of {array.ndim} dimensions (shape {array.shape}); expected 1-D "
            "(one series) or 2-D (one series per row)"
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
