"""The forms of input find_motifs takes, and the clear errors for the ones it refuses."""

import math
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import zorp_miner
from conftest import examples
from zorp_miner.io.inputs import as_series_set, native_series_set

pd = pytest.importorskip("pandas")

ROWS = [[1.0, 2.0, 3.0, 4.0], [5.0, 6.0, 7.0], [8.0, 9.0]]


def as_lists(series: Sequence[npt.NDArray[np.float64]]) -> list[list[float]]:
    assert all(one.dtype == np.float64 and one.ndim == 1 for one in series)
    return [one.tolist() for one in series]


@pytest.mark.parametrize(
    "data",
    [
        ROWS,
        [tuple(row) for row in ROWS],
        [np.array(row, dtype=np.int64) for row in ROWS],
        (np.array(row, dtype=np.float32) for row in ROWS),
        np.array([row + [math.nan] * (4 - len(row)) for row in ROWS]),
        pd.DataFrame({"a": ROWS[0], "b": ROWS[1] + [None], "c": ROWS[2] + [None, None]}),
        pd.DataFrame(
            {
                "a": pd.array([1, 2, 3, 4], dtype="Int64"),
                "b": pd.array([5, 6, 7, None], dtype="Int64"),
                "c": pd.array([8, 9, None, None], dtype="Int64"),
            }
        ),
        [pd.Series(row) for row in ROWS],
    ],
    ids=[
        "lists",
        "tuples",
        "int arrays",
        "generator",
        "2-D NaN padded",
        "DataFrame columns",
        "nullable ints",
        "Series items",
    ],
)
def test_every_form_of_the_same_series_set(data: object) -> None:
    assert as_lists(as_series_set(data)) == [[1, 2, 3, 4], [5, 6, 7], [8, 9]]


@pytest.mark.parametrize(
    "data", [[1, 2, 3], np.array([1, 2, 3]), pd.Series([1, 2, 3]), (x for x in (1, 2, 3))]
)
def test_a_single_series_is_a_set_of_one(data: object) -> None:
    assert as_lists(as_series_set(data)) == [[1, 2, 3]]


@pytest.mark.parametrize(
    "data, error, message",
    [
        ([], ValueError, "data is an empty set of series"),
        (np.empty((0, 5)), ValueError, "empty set of series"),
        (pd.DataFrame(), ValueError, "DataFrame without columns"),
        (np.zeros((2, 3, 4)), ValueError, "shape (2, 3, 4): 3 channels per series"),
        (np.zeros((2, 3, 1)), ValueError, "for (series, points, 1) pass data[:, :, 0]"),
        (np.zeros((2, 2, 3, 4)), ValueError, "got an array of 4 dimensions"),
        ([np.zeros((2, 3))], ValueError, "series 0 has 2 dimensions"),
        (np.array(1.0), ValueError, "got an array of 0 dimensions"),
        (np.float64(1.0), TypeError, "got float64"),
        ("1,2,3", TypeError, "got a str"),
        ({"a": [1, 2]}, TypeError, "not a mapping"),
        (5, TypeError, "got int"),
        (None, TypeError, "got NoneType"),
        ([[1, 2], 3], TypeError, "data mixes numbers and series: item 1 is 3"),
        ([[1, 2], "abc"], TypeError, "series 1 is a str"),
        ([[1, 2], [1, [2, 3]]], ValueError, "series 1 is not a flat sequence of numbers"),
        ([[1, 2], [1, None, 3]], TypeError, "series 1, point 1: None is not a number"),
        ([[1, "x"]], TypeError, "series 0, point 1: 'x' is a string"),
        ([[1.0, 2.0, 3.0, "4", 5.0]], TypeError, "series 0, point 3: '4' is a string"),
        ([1.0, True, 3.0], TypeError, "the series, point 1: True is a boolean"),
        ([[1.0, 2.0], (3.0, np.True_)], TypeError, "series 1, point 1: np.True_ is a boolean"),
        ([[10**400] + [1.0] * 30] * 3, ValueError, "series 0, point 0: an integer of 401 digits"),
        (np.array([[1.0, -(10**400)]], dtype=object), ValueError, "series 0, point 1: an integer"),
        (np.array([True, False]), TypeError, "the series holds booleans"),
        (np.array([1 + 2j, 3]), TypeError, "complex numbers"),
        (np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError, "dates or durations"),
        ([[1, math.inf]], ValueError, "series 0, point 1: inf is not a finite number"),
        ([[1, 2], [math.nan, math.nan]], ValueError, "series 1 is empty after dropping"),
        ([[1, 2], []], ValueError, "series 1 is empty; every series needs"),
        (
            pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "y"]}),
            TypeError,
            "series 1 (column 'b'), point 0: 'x' is not a number",
        ),
        (
            pd.DataFrame({"a": [1.0, -math.inf, 3.0]}),
            ValueError,
            "series 0 (column 'a'), point 1: -inf is not a finite number",
        ),
    ],
)
def test_bad_input_names_what_is_wrong(
    data: object, error: type[Exception], message: str
) -> None:
    with pytest.raises(error) as raised:
        as_series_set(data)
    assert message in str(raised.value)


def test_find_motifs_checks_the_input_before_any_work() -> None:
    with pytest.raises(ValueError, match="empty set of series"):
        zorp_miner.find_motifs([], mode="exact", seglen=4)


