"""Reading series from files: :func:`load`."""

import json
import os
from collections.abc import Sequence
from pathlib import Path
from typing import Literal, TypeGuard, get_args


from zorp_miner._errors import LoadError as LoadError  # also where it was defined before
from zorp_miner._interface import option
from zorp_miner._types import FloatArray
from zorp_miner.io.arrays import oriented, read_npy, read_npz
from zorp_miner.io.checks import Layout, checked_series
from zorp_miner.io.text import SEPARATORS, TEXT_FORMATS, read_text

Format = Literal["csv", "tsv", "txt", "ucr", "json", "npy", "npz"]
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

MAX_JSON_BYTES = 256 << 20  # JSON is parsed whole, into Python objects ten times its size
SNIFF_BYTES = 1 << 16  # read first, for NUL bytes, before reading more


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
        return checked_series(name, oriented(name, read_npy(name), layout))
    if chosen == "npz":
        return read_npz(name, key, layout)
    if chosen == "json":
        return _read_json(name, _read_json_text(name))
    return read_text(name, chosen, layout=layout, header=header, sep=sep, index_col=index_col, label=label)


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
        return checked_series(name, content)
    except RecursionError:
        raise LoadError(f"{name}: lists nested too deeply to be series") from None


# ---------------------------------------------------------------------------------------------
# numpy files


def is_file_list(data: object) -> TypeGuard[Sequence[str | os.PathLike[str]]]:
    """Whether data is a list (or tuple) of paths: strs or path objects, not all of them strings
    of one character (which are letters, not names)."""
    return (
        isinstance(data, (list, tuple))
        and len(data) > 0
        and all(isinstance(item, (str, os.PathLike)) for item in data)
        and any(not isinstance(item, str) or len(item) > 1 for item in data)
    )
