"""The series-set argument of sax and Miner.mine in every form it comes in.

Numpy arrays, array.array, memoryview and other objects with a numeric buffer are read from the
buffer, floats straight from lists; whichever way, every input gives exactly what the list of
float(x) of its items gives, the same inputs are refused with the same exceptions as a
per-element conversion refuses them, buffers are released on every path, and the caller's
objects are left as they were.
"""

import array
import ctypes
import datetime
import decimal
import fractions
import math
import warnings
from collections.abc import Callable, Iterator
from typing import Any

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

from conftest import examples
from _zorp_cpp import Miner, Motif, sax

Array = npt.NDArray[Any]


def walks(rows: int = 4, points: int = 48, seed: int = 0) -> Array:
    """rows random walks of points values each (float64, C order)."""
    return np.cumsum(np.random.default_rng(seed).standard_normal((rows, points)), axis=1)


def as_floats(ts: Any) -> list[list[float]]:
    """The series set that float() of every item gives: what each input must convert to."""
    if isinstance(ts, memoryview):
        ts = ts.tolist()
    return [[float(value) for value in series] for series in ts]


def bits(value: float) -> str:
    return value.hex()  # every NaN alike, the sign of zero kept


def motif_view(motif: Motif) -> tuple[object, ...]:
    return (
        motif.pattern,
        sorted(motif.indexes.items()),
        sorted((s, [bits(v) for v in values]) for s, values in motif.average_occurrences.items()),
        [bits(v) for v in motif.representative],
        sorted(motif.best_matches.items()),
        motif.length,
        bits(motif.naed),
    )


def observe(ts: Any) -> tuple[object, ...]:
    """Everything sax and Miner.mine show of a series set. The motif statistics are built from
    the z-normalised values, so a changed bit in any value of a series shows in them."""
    words = (sax(ts, 1, 10), sax(ts, 3, 4))
    miner = Miner(0.5, 2, 4, min_len=2)
    return words, [motif_view(motif) for motif in miner.mine(ts)]


def unaligned(values: Array) -> Array:
    """A copy of values whose data starts one byte past an aligned address."""
    raw = np.zeros(values.nbytes + 1, dtype=np.uint8)
    shifted = raw[1:].view(values.dtype).reshape(values.shape)
    shifted[...] = values
    return shifted


def read_only(values: Array) -> Array:
    values = values.copy()
    values.flags.writeable = False
    return values


def integers(dtype: type[np.integer[Any]], seed: int = 1) -> Array:
    """Random values over the whole range of an integer type, with its extremes."""
    info = np.iinfo(dtype)
    rng = np.random.default_rng(seed)
    values: Array = rng.integers(info.min, info.max, size=(4, 48), dtype=dtype, endpoint=True)
    values[0, :4] = [info.min, info.max, 0, info.max - 1]
    return values


def every_finite_half() -> Array:
    """Each finite float16 once, shuffled into 62 series of 1,024 points."""
    halves = np.arange(2**16, dtype=np.uint16).view(np.float16)
    finite = halves[np.isfinite(halves)]
    return np.random.default_rng(2).permutation(finite).reshape(62, 1024)


def special_values() -> Array:
    values = walks(3, 40)
    values[0, ::5] = math.nan
    values[1, 1::7] = math.inf
    values[1, 3::9] = -math.inf
    values[2, :] = [0.0, -0.0] * 20
    return values


class Real(float):
    pass


class Number:
    def __init__(self, value: float) -> None:
        self.value = value

    def __float__(self) -> float:
        return self.value


class Index:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


def double_matrix() -> Any:
    matrix = (ctypes.c_double * 5 * 3)()
    for row in range(3):
        for column in range(5):
            matrix[row][column] = (row - 1.5) * column
    return matrix


