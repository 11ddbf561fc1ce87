"""Motifs across a set of series or within each series: the one rule that chooses, and the
options each kind of run refuses, so that no option is ever ignored. The Python interface and
the command line follow it alike; messages name the options as the interface in use spells
them.

- ``within=True`` (``--within``): motifs within each series; the robust mode only, and in this
  process (not on a cluster).
- ``within=None`` (the default): within when the data is a single series in the robust mode,
  across otherwise. ``within=False``: across.
- ``exclusion``: the zone of motifs within a series: refused for a run across a set.
- ``minsup``: the share of the series that must hold a motif across a set: refused, when given,
  for a run within a series (a motif there is held by one series).
"""

from __future__ import annotations

from zorp_miner._interface import option
from zorp_miner.params import INT32_MAX, ExactParams, RobustParams, whole_number


def checked_choice(
    params: RobustParams | ExactParams,
    within: object,
    exclusion: object,
    *,
    minsup_given: bool,
    on_cluster: bool,
) -> tuple[bool | None, int | None]:
    """within and the exclusion zone (points; None for the default), checked against the mode
    and where the run goes, before any work: what the data cannot change.

    Raises
    ------
    TypeError
        For a within that is not True, False or None, or an exclusion that is not a whole
        number.
    ValueError
        For an option the run would not use (see the module).
    """
    if within is not None and not isinstance(within, bool):
        raise TypeError(f"within must be True, False or None, got {within!r}")
    zone = None if exclusion is None else whole_number(exclusion, "exclusion", 0, INT32_MAX, "points")
    if within and isinstance(params, ExactParams):
        raise ValueError(
            f"{option('within', 'True')} finds motifs within each series, in the robust mode: leave "
            f"out {option('mode', repr('exact'))}"
        )
    if within and on_cluster:
        raise ValueError(f"motifs within a series are found in this process: leave out {option('client')}")
    if zone is not None and (within is False or isinstance(params, ExactParams)):
        raise ValueError(_exclusion_across())
    if within and minsup_given:
        raise ValueError(_minsup_within())
    return within, zone


def is_within(params: RobustParams | ExactParams, within: bool | None, series: int) -> bool:
    """Whether the run finds motifs within each of series series (see the module)."""
    if not isinstance(params, RobustParams):
        return False
    return within if within is not None else series == 1


def check_for_data(
    within: bool, chosen: bool | None, zone: int | None, *, minsup_given: bool, series: int
) -> None:
    """The options the data made unused, refused once it is read: within (is_within's answer)
    for series series, chosen the within asked for (None: left to the data).

    Raises
    ------
    ValueError
        For an exclusion zone given to a run across a set, or a minsup given to a run within a
        single series.
    """
    if not within and zone is not None:
        raise ValueError(_exclusion_across(series))
    if within and chosen is None and minsup_given:
        raise ValueError(_minsup_within(single=True))


def _exclusion_across(series: int | None = None) -> str:
    counted = "" if series is None else f" (these {series} series are searched across: give {option('within', 'True')} to search each within)"
    return (
        f"{option('exclusion')} is the exclusion zone of motifs within a series; a run across a set "
        f"does not use it: leave it out{counted}"
    )


def _minsup_within(single: bool = False) -> str:
    which = "a single series is searched within" if single else "a run within each series"
    return (
        f"{option('minsup')} is the share of the series that must hold a motif across a set; "
        f"{which}, where a motif is held by one series: leave it out"
    )
