"""Every occurrence of a robust motif: all non-overlapping windows within a radius of its shape."""

import io
import math
import pathlib

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import assume, given, settings, strategies as st

import zorp_miner
from conftest import examples
from zorp_miner.cli import main
from zorp_miner.search.occurrences import default_radius

Data = npt.NDArray[np.float64]


def direct_distances(values: Data, shape: Data) -> Data:
    """sqrt(2 (1 - r)) of every window of values to shape, computed window by window; inf for
    a window holding a NaN."""
    m = len(shape)
    out = np.full(len(values) - m + 1, math.inf)
    for start in range(len(out)):
        window = values[start : start + m]
        if np.isfinite(window).all():
            r = float(np.corrcoef(window, shape)[0, 1])
            out[start] = math.sqrt(max(0.0, 2.0 * (1.0 - r)))
    return out


def walks_with_plants(seed: int) -> tuple[Data, int]:
    """A few random walks, a noisy bump planted 0 to 3 times in each and a short gap of
    missing points in one; the shape's length."""
    rng = np.random.default_rng(seed)
    count, points = int(rng.integers(3, 7)), int(rng.integers(200, 420))
    m = int(rng.integers(16, 40))
    data = np.cumsum(rng.normal(size=(count, points)), axis=1)
    shape = 8.0 * np.sin(np.linspace(0.0, 2.0 * np.pi, m)) ** 3
    for row in data:
        for slot in rng.permutation(points // (2 * m))[: int(rng.integers(0, 4))]:
            row[2 * m * slot : 2 * m * slot + m] += shape + rng.normal(0.0, 0.5, m)
    gap = int(rng.integers(0, points - 5))
    data[int(rng.integers(count)), gap : gap + 3] = np.nan
    return data, m


@settings(max_examples=examples(15), deadline=None)
@given(st.integers(0, 2**32 - 1), st.sampled_from([None, 0.3, 0.8]))
def test_occurrences_are_every_window_within_the_radius_none_overlapping(
    seed: int, radius: float | None
) -> None:
    data, m = walks_with_plants(seed)
    motifs = zorp_miner.find_motifs(data, length=m, top=4)
    table = motifs.occurrences(data, max_distance=radius)
    for motif, limit in zip(motifs, table.max_distances.tolist(), strict=True):
        found = motif.occurrences(data, max_distance=radius)
        assert found.max_distance == limit >= (motif.distances.max() if radius is None else radius)
        assert (np.diff(found.distances) >= 0).all()  # closest first
        mine = table.ranks == motif.rank
        assert table.series[mine].tolist() == found.series.tolist()
        assert table.starts[mine].tolist() == found.starts.tolist()
        for s in range(len(data)):
            starts = found.starts[found.series == s]
            assert (np.diff(np.sort(starts)) >= m).all()  # no two overlap
            held = dict(zip(starts.tolist(), found.distances[found.series == s].tolist()))
            direct = direct_distances(data[s], motif.representative)
            for start, distance in held.items():
                assert distance <= limit and distance == pytest.approx(direct[start], abs=1e-6)
            # Every window within the radius is taken or overlaps one as close, taken before it.
            for start in np.flatnonzero(direct <= limit - 1e-6).tolist():
                assert any(
                    abs(start - other) < m and held[other] <= direct[start] + 1e-6
                    for other in held
                ), (motif.rank, s, start)
        if radius is None:
            # The loosest best match, and for a likely motif up to the widest gap in every
            # window's distance, never beyond their median: the search within it, cut there.
            every = motif.occurrences(data, max_distance=math.inf)
            floor = default_radius(motif)
            typical = float(np.median(every.distances[np.isfinite(every.distances)]))
            if motif.likely:
                assert floor <= limit <= max(floor, typical)
            else:
                assert limit == floor
                # Only series that hold the motif: the others' best matches are beyond it.
                assert set(found.series.tolist()) <= set(motif.series.tolist())
            kept = every.distances <= limit
            assert found.series.tolist() == every.series[kept].tolist()
            assert found.starts.tolist() == every.starts[kept].tolist()
            for s, best, distance in zip(motif.series, motif.best_matches, motif.distances):
                taken = found.starts[found.series == s].tolist()
                # The series' best match, or a window as close over it (a tie up to rounding).
                assert best in taken or any(
                    abs(best - start) < m and d <= distance + 1e-7
                    for start, d in zip(taken, found.distances[found.series == s])
                )


@settings(max_examples=examples(15), deadline=None)
@given(st.integers(0, 2**32 - 1))
def test_a_shape_planted_k_times_in_a_series_occurs_k_times_there(seed: int) -> None:
    rng = np.random.default_rng(seed)
    m, pad, count = 32, 8, int(rng.integers(3, 7))
    # Copies padded on both sides: the motif is the same window of each copy whatever the
    # offset (up to 2 pad points) the run settles on.
    t = np.linspace(0.0, 1.0, m + 2 * pad)
    shape = 10.0 * np.sin(3.0 * np.pi * t) ** 3 + np.cumsum(rng.normal(size=m + 2 * pad))
    data = np.cumsum(rng.normal(size=(count, 12 * m)), axis=1)
    planted: list[list[int]] = []
    for row in data:
        # 1 to 4 copies, at any level and scale, in separate slots of 3 m points.
        slots = np.sort(rng.permutation(4)[: int(rng.integers(1, 5))])
        starts = [int(3 * m * slot + rng.integers(0, m - 2 * pad)) for slot in slots]
        for start in starts:
            row[start : start + len(shape)] = rng.uniform(1.0, 3.0) * shape + rng.normal(0.0, 20.0)
        planted.append(starts)
    motif = min(zorp_miner.find_motifs(data, length=m), key=lambda one: one.score)
    # The draws where the run found the planted shape: each best match in a copy, at the
    # same place in it (the run misses it now and then, which is not what is tested here).
    offsets = [
        best - start
        for s, best in zip(motif.series.tolist(), motif.best_matches.tolist())
        for start in planted[s]
        if 0 <= best - start <= 2 * pad
    ]
    assume(len(offsets) == count and len(set(offsets)) == 1)
    found = motif.occurrences(data)
    for s, starts in enumerate(planted):
        assert sorted(found.starts[found.series == s].tolist()) == [a + offsets[0] for a in starts]


def test_csv_of_the_command_is_the_table_of_matches_frame(
    tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    pandas = pytest.importorskip("pandas")
    data, m = walks_with_plants(7)
    data = np.nan_to_num(data)
    path = tmp_path / "walks.csv"
    np.savetxt(path, data, delimiter=",")
    assert main([str(path), "--length", str(m), "--top", "3", "--format", "csv"]) == 0
    written = pandas.read_csv(io.StringIO(capsys.readouterr().out))
    motifs = zorp_miner.find_motifs(zorp_miner.load(path), length=m, top=3)
    frame = motifs.matches_frame(zorp_miner.load(path))
    pandas.testing.assert_frame_equal(written, frame)
    assert len(frame) > len(motifs)
    # The array form holds the same rows.
    columns = motifs.occurrences(zorp_miner.load(path)).to_dict()
    assert {name: columns[name] for name in frame.columns} == frame.to_dict(orient="list")


def test_what_occurrences_refuse() -> None:
    data, m = walks_with_plants(3)
    motifs = zorp_miner.find_motifs(data, length=m, top=2)
    with pytest.raises(ValueError, match="series 1 of data has 99 points, the motifs were found"):
        motifs.occurrences([data[0], data[1][:99], *data[2:]])
    held = f"data holds 2 series, the motifs were found in {len(data)}"
    with pytest.raises(ValueError, match=held):
        motifs.occurrences(data[:2])
    with pytest.raises(ValueError, match="max_distance must be a number of 0 or more"):
        motifs[0].occurrences(data, max_distance=-0.1)
    with pytest.raises(ValueError, match=r"motif 1 matches series \d+ at \d+ for \d+ points"):
        motifs[0].occurrences([one[:m] for one in data])
    repeated = np.tile(np.sin(np.arange(300) / 4.0), (3, 1))
    exact = zorp_miner.find_motifs(repeated, mode="exact", seglen=4, top=1)
    with pytest.raises(ValueError, match="exact mode: their occurrences are their patterns'"):
        exact[:0].occurrences(repeated)
    with pytest.raises(ValueError, match="exact mode: its occurrences are its pattern's"):
        exact[0].occurrences(repeated)


def twice_in_each(seed: int) -> tuple[Data, list[list[int]], int]:
    """Twelve series of white noise, the first ten holding a shape of 40 points twice (at
    scales 1.5 to 3, noise added), the last two not; the copies' starts, the length."""
    rng = np.random.default_rng(seed)
    m = 40
    shape = np.repeat([0.0, 1.0, -0.5, 0.5], m // 4)
    data = rng.normal(size=(12, 800))
    copies: list[list[int]] = []
    for row in range(12):
        slots = [] if row >= 10 else rng.permutation(6)[:2].tolist()
        starts = sorted(int(3 * m * slot + rng.integers(0, m)) for slot in slots)
        for start in starts:
            data[row, start : start + m] += 3.0 * rng.uniform(1.5, 3.0) * shape + rng.normal(size=m)
        copies.append(starts)
    return data, copies, m


@pytest.mark.parametrize("seed", range(4))
def test_the_default_radius_finds_a_series_other_copies_and_nothing_else(seed: int) -> None:
    data, copies, m = twice_in_each(seed)
    motif = zorp_miner.find_motifs(data, length=m, top=1)[0]
    assert motif.likely
    found = motif.occurrences(data)
    # Nothing but copies, each by one window over half of it or more; all of them but at most
    # one of the 20 (in 3 of 200 draws the widest gap falls below a series' faintest copy);
    # more than the loosest best match takes: it stops short of the copies beyond a series'
    # best match, its closest.
    on = 0
    for row, starts in enumerate(copies):
        for start in found.starts[found.series == row].tolist():
            assert sum(abs(start - c) <= m // 2 for c in starts) == 1, (row, start)
            on += 1
    assert on == len(found) >= 19
    assert len(motif.occurrences(data, max_distance=default_radius(motif))) < len(found)
