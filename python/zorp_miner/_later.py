"""Values a result leaves on a cluster until they are first read.

An exact run on a Dask cluster leaves each motif's ``average_occurrences`` (the bulk of a
result) with the workers that computed them: the motif holds what fetches them instead, under
the attribute ``LATER``, and fetches and keeps them when they are first read.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Protocol

from zorp_miner._errors import ClusterError
from zorp_miner._types import FloatArray

if TYPE_CHECKING:
    from zorp_miner.results import Motif, Motifs


class LaterRows(Protocol):
    """Rows of numbers left where the parts computed them, fetched when asked for."""

    def fetch(self) -> FloatArray:
        """The rows, a float64 array of shape (rows, width), in part order; a fresh array at
        every call."""
        ...


# The attribute of a Motif whose average_occurrences are still on a cluster: what fetches them.
LATER = "_later_averages"


def later_averages(motif: Motif, later: LaterRows) -> Motif:
    """motif, its average_occurrences left where they are until first read, then fetched by
    later and kept; whatever it was built with is dropped."""
    object.__delattr__(motif, "average_occurrences")
    object.__setattr__(motif, LATER, later)
    return motif


def fetch_all(motifs: Motifs) -> Motifs:
    """motifs, each motif's average_occurrences fetched from the cluster, one motif at a time."""
    for motif in motifs:
        motif.average_occurrences  # noqa: B018 (reading fetches and keeps them)
    return motifs


def fetched(motif: Motif, later: LaterRows) -> FloatArray:
    """The rows later fetches, as motif's read-only average_occurrences; a ClusterError that
    says what to do when they can no longer be read."""
    try:
        rows = later.fetch()
    except ClusterError as error:
        raise ClusterError(
            f"cannot read the average occurrences of motif {motif.rank} ({motif.pattern!r}): "
            f"{error}. Read average_occurrences (or copy or pickle the result) before closing "
            "the client, or run with lazy=False to fetch them with the result"
        ) from None
    rows = rows.reshape(len(motif.series), motif.length)
    rows.setflags(write=False)
    return rows
