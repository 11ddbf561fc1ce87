"""The tuning values of a discovery run, checked before any work: the modes, the parameters
each reads, their defaults and ranges, as the API and the command line both take them."""

import math
import numbers
import operator
from dataclasses import asdict, dataclass
from typing import Any, Literal, TypeAlias

import numpy as np

from zorp_miner._interface import option

MODES = ("robust", "exact")
Mode: TypeAlias = Literal["robust", "exact"]
# The fraction of the series that must hold a motif, in both modes, unless given.
MINSUP_DEFAULT = 0.5
# The parameters only the exact mode reads, with their defaults there.
EXACT_DEFAULTS: dict[str, object] = {"alphabet": 7, "min_len": 3, "max_len": 0, "max_overlap": 0.9}

# The native module stores lengths and counts as 32-bit signed integers.
INT32_MAX = 2**31 - 1
ALPHABET_MIN, ALPHABET_MAX = 2, 10

# What the checks below take, as a type: any integral number (Python's or numpy's) for a whole
# number, any real number for a fraction; bool is refused at run time although the type system
# counts it as an int. Values computed with numpy pass without a cast.
WholeNumber: TypeAlias = int | np.integer[Any]
RealNumber: TypeAlias = float | np.floating[Any] | np.integer[Any]


@dataclass(frozen=True)
class ExactParams:
    """The checked tuning values of the exact mode; see :func:`zorp_miner.find_motifs`.

    Attributes
    ----------
    seglen : int
        Points per letter.
    alphabet : int
        Letters, 2 to 10.
    minsup : float
        Fraction of the series a pattern must occur in, in (0, 1].
    min_len : int
        Shortest pattern kept, in letters.
    max_len : int
        Longest pattern searched, in letters; 0 for no limit.
    max_overlap : float
        Largest overlap, in [0, 1], a pattern may have with a longer one that is kept.
    top : int or None
        Motifs returned, best first; None for all.
    """

    seglen: int
    alphabet: int
    minsup: float
    min_len: int
    max_len: int
    max_overlap: float
    top: int | None

    def to_dict(self) -> dict[str, int | float | None]:
        """The values by name, ready for JSON."""
        return asdict(self)


# The shortest motif the robust mode looks for, in points.
LENGTH_MIN = 4


@dataclass(frozen=True)
class RobustParams:
    """The checked tuning values of the robust mode; see :func:`zorp_miner.find_motifs`.

    Attributes
    ----------
    length : int or None
        Motif length in points; None to let the run propose lengths.
    minsup : float
        Fraction of the series, in (0, 1], that must hold a motif.
    top : int or None
        Motifs returned, best first; None for all.
    keep : str
        "all": every distinct motif, each marked by its evidence; "likely": the likely ones.
    """

    length: int | None
    minsup: float
    top: int | None
    keep: "Keep" = "all"

    def to_dict(self) -> dict[str, int | float | None]:
        """The values by name, ready for JSON."""
        return asdict(self)


# What find_motifs(keep=...) takes: every motif with its evidence, or the likely ones only.
Keep: TypeAlias = Literal["all", "likely"]
KEEPS: tuple[Keep, ...] = ("all", "likely")


class OtherModeError(ValueError):
    """A parameter given to the mode that does not read it, or the exact mode without seglen:
    the command line reports it as a usage error."""


def checked_params(
    mode: object,
    *,
    length: object,
    minsup: object,
    top: object,
    seglen: object,
    alphabet: object,
    min_len: object,
    max_len: object,
    max_overlap: object,
    keep: object = "all",
) -> "RobustParams | ExactParams":
    """Check the mode and the parameters it reads, before any work; a parameter of the other
    mode is an error (:class:`OtherModeError`), named as the interface in use spells it.

    ``None`` stands for "not given" for every parameter but ``top``; ``keep`` is given when it
    is not "all", its default.

    Raises
    ------
    OtherModeError
        For a parameter of the other mode, or the exact mode without ``seglen``.
    TypeError, ValueError
        For a bad mode or value (see :func:`robust_params` and :func:`exact_params`).
    """
    if mode not in MODES:
        raise ValueError(f"mode must be one of {', '.join(map(repr, MODES))}, got {mode!r}")
    exact_only = {
        "seglen": seglen,
        "alphabet": alphabet,
        "min_len": min_len,
        "max_len": max_len,
        "max_overlap": max_overlap,
    }
    if mode == "robust":
        given = [name for name, value in exact_only.items() if value is not None]
        if given:
            raise OtherModeError(
                f"{option(given[0])} is a parameter of the exact mode: pass "
                f"{option('mode', repr('exact'))} to use it (the robust mode takes "
                f"{option('length')}, {option('minsup')}, {option('top')} and {option('keep')})"
            )
        return robust_params(length=length, minsup=minsup, top=top, keep=keep)
    robust_only = {"length": length is not None, "keep": keep != "all"}
    robust_given = [name for name, given in robust_only.items() if given]
    if robust_given:
        raise OtherModeError(
            f"{option(robust_given[0])} is a parameter of the robust mode (the default "
            f"{option('mode')}); the exact mode keeps every pattern frequent enough, "
            f"{option('seglen')} × its letters long"
        )
    if seglen is None:
        raise OtherModeError(
            f"{option('mode', repr('exact'))} needs {option('seglen')}, the points per letter"
        )
    values = {
        name: EXACT_DEFAULTS[name] if value is None else value
        for name, value in exact_only.items()
        if name != "seglen"
    }
    return exact_params(seglen=seglen, minsup=minsup, top=top, **values)