# name: a function that builds the input
ACCEPTED: dict[str, Callable[[], Any]] = {
    "C order": walks,
    "Fortran order": lambda: np.asfortranarray(walks()),
    "strided view": lambda: walks(8, 150)[1::2, ::3],
    "reversed view": lambda: walks()[::-1, ::-1],
    "transposed view": lambda: walks(48, 4).T,
    "one row repeated (stride 0)": lambda: np.broadcast_to(walks(1, 48)[0], (3, 48)),
    "unaligned": lambda: unaligned(walks()),
    "read-only": lambda: read_only(walks()),
    "big-endian float64": lambda: walks().astype(">f8"),
    "float32": lambda: walks().astype(np.float32),
    "big-endian float32": lambda: walks().astype(">f4"),
    "float16": lambda: walks().astype(np.float16),
    "big-endian float16": lambda: walks().astype(">f2"),
    "every finite float16": every_finite_half,
    "int8": lambda: integers(np.int8),
    "uint8": lambda: integers(np.uint8),
    "int16": lambda: integers(np.int16),
    "uint16": lambda: integers(np.uint16),
    "int32": lambda: integers(np.int32),
    "big-endian int32": lambda: integers(np.int32).astype(">i4"),
    "uint32": lambda: integers(np.uint32),
    "int64": lambda: integers(np.int64),
    "uint64": lambda: integers(np.uint64),
    "big-endian uint64": lambda: integers(np.uint64).astype(">u8"),
    "int64 beyond 2**53": lambda: (2**53 + np.arange(4 * 48, dtype=np.int64)).reshape(4, 48),
    "bool": lambda: walks() > 0,
    "bool bytes other than 0 and 1": lambda: np.frombuffer(bytes(range(0, 256, 4)), np.bool_)
    .reshape(4, 16)
    .copy(),
    "NaN, infinities and signed zeros": special_values,
    "object array of numbers": lambda: walks().astype(object),
    "long double (read item by item)": lambda: walks().astype(np.longdouble),
    "2-D memoryview": lambda: memoryview(walks()),
    "2-D memoryview of a strided view": lambda: memoryview(walks(4, 96)[:, ::2]),
    "bytearray cast to 2-D doubles": lambda: memoryview(bytearray(walks().tobytes())).cast(
        "d", (4, 48)
    ),
    "ctypes 2-D doubles": double_matrix,
    "list of 1-D arrays of different lengths": lambda: [walks(1, n, seed=n)[0] for n in (5, 48, 0)],
    "tuple of arrays of different types": lambda: (
        walks(1, 30)[0].astype(np.float32),
        integers(np.int16)[0],
        walks(1, 20)[0] > 0,
        walks(1, 40, seed=3)[0],
    ),
    "list of strided and reversed rows": lambda: [walks(1, 96)[0, ::3], walks(1, 48)[0, ::-1]],
    "array.array of each type": lambda: [
        array.array(code, [(-1) ** i * i for i in range(20)]) for code in "bhilqfd"
    ]
    + [array.array(code, range(20)) for code in "BHILQ"],
    "memoryview and bytearray rows": lambda: [
        memoryview(walks(1, 30)[0]),
        memoryview(walks(1, 30)[0]).cast("B").cast("d"),
        bytearray(range(0, 250, 10)),
    ],
    "a range": lambda: [range(-5, 30, 2), range(20)],
    "lists of ints and floats": lambda: [[1, 2.5, -3, 4.0, 0, 7] * 5, [True, False, 3] * 9],
    "ints past 2**53": lambda: [[2**53 + 1, 2**63 + 2**10 + 1, -(2**60) - 3, 2**64 - 1] * 8],
    "numpy scalars in lists": lambda: [
        [np.float64(1.5), np.float32(0.1), np.int64(2**62 + 1), np.bool_(True), np.float16(3)] * 8
    ],
    "float subclass, __float__, __index__": lambda: [
        [Real(0.5), Number(2.25), Index(-3), Real(math.inf), Number(math.nan)] * 8
    ],
    "fractions and decimals": lambda: [
        [fractions.Fraction(1, 3), decimal.Decimal("2.1"), fractions.Fraction(-7, 2)] * 12
    ],
    "lists, arrays and tuples mixed": lambda: [
        walks(1, 30)[0].tolist(),
        walks(1, 30, seed=5)[0],
        tuple(walks(1, 25, seed=6)[0]),
        array.array("d", walks(1, 22, seed=7)[0]),
    ],
    "empty set (0 rows)": lambda: np.zeros((0, 5)),
    "series without points": lambda: np.zeros((3, 0)),
    "empty 1-D array": lambda: np.array([]),
    "3-D array without rows": lambda: np.zeros((0, 2, 2)),
    "1-D records (each a sequence of fields)": lambda: np.array(
        [(1.0, 2.0, 3.0), (-1.0, 0.5, 9.0)], dtype=[("a", "f8"), ("b", "f4"), ("c", "i2")]
    ),
}


@pytest.mark.parametrize("build", ACCEPTED.values(), ids=ACCEPTED.keys())
def test_every_accepted_kind_gives_the_values_of_float(build: Callable[[], Any]) -> None:
    assert observe(build()) == observe(as_floats(build()))


