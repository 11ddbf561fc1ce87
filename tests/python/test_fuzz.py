"""Fuzzing every host entry point: whatever it is given, a call returns a well-formed result or
raises a documented error (TypeError, ValueError, MemoryError), leaves its arguments as they were,
and never brings the process down.

Runs are derandomised, so every run tries the same inputs. Set FUZZ_EXPLORE=N (a positive
integer) to draw new ones, N times as many per test (the sweep profile also draws new ones, ten
times as many); pass --hypothesis-seed=S to repeat such a run.

Inputs that could legitimately run long or take much memory are never drawn at random: a
threshold (minsup x number of series) that is not positive keeps every candidate, so random
draws bound max_len to 2 there; seglen 2**31 - 1 is drawn only with min_len >= 2 and a positive
threshold. The few runs that do ask for that much are explicit cases in a child process under a
time and memory limit.
"""

import array
import itertools
import json
import math
import os
import subprocess
import sys
import textwrap
from collections import Counter
from collections.abc import Callable, Collection, Sequence, Sized
from typing import Any

import numpy as np
import pytest
from hypothesis import HealthCheck, event, example, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import reference
from conftest import PROFILE, examples
from _zorp_cpp import Miner, Motif, PatternMiner, sax

VECTOR_TOO_LARGE = "cannot create std::vector larger than max_size()"
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
EXTREME_INTS = [0, 1, -1, INT32_MAX, -INT32_MAX, INT32_MIN]
WIDE_INTS = [2**31, INT32_MIN - 1, 2**32, -(2**32), 2**63, -(2**63) - 1, 2**64, 10**30]
DOCUMENTED = (TypeError, ValueError, MemoryError)
LETTERS = "abcdefghij"
PROPERTIES = (
    "pattern",
    "indexes",
    "average_occurrences",
    "representative",
    "best_matches",
    "length",
    "naed",
)

EXPLORE = int(os.environ.get("FUZZ_EXPLORE") or 0)


def fuzz_settings(count: int) -> settings:
    return settings(
        max_examples=examples(count) * max(EXPLORE, 1),
        deadline=None,
        derandomize=not EXPLORE and PROFILE == "repeatable",
        database=None,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    )


# ---------------------------------------------------------------------------------------------
# Comparing host values


def motif_view(motif: Motif) -> dict[str, object]:
    view = {name: getattr(motif, name) for name in PROPERTIES}
    view["repr"] = repr(motif)
    return view


def canon(value: object) -> object:
    """A comparable image of a host value: floats by their bits (every NaN alike, the sign of
    zero kept), containers recursively with their type, motifs by everything they show."""
    if isinstance(value, float):
        return ("float", value.hex())
    if isinstance(value, Motif):
        return ("Motif", canon(motif_view(value)))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(canon(item) for item in value))
    if isinstance(value, dict):
        return ("dict", tuple(sorted((canon(k), canon(v)) for k, v in value.items())))
    if isinstance(value, (set, frozenset)):
        return (type(value).__name__, tuple(sorted(repr(item) for item in value)))
    if isinstance(value, np.ndarray):
        layout = (value.dtype.str, value.shape, value.strides, value.flags.writeable)
        return ("ndarray", layout, canon(value.tolist()))
    if isinstance(value, (array.array, memoryview)):
        return (type(value).__name__, canon(value.tolist()))
    return (type(value).__name__, repr(value))


def call(
    function: Callable[..., Any], *args: Any, **kwargs: Any
) -> tuple[Any, BaseException | None]:
    """Calls function and returns (result, error). Only a documented error is caught (anything
    else fails the test), and the arguments must come back as they were given, also when the
    call raised."""
    before = canon((args, kwargs))
    try:
        result, error = function(*args, **kwargs), None
    except DOCUMENTED as raised:
        result, error = None, raised
    assert canon((args, kwargs)) == before, "the call modified its arguments"
    return result, error


def assert_raised(
    error: BaseException | None, kind: type[BaseException], message: str | None = None
) -> None:
    assert error is not None, f"expected {kind.__name__}, got a result"
    assert type(error) is kind, f"expected {kind.__name__}, got {type(error).__name__}: {error}"
    if message is not None:
        assert str(error) == message


def assert_reads_are_fresh(motif: Motif) -> None:
    """Reading a property twice gives equal values and, for containers, distinct objects that
    share no mutable part: changing one read changes nothing later."""
    for name in PROPERTIES:
        first, second = getattr(motif, name), getattr(motif, name)
        assert canon(first) == canon(second), name
        if not isinstance(first, (list, dict)):
            continue
        assert first is not second, name
        if isinstance(first, dict):
            for key, value in first.items():
                if isinstance(value, list):
                    assert value is not second[key], name
                    value.append(-1)
            first[-7] = None
        else:
            first.append(None)
        assert canon(getattr(motif, name)) == canon(second), f"{name} shares state with a read"


# ---------------------------------------------------------------------------------------------
# Facts about words and patterns (definitions, not the library's algorithm)


def text_of(word: Sequence[str | bytes]) -> str:
    """A word as the library reads it: a str symbol is its character, a bytes symbol its byte."""
    return "".join(s if isinstance(s, str) else chr(s[0]) for s in word)


def occurrences(texts: list[str], pattern: str) -> dict[int, list[int]]:
    """Every start of pattern in every text, for the texts where it occurs."""
    found = {}
    for series, text in enumerate(texts):
        starts = [i for i in range(len(text) - len(pattern) + 1) if text.startswith(pattern, i)]
        if starts:
            found[series] = starts
    return found


def search_space(texts: list[str], threshold: float, min_len: int, max_len: int) -> set[str]:
    """The patterns a run may keep before overlapping ones are dropped: those that meet the
    threshold (every pattern over the letters present when it is not positive) within the
    length bounds."""
    longest = max((len(text) for text in texts), default=0)
    bottom = max(min_len, 1)
    if threshold > 0:
        top = longest if max_len == 0 else min(max(max_len, 1), longest)
        support: Counter[str] = Counter()
        for text in texts:
            support.update(
                {text[i : i + n] for n in range(bottom, top + 1) for i in range(len(text) - n + 1)}
            )
        return {pattern for pattern, count in support.items() if count >= threshold}
    # Patterns are kept whether they occur or not, up to max_len (0 only when no letter occurs).
    letters = sorted(set("".join(texts)))
    top = max(max_len, 1)
    return {
        "".join(combo)
        for n in range(bottom, top + 1)
        for combo in itertools.product(letters, repeat=n)
    }