def robust_params(*, length: object, minsup: object, top: object, keep: object = "all") -> RobustParams:
    """Check the tuning values of the robust mode, in signature order, before any work.

    Raises
    ------
    TypeError
        For a value of the wrong type.
    ValueError
        For a value out of its range; the message names the value and the range.
    """
    checked_length = (
        None
        if length is None
        else whole_number(length, "length", LENGTH_MIN, INT32_MAX, "points")
    )
    checked_minsup = _fraction(
        minsup, "minsup", "the fraction of the series that must hold a motif", above_zero=True
    )
    checked_top = checked_count(top, "top", "motifs")
    return RobustParams(length=checked_length, minsup=checked_minsup, top=checked_top, keep=checked_keep(keep))


def checked_keep(keep: object) -> Keep:
    """keep, checked: one of KEEPS."""
    for name in KEEPS:
        if keep == name and isinstance(keep, str):
            return name
    raise ValueError(
        f"keep must be one of {', '.join(map(repr, KEEPS))} (every motif with its evidence, or the "
        f"likely ones only), got {keep!r}"
    )


def exact_params(
    *,
    seglen: object,
    alphabet: object,
    minsup: object,
    min_len: object,
    max_len: object,
    max_overlap: object,
    top: object,
) -> ExactParams:
    """Check the tuning values of the exact mode.

    Every value is checked, in signature order, before any work; the first bad one raises.

    Raises
    ------
    TypeError
        For a value of the wrong type (a float or a bool where a whole number is expected, a
        str where a number is expected).
    ValueError
        For a value out of its range; the message names the value and the range.
    """
    checked_seglen = whole_number(seglen, "seglen", 1, INT32_MAX, "points per letter")
    checked_alphabet = whole_number(alphabet, "alphabet", ALPHABET_MIN, ALPHABET_MAX, "letters")
    checked_minsup = _fraction(
        minsup, "minsup", "the fraction of the series a pattern must occur in", above_zero=True
    )
    checked_min_len = whole_number(min_len, "min_len", 1, INT32_MAX, "letters")
    checked_max_len = whole_number(max_len, "max_len", 0, INT32_MAX, "letters, 0 for no limit")
    if 0 < checked_max_len < checked_min_len:
        raise ValueError(
            f"max_len must be 0 (no limit) or at least min_len ({checked_min_len}) letters, "
            f"got {checked_max_len}"
        )
    longest = checked_max_len or checked_min_len
    if checked_seglen * longest > INT32_MAX:
        raise ValueError(
            f"seglen × {'max_len' if checked_max_len else 'min_len'} must be at most {INT32_MAX} "
            f"points (a motif's length), got {checked_seglen} × {longest}"
        )
    checked_overlap = _fraction(
        max_overlap, "max_overlap", "the share of a pattern that may repeat a longer one"
    )
    checked_top = checked_count(top, "top", "motifs")
    return ExactParams(
        seglen=checked_seglen,
        alphabet=checked_alphabet,
        minsup=checked_minsup,
        min_len=checked_min_len,
        max_len=checked_max_len,
        max_overlap=checked_overlap,
        top=checked_top,
    )


def checked_count(value: object, name: str, unit: str) -> int | None:
    """A count such as top: a whole number of unit from 0 up, 0 or None for all (None)."""
    if value is None:
        return None
    count = whole_number(value, name, 0, INT32_MAX, f"{unit}, 0 or None for all")
    return count or None


def whole_number(value: object, name: str, low: int, high: int, unit: str) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(
            f"{name} must be a whole number of {unit}, got {value!r} ({type(value).__name__})"
        )
    number = operator.index(value)
    if not low <= number <= high:
        bound = f"from {low} to {high}" if high < INT32_MAX else f"at least {low}"
        raise ValueError(f"{name} must be a whole number of {unit}, {bound}, got {number}")
    return number


def _fraction(value: object, name: str, meaning: str, *, above_zero: bool = False) -> float:
    bound = "above 0 and at most 1" if above_zero else "from 0 to 1"
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number {bound} ({meaning}), got {value!r}")
    number = float(value)
    low_ok = number > 0.0 if above_zero else number >= 0.0
    if math.isnan(number) or not (low_ok and number <= 1.0):
        raise ValueError(f"{name} must be a number {bound} ({meaning}), got {number}")
    return number
