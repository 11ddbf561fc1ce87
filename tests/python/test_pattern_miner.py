"""PatternMiner from the host: construction, mining, the frequent table and refusals."""

import math
from collections.abc import Sequence
from typing import Any

import pytest

from _zorp_cpp import Motif, PatternMiner


def words(*texts: str) -> list[list[str]]:
    return [list(text) for text in texts]


def table(miner: PatternMiner) -> dict[str, dict[int, list[int]]]:
    return {pattern: motif.indexes for pattern, motif in miner.frequent.items()}


def mined(texts: Sequence[str], *args: Any, **kwargs: Any) -> PatternMiner:
    miner = PatternMiner(*args, **kwargs)
    assert miner.mine(words(*texts)) is None  # type: ignore[func-returns-value]
    return miner


def test_defaults_are_3_0_and_0_9() -> None:
    texts = ("abcab", "cabx", "abca")
    assert table(mined(texts, 0.5)) == table(mined(texts, 0.5, 3, 0, 0.9))
    assert table(mined(texts, minsup=0.5, max_overlap=0.9)) == table(mined(texts, 0.5))
    assert table(mined(texts, 1)) == table(mined(texts, 1.0))


@pytest.mark.parametrize(
    "texts, args, expected",
    [
        (("abc",) * 3, (1.0, 3, 0, 0.9), {"abc": {0: [0], 1: [0], 2: [0]}}),
        (("abc",) * 3, (1.0, 1, 0, 0.9), {"abc": {0: [0], 1: [0], 2: [0]}}),
        (("abc",) * 3, (1.0, 1, 0, 1.0), ["a", "ab", "abc", "b", "bc", "c"]),
        (("ab", "bc"), (0.5, 2, 0, 0.4), {"ab": {0: [0]}}),
        (("ab", "bc"), (0.5, 2, 0, 0.5), ["ab", "bc"]),
        (("ab", "a"), (1.0, 1, 0, 0.9), {"a": {0: [0], 1: [0]}}),
        (("aaaa",), (1.0, 2, 0, 1.0), {"aa": {0: [0, 1, 2]}, "aaa": {0: [0, 1]}, "aaaa": {0: [0]}}),
        ((), (0.5, 1, 0, 0.9), {}),
        (("", ""), (0.5, 1, 0, 0.9), {}),
        (("abc", "xyz"), (1.0, 1, 0, 0.9), {}),
    ],
)
def test_tables(
    texts: tuple[str, ...], args: tuple[float, int, int, float], expected: object
) -> None:
    got = table(mined(texts, *args))
    if isinstance(expected, list):
        assert list(got) == expected
    else:
        assert got == expected


def test_keys_are_patterns_in_signed_byte_order() -> None:
    miner = mined(("é\x80az\x00", "\x00zé\x80a"), 1.0, 1, 1, 0.9)
    assert list(miner.frequent) == ["\x80", "é", "\x00", "a", "z"]
    for pattern, motif in miner.frequent.items():
        assert motif.pattern == pattern
        assert repr(motif) == f"Motif('{pattern}')"


def test_bytes_symbols_are_taken_as_their_byte() -> None:
    miner = PatternMiner(1.0, 1, 0, 0.9)
    miner.mine([[b"a", b"b"], ["a", "b"]])
    assert list(miner.frequent) == ["ab"]


def test_frequent_is_a_fresh_dict_of_fresh_motifs() -> None:
    miner = mined(("abcd", "abcd"), 1.0)
    first = miner.frequent
    first["zzz"] = None  # type: ignore[assignment]
    first.pop("abcd")
    second = miner.frequent
    assert list(second) == ["abcd"]
    assert second["abcd"] is not miner.frequent["abcd"]
    assert isinstance(second["abcd"], Motif)
    indexes = second["abcd"].indexes
    indexes[0].append(99)
    assert miner.frequent["abcd"].indexes == {0: [0], 1: [0]}


def test_new_miner_has_an_empty_table() -> None:
    assert PatternMiner(0.5).frequent == {}


def test_second_mine_equals_a_fresh_miner() -> None:
    miner = mined(("abcabc", "abc", "bca"), 0.5, 1)
    miner.mine(words("xyxy", "xy", "yx"))
    assert table(miner) == table(mined(("xyxy", "xy", "yx"), 0.5, 1))


def test_max_len_exit_filters_and_deduplicates_the_last_level() -> None:
    assert table(mined(("abcd", "abcd"), 1.0, 3, 2)) == {}
    assert list(table(mined(("abcd", "abcd"), 1.0, 2, 3))) == ["abc", "bcd"]
    assert list(table(mined(("abcd", "abcd"), 1.0, 2, 1))) == []
    assert list(table(mined(("abcd", "abcd"), 1.0, 1, -3, 1.0))) == ["a", "b", "c", "d"]


