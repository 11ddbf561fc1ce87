"""Scoring a method's top motif against the planted instances, series by series."""

from __future__ import annotations

import dataclasses


@dataclasses.dataclass(frozen=True)
class Score:
    """Hits and reports over the series of one set.

    A method reports at most one window per series (the top motif's best match there). A hit is
    a reported window that overlaps the planted instance by at least half the shorter of the two
    lengths; every other report is a false alarm.
    """

    hits: int
    reported: int
    planted: int

    @property
    def precision(self) -> float:
        return self.hits / self.reported if self.reported else 0.0

    @property
    def recall(self) -> float:
        return self.hits / self.planted if self.planted else 0.0

    @property
    def f1(self) -> float:
        p, r = self.precision, self.recall
        return 2 * p * r / (p + r) if p + r else 0.0


def overlaps(start: int, length: int, planted_start: int, planted_length: int) -> bool:
    """Whether two windows share at least half the shorter one's points."""
    shared = min(start + length, planted_start + planted_length) - max(start, planted_start)
    return 2 * shared >= min(length, planted_length)


def score(matches: dict[int, tuple[int, int]], planted_at: list[int | None], planted_length: int) -> Score:
    """matches maps a series to the (start, length) in points of the window reported there."""
    hits = 0
    for series, (start, length) in matches.items():
        planted = planted_at[series]
        if planted is not None and overlaps(start, length, planted, planted_length):
            hits += 1
    carriers = sum(1 for start in planted_at if start is not None)
    return Score(hits, len(matches), carriers)