def test_every_half_precision_value_gives_its_float() -> None:
    halves = np.arange(2**16, dtype=np.uint16).view(np.float16).reshape(64, 1024)
    for seglen in (1, 2, 5):
        for alphabet in (3, 10):
            assert sax(halves, seglen, alphabet) == sax(as_floats(halves), seglen, alphabet)


def test_the_observation_sees_one_changed_bit() -> None:
    values = walks()
    changed = values.copy()
    changed[2, 17] = np.nextafter(changed[2, 17], math.inf)
    assert observe(values) != observe(changed)


numeric_dtypes = st.sampled_from(
    ["f8", ">f8", "f4", ">f4", "f2", ">f2", "i1", "u1", "i2", ">u2", "i4", "u4", "i8", ">i8",
     "u8", "?"]
).map(np.dtype)


@st.composite
def views(draw: st.DrawFn) -> Array:
    """A 2-D array of a numeric type, possibly transposed, reversed or strided."""
    base = draw(hnp.arrays(numeric_dtypes, hnp.array_shapes(min_dims=2, max_dims=2, max_side=12)))
    if draw(st.booleans()):
        base = base.T
    if draw(st.booleans()):
        base = np.asfortranarray(base)
    steps = draw(st.tuples(st.sampled_from([1, 2, -1, -3]), st.sampled_from([1, 2, -1, -2])))
    return base[:: steps[0], :: steps[1]]


@settings(max_examples=examples(150), deadline=None, derandomize=True, database=None)
@given(values=views(), ragged=st.booleans())
def test_any_numeric_view_gives_the_values_of_float(values: Array, ragged: bool) -> None:
    ts: Any = [row[: i + 1] for i, row in enumerate(values)] if ragged else values
    snapshot = values.copy()
    assert observe(ts) == observe(as_floats(ts))
    np.testing.assert_array_equal(values, snapshot)


def datetime_rows() -> Any:
    return [[datetime.datetime(2024, 1, 1), datetime.datetime(2024, 1, 2)]]


class Custom:
    """A sequence with a len() and items given by functions."""

    def __init__(self, length: Callable[[], int], item: Callable[[int], Any]) -> None:
        self.length, self.item = length, item

    def __len__(self) -> int:
        return self.length()

    def __getitem__(self, index: int) -> Any:
        return self.item(index)


class BufferOnly:
    """Exposes a 2-D float64 buffer but is no sequence."""

    def __buffer__(self, flags: int) -> memoryview:
        return memoryview(walks())


def raise_(error: Exception) -> Any:
    raise error


class FloatRaises:
    def __float__(self) -> float:
        raise ArithmeticError("no value")


# name: (a function that builds the input, the exception a call raises)
REFUSED: dict[str, tuple[Callable[[], Any], type[BaseException]]] = {
    "1-D array (one series, not a set)": (lambda: np.arange(3.0), TypeError),
    "1-D int array": (lambda: np.arange(3), TypeError),
    "3-D array": (lambda: np.zeros((2, 3, 4)), TypeError),
    "3-D array of one-point series": (lambda: np.zeros((2, 3, 1)), TypeError),
    "0-D array": (lambda: np.array(1.0), TypeError),
    "list of 2-D arrays": (lambda: [np.zeros((2, 3))], TypeError),
    "list of 0-D arrays": (lambda: [np.array(1.0)], TypeError),
    "object array holding None": (lambda: np.array([[1.0, None]], dtype=object), TypeError),
    "str array": (lambda: np.array([["1.5", "2"]]), TypeError),
    "bytes array": (lambda: np.array([[b"1.5", b"2"]]), TypeError),
    "datetime64 array": (lambda: np.array([["2024-01-01"]], dtype="M8[D]"), TypeError),
    "timedelta64 array": (lambda: np.array([[5, 6]], dtype="m8[s]"), TypeError),
    "datetimes": (datetime_rows, TypeError),
    "2-D records": (lambda: np.zeros((2, 2), dtype=[("a", "f8"), ("b", "f8")]), TypeError),
    "complex128 array": (lambda: walks() + 1j, TypeError),
    "complex64 array": (lambda: (walks() + 1j).astype(np.complex64), TypeError),
    "complex array of real values": (lambda: walks().astype(complex), TypeError),
    "list of complex rows": (lambda: [walks(1, 5)[0], walks(1, 5)[0] * 1j], TypeError),
    "numpy complex scalars": (lambda: [[np.complex128(1.0), np.complex64(2.0)]], TypeError),
    "Python complex": (lambda: [[1.0, 2 + 0j]], TypeError),
    "1-D memoryview": (lambda: memoryview(walks(1, 5)[0]), TypeError),
    "array.array as the set": (lambda: array.array("d", [1.0, 2.0]), TypeError),
    "bytearray as the set": (lambda: bytearray(b"\x01\x02"), TypeError),
    "bytes rows": (lambda: [b"\x01\x02"], TypeError),
    "str rows": (lambda: ["12"], TypeError),
    "str items": (lambda: [["1.0"]], TypeError),
    "None items": (lambda: [[1.0, None]], TypeError),
    "a buffer that is no sequence": (BufferOnly, TypeError),
    "a generator": (lambda: (row for row in [[1.0]]), TypeError),
    "a set row": (lambda: [{1.0, 2.0}], TypeError),
    "an int beyond every float": (lambda: [[10**400]], TypeError),
    "__float__ raising": (lambda: [[FloatRaises()]], TypeError),
    # Errors of the host objects themselves pass through unchanged.
    "2-D memoryview as one series": (lambda: [memoryview(walks())], NotImplementedError),
    "len() raising": (lambda: [Custom(lambda: raise_(ValueError("no length")), abs)], ValueError),
    "indexing raising": (lambda: Custom(lambda: 2, lambda i: raise_(KeyError(i))), KeyError),
}