def assert_no_redundant_pair(patterns: Collection[str], max_overlap: float) -> None:
    """No kept pattern overlaps a longer or equally long kept one by more than max_overlap."""
    if not max_overlap < 1.0:  # an overlap never exceeds 1
        return
    counts = {pattern: Counter(pattern) for pattern in patterns}
    for q in patterns:
        for p in patterns:
            if p == q or len(p) > len(q):
                continue
            # The common letter count bounds the lcs, which settles most pairs cheaply.
            common = sum((counts[p] & counts[q]).values())
            if not common / len(p) > max_overlap:
                continue
            assert not reference.lcs(q, p) / len(p) > max_overlap, (q, p, max_overlap)


def assert_each_dropped_pattern_overlaps(
    space: set[str], kept: set[str], max_overlap: float
) -> None:
    """A pattern of the search space is missing only if one at least as long overlaps it by
    more than max_overlap (checked where the space is small enough to do it quickly)."""
    if not max_overlap < 1.0 or len(space) > 600:
        return
    longest_first = sorted(space, key=len, reverse=True)
    counts = {pattern: Counter(pattern) for pattern in space}
    for p in space - kept:
        rivals = [q for q in longest_first if len(q) >= len(p) and q != p]
        if any(p in q for q in rivals):  # an lcs of all of p
            continue
        assert any(
            sum((counts[p] & counts[q]).values()) / len(p) > max_overlap
            and reference.lcs(q, p) / len(p) > max_overlap
            for q in rivals
        ), f"{p!r} dropped, but nothing overlaps it by more than {max_overlap}"


def assert_patterns_well_formed(
    table: dict[str, dict[int, list[int]]], texts: list[str], threshold: float, min_len: int,
    max_len: int, max_overlap: float,
) -> None:
    """table: pattern -> indexes, as a run returned it over the given texts."""
    space = search_space(texts, threshold, min_len, max_len)
    assert set(table) <= space, sorted(set(table) - space)[:5]
    assert bool(table) == bool(space), "something to keep, nothing kept"
    if not max_overlap < 1.0:  # an overlap never exceeds 1: nothing can be dropped
        assert set(table) == space
    assert_no_redundant_pair(list(table), max_overlap)
    assert_each_dropped_pattern_overlaps(space, set(table), max_overlap)
    for pattern, indexes in table.items():
        assert indexes == occurrences(texts, pattern), pattern
        if not math.isnan(threshold):
            assert len(indexes) >= threshold, pattern


def outcome_size(found: Sized) -> str:
    if not found:
        return "nothing found"
    return "1 to 9 found" if len(found) < 10 else "10 or more found"


def threshold_of(minsup: float, count: int) -> float:
    return float(minsup) * float(count)


# ---------------------------------------------------------------------------------------------
# Strategies

def mostly(common: st.SearchStrategy[Any], rare: st.SearchStrategy[Any]) -> st.SearchStrategy[Any]:
    """Draws from common three times in four."""
    return st.one_of(common, common, common, rare)


edge_numbers = st.sampled_from(
    [0.0, -0.0, 1.0, -1.0, math.nan, math.inf, -math.inf, 1e300, -1e300, 1e-300, -1e-300,
     5e-324, -5e-324, 1.7976931348623157e308, 2.2250738585072014e-308]
)
numbers = st.one_of(
    st.floats(-5.0, 5.0),
    edge_numbers,
    st.floats(),
    st.integers(-3, 3),
    st.booleans(),
)


def constant_series(values: st.SearchStrategy[Any]) -> st.SearchStrategy[list[Any]]:
    return st.builds(lambda value, n: [value] * n, values, st.integers(0, 12))


def repeated_shapes(
    values: st.SearchStrategy[Any], max_points: int
) -> st.SearchStrategy[list[Any]]:
    """A short shape repeated, between other values: something recurs for the miner to find."""
    return st.builds(
        lambda before, shape, times, after: (before + shape * times + after)[:max_points],
        st.lists(values, max_size=4),
        st.lists(values, min_size=1, max_size=6),
        st.integers(1, 6),
        st.lists(values, max_size=4),
    )


def series_sets(
    values: st.SearchStrategy[Any] = numbers, max_series: int = 6, max_points: int = 40
) -> st.SearchStrategy[Any]:
    series = st.one_of(
        st.lists(values, max_size=max_points),
        constant_series(values),
        repeated_shapes(values, max_points),
        repeated_shapes(st.sampled_from([-1.0, 0.0, 1.0, 2.0]), max_points),
    )
    lists = st.lists(series, max_size=max_series)
    return st.one_of(
        lists,
        st.lists(series, min_size=min(2, max_series), max_size=max_series),
        st.lists(series.map(tuple), max_size=max_series).map(tuple),
        st.builds(as_buffers, lists, st.sampled_from(sorted(SET_FORMS) + sorted(ROW_FORMS))),
    )


# The layouts a 2-D float64 array of a series set is given in (values as float() gives them).
SET_FORMS: dict[str, Callable[[Any], Any]] = {
    "C order": lambda matrix: matrix,
    "Fortran order": np.asfortranarray,
    "reversed view": lambda matrix: np.ascontiguousarray(matrix[::-1, ::-1])[::-1, ::-1],
    "strided view": lambda matrix: np.repeat(matrix, 2, axis=1)[:, ::2],
    "big-endian": lambda matrix: matrix.astype(">f8"),
    "read-only": lambda matrix: np.lib.stride_tricks.as_strided(matrix, writeable=False),
}
# The objects each series is given as when the series are of different lengths, or by choice.
ROW_FORMS: dict[str, Callable[[list[Any]], Any]] = {
    "arrays": lambda rows: rows,
    "tuple of arrays": tuple,
    "array.array": lambda rows: [array.array("d", row) for row in rows],
    "memoryviews": lambda rows: [memoryview(row) for row in rows],
    "arrays and lists": lambda rows: [row if i % 2 else row.tolist() for i, row in enumerate(rows)],
}


def float_lists(ts: Any) -> list[list[float]]:
    return [[float(value) for value in series] for series in ts]


def input_kind(ts: Any) -> str:
    """The kind of a series set, for the statistics of a run: its type and its series' types."""
    if isinstance(ts, np.ndarray):
        order = "C" if ts.flags.c_contiguous else "F" if ts.flags.f_contiguous else "strided"
        return f"2-D array ({ts.dtype.str}, {order})"
    return f"{type(ts).__name__} of {'/'.join(sorted({type(s).__name__ for s in ts})) or 'nothing'}"