def test_native_form_is_2d_for_equal_lengths_else_a_list() -> None:
    equal = native_series_set([np.arange(4.0), np.arange(4.0) + 1])
    assert isinstance(equal, np.ndarray) and equal.shape == (2, 4) and equal.flags.c_contiguous
    ragged = native_series_set([np.arange(4.0), np.arange(6.0)[::2]])
    assert isinstance(ragged, list) and all(one.flags.c_contiguous for one in ragged)
    assert [one.tolist() for one in ragged] == [[0, 1, 2, 3], [0, 2, 4]]


finite = st.floats(-1e6, 1e6, allow_nan=False)


@settings(max_examples=examples(60), deadline=None)
@given(
    data=hnp.arrays(
        np.float64,
        hnp.array_shapes(min_dims=2, max_dims=2, min_side=1, max_side=12),
        elements=finite,
    ),
)
def test_a_2d_array_is_read_as_its_rows_and_left_unchanged(data: npt.NDArray[np.float64]) -> None:
    before = data.copy()
    series = as_series_set(data)
    assert as_lists(series) == data.tolist()
    assert (data == before).all()


@settings(max_examples=examples(60), deadline=None)
@given(
    rows=st.lists(st.lists(finite, min_size=1, max_size=9), min_size=1, max_size=6),
    padding=st.lists(st.integers(0, 3), min_size=6, max_size=6),
)
def test_trailing_nan_is_padding_in_every_form(rows: list[list[float]], padding: list[int]) -> None:
    padded = [row + [math.nan] * pad for row, pad in zip(rows, padding, strict=False)]
    assert as_lists(as_series_set(padded)) == rows
    frame = pd.DataFrame({i: pd.Series(row) for i, row in enumerate(padded)})
    assert as_lists(as_series_set(frame)) == rows


def nan_lists(series: Sequence[npt.NDArray[np.float64]]) -> list[list[float | None]]:
    """The values of each series, NaN as None (which compares equal)."""
    return [[None if math.isnan(x) else x for x in one.tolist()] for one in series]


@settings(max_examples=examples(80), deadline=None)
@given(
    data=hnp.arrays(
        st.sampled_from([np.float64, np.float32, np.int64]),
        hnp.array_shapes(min_dims=1, max_dims=2, min_side=1, max_side=10),
        elements=st.integers(-1000, 1000),
    ),
    seed=st.integers(0, 2**32 - 1),
)
def test_a_masked_array_reads_as_the_same_data_with_nan(
    data: npt.NDArray[np.float64], seed: int
) -> None:
    mask = np.random.default_rng(seed).random(data.shape) < 0.3
    masked = np.ma.masked_array(data, mask=mask)
    with_nan = np.where(mask, np.nan, data.astype(np.float64))
    try:
        expected = nan_lists(as_series_set(with_nan))
    except ValueError as error:  # a series masked throughout is empty either way
        with pytest.raises(ValueError, match=str(error).split(";")[0]):
            as_series_set(masked)
        return
    assert nan_lists(as_series_set(masked)) == expected
    # Items of a list too, and the caller's array keeps its mask.
    if data.ndim == 2 and all((~row).any() for row in mask):
        assert nan_lists(as_series_set(list(masked))) == expected
    assert (np.ma.getmaskarray(masked) == mask).all()


def test_nan_inside_a_series_is_kept_as_a_missing_point() -> None:
    series = as_series_set([[1.0, math.nan, 3.0, math.nan], [math.nan, 2.0]])
    assert nan_lists(series) == [[1.0, None, 3.0], [None, 2.0]]
    frame = pd.DataFrame({"a": [1.0, None, 3.0], "b": [4.0, 5.0, None]})
    assert nan_lists(as_series_set(frame)) == [[1.0, None, 3.0], [4.0, 5.0]]


def test_the_exact_mode_refuses_a_missing_point_and_names_it() -> None:
    data = np.ones((3, 40))
    data[2, 7] = np.nan
    masked = np.ma.masked_array(np.ones((3, 40)), mask=np.zeros((3, 40), dtype=bool))
    masked[1, 5] = np.ma.masked
    for given, where in [(data, "series 2, point 7"), (masked, "series 1, point 5")]:
        with pytest.raises(ValueError, match=f"{where}: nan is not a finite number") as raised:
            zorp_miner.find_motifs(given, mode="exact", seglen=4)
        assert "use the robust mode" in str(raised.value)


@pytest.mark.parametrize(
    "data",
    [
        np.array(ROWS[0])[None, None, :],
        [np.array(ROWS[0])[None, :]],
        np.ma.masked_array(np.array(ROWS[0])[None, None, :]),
    ],
    ids=["aeon 3-D", "list of (1, m)", "masked 3-D"],
)
def test_one_channel_of_a_3d_collection_is_the_series(data: object) -> None:
    assert as_lists(as_series_set(data)) == [ROWS[0]]


def test_a_3d_collection_of_several_channels_says_to_pass_one() -> None:
    with pytest.raises(ValueError, match=r"2 channels per series .* such as data\[:, 0, :\]"):
        as_series_set(np.zeros((4, 2, 30)))
    with pytest.raises(ValueError, match=r"series 0 has 2 dimensions"):
        as_series_set([np.zeros((2, 30))])
