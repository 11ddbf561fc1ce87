"""zorp_miner.load: the file formats, their options, and an error naming file, line and column
for every malformed file."""

import json
import pathlib
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt
import pytest

from zorp_miner import load
from zorp_miner.files import LoadError

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "planted.json"


def write(folder: pathlib.Path, name: str, content: str | bytes) -> pathlib.Path:
    path = folder / name
    if isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_text(content, encoding="utf-8", newline="")
    return path


def lists(series: Sequence[npt.NDArray[np.float64]]) -> list[list[float]]:
    assert all(one.dtype == np.float64 for one in series)
    return [one.tolist() for one in series]


@pytest.mark.parametrize(
    "name, content, options, expected",
    [
        ("rows.csv", "1,2,3\n4,5\n\n6,7,8,9,,\n", {}, [[1, 2, 3], [4, 5], [6, 7, 8, 9]]),
        ("bom_crlf.csv", b"\xef\xbb\xbf1, 2,3\r\n4,5\r\n", {}, [[1, 2, 3], [4, 5]]),
        (
            "named.csv",
            "a,b\n1,4\n2,5\n3,\n",
            {"header": True, "layout": "columns"},
            [[1, 2, 3], [4, 5]],
        ),
        ("nan_pad.csv", "1,2,NaN,nan\n3,4,5,6\n", {}, [[1, 2], [3, 4, 5, 6]]),
        ("rows.tsv", "1\t2\t3\n4\t5\n", {}, [[1, 2, 3], [4, 5]]),
        ("rows.txt", "1 2  3\n\t4 5\n", {}, [[1, 2, 3], [4, 5]]),
        (
            "Demo_TRAIN.tsv",
            "1\t0.5\t0.7\tNaN\n2\t1\t2\t3\n1.0\t4\t5\t6\n",
            {},
            [[0.5, 0.7], [1, 2, 3], [4, 5, 6]],
        ),
        ("Demo_TEST.tsv", "1\t0.5\t0.7\n2\t1\t2\n1.0\t4\t5\n", {"label": 1}, [[0.5, 0.7], [4, 5]]),
        ("classes.tsv", "x\t1\t2\ny\t3\t4\n", {"format": "ucr", "label": "y"}, [[3, 4]]),
        ("list.json", "[[1, 2], [3, 4, 5]]", {}, [[1, 2], [3, 4, 5]]),
        ("object.json", '{"series": [[1, 2]], "other": 1}', {}, [[1, 2]]),
    ],
)
def test_text_formats(
    tmp_path: pathlib.Path,
    name: str,
    content: str | bytes,
    options: dict[str, Any],
    expected: list[list[float]],
) -> None:
    assert lists(load(write(tmp_path, name, content), **options)) == expected


def test_the_bundled_example_loads_as_its_json_series() -> None:
    expected = json.loads(EXAMPLE.read_text())["series"]
    assert lists(load(EXAMPLE)) == expected


def test_numpy_files(tmp_path: pathlib.Path) -> None:
    table = np.arange(12.0).reshape(3, 4)
    np.save(tmp_path / "table.npy", table)
    assert lists(load(tmp_path / "table.npy")) == table.tolist()
    assert lists(load(tmp_path / "table.npy", layout="columns")) == table.T.tolist()
    np.savez(tmp_path / "ragged.npz", np.arange(3.0), np.arange(5.0))
    assert lists(load(tmp_path / "ragged.npz")) == [[0, 1, 2], [0, 1, 2, 3, 4]]
    np.savez(tmp_path / "named.npz", x=table, y=np.ones((2, 2)))
    assert lists(load(tmp_path / "named.npz", key="y")) == [[1, 1], [1, 1]]


def malformed(tmp_path: pathlib.Path, case: str) -> pathlib.Path:
    """Writes the malformed file of one case; returns its path."""
    if case == "directory":
        return tmp_path
    if case == "missing":
        return tmp_path / "missing.csv"
    if case == "pickled npy":
        path = tmp_path / "objects.npy"
        np.save(path, np.array([[1, 2], [3]], dtype=object), allow_pickle=True)
        return path
    if case == "3-D npy":
        path = tmp_path / "cube.npy"
        np.save(path, np.zeros((2, 2, 2)))
        return path
    if case == "npz without key":
        path = tmp_path / "two.npz"
        np.savez(path, a=np.zeros((2, 2)), b=np.zeros((2, 2)))
        return path
    if case == "npz bad key":
        path = tmp_path / "two.npz"
        np.savez(path, a=np.zeros((2, 2)))
        return path
    name, content = MALFORMED_TEXT[case]
    return write(tmp_path, name, content)