def as_buffers(ts: list[list[Any]], form: str) -> Any:
    """The series set as float64 buffers: a 2-D array in a layout of SET_FORMS, each series
    repeated to the length of the longest (an empty one becomes zeros), or one object per series
    in a form of ROW_FORMS."""
    values = [[float(value) for value in series] for series in ts]
    if form in SET_FORMS:
        longest = max((len(series) for series in values), default=0)
        rectangular = [(series or [0.0]) * longest for series in values]
        matrix = np.array([series[:longest] for series in rectangular], dtype=np.float64)
        return SET_FORMS[form](matrix.reshape(len(values), longest))
    return ROW_FORMS[form]([np.array(series, dtype=np.float64) for series in values])


symbols = st.one_of(
    st.sampled_from("ab"),
    st.sampled_from("abc"),
    st.sampled_from(LETTERS),
    st.sampled_from(["\x00", "\x7f", "\x80", "\xff", "é", "'", "\n", "\\"]),
    st.characters(max_codepoint=255),
    st.binary(min_size=1, max_size=1),
)
few_symbols = st.sampled_from(["a", "b", "\xff", b"a"])
word = st.one_of(
    st.lists(few_symbols, max_size=12),
    st.lists(few_symbols, min_size=4, max_size=12),
    st.lists(symbols, max_size=12),
)
words_strategy = st.one_of(
    st.lists(st.one_of(word, word.map(tuple)), max_size=6),
    st.lists(word, min_size=2, max_size=6),
)

int_args = mostly(st.integers(-1, 6), st.sampled_from(EXTREME_INTS))
minsups = mostly(
    st.one_of(st.floats(0.05, 1.0), st.sampled_from([1 / 3, 0.5, 2 / 3, 1.0])),
    st.sampled_from([0.0, -0.0, -0.5, math.nan, math.inf, -math.inf, 1e-300, 5e-324, 1e300, 1.5]),
)
overlaps = mostly(
    st.one_of(st.floats(0.0, 1.0), st.sampled_from([0.5, 0.9, 1.0])),
    st.sampled_from([-0.5, math.nan, math.inf, -math.inf, 1.5, 5e-324]),
)

# Values of the wrong type for each kind of argument.
junk_scalars = st.one_of(
    st.none(),
    st.text(max_size=3),
    st.binary(max_size=3),
    st.dictionaries(st.text(max_size=2), st.integers(), max_size=2),
    st.sets(st.integers(), max_size=2),
    st.complex_numbers(allow_nan=False, max_magnitude=10),
    st.just(object()),
)
junk_ints = st.one_of(
    junk_scalars,
    st.floats(),
    st.sampled_from([2.0, 0.0, -1.0, math.nan, math.inf]),
    st.sampled_from(WIDE_INTS),
    st.lists(st.integers(0, 3), max_size=2),
)
junk_floats = st.one_of(
    junk_scalars,
    st.sampled_from([10**400, -(10**400)]),  # ints beyond every float
    st.lists(st.floats(), max_size=2),
)
non_number = st.one_of(
    st.none(), st.text(max_size=3), st.binary(max_size=2), st.lists(st.floats(), max_size=2),
    st.dictionaries(st.integers(), st.integers(), max_size=1), st.just(10**400), st.just(1j),
)
junk_series_sets = st.one_of(
    junk_scalars,
    st.floats(),
    st.integers(),
    st.lists(numbers, min_size=1, max_size=3),  # flat: a series where a set is expected
    st.lists(st.text(max_size=3), min_size=1, max_size=3),
    st.lists(st.binary(max_size=3), min_size=1, max_size=3),
    st.lists(  # a value nested one level too deep
        st.lists(st.lists(numbers, max_size=2), min_size=1, max_size=2), min_size=1, max_size=2
    ),
    # one bad value somewhere among good ones
    st.tuples(
        st.lists(st.lists(numbers, max_size=3), max_size=2),
        st.lists(numbers, max_size=3),
        non_number,
        st.integers(0, 3),
    ).map(lambda t: t[0] + [t[1][: t[3]] + [t[2]] + t[1][t[3] :]]),
    st.tuples(st.lists(st.lists(numbers, max_size=3), max_size=2), junk_scalars).map(
        lambda t: t[0] + [t[1]]
    ),
)
numeric_shapes = hnp.array_shapes(min_dims=2, max_dims=2, min_side=1, max_side=4)
junk_arrays = st.one_of(
    # One series where a set is expected, or a value nested too deep.
    hnp.arrays(np.float64, hnp.array_shapes(min_dims=1, max_dims=1, min_side=1, max_side=4)),
    hnp.arrays(np.int32, hnp.array_shapes(min_dims=3, max_dims=4, min_side=1, max_side=3)),
    hnp.arrays(np.float64, st.just(())),
    st.lists(hnp.arrays(np.float64, numeric_shapes), min_size=1, max_size=2),
    # Items without a float value: complex numbers, dates, text, None.
    hnp.arrays(st.sampled_from(["c8", "c16"]).map(np.dtype), numeric_shapes),
    st.lists(hnp.arrays(np.complex128, st.integers(1, 4)), min_size=1, max_size=2),
    hnp.arrays(np.dtype("M8[D]"), numeric_shapes),
    hnp.arrays(np.dtype("U3"), numeric_shapes),
    hnp.arrays(np.dtype("S3"), numeric_shapes),
    st.lists(st.one_of(st.none(), st.floats()), min_size=1, max_size=4).filter(
        lambda items: None in items
    ).map(lambda items: np.array([items], dtype=object)),
    # Buffers of one dimension where a set is expected.
    st.lists(st.floats(), min_size=1, max_size=3).map(lambda v: array.array("d", v)),
    st.lists(st.floats(), min_size=1, max_size=3).map(lambda v: memoryview(np.array(v))),
    st.binary(min_size=1, max_size=3).map(bytearray),
)
junk_series_sets = st.one_of(junk_series_sets, junk_arrays)
junk_word_sets = st.one_of(
    junk_scalars,
    st.floats(),
    st.integers(),
    st.lists(st.text(min_size=1, max_size=4), min_size=1, max_size=3),  # words as str
    st.lists(st.binary(min_size=1, max_size=3), min_size=1, max_size=3),
    st.lists(st.lists(st.integers(0, 255) | st.floats() | st.booleans(), min_size=1, max_size=3),
             min_size=1, max_size=2),
    st.lists(  # a symbol nested one level too deep
        st.lists(st.lists(symbols, max_size=2), min_size=1, max_size=2), min_size=1, max_size=2
    ),
    st.tuples(st.lists(st.lists(symbols, max_size=3), max_size=2), junk_scalars).map(
        lambda t: t[0] + [t[1]]
    ),
)
# Symbols that are not one character of code point 0 to 255.
bad_symbols = st.one_of(
    st.just(""),
    st.just(None),
    st.just(b""),
    st.text(max_size=4).map(lambda s: "ab" + s),
    st.characters(min_codepoint=256),
    st.binary(min_size=2, max_size=3),
)


