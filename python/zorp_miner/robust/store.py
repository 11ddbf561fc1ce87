"""The series of a robust run, read part by part: `RobustStore`, through which the search
(``zorp_miner.robust.search``) reads them, and the searches it has made."""

from __future__ import annotations

import dataclasses
import math
from typing import cast

import numpy as np
import numpy.typing as npt

from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.robust.tasks import KeyTable, Null, RealignSums, SERIES, added_counts, added_sums, best_task, count_task, keys_task, members_task, nearest_task, realignment_task, windows_task
from zorp_miner._types import FloatArray, IntArray

SAMPLE = 256  # series the search runs on, at most: a mean over ceil(minsup x 256) of them is stable


@dataclasses.dataclass(frozen=True)
class Candidates:
    """The refined shapes of one search and their best matches in the sample's series.

    shapes is (C, m); starts and best (C, S), the columns the sample's series in its order.
    """

    shapes: FloatArray
    starts: IntArray
    best: FloatArray


def _fixed_scale(count: int, m: int) -> float:
    """The fixed-point scale (a power of two, at most 2^40) of the sums of count z-normalised
    windows of m points: every point lies within sqrt(m) of 0, so that the sum of count of them
    stays below 2^62 in magnitude."""
    bits = 62 - math.ceil(math.log2(max(1, count) * (math.sqrt(m) + 1.0)))
    return math.ldexp(1.0, min(40, bits))


