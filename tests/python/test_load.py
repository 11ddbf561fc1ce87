"""zorp_miner.load: the file formats, their options, and an error naming file, line and column
for every malformed file."""

import json
import math
import os
import pathlib
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt
import pytest

from zorp_miner import LoadError, load

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "planted.json"


def write(folder: pathlib.Path, name: str, content: str | bytes) -> pathlib.Path:
    path = folder / name
    if isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_text(content, encoding="utf-8", newline="")
    return path


def lists(series: Sequence[npt.NDArray[np.float64]]) -> list[list[float | str]]:
    """The values of each series, NaN as the text "nan" (which compares equal)."""
    assert all(one.dtype == np.float64 for one in series)
    return [["nan" if math.isnan(x) else x for x in one.tolist()] for one in series]


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
        # Inside a series, an empty cell or NaN is a missing point.
        ("gap.csv", "1,,3\n", {}, [[1, math.nan, 3]]),
        ("gap.tsv", "1\t2\n3\tnan\t5\n", {}, [[1, 2], [3, math.nan, 5]]),
        ("hole.csv", "1,2\n,3\n4,5\n", {"layout": "columns"}, [[1, math.nan, 4], [2, 3, 5]]),
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
    assert lists(load(write(tmp_path, name, content), **options)) == lists(
        [np.array(one, dtype=np.float64) for one in expected]
    )


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
    "infinity": ("inf.csv", "1,2\n3,inf\n"),
    "infinity in a column": ("cols.csv", "1,2\n-inf,3\n4,5\n"),
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
    "infinity in a column": {"layout": "columns"},
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
        ("infinity", LoadError, "{path} line 2, column 2: 'inf' is an infinite value"),
        ("infinity in a column", LoadError, "{path} line 2, column 1: '-inf' is an infinite"),
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


def hostile(tmp_path: pathlib.Path, case: str) -> pathlib.Path:
    """Writes a file that no reading must take minutes, all memory or a traceback over."""
    if case in ("sparse csv", "sparse txt"):
        path = tmp_path / ("holes.csv" if case == "sparse csv" else "holes.txt")
        with open(path, "wb") as file:
            file.truncate(2 << 30)  # 2 GiB of holes, which read as NUL bytes
        return path
    if case == "npy claiming 10^11 points":
        path = tmp_path / "claims.npy"
        with open(path, "wb") as file:
            header = {"descr": "<f8", "fortran_order": False, "shape": (10**11,)}
            np.lib.format.write_array_header_1_0(file, header)
            file.write(bytes(80))
        return path
    if case == "npz of 500 arrays":
        path = tmp_path / "many.npz"
        arrays: dict[str, Any] = {f"array_{i:03d}": np.zeros((2, 2)) for i in range(500)}
        np.savez(path, **arrays)
        return path
    name, content = HOSTILE_TEXT[case]
    return write(tmp_path, name, content)


HOSTILE_TEXT: dict[str, tuple[str, str | bytes]] = {
    "csv cell of 200,000 characters": ("cell.csv", "1,2," + "3" * 200_000 + "\n"),
    "quoted csv cell of 200,000 characters": ("quoted.csv", '1,"' + "4" * 200_000 + '"\n'),
    "tsv cell of 200,000 characters": ("cell.tsv", "1\t" + "x" * 200_000 + "\n"),
    "json nested 100,000 deep": ("deep.json", "[" * 100_000 + "]" * 100_000),
    "json of a 400-digit integer": ("huge.json", "[[" + "9" * 400 + ", 1.0, 2.0]]"),
    "json true": ("bool.json", "[[1.0, true, 2.0]]"),
    "json string among numbers": ("text.json", '[[1.0, 2.0, 3.0, "4", 5.0]]'),
    "NUL bytes": ("nul.csv", b"1,2\n3,\x00\n"),
}


@pytest.mark.parametrize(
    "case, message",
    [
        ("sparse csv", "{path} line 1: holds NUL bytes, so it is not a text file"),
        ("sparse txt", "{path} line 1: holds NUL bytes, so it is not a text file"),
        (
            "npy claiming 10^11 points",
            "{path}: its header announces an array of shape (100000000000,)",
        ),
        (
            "npz of 500 arrays",
            "{path}: holds several arrays (array_000, array_001, array_002, array_003, array_004 "
            "and 495 more, 500 in all); choose one with key='name'",
        ),
        ("csv cell of 200,000 characters", "{path} line 1, column 3: '33333333333333333333'..."),
        ("quoted csv cell of 200,000 characters", "{path} line 1: cannot be split into cells"),
        ("tsv cell of 200,000 characters", "{path} line 1, column 2: 'xxxxxxxxxxxxxxxxxxxx'..."),
        ("json nested 100,000 deep", "{path}: lists nested too deeply to be series"),
        ("json of a 400-digit integer", "{path}: series 0, point 0: an integer of 400 digits"),
        ("json true", "{path}: series 0, point 1: True is a boolean, not a number"),
        ("json string among numbers", "{path}: series 0, point 3: '4' is a string, not a number"),
        ("NUL bytes", "{path} line 2: holds NUL bytes, so it is not a text file"),
    ],
)
def test_hostile_files_are_refused_at_once_in_one_short_line(
    tmp_path: pathlib.Path, case: str, message: str
) -> None:
    path = hostile(tmp_path, case)
    with pytest.raises(LoadError) as raised:
        load(path)
    text = str(raised.value)
    assert text.startswith(message.format(path=path))
    assert "\n" not in text and len(text) < 400