@pytest.mark.parametrize("minsup", [0.0, -0.5, math.nan])
def test_endless_search_is_refused(minsup: float) -> None:
    miner = PatternMiner(minsup)
    with pytest.raises(ValueError, match="not positive, and max_len is 0"):
        miner.mine(words("ab", "ba"))
    assert miner.frequent == {}
    miner.mine(words("", ""))  # nothing to extend: this run ends by itself
    bounded = mined(("ab",), minsup, 1, 2, 1.0)
    assert list(bounded.frequent) == ["a", "aa", "ab", "b", "ba", "bb"]


def test_callers_words_are_unchanged() -> None:
    given = words("abca", "bcab")
    snapshot = [list(word) for word in given]
    PatternMiner(0.5, 1).mine(given)
    assert given == snapshot


@pytest.mark.parametrize(
    "bad_words, error",
    [
        ([["a", ""]], ValueError),
        ([["a", "ab"]], ValueError),
        ([["a", None]], ValueError),
        ([["Ā"]], ValueError),
        ([["a", "€"]], ValueError),
        ([["\ud800"]], ValueError),  # a lone surrogate is above U+00FF like any other
        ([[b"\xc3\xa9"]], ValueError),  # two bytes are two symbols, not one UTF-8 character
        ([[b""]], ValueError),
        (["abc"], TypeError),
        ("abc", TypeError),
        ([[1]], TypeError),
        (None, TypeError),
    ],
)
def test_bad_words(bad_words: Any, error: type[Exception]) -> None:
    miner = mined(("ab", "ab"), 1.0, 1)
    before = table(miner)
    with pytest.raises(error):
        miner.mine(bad_words)
    assert table(miner) == before


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((0.5, 3.0), {}),
        ((0.5, 3, 0, 0.9, 1), {}),
        ((0.5,), {"min_length": 3}),
        (("0.5",), {}),
        ((0.5, 2**31), {}),
    ],
)
def test_bad_construction(args: tuple[Any, ...], kwargs: dict[str, Any]) -> None:
    with pytest.raises(TypeError):
        PatternMiner(*args, **kwargs)


def test_mine_takes_no_keyword() -> None:
    with pytest.raises(TypeError):
        PatternMiner(0.5).mine(words=[["a"]])  # type: ignore[call-arg]


def test_properties_and_attributes_are_read_only() -> None:
    miner = PatternMiner(0.5)
    with pytest.raises(AttributeError):
        miner.frequent = {}  # type: ignore[misc]
    with pytest.raises(AttributeError):
        miner.minsup = 0.7  # type: ignore[attr-defined]


@pytest.mark.parametrize(
    "minsup, max_len, texts",
    [
        (0.0, 2**31 - 1, ("abc",)),
        (-1.0, 40, ("ab", "ba")),
        (math.nan, 1000, ("abcdefgh",)),
    ],
)
def test_search_that_would_keep_every_candidate_is_refused_at_once(
    minsup: float, max_len: int, texts: tuple[str, ...]
) -> None:
    # Every candidate is kept, so the table would hold letters ** n patterns of each length.
    miner = PatternMiner(minsup, 1, max_len, 1.0)
    with pytest.raises(ValueError, match="every candidate is kept"):
        miner.mine(words(*texts))
    assert miner.frequent == {}


def test_every_word_of_up_to_five_letters_over_ten_is_sifted_at_once() -> None:
    # A threshold that is not positive accepts every word of 1 to 5 letters over the ten
    # letters that occur, 111,110 patterns; each shorter one lies in a longer one.
    miner = mined(("eecdcdccbideagcjaecbehgcefdhij", "gfgf"), -1e308, 0, 5)
    frequent = miner.frequent
    assert len(frequent) == 10**5
    assert {len(pattern) for pattern in frequent} == {5}


@pytest.mark.parametrize(
    "max_len, texts, counted",
    [
        (7, ("abcdefghij",), "10 letters give 11111110 patterns of 1 to 7 letters, and 6.17284e+13"),
        (21, ("ab", "ba"), "2 letters give 4194302 patterns of 1 to 21 letters, and 8.79608e+12"),
    ],
)
def test_sifting_every_candidate_beyond_a_few_seconds_is_refused_at_once(
    max_len: int, texts: tuple[str, ...], counted: str
) -> None:
    miner = mined(("aaa",), 0.0, 3, max_len)  # one letter: one pattern per length
    assert miner.frequent
    with pytest.raises(ValueError) as refused:
        miner.mine(words(*texts))
    message = str(refused.value)
    assert counted + " pairs of them for the redundancy pass to weigh, more than the 4000000" in message
    assert message.endswith(f"give a positive minsup or a max_len of at most {max_len - 1}")
    assert miner.frequent == {}