class RobustStore:
    """The series of a robust run, read only through the per-series steps below.

    Each step runs as a task on every part of a set held in parts (``zorp_miner.cluster.parts``),
    reads that part's series alone (or their null, ``zorp_miner.compute.evidence.shuffled``, made
    from each series alone), and its results are put together in series order (tables of best
    matches side by side, the sums of realigned windows added up): the same whatever the parts.
    Parts held in this process keep what a task prepared from their series (the matching banks,
    the null series) for the next task that needs it.

    Attributes
    ----------
    lengths : numpy.ndarray of int64
        Points of every series.
    count : int
        The number of series.
    """

    def __init__(self, parts: Parts) -> None:
        self.parts = parts
        self.lengths = parts.lengths
        self.count = len(parts.lengths)
        self._sample: IntArray | None = None
        # The searches made, by length, core, candidates, null and growth (see `refined_search`).
        self.searches: dict[tuple[int, int, int, Null, bool], Candidates] = {}

    def sample(self) -> IntArray:
        """The series the search runs on: the SAMPLE of smallest content key (all of them in
        a smaller set), in the order of their keys (ties: by index)."""
        if self._sample is None:
            keys = [key for part in self.parts.run(keys_task) for key in part]
            order = sorted(range(self.count), key=lambda i: (keys[i], i))
            self._sample = np.array(order[:SAMPLE], dtype=np.int64)
        return self._sample

    def best(
        self,
        m: int,
        shapes: FloatArray,
        *,
        factor: int = 1,
        starts: bool = True,
        rows: IntArray | None = None,
        null: Null = SERIES,
    ) -> tuple[IntArray, FloatArray]:
        """Start (points) and distance of each shape's best match in every series, (C, N)
        each; with ``factor``, on the series averaged over blocks of factor points (the
        starts then count blocks). Without ``starts``, the distances only ((C, 0) starts).
        With ``rows`` (series indexes), in those series only, one column each in that order;
        with ``null``, in the null series of that segment length."""
        shapes = np.ascontiguousarray(shapes, dtype=np.float64)
        width = self.count if rows is None else len(rows)
        found_starts = np.zeros((len(shapes), width if starts else 0), np.int64)
        found_best = np.zeros((len(shapes), width))
        if len(shapes) == 0 or width == 0:
            return found_starts, found_best
        if rows is not None:
            return self._best_of(m, shapes, factor, starts, rows, null)
        # Each part's columns are put in place as it comes and dropped: this process holds
        # the table once, not once more in pieces.
        ends = [*self.parts.firsts[1:], self.count]
        for i, (part_starts, part_best) in self.parts.run_unordered(
            best_task, None, m, factor, shapes, starts, null
        ):
            columns = slice(self.parts.firsts[i], ends[i])
            found_best[:, columns] = part_best
            if part_starts is not None:
                found_starts[:, columns] = part_starts
        return found_starts, found_best

    def _best_of(
        self, m: int, shapes: FloatArray, factor: int, starts: bool, rows: IntArray, null: Null
    ) -> tuple[IntArray, FloatArray]:
        """`best` in the series of rows only (each part is asked for those it holds)."""
        wanted: dict[int, list[int]] = {}
        where: dict[int, list[int]] = {}
        for column, index in enumerate(rows.tolist()):
            part = self.parts.part_of(index)
            wanted.setdefault(part, []).append(index)
            where.setdefault(part, []).append(column)
        found_starts = np.zeros((len(shapes), len(rows) if starts else 0), np.int64)
        found_best = np.zeros((len(shapes), len(rows)))
        each: dict[int, tuple[object, ...]] = {part: (indexes,) for part, indexes in wanted.items()}
        for part, (part_starts, part_best) in self.parts.run_on(
            best_task, each, m, factor, shapes, starts, null
        ).items():
            found_best[:, where[part]] = part_best
            if part_starts is not None:
                found_starts[:, where[part]] = part_starts
        return found_starts, found_best

    def windows(self, places: list[tuple[int, int, int]], *, null: Null = SERIES) -> list[FloatArray]:
        """The points lo to hi of series i for each (i, lo, hi), NaN where the series has none
        (of the null series of that segment length with ``null``)."""
        wanted: list[list[tuple[int, int, int, int]]] = [[] for _ in self.parts.firsts]
        for k, (index, lo, hi) in enumerate(places):
            wanted[self.parts.part_of(index)].append((k, index, lo, hi))
        out: list[FloatArray] = [np.zeros(0)] * len(places)
        if not places:
            return out
        # Parts without a window wanted are not read.
        found = self.parts.run_on(windows_task, {i: (part,) for i, part in enumerate(wanted) if part}, null)
        for i, values in found.items():
            for (k, _, _, _), window in zip(wanted[i], values):
                out[k] = window
        return out

    def realignment_means(
        self, groups: list[tuple[IntArray, IntArray]], m: int, *, null: Null = SERIES
    ) -> list[tuple[FloatArray, npt.NDArray[np.bool_]]]:
        """For each (starts, members) of groups: the mean of the members' z-normalised windows
        of m points at every shift from their starts (``tasks.shifts``: the multiples of
        m // 32 from -m/2 to m/2), (shifts, m); and whether every member's window at a shift
        is usable (in the null series of that segment length with ``null``). Each part adds up
        its own members in fixed point (at `_fixed_scale`); the parts' sums are added up part
        after part where the parts are, exactly, so this process receives one sum per group."""
        ends = [*self.parts.firsts[1:], self.count]
        scales = [_fixed_scale(len(members), m) for _, members in groups]
        each = []
        for first, end in zip(self.parts.firsts, ends):
            part_groups = []
            for (starts, members), scale in zip(groups, scales):
                inside = (members >= first) & (members < end)
                part_groups.append((members[inside], starts[inside], scale))
            each.append((part_groups,))
        start: RealignSums | None = None
        total = self.parts.fold(added_sums, start, self.parts.keep(realignment_task, m, null, each=each))
        if total is None or any(group is None for group in total):
            raise ValueError("a group to realign has no members")
        return [
            (sums.astype(np.float64) / (scale * float(len(members))), valid)
            for (sums, valid), scale, (_, members) in zip(
                cast(list[tuple[IntArray, npt.NDArray[np.bool_]]], total), scales, groups
            )
        ]


    def key_counts(
        self, m: int, letters: int, alphabets: tuple[int, ...], *, rows: IntArray | None = None, null: Null = SERIES
    ) -> list[KeyTable]:
        """Per alphabet, the key counts of the proposal windows (``_native.count_keys``) of
        every part (of the series of rows, of their null with ``null``), added up part after
        part where the parts are (this process then receives one table per alphabet, not one
        per part)."""
        start: list[KeyTable] | None = None
        total = self.parts.fold(
            added_counts, start, self.parts.keep(count_task, m, letters, alphabets, _chosen(rows), null)
        )
        if total is None:
            raise ValueError("no part to count keys in")
        return total

    def member_averages(
        self,
        m: int,
        letters: int,
        alphabet: int,
        projections: IntArray,
        keys: npt.NDArray[np.uint64],
        *,
        rows: IntArray | None = None,
        null: Null = SERIES,
    ) -> tuple[IntArray, npt.NDArray[np.uint64], FloatArray]:
        """For each key: its windows, their fingerprints and the average of their means."""
        found = self.parts.run(members_task, m, letters, alphabet, projections, keys, _chosen(rows), null)
        counts = np.sum([part[0] for part in found], axis=0, dtype=np.int64)
        # Fingerprints add modulo 2^64; the fixed-point sums exactly, as Python integers.
        prints = np.zeros((len(keys), 2), np.uint64)
        for part in found:
            prints += part[1]
        sums = [[sum(values) for values in zip(*rows)] for rows in zip(*(part[2].tolist() for part in found))]
        averages = np.array(
            [[float(total) * MEMBER_UNIT / float(counts[e]) for total in sums[e]] for e in range(len(keys))],
            dtype=np.float64,
        ).reshape(len(keys), -1)
        return counts, prints, averages

    def nearest_members(
        self,
        m: int,
        letters: int,
        alphabet: int,
        projections: IntArray,
        keys: npt.NDArray[np.uint64],
        averages: FloatArray,
        *,
        rows: IntArray | None = None,
        null: Null = SERIES,
    ) -> list[tuple[int, int, str]]:
        """For each key, the window of its members nearest its average (the first on a tie,
        in series order): its series, its start and its word under the key's projection."""
        found = self.parts.run(
            nearest_task, m, letters, alphabet, projections, keys, averages, _chosen(rows), null
        )
        nearest: list[tuple[int, int, str]] = []
        for e in range(len(keys)):
            best = math.inf
            chosen: tuple[int, int, str] | None = None
            for squares, places in found:
                place = places[e]
                if place is not None and (chosen is None or squares[e] < best):
                    best, chosen = float(squares[e]), place
            if chosen is None:
                raise ValueError(f"key {int(keys[e])} of projection {int(projections[e])} has no window")
            nearest.append(chosen)
        return nearest


MEMBER_UNIT = 2.0**-32  # the fixed-point unit of the members' sums (the native module's)


def _chosen(rows: IntArray | None) -> frozenset[int] | None:
    """The series of rows as a set a task can test (None: every series)."""
    return None if rows is None else frozenset(rows.tolist())


def as_store(series: list[FloatArray] | Parts | RobustStore) -> RobustStore:
    """A store over series held in this process (one part), over parts, or the store given."""
    if isinstance(series, RobustStore):
        return series
    if isinstance(series, list):
        return RobustStore(LocalParts([np.asarray(s, dtype=np.float64).ravel() for s in series]))
    return RobustStore(series)