@pytest.mark.parametrize("build, error", REFUSED.values(), ids=REFUSED.keys())
def test_refused_kinds_keep_their_exception(
    build: Callable[[], Any], error: type[BaseException]
) -> None:
    miner = Miner(0.5, 1, 4, min_len=1)
    kept = miner.mine([[1.0, 2.0, 1.0]])
    # Refused outright, not through a warning turned into an error: numpy's float conversion
    # of a complex number only warns.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with pytest.raises(error):
            sax(build(), 1, 4)
        with pytest.raises(error):
            miner.mine(build())
    assert [str(warning.message) for warning in caught] == []
    assert [motif_view(m) for m in miner.motifs] == [motif_view(m) for m in kept]


@pytest.mark.parametrize("build", ACCEPTED.values(), ids=ACCEPTED.keys())
def test_callers_objects_are_unchanged(build: Callable[[], Any]) -> None:
    ts = build()
    before = as_floats(ts)
    flags = ts.flags.writeable if isinstance(ts, np.ndarray) else None
    Miner(0.5, 2, 4, min_len=2).mine(ts)  # normalises its own copy in place
    sax(ts, 3, 4)
    assert [[bits(v) for v in series] for series in as_floats(ts)] == [
        [bits(v) for v in series] for series in before
    ]
    if isinstance(ts, np.ndarray):
        assert ts.flags.writeable == flags


# ---------------------------------------------------------------------------------------------
# Buffers are released on every path


class Exporter:
    """A sequence over an array that also exports the array's buffer, counting the buffers it
    gave out and those still held."""

    def __init__(self, values: Array) -> None:
        self.values = values
        self.given = 0
        self.held = 0

    def __buffer__(self, flags: int) -> memoryview:
        self.given += 1
        self.held += 1
        return memoryview(self.values)

    def __release_buffer__(self, view: memoryview) -> None:
        self.held -= 1
        view.release()

    def __len__(self) -> int:
        return len(self.values)

    def __getitem__(self, index: int) -> Any:
        return self.values[index]


def exporters(values: Array) -> Iterator[Exporter]:
    """Exporters of each row."""
    return (Exporter(row) for row in values)


# name: (a function that builds the exporters and the input holding them, whether it converts)
EXPORTED: dict[str, tuple[Callable[[], tuple[list[Exporter], Any]], bool]] = {
    "2-D buffer read": (lambda: (lambda e: ([e], e))(Exporter(walks())), True),
    "rows read": (lambda: (lambda e: (e, e))(list(exporters(walks()))), True),
    "2-D complex buffer refused": (lambda: (lambda e: ([e], e))(Exporter(walks() * 1j)), False),
    "complex row refused after a row read": (
        lambda: (lambda e: (e, e))([Exporter(walks(1, 5)[0]), Exporter(walks(1, 5)[0] * 1j)]),
        False,
    ),
    "rows read, then an item refused": (
        lambda: (lambda e: (e, [*e, [None]]))(list(exporters(walks()))),
        False,
    ),
    "object rows read item by item": (
        lambda: (lambda e: (e, e))(list(exporters(walks().astype(object)))),
        True,
    ),
    "object 2-D buffer, rows read item by item": (
        lambda: (lambda e: ([e], e))(Exporter(walks().astype(object))),
        True,
    ),
    "3-D buffer, an item refused": (lambda: (lambda e: ([e], e))(Exporter(np.zeros((2, 2, 2)))), False),
}


