"""Scoring a method's motifs against the planted instances, series by series.

A method's motif reports at most one window per series: its best match there. A hit is a
reported window that overlaps the planted instance of that series by at least half the shorter
of the two lengths; every other report is a false alarm. Precision is hits over the series the
motif reports, recall hits over the series holding a plant, F1 their harmonic mean, per set.
The main tables score the top motif; the two-shape section scores each planted shape against
every returned motif and keeps the best F1.
"""

from __future__ import annotations

import dataclasses

Matches = dict[int, tuple[int, int]]  # series -> (start, length) in points of the window reported
Plant = tuple[int, int]  # (start, length) in points


@dataclasses.dataclass(frozen=True)
class Score:
    """Hits and reports over the series of one set."""

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


def score(matches: Matches, plants: list[Plant | None]) -> Score:
    """The score of one motif's matches against one shape's plants (None: nothing planted)."""
    hits = 0
    for series, (start, length) in matches.items():
        plant = plants[series]
        if plant is not None and overlaps(start, length, *plant):
            hits += 1
    carriers = sum(1 for plant in plants if plant is not None)
    return Score(hits, len(matches), carriers)


def best_score(motifs: list[Matches], plants: list[Plant | None]) -> Score:
    """The best-F1 score of any of the motifs against one shape (nothing reported: F1 0)."""
    scores = [score(matches, plants) for matches in motifs] or [score({}, plants)]
    return max(scores, key=lambda s: s.f1)
