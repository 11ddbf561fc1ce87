"""The module-level sax: conversions, letters and refusals."""

import math
from typing import Any

import pytest

from _zorp_cpp import sax

VECTOR_TOO_LARGE = "cannot create std::vector larger than max_size()"


@pytest.mark.parametrize(
    "ts, seglen, alphabet, expected",
    [
        ([], 3, 4, []),
        ([[]], 3, 4, [[]]),
        ([[-1.0, 1.0]], 1, 2, [["a", "b"]]),
        ([[0.5, -0.5, 1.0]], 1, 4, [["c", "b", "d"]]),
        ([[0.8] * 5], 2, 3, [["c", "c", "b"]]),  # the short last segment divides by 2
        ([[0.43]], 1, 3, [["b"]]),  # equal to a cut point: the lower letter
        ([[0.0]], 1, 2, [["a"]]),
        ([[9.0, -9.0]], 1, 0, [["a", "a"]]),
        ([[9.0, -9.0]], 1, 1, [["a", "a"]]),
        ([[9.0, -9.0, 0.3]], 1, 10, [["j", "a", "g"]]),
        ([[math.nan, math.inf, -math.inf]], 1, 5, [["a", "e", "a"]]),
        ([[1.0] * 7], 3, 4, [["d", "d", "c"]]),
        ([[1.0] * 7], 7, 4, [["d"]]),
        ([[], [1.0], [1.0, 2.0, 3.0]], -2, 4, None),
        ([[]], -2, 4, [[]]),  # an empty series with a negative seglen is an empty word
        ([[1.0, 2.0]], 2**31 - 1, 3, [["b"]]),  # 3 / (2**31 - 1) is just above 0
    ],
)
def test_letters(
    ts: list[list[float]], seglen: int, alphabet: int, expected: list[list[str]] | None
) -> None:
    if expected is None:
        with pytest.raises(ValueError, match=VECTOR_TOO_LARGE):
            sax(ts, seglen, alphabet)
    else:
        assert sax(ts, seglen, alphabet) == expected


def test_letters_are_one_character_str_and_keywords_work() -> None:
    positional = sax([[0.5, -0.5, 1.0], [2.0]], 1, 4)
    assert sax(ts=[[0.5, -0.5, 1.0], [2.0]], seglen=1, alphabet=4) == positional
    assert sax([[0.5, -0.5, 1.0], [2.0]], alphabet=4, seglen=1) == positional
    assert all(type(letter) is str and len(letter) == 1 for word in positional for letter in word)


def test_tuples_and_ints_convert_like_lists_of_floats() -> None:
    assert sax(((1, -1, 0),), 1, 3) == sax([[1.0, -1.0, 0.0]], 1, 3)

    class Number:
        def __float__(self) -> float:
            return 2.5

    assert sax([[Number()]], 1, 2) == [["b"]]


def test_callers_lists_are_unchanged() -> None:
    ts = [[3.0, 1.0, 2.0], [5.0]]
    snapshot = [list(series) for series in ts]
    sax(ts, 2, 4)
    assert ts == snapshot


@pytest.mark.parametrize("seglen", [0, -1])
def test_impossible_letter_count_is_a_value_error(seglen: int) -> None:
    with pytest.raises(ValueError) as raised:
        sax([[1.0, 2.0, 3.0]], seglen, 4)
    assert str(raised.value) == VECTOR_TOO_LARGE


@pytest.mark.parametrize("alphabet", [11, -1, 2**31 - 1, -(2**31)])
def test_alphabet_outside_the_table_is_refused(alphabet: int) -> None:
    with pytest.raises(ValueError) as raised:
        sax([[1.0]], 1, alphabet)
    assert str(raised.value) == f"alphabet must be between 0 and 10, got {alphabet}"
    # Refused before any word is built: even an impossible seglen is not reached.
    with pytest.raises(ValueError, match="alphabet"):
        sax([[1.0]], 0, alphabet)


@pytest.mark.parametrize(
    "args",
    [
        ("abc", 1, 2),
        (b"abc", 1, 2),
        ([[1.0]], 1.0, 2),
        ([[1.0]], 1, 2.0),
        ([["x"]], 1, 2),
        ([[None]], 1, 2),
        ([1.0, 2.0], 1, 2),
        (["ab"], 1, 2),
        ([[1.0]], 2**31, 2),
        ([[1.0]], 1, -(2**31) - 1),
        ([[1.0]], 1),
        ([[1.0]], 1, 2, 3),
        (None, 1, 2),
    ],
)
def test_wrong_arguments_are_type_errors(args: tuple[Any, ...]) -> None:
    with pytest.raises(TypeError):
        sax(*args)


def test_unknown_keyword_is_a_type_error() -> None:
    with pytest.raises(TypeError):
        sax(ts=[[1.0]], seglen=1, alphabet=2, scale=3)  # type: ignore[call-arg]