@pytest.mark.parametrize("build, converts", EXPORTED.values(), ids=EXPORTED.keys())
def test_every_buffer_taken_is_released(
    build: Callable[[], tuple[list[Exporter], Any]], converts: bool
) -> None:
    for call in (lambda ts: sax(ts, 1, 4), lambda ts: Miner(0.5, 1, 4).mine(ts)):
        held, ts = build()
        if converts:
            call(ts)
        else:
            with pytest.raises(TypeError):
                call(ts)
        assert [e.held for e in held] == [0] * len(held)
        assert all(e.given <= 1 for e in held)


class ComplexNumber:
    """A number exporting a buffer of one complex value, with a float conversion that drops
    its imaginary part, as numpy's complex scalars have."""

    def __init__(self) -> None:
        self.held = 0

    def __buffer__(self, flags: int) -> memoryview:
        self.held += 1
        return memoryview(np.array(1 + 2j))

    def __release_buffer__(self, view: memoryview) -> None:
        self.held -= 1
        view.release()

    def __float__(self) -> float:
        return 1.0


def test_numbers_with_complex_buffers_are_refused_and_released() -> None:
    number = ComplexNumber()
    with pytest.raises(TypeError):
        sax([[1.0, number]], 1, 4)
    assert number.held == 0


@pytest.mark.parametrize("later", [[[None]], [[1.0]]], ids=["failed call", "successful call"])
def test_resizable_inputs_can_be_resized_after_a_call(later: list[list[Any]]) -> None:
    doubles = array.array("d", [1.0, 2.0, 3.0])
    raw = bytearray(b"\x01\x02\x03")
    storage = bytearray(walks().tobytes())
    matrix = memoryview(storage).cast("d", (4, 48))
    rows: list[Any] = [doubles, raw, *later]
    if later == [[None]]:
        with pytest.raises(TypeError):
            sax(rows, 1, 4)
    else:
        sax(rows, 1, 4)
    sax(matrix, 1, 4)
    # Converted, then refused: by a later argument, and by the core.
    with pytest.raises(TypeError):
        sax([doubles, raw], 1.5, 4)  # type: ignore[arg-type]
    with pytest.raises(ValueError):
        sax(matrix, 1, 11)
    # Each raises BufferError while a buffer of it is still exported.
    doubles.append(4.0)
    raw.append(4)
    matrix.release()
    storage.append(0)


# ---------------------------------------------------------------------------------------------
# Lists changed while they are read: the conversion of an item may run any code


class Mutating:
    """A number whose float conversion runs change() first."""

    def __init__(self, change: Callable[[], None], value: float = 1.0) -> None:
        self.change, self.value = change, value

    def __float__(self) -> float:
        self.change()
        return self.value


def test_a_list_emptied_while_read_raises_index_error() -> None:
    series: list[Any] = [1.0, 2.0, 3.0]
    series.insert(1, Mutating(series.clear))
    with pytest.raises(IndexError):
        sax([series], 1, 4)
    outer: list[Any] = [[1.0], [2.0], [3.0]]
    outer[0] = [Mutating(lambda: outer.__delitem__(slice(1, None)))]
    with pytest.raises(IndexError):
        sax(outer, 1, 4)


def test_items_are_read_when_reached() -> None:
    series: list[Any] = [0.0, 2.0, 3.0]
    grown: list[Any] = [0.0, 2.0]

    def replace() -> None:
        series[2] = 9.0

    series[0] = Mutating(replace)
    grown[0] = Mutating(lambda: grown.extend([7.0] * 3))
    assert sax([series, grown], 1, 10) == sax([[1.0, 2.0, 9.0], [1.0, 2.0]], 1, 10)


def test_an_item_that_drops_itself_from_its_list_keeps_its_value() -> None:
    series: list[Any] = [2.0, 3.0]

    def drop_self() -> None:
        series[0] = 0.0  # the list held the only reference to the number

    series[0] = Mutating(drop_self, value=-5.0)
    assert sax([series], 1, 10) == [["a", "j"]]
    rows: list[Any] = [[1.0]]

    def drop_row() -> None:
        rows[0] = None  # the row list held the only reference to itself

    rows[0] = [Mutating(drop_row, value=-5.0), 4.0]
    assert sax(rows, 1, 10) == [["a", "j"]]