@pytest.mark.parametrize("format", ["csv", "json", "npy", "npz"])
def test_an_endless_device_is_refused(format: Any) -> None:
    if not os.path.exists("/dev/zero"):
        pytest.skip("no /dev/zero here")
    with pytest.raises(LoadError, match="NUL bytes|not a regular file"):
        load("/dev/zero", format=format)


def frame_csv(
    tmp_path: pathlib.Path, name: str, write_frame: Callable[[Any, pathlib.Path], None]
) -> pathlib.Path:
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"a": [1.5, 2.5, 3.5, 4.5], "b": [5.0, 6.0, 7.0, 8.0], "c": [9, 8, 7, 6]})
    path = tmp_path / name
    write_frame(frame, path)
    return path


COLUMNS = [[1.5, 2.5, 3.5, 4.5], [5.0, 6.0, 7.0, 8.0], [9, 8, 7, 6]]
ROWS = [list(row) for row in zip(*COLUMNS, strict=True)]


@pytest.mark.parametrize(
    "name, write_frame",
    [
        ("index.csv", lambda frame, path: frame.to_csv(path)),
        ("no_index.csv", lambda frame, path: frame.to_csv(path, index=False)),
        ("named_index.csv", lambda frame, path: frame.rename_axis("t").to_csv(path)),
        (
            "int_names.csv",
            lambda frame, path: frame.set_axis([0, 1, 2], axis=1).to_csv(path, index=False),
        ),
        ("int_names_index.csv", lambda frame, path: frame.set_axis([0, 1, 2], axis=1).to_csv(path)),
        ("semicolons.csv", lambda frame, path: frame.to_csv(path, sep=";")),
        ("tabs.txt", lambda frame, path: frame.to_csv(path, sep="\t")),
    ],
)
def test_what_pandas_writes_is_read_without_its_index_and_names(
    tmp_path: pathlib.Path, name: str, write_frame: Callable[[Any, pathlib.Path], None]
) -> None:
    path = frame_csv(tmp_path, name, write_frame)
    # Named columns need the header skipped; the others are recognised.
    header = name.startswith(("no_index", "named_index"))
    columns = [np.array(values, dtype=np.float64) for values in COLUMNS]
    assert lists(load(path, layout="columns", header=header)) == lists(columns)
    assert lists(load(path, header=header)) == lists([np.array(r, float) for r in ROWS])


def test_separators_are_detected_or_given(tmp_path: pathlib.Path) -> None:
    expected = [[1.0, 2.0, 3.0, 4.0], [5.0, 6.0, 7.0, 8.0]]
    for name, text in [
        ("semi.csv", "1;2;3;4\n5;6;7;8\n"),
        ("tabs.csv", "1\t2\t3\t4\n5\t6\t7\t8\n"),
        ("spaces.csv", "1 2  3 4\n5 6 7 8\n"),
        ("commas.txt", "1,2,3,4\n5,6,7,8\n"),
        ("commas.tsv", "1,2,3,4\n5,6,7,8\n"),
    ]:
        assert lists(load(write(tmp_path, name, text))) == expected, name
    # Given, the separator is used as it is: the commas are then inside cells.
    with pytest.raises(LoadError, match=r"line 1, column 1: '1,2' is not a number"):
        load(write(tmp_path, "given.csv", "1,2;3,4\n"), sep=";")
    with pytest.raises(ValueError, match="sep must be one of"):
        load(write(tmp_path, "bad.csv", "1,2\n"), sep="|")


def test_the_index_column_is_dropped_or_kept_as_asked(tmp_path: pathlib.Path) -> None:
    path = write(tmp_path, "labels.csv", "a,1,2,3\nb,4,5,6\n")
    with pytest.raises(LoadError, match=r"'a' is not a number \(if the first line holds names"):
        load(path)
    assert lists(load(path, index_col=True)) == [[1, 2, 3], [4, 5, 6]]
    counted = write(tmp_path, "counted.csv", "t,x,y\n0,5,6\n1,7,8\n2,9,10\n")
    assert lists(load(counted, header=True)) == [[5, 6], [7, 8], [9, 10]]
    assert lists(load(counted, header=True, index_col=False)) == [[0, 5, 6], [1, 7, 8], [2, 9, 10]]
    with pytest.raises(ValueError, match="index_col applies to text files"):
        load(EXAMPLE, index_col=True)


def test_hints_name_options_as_the_interface_in_use_spells_them(tmp_path: pathlib.Path) -> None:
    from zorp_miner._interface import COMMAND_LINE

    path = write(tmp_path, "named.csv", "a,b\n1,2\n")
    with pytest.raises(LoadError, match=r"skip it with header=True\)"):
        load(path)
    token = COMMAND_LINE.set(True)
    try:
        with pytest.raises(LoadError, match=r"skip it with --header\)"):
            load(path)
    finally:
        COMMAND_LINE.reset(token)


def test_a_one_channel_3d_npy_is_its_rows(tmp_path: pathlib.Path) -> None:
    cube = np.arange(24.0).reshape(4, 1, 6)
    np.save(tmp_path / "aeon.npy", cube)
    assert lists(load(tmp_path / "aeon.npy")) == lists(list(cube[:, 0, :]))


def test_a_first_line_missing_its_first_point_is_no_header(tmp_path: pathlib.Path) -> None:
    path = write(tmp_path, "gap_first.csv", ",2.5,3.5\n4.5,5.5,6.5\n7.5,8.5,9.5\n")
    rows = ([np.nan, 2.5, 3.5], [4.5, 5.5, 6.5], [7.5, 8.5, 9.5])
    assert lists(load(path)) == lists([np.array(row) for row in rows])