def tagged(
    valid: st.SearchStrategy[Any], junk: st.SearchStrategy[Any]
) -> st.SearchStrategy[tuple[bool, Any]]:
    """(is_junk, value) pairs."""
    return st.one_of(valid.map(lambda v: (False, v)), junk.map(lambda v: (True, v)))


def some_junk(
    arguments: st.SearchStrategy[tuple[tuple[bool, Any], ...]]
) -> st.SearchStrategy[tuple[tuple[bool, Any], ...]]:
    return arguments.filter(lambda args: any(bad for bad, _ in args))


# ---------------------------------------------------------------------------------------------
# sax


@fuzz_settings(400)
@given(
    ts=series_sets(),
    seglen=mostly(st.integers(1, 8), st.sampled_from(EXTREME_INTS)),
    alphabet=mostly(st.integers(0, 10), st.sampled_from(EXTREME_INTS + [11])),
)
@example(ts=[], seglen=0, alphabet=4)
@example(ts=[[]], seglen=0, alphabet=4)
@example(ts=[[], []], seglen=INT32_MIN, alphabet=4)
@example(ts=[[], [1.0]], seglen=INT32_MIN, alphabet=4)
@example(ts=[[1.0, 2.0, 3.0]], seglen=INT32_MAX, alphabet=10)
@example(ts=[[1e300, -1e300, 1e-300]], seglen=1, alphabet=INT32_MIN)
@example(ts=[[math.nan, math.inf, -math.inf, 0.0]], seglen=1, alphabet=10)
def test_sax_gives_letters_or_documented_errors(ts: Any, seglen: int, alphabet: int) -> None:
    result, error = call(sax, ts, seglen, alphabet)
    event(f"sax: {type(error).__name__ if error else 'letters'}")
    event(f"sax given a {input_kind(ts)}")
    # Whatever form the series come in, they give what the lists of their float() values give,
    # here and at the finest letters.
    plain, plain_error = call(sax, float_lists(ts), seglen, alphabet)
    assert canon(result) == canon(plain) and type(error) is type(plain_error)
    assert sax(ts, 1, 10) == sax(float_lists(ts), 1, 10)
    if not 0 <= alphabet <= 10:
        assert_raised(error, ValueError, f"alphabet must be between 0 and 10, got {alphabet}")
        return
    if (seglen == 0 and len(ts) > 0) or (seglen < 0 and any(len(s) > 0 for s in ts)):
        assert_raised(error, ValueError, VECTOR_TOO_LARGE)
        return
    assert error is None, error
    letters = LETTERS[: max(alphabet, 1)]
    assert type(result) is list and len(result) == len(ts)
    for word, series in zip(result, ts):
        assert type(word) is list
        assert len(word) == (-(-len(series) // seglen) if len(series) else 0)
        for letter in word:
            assert type(letter) is str and len(letter) == 1 and letter in letters, letter
    # Each series is read on its own, and each segment on its own: splitting a series at a
    # segment boundary splits its word there.
    assert result == [word for series in ts for word in sax([series], seglen, alphabet)]
    for series, word in zip(ts, result):
        cut = seglen * (len(word) // 2)
        head, tail = sax([series[:cut], series[cut:]], seglen, alphabet)
        assert word == head + tail
    if seglen == 1:
        # One value per letter: NaN and -inf give "a", +inf the last letter, and letters never
        # go down as values go up.
        for series, word in zip(ts, result):
            pairs = [(float(v), letter) for v, letter in zip(series, word)]
            for value, letter in pairs:
                if math.isnan(value) or value == -math.inf:
                    assert letter == "a"
                if value == math.inf:
                    assert letter == letters[-1]
            ordered = sorted((p for p in pairs if not math.isnan(p[0])), key=lambda p: p[0])
            assert [letter for _, letter in ordered] == sorted(letter for _, letter in ordered)


@fuzz_settings(300)
@given(
    args=some_junk(
        st.tuples(
            tagged(series_sets(max_series=3, max_points=5), junk_series_sets),
            tagged(st.integers(1, 4), junk_ints),
            tagged(st.integers(0, 10), junk_ints),
        )
    ),
    keywords=st.booleans(),
)
def test_sax_wrong_types_are_type_errors(args: tuple[tuple[bool, Any], ...], keywords: bool) -> None:
    (_, ts), (_, seglen), (_, alphabet) = args
    if keywords:
        _, error = call(sax, ts=ts, seglen=seglen, alphabet=alphabet)
    else:
        _, error = call(sax, ts, seglen, alphabet)
    assert_raised(error, TypeError)


# ---------------------------------------------------------------------------------------------
# PatternMiner


def frequent_table(miner: PatternMiner) -> dict[str, dict[int, list[int]]]:
    return {pattern: motif.indexes for pattern, motif in miner.frequent.items()}


def assert_unmapped_motif_well_formed(pattern: str, motif: Motif) -> None:
    """A motif of the pattern table: its pattern, a repr naming it, and statistics of the right
    shapes (a motif that was never mapped onto series may hold none)."""
    assert type(motif) is Motif
    assert type(motif.pattern) is str and motif.pattern == pattern
    assert repr(motif) == str(motif) == "Motif('" + pattern + "')"
    assert type(motif.length) is int and motif.length >= 0
    assert type(motif.naed) is float
    assert len(motif.representative) == motif.length
    assert set(motif.average_occurrences) <= set(motif.indexes)
    assert set(motif.best_matches) <= set(motif.indexes)
    assert all(len(values) == motif.length for values in motif.average_occurrences.values())


def safe_max_len(max_len: int, threshold: float, texts: list[str]) -> int:
    """A threshold that is not positive keeps every candidate: bound such random runs to
    patterns of two letters at most, one when many letters occur (max_len 0 stays: that run is
    refused at once)."""
    if threshold > 0:
        return max_len
    if len(set("".join(texts))) > 8:
        return min(max_len, 1)
    return min(max_len, 2)


@fuzz_settings(600)
@given(
    words=words_strategy,
    minsup=minsups,
    min_len=mostly(st.integers(-1, 5), st.sampled_from(EXTREME_INTS)),
    max_len=mostly(st.integers(0, 6), st.sampled_from(EXTREME_INTS)),
    max_overlap=overlaps,
)
@example(words=[], minsup=0.0, min_len=1, max_len=0, max_overlap=0.9)
@example(words=[[], []], minsup=math.nan, min_len=1, max_len=0, max_overlap=0.9)
@example(words=[["a"]], minsup=0.0, min_len=1, max_len=0, max_overlap=0.9)
@example(words=[list("ab"), list("ba")], minsup=-math.inf, min_len=1, max_len=INT32_MIN,
         max_overlap=0.9)
@example(words=[list("abab"), list("\x00\xff\x00")], minsup=1e-300, min_len=INT32_MIN,
         max_len=INT32_MAX, max_overlap=math.nan)
@example(words=[list("abcabc")] * 3, minsup=0.5, min_len=INT32_MAX, max_len=0, max_overlap=0.9)
@example(words=[list("abcabc"), list("cab")], minsup=math.inf, min_len=1, max_len=0,
         max_overlap=-math.inf)
def test_pattern_miner_tables_are_well_formed(
    words: Any, minsup: Any, min_len: int, max_len: int, max_overlap: Any
) -> None:
    texts = [text_of(word) for word in words]
    threshold = threshold_of(minsup, len(words))
    max_len = safe_max_len(max_len, threshold, texts)
    miner = PatternMiner(minsup, min_len, max_len, max_overlap)
    assert miner.frequent == {}
    result, error = call(miner.mine, words)
    event(f"PatternMiner: {type(error).__name__ if error else outcome_size(miner.frequent)}")
    if not threshold > 0 and max_len == 0 and any(texts):
        assert_raised(error, ValueError)
        # A refused run leaves nothing behind, and the object still works.
        assert miner.frequent == {}
        miner.mine([])
        assert miner.frequent == {}
        return
    assert error is None and result is None, error
    frequent = miner.frequent
    assert type(frequent) is dict
    assert list(frequent) == sorted(frequent, key=reference.symbol_key), "not in pattern order"
    for pattern, motif in frequent.items():
        assert_unmapped_motif_well_formed(pattern, motif)
    assert_patterns_well_formed(
        frequent_table(miner), texts, threshold, min_len, max_len, max_overlap
    )
    # Reads are fresh; a second run equals a fresh miner's, whatever ran before.
    again = miner.frequent
    assert again is not frequent and canon(again) == canon(frequent)
    assert all(again[p] is not frequent[p] for p in frequent)
    for motif in list(frequent.values())[:3]:
        assert_reads_are_fresh(motif)
    frequent.clear()
    assert canon(miner.frequent) == canon(again)
    call(miner.mine, [list("zzyzzy"), ["z"]])
    call(miner.mine, words)
    fresh = PatternMiner(minsup, min_len, max_len, max_overlap)
    fresh.mine(words)
    assert canon(miner.frequent) == canon(fresh.frequent) == canon(again)


def is_symbol(value: object) -> bool:
    """One character of code point 0 to 255, or one byte."""
    if isinstance(value, str):
        return len(value) == 1 and ord(value) <= 255
    return isinstance(value, bytes) and len(value) == 1


@fuzz_settings(200)
@given(
    words=st.lists(
        st.lists(st.sampled_from("ab") | bad_symbols, max_size=4), min_size=1, max_size=3
    ).filter(lambda ws: any(not is_symbol(s) for w in ws for s in w)),
    wrapped=st.booleans(),
)
@example(words=[["a", "€"]], wrapped=False)
@example(words=[["\U0010ffff"]], wrapped=False)
@example(words=[[None]], wrapped=True)
def test_bad_symbols_are_value_errors(words: Any, wrapped: bool) -> None:
    if wrapped:
        words = tuple(tuple(word) for word in words)
    miner = PatternMiner(1.0, 1)
    miner.mine([["a", "b"], ["b", "a"]])
    before = canon(miner.frequent)
    _, error = call(miner.mine, words)
    assert_raised(error, ValueError)
    assert canon(miner.frequent) == before, "a refused call changed the table"


@pytest.mark.parametrize(
    "symbol",
    [
        "",
        "ab",
        "€",
        "\u0100",
        "\U0010ffff",
        None,
        b"",
        b"ab",
        b"\xe2\x82\xac",
        # One character of a code point above 255 that has no UTF-8 form.
        "\ud800",
        "\udfff",
        # Two bytes are two symbols' worth, whatever character they would spell in UTF-8.
        b"\xc3\xa9",
        b"\xc2\x80",
        b"\xc0\x00",
    ],
)
@pytest.mark.parametrize("place", ["alone", "after a letter", "in tuples"])
def test_each_symbol_outside_one_character_0_to_255_is_a_value_error(
    symbol: Any, place: str
) -> None:
    words = {
        "alone": [[symbol]],
        "after a letter": [["a", "b"], ["a", symbol]],
        "in tuples": (("a",), ("b", symbol, "a")),
    }[place]
    miner = PatternMiner(0.5, 1)
    _, error = call(miner.mine, words)
    assert_raised(error, ValueError)
    assert miner.frequent == {}


@fuzz_settings(300)
@given(
    args=some_junk(
        st.tuples(
            tagged(minsups, junk_floats),
            tagged(int_args, junk_ints),
            tagged(int_args, junk_ints),
            tagged(overlaps, junk_floats),
        )
    ),
    keywords=st.booleans(),
)
def test_pattern_miner_construction_wrong_types(
    args: tuple[tuple[bool, Any], ...], keywords: bool
) -> None:
    (_, minsup), (_, min_len), (_, max_len), (_, max_overlap) = args
    if keywords:
        _, error = call(
            PatternMiner, minsup=minsup, min_len=min_len, max_len=max_len, max_overlap=max_overlap
        )
    else:
        _, error = call(PatternMiner, minsup, min_len, max_len, max_overlap)
    assert_raised(error, TypeError)


@fuzz_settings(300)
@given(words=junk_word_sets)
def test_pattern_miner_mine_wrong_types(words: Any) -> None:
    miner = PatternMiner(0.5, 1)
    miner.mine([["a", "b"], ["a"]])
    before = canon(miner.frequent)
    _, error = call(miner.mine, words)
    # A bad symbol (a str or bytes that is not one character) may be refused before a value of
    # the wrong type elsewhere is reached: a ValueError then.
    if error is not None and type(error) is ValueError:
        assert has_bad_symbol(words), error
    else:
        assert_raised(error, TypeError)
    assert canon(miner.frequent) == before


def has_bad_symbol(words: object) -> bool:
    if not isinstance(words, list):
        return False
    for word in words:
        if not isinstance(word, (list, tuple)):
            return False
        for symbol in word:
            if isinstance(symbol, (str, bytes)) and not is_symbol(symbol):
                return True
    return False


# ---------------------------------------------------------------------------------------------
# Miner


def znormed(ts: Any) -> list[list[float]]:
    return [reference.znorm([float(v) for v in series]) for series in ts]


def moderate(ts: Any) -> bool:
    """Values whose z-normalised forms are finite (or NaN throughout, for a constant series):
    no NaN or infinity, and no magnitude small enough for the deviation to underflow or large
    enough for a sum to overflow."""
    return all(v == 0 or 1e-100 <= abs(v) <= 1e100 for series in ts for v in map(float, series))


def distance(series: list[float], start: int, representative: list[float]) -> float:
    points = series[start : start + len(representative)]
    return math.sqrt(sum((v - r) ** 2 for v, r in zip(points, representative) if not math.isnan(v)))


def assert_ranked(motifs: list[Motif]) -> None:
    naeds = [m.naed for m in motifs]
    numbers_ = [n for n in naeds if not math.isnan(n)]
    assert naeds[: len(numbers_)] == numbers_, "NaN ranked before a number"
    assert numbers_ == sorted(numbers_), "not ranked by ascending naed"


def assert_mined_motifs_well_formed(
    motifs: list[Motif], ts: Any, seglen: int, alphabet: int, threshold: float, min_len: int,
    max_len: int, max_overlap: float,
) -> None:
    assert type(motifs) is list and all(type(m) is Motif for m in motifs)
    assert_ranked(motifs)
    normalised = znormed(ts)
    texts = ["".join(word) for word in sax(normalised, seglen, alphabet)]
    letters = LETTERS[: max(alphabet, 1)]
    table = {}
    for motif in motifs:
        pattern = motif.pattern
        assert type(pattern) is str and pattern and set(pattern) <= set(letters), pattern
        assert pattern not in table, f"{pattern} twice"
        assert repr(motif) == str(motif) == f"Motif('{pattern}')"
        length = motif.length
        assert type(length) is int and length == seglen * len(pattern)
        representative = motif.representative
        assert type(representative) is list and len(representative) == length
        assert all(type(v) is float for v in representative)
        indexes = motif.indexes
        table[pattern] = indexes
        averages = motif.average_occurrences
        best = motif.best_matches
        assert set(averages) == set(indexes) == set(best)
        assert all(len(values) == length for values in averages.values())
        assert type(motif.naed) is float
        assert math.isnan(motif.naed) == (not indexes), "naed NaN exactly without occurrences"
        assert math.isnan(motif.naed) or motif.naed >= 0.0
        for series, start in best.items():
            assert type(start) is int and start % seglen == 0 and 0 <= start < len(ts[series])
        if moderate(ts):
            assert_statistics_consistent(motif, normalised, seglen)
    assert_patterns_well_formed(table, texts, threshold, min_len, max_len, max_overlap)


def assert_statistics_consistent(
    motif: Motif, normalised: list[list[float]], seglen: int
) -> None:
    """Averages lie within what they average, and the best match is an occurrence at the
    smallest distance to the representative."""
    length = motif.length
    averages = motif.average_occurrences
    for series, positions in motif.indexes.items():
        values = normalised[series]
        for i, average in enumerate(averages[series]):
            points = [values[p * seglen + i] for p in positions if p * seglen + i < len(values)]
            points = [v for v in points if not math.isnan(v)]
            assert_between(average, points)
    if averages:  # (a motif without occurrences has nothing to average)
        for i, value in enumerate(motif.representative):
            assert_between(value, [a[i] for a in averages.values() if not math.isnan(a[i])])
    for series, start in motif.best_matches.items():
        positions = motif.indexes[series]
        assert start // seglen in positions
        centre = motif.representative
        distances = [distance(normalised[series], p * seglen, centre) for p in positions]
        best = distance(normalised[series], start, motif.representative)
        assert best <= min(distances) * (1 + 1e-9) + 1e-12, (best, distances)
    assert length == len(motif.representative)


def assert_between(mean: float, values: list[float]) -> None:
    if not values:
        assert math.isnan(mean)
        return
    low, high = min(values), max(values)
    slack = 1e-9 * max(abs(low), abs(high), 1.0)
    assert low - slack <= mean <= high + slack, (mean, low, high)


def miner_case(
    ts: Any, seglen: int, minsup: Any, min_len: int, max_len: int
) -> tuple[int, int, Any]:
    """Keeps random runs small (see the module docstring); returns min_len, max_len, minsup."""
    threshold = threshold_of(minsup, len(ts))
    if seglen > 1000:
        min_len = max(min_len, 2)
        if not threshold > 0:
            minsup = 0.5
    if not threshold_of(minsup, len(ts)) > 0:
        max_len = min(max_len, 2)
    return min_len, max_len, minsup


def expected_miner_error(
    ts: Any, seglen: int, alphabet: int, minsup: Any, max_len: int
) -> tuple[type[BaseException], str | None] | None:
    """(type, message) the documented table gives for these arguments, or None."""
    if not 0 <= alphabet <= 10:
        return ValueError, f"alphabet must be between 0 and 10, got {alphabet}"
    if (seglen == 0 and len(ts) > 0) or (seglen < 0 and any(len(s) > 0 for s in ts)):
        return ValueError, VECTOR_TOO_LARGE
    if not threshold_of(minsup, len(ts)) > 0 and max_len == 0 and any(len(s) > 0 for s in ts):
        return ValueError, None
    return None


def summary(motifs: list[Motif]) -> object:
    return canon(list(motifs))


@fuzz_settings(400)
@given(
    ts=series_sets(max_points=30),
    other=series_sets(max_series=3, max_points=12),
    seglen=mostly(st.integers(1, 4), st.sampled_from([INT32_MIN, -1, 0, INT32_MAX])),
    alphabet=mostly(st.integers(2, 10), st.sampled_from([INT32_MIN, -1, 0, 1, 11, INT32_MAX])),
    minsup=minsups,
    min_len=mostly(st.integers(-1, 4), st.sampled_from(EXTREME_INTS)),
    max_len=mostly(st.integers(0, 5), st.sampled_from(EXTREME_INTS)),
    max_overlap=overlaps,
    k=mostly(st.integers(0, 4), st.sampled_from(EXTREME_INTS + [-2])),
)
@example(ts=[], other=[], seglen=0, alphabet=4, minsup=0.0, min_len=1, max_len=0,
         max_overlap=0.9, k=INT32_MIN)
@example(ts=[[], []], other=[[1.0]], seglen=INT32_MIN, alphabet=4, minsup=math.nan, min_len=1,
         max_len=0, max_overlap=0.9, k=0)
@example(ts=[[5.0] * 6, [1.0], [-1.0, 0.0, 1.0] * 3], other=[], seglen=1, alphabet=3,
         minsup=0.5, min_len=1, max_len=0, max_overlap=1.0, k=-1)
@example(ts=[[1e300, -1e300, 1e300, 1e-300], [1e-300, 0.0, 1e-300, 0.0]], other=[], seglen=1,
         alphabet=10, minsup=1.0, min_len=1, max_len=0, max_overlap=1.0, k=INT32_MAX)
@example(ts=[[math.nan, 1.0, math.inf, -math.inf, 2.0], [1.0, math.nan, 2.0]], other=[],
         seglen=1, alphabet=5, minsup=0.5, min_len=1, max_len=0, max_overlap=1.0, k=0)
@example(ts=[[1.0, 2.0, 3.0], [3.0, 1.0]], other=[], seglen=INT32_MAX, alphabet=4, minsup=0.5,
         min_len=2, max_len=0, max_overlap=0.9, k=1)
@example(ts=[[1.0, -1.0, 1.0]], other=[], seglen=1, alphabet=2, minsup=0.0, min_len=1,
         max_len=2, max_overlap=1.0, k=0)
def test_miner_results_are_well_formed(
    ts: Any, other: Any, seglen: int, alphabet: int, minsup: Any, min_len: int, max_len: int,
    max_overlap: Any, k: int,
) -> None:
    min_len, max_len, minsup = miner_case(ts, seglen, minsup, min_len, max_len)
    args = (minsup, seglen, alphabet, min_len, max_len, max_overlap, k)
    miner = Miner(*args)
    assert miner.motifs == []
    result, error = call(miner.mine, ts)
    event(f"Miner: {type(error).__name__ if error else outcome_size(miner.motifs)}")
    event(f"Miner given a {input_kind(ts)}")
    plain, plain_error = call(Miner(*args).mine, float_lists(ts))
    assert summary(result or []) == summary(plain or []) and type(error) is type(plain_error)
    expected_error = expected_miner_error(ts, seglen, alphabet, minsup, max_len)
    if expected_error is not None:
        assert_raised(error, *expected_error)
        assert miner.motifs == []
        return
    if k < 0:
        assert_raised(error, ValueError, VECTOR_TOO_LARGE)
        everything = miner.motifs
        assert summary(everything) == summary(Miner(*args[:-1], 0).mine(ts))
    else:
        assert error is None, error
        everything = miner.motifs
        assert summary(result) == summary(everything if k == 0 else everything[:k])
        assert len(result) <= k or k == 0
    assert_mined_motifs_well_formed(
        everything, ts, seglen, alphabet, threshold_of(minsup, len(ts)), min_len, max_len,
        max_overlap,
    )

    # Fresh reads, and a run that equals a fresh miner's whatever ran on the object before.
    again = miner.motifs
    assert again is not everything
    assert all(a is not b for a, b in zip(again, everything))
    for motif in everything[:3]:
        assert_reads_are_fresh(motif)
    everything.clear()
    assert summary(miner.motifs) == summary(again)
    call(miner.mine, other)
    rerun, rerun_error = call(miner.mine, ts)
    assert type(rerun_error) is type(error)
    assert summary(miner.motifs) == summary(again)
    if error is None:
        assert summary(rerun) == summary(result)


@fuzz_settings(200)
@given(
    args=some_junk(
        st.tuples(
            tagged(minsups, junk_floats),
            tagged(int_args, junk_ints),
            tagged(int_args, junk_ints),
            tagged(int_args, junk_ints),
            tagged(int_args, junk_ints),
            tagged(overlaps, junk_floats),
            tagged(int_args, junk_ints),
        )
    ),
    keywords=st.booleans(),
)
def test_miner_construction_wrong_types(
    args: tuple[tuple[bool, Any], ...], keywords: bool
) -> None:
    values = [value for _, value in args]
    if keywords:
        names = ("minsup", "seglen", "alphabet", "min_len", "max_len", "max_overlap", "k")
        _, error = call(Miner, **dict(zip(names, values)))
    else:
        _, error = call(Miner, *values)
    assert_raised(error, TypeError)


@fuzz_settings(300)
@given(ts=junk_series_sets)
# A date outside datetime.date's years converts to its day count through __float__: refused too.
@example(ts=np.array([["0000-12-31"]], dtype="datetime64[D]"))
@example(ts=[[1.0, np.datetime64("10000-01-01")]])
def test_miner_mine_wrong_types(ts: Any) -> None:
    miner = Miner(1.0, 1, 3, min_len=1)
    first = miner.mine([[1.0, 2.0, 3.0], [3.0, 2.0, 1.0]])
    _, error = call(miner.mine, ts)
    assert_raised(error, TypeError)
    assert summary(miner.motifs) == summary(first), "a refused call changed the stored list"


# ---------------------------------------------------------------------------------------------
# Integers that do not fit in 32 bits, wrong argument counts and names, read-only properties

# Each entry with good arguments, and the positions of its int arguments.
ENTRY_INT_ARGS: dict[str, tuple[Callable[..., Any], tuple[Any, ...], tuple[int, ...]]] = {
    "sax": (sax, ([[1.0, 2.0]], 1, 2), (1, 2)),
    "PatternMiner": (PatternMiner, (0.5, 1, 0, 0.9), (1, 2)),
    "Miner": (Miner, (0.5, 1, 2, 1, 0, 0.9, 0), (1, 2, 3, 4, 6)),
}
INT_SLOTS = [(entry, slot) for entry, (_, _, slots) in ENTRY_INT_ARGS.items() for slot in slots]


def with_int(entry: str, slot: int, value: object) -> tuple[Any, BaseException | None]:
    """Calls the entry with value in place of one of its int arguments."""
    function, args, _ = ENTRY_INT_ARGS[entry]
    return call(function, *args[:slot], value, *args[slot + 1 :])


@pytest.mark.parametrize("value", WIDE_INTS + [2.0, -0.0, math.nan, "1", None, [1]])
@pytest.mark.parametrize("entry, slot", INT_SLOTS)
def test_every_int_argument_refuses_what_is_not_a_32_bit_int(
    entry: str, slot: int, value: object
) -> None:
    _, error = with_int(entry, slot, value)
    assert_raised(error, TypeError)


@pytest.mark.parametrize("value", [INT32_MIN, INT32_MAX, -INT32_MAX, True])
@pytest.mark.parametrize("entry, slot", INT_SLOTS)
def test_every_int_argument_takes_the_32_bit_extremes(
    entry: str, slot: int, value: int
) -> None:
    # Construction never fails for a representable int; sax may refuse the value itself.
    _, error = with_int(entry, slot, value)
    if entry == "sax" and error is not None:
        assert type(error) is ValueError
    else:
        assert error is None, error


@pytest.mark.parametrize(
    "function, args, kwargs",
    [
        (sax, ([[1.0]], 1), {}),
        (sax, ([[1.0]], 1, 2, 3), {}),
        (sax, ([[1.0]], 1, 2), {"seglen": 1}),
        (sax, (), {"ts": [[1.0]], "seglen": 1, "alphabet": 2, "extra": 0}),
        (PatternMiner, (), {}),
        (PatternMiner, (0.5, 1, 0, 0.9, 0), {}),
        (PatternMiner, (0.5,), {"minsup": 0.5}),
        (PatternMiner, (0.5,), {"k": 1}),
        (PatternMiner(0.5).mine, (), {}),
        (PatternMiner(0.5).mine, ([["a"]], [["b"]]), {}),
        (PatternMiner(0.5).mine, (), {"words": [["a"]]}),
        (Miner, (0.5, 1), {}),
        (Miner, (0.5, 1, 2, 3, 0, 0.9, 0, 9), {}),
        (Miner, (0.5, 1, 2), {"seglen": 1}),
        (Miner, (0.5, 1, 2), {"top": 1}),
        (Miner(0.5, 1, 2).mine, (), {}),
        (Miner(0.5, 1, 2).mine, ([[1.0]], [[1.0]]), {}),
        (Miner(0.5, 1, 2).mine, (), {"ts": [[1.0]]}),
        (Motif, (), {}),
        (Motif, ("abc",), {}),
    ],
)
def test_wrong_argument_counts_and_names_are_type_errors(
    function: Callable[..., Any], args: tuple[Any, ...], kwargs: dict[str, Any]
) -> None:
    _, error = call(function, *args, **kwargs)
    assert_raised(error, TypeError)


def sample_motifs() -> list[tuple[str, Motif]]:
    miner = PatternMiner(1.0, 1)
    miner.mine([list("abab"), list("bab")])
    mined = Miner(1.0, 1, 3, min_len=1).mine([[1.0, 2.0, 3.0, 1.0], [1.0, 2.0, 3.0]])
    return [("pattern table", next(iter(miner.frequent.values()))), ("miner", mined[0])]


@pytest.mark.parametrize("origin, motif", sample_motifs())
@pytest.mark.parametrize("name", PROPERTIES + ("weight", "__dict__"))
@pytest.mark.parametrize("value", [None, 1, "a", [], {}])
def test_motif_attributes_cannot_be_assigned(
    origin: str, motif: Motif, name: str, value: object
) -> None:
    before = canon(motif)
    with pytest.raises(AttributeError):
        setattr(motif, name, value)
    if name in PROPERTIES:
        with pytest.raises(AttributeError):
            delattr(motif, name)
    assert canon(motif) == before


@pytest.mark.parametrize(
    "owner, name", [(Miner(0.5, 1, 2), "motifs"), (PatternMiner(0.5), "frequent"),
                    (Miner(0.5, 1, 2), "k"), (PatternMiner(0.5), "minsup")]
)
def test_miner_attributes_cannot_be_assigned(owner: object, name: str) -> None:
    with pytest.raises(AttributeError):
        setattr(owner, name, [])


# ---------------------------------------------------------------------------------------------
# Runs that would need more than the machine has: refused, in a child process under limits so
# that a library that tried anyway fails this test instead of taking the machine down.

CHILD = """
import json, math, resource, sys
# Limit the address space unless it is huge already (a sanitizer's shadow memory).
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
if size < 64 << 30:
    resource.setrlimit(resource.RLIMIT_AS, (size + (3 << 30), size + (3 << 30)))
from _zorp_cpp import Miner, PatternMiner
inf, nan = math.inf, math.nan
entry, args, data = {case}
before = repr(data)
try:
    if entry == "PatternMiner":
        PatternMiner(*args).mine(data)
        outcome = "result"
    else:
        outcome = "result " + repr([m.pattern for m in Miner(*args).mine(data)])
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
print(json.dumps({{"outcome": outcome, "unchanged": repr(data) == before}}))
"""

MANY_LETTERS = [list("abcdefghij"), list("jihgfedcba"), list("\x00\xff\x80")]


EITHER = ("ValueError", "MemoryError")


@pytest.mark.parametrize(
    "entry, args, data, allowed",
    [
        # A threshold that is not positive with a huge max_len: letters ** max_len patterns.
        pytest.param("PatternMiner", (0.0, 1, INT32_MAX, 0.9), MANY_LETTERS, EITHER,
                     id="patterns-minsup-0"),
        pytest.param("PatternMiner", (-1.0, 1, INT32_MAX, 1.0), MANY_LETTERS, EITHER,
                     id="patterns-minsup-negative"),
        pytest.param("PatternMiner", (math.nan, 1, INT32_MAX, 0.9), MANY_LETTERS, EITHER,
                     id="patterns-minsup-nan"),
        pytest.param("PatternMiner", (0.0, INT32_MAX, INT32_MAX, 0.9), [["a"], ["a", "a"]],
                     EITHER, id="patterns-one-letter"),
        pytest.param("Miner", (0.0, 1, 10, 1, INT32_MAX, 0.9, 0),
                     [[float(i % 7) for i in range(20)], [float(-i) for i in range(9)]], EITHER,
                     id="miner-minsup-0"),
        pytest.param("Miner", (math.nan, 1, 2, 3, INT32_MAX, 0.9, 0), [[1.0, 2.0, 1.0]], EITHER,
                     id="miner-minsup-nan"),
        # One letter per series, a motif of 2**31 - 1 points.
        pytest.param("Miner", (0.5, INT32_MAX, 4, 1, 0, 0.9, 0), [[1.0, 2.0], [2.0, 1.0], [3.0]],
                     ("MemoryError",), id="miner-motif-of-2**31-1-points"),
        # Patterns of two letters at seglen 2**30 or more have no 32-bit length.
        pytest.param("Miner", (0.0, 2**30, 4, 2, 2, 0.9, 0), [[1.0, 2.0]], ("ValueError",),
                     id="miner-length-2**31"),
        pytest.param("Miner", (0.0, INT32_MAX, 3, 2, 2, 1.0, 0), [[1.0, 2.0], [2.0, 1.0]],
                     ("ValueError",), id="miner-length-2**32-2"),
    ],
)
def test_runs_too_large_for_the_machine_are_refused(
    entry: str, args: tuple[Any, ...], data: Any, allowed: tuple[str, ...]
) -> None:
    case = repr((entry, args, data))  # nan and inf are names in the child
    script = textwrap.dedent(CHILD).format(case=case)
    try:
        run = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, timeout=45
        )
    except subprocess.TimeoutExpired:
        pytest.fail(f"{entry}{args} still running after 45 s")
    assert run.returncode == 0, f"the child process died ({run.returncode}): {run.stderr[-2000:]}"
    report = json.loads(run.stdout.strip().splitlines()[-1])
    assert report["unchanged"]
    assert report["outcome"].split(":")[0] in allowed, report["outcome"]