MALFORMED_TEXT: dict[str, tuple[str, str | bytes]] = {
    "empty file": ("empty.csv", ""),
    "blank file": ("blank.csv", "\n  \r\n"),
    "header only": ("names.csv", "a,b,c\n"),
    "not a number": ("data.csv", "1,2,3\n4,5,6\n7,8,n/a\n"),
    "header not skipped": ("named.csv", "a,b\n1,2\n"),
    "empty cell inside": ("gap.csv", "1,,3\n"),
    "NaN inside": ("gap.tsv", "1\t2\n3\tnan\t5\n"),
    "infinity": ("inf.csv", "1,2\n3,inf\n"),
    "hole in a column": ("cols.csv", "1,2\n,3\n4,5\n"),
    "windows line": ("crlf.csv", b"\xef\xbb\xbf1,2\r\n3,x\r\n"),
    "not UTF-8": ("binary.csv", b"1,2\n\xff\xfe\x00\n"),
    "bad json": ("bad.json", '{"series": [[1, 2],\n [3, ]]}'),
    "json not a list": ("dict.json", '{"values": [1, 2]}'),
    "json null inside": ("null.json", "[[1, null, 2]]"),
    "ucr class absent": ("Set_TRAIN.tsv", "1\t0.5\t0.7\n2\t1\t2\n"),
    "unknown suffix": ("data.xlsx", "1,2\n"),
    "npy that is text": ("fake.npy", "1,2,3\n"),
    "npz that is text": ("fake.npz", "1,2,3\n"),
}

OPTIONS: dict[str, dict[str, Any]] = {
    "header only": {"header": True},
    "hole in a column": {"layout": "columns"},
    "ucr class absent": {"label": 3},
    "npz bad key": {"key": "b"},
}


@pytest.mark.parametrize(
    "case, error, message",
    [
        ("directory", IsADirectoryError, "{path}: is a directory, not a file"),
        ("missing", FileNotFoundError, "{path}: no such file"),
        ("empty file", LoadError, "{path}: the file is empty"),
        ("blank file", LoadError, "{path}: the file is empty"),
        ("header only", LoadError, "{path}: holds no series, only its header line"),
        ("not a number", LoadError, "{path} line 3, column 3: 'n/a' is not a number"),
        (
            "header not skipped",
            LoadError,
            "{path} line 1, column 1: 'a' is not a number (if the first line holds names",
        ),
        (
            "empty cell inside",
            LoadError,
            "{path} line 1, column 2: an empty cell inside the series",
        ),
        ("NaN inside", LoadError, "{path} line 2, column 2: 'nan' is a missing or infinite value"),
        ("infinity", LoadError, "{path} line 2, column 2: 'inf' is a missing or infinite value"),
        ("hole in a column", LoadError, "{path} line 2, column 1: '' is a missing or infinite"),
        ("windows line", LoadError, "{path} line 2, column 2: 'x' is not a number"),
        ("not UTF-8", LoadError, "{path}: not UTF-8 text (byte 4 cannot be read)"),
        ("bad json", LoadError, "{path} line 2, column 6: Expecting value"),
        (
            "json not a list",
            LoadError,
            '{path}: expected a list of series, or an object with a "series"',
        ),
        ("json null inside", LoadError, "{path}: series 0, point 1: None is not a number"),
        ("ucr class absent", LoadError, "{path}: no series of class 3; its classes are 1, 2"),
        ("unknown suffix", ValueError, "cannot tell the format of {path} from its suffix '.xlsx'"),
        ("npy that is text", LoadError, "{path}: not a readable .npy file (no .npy signature"),
        ("npz that is text", LoadError, "{path}: not a readable .npz file (it is not a zip"),
        ("pickled npy", LoadError, "{path}: holds Python objects, which are never unpickled"),
        ("3-D npy", LoadError, "{path}: an array of 3 dimensions (shape (2, 2, 2))"),
        ("npz without key", LoadError, "{path}: holds several arrays (a, b); choose one with key="),
        ("npz bad key", LoadError, "{path}: no array 'b'; its arrays are a"),
    ],
)
def test_malformed_files_name_the_file_line_and_column(
    tmp_path: pathlib.Path, case: str, error: type[Exception], message: str
) -> None:
    path = malformed(tmp_path, case)
    with pytest.raises(error) as raised:
        load(str(path), **OPTIONS.get(case, {}))
    assert type(raised.value) is error
    assert message.format(path=path) in str(raised.value)
    assert "\n" not in str(raised.value)


@pytest.mark.parametrize(
    "name, options, message",
    [
        ("a.csv", {"label": "1"}, "label selects a class of a UCR file"),
        ("a.csv", {"key": "x"}, "key selects an array of a .npz file"),
        ("a.json", {"header": True}, "header applies to text files"),
        ("a.json", {"layout": "columns"}, "layout='columns' does not apply to json"),
        ("a.csv", {"layout": "diagonal"}, "layout must be 'rows' or 'columns'"),
        ("a.csv", {"format": "xls"}, "format must be one of csv, tsv"),
    ],
)
def test_options_that_do_not_apply_are_refused(
    tmp_path: pathlib.Path, name: str, options: dict[str, Any], message: str
) -> None:
    path = write(tmp_path, name, "[[1]]" if name.endswith(".json") else "1,2\n")
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        load(path, **options)
