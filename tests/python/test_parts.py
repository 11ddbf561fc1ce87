"""Runs over series held in parts give the run over one part, bit for bit, whatever the cuts."""

import math
from unittest import mock

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zorp_cpp
import reference
import zorp_miner
from conftest import assert_same_motifs, examples, planted_walks, random_walks
from zorp_miner import _native
from zorp_miner.exact import parts as _exact_parts
from zorp_miner.cluster.parts import LocalParts, split_points
from zorp_miner.robust import store as robust_store
from zorp_miner.robust.candidates import proposals
from zorp_miner.robust.refine import realigned_each
from zorp_miner.robust.rules import ALPHABETS
from zorp_miner.robust.store import RobustStore, _fixed_scale
from zorp_miner.robust.tasks import SERIES, window_words
from zorp_miner.compute.sliding import SeriesBank, znormalised
from zorp_miner.api import run, run_parts
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set
from zorp_miner.params import exact_params, robust_params

# Parts of unequal sizes, one of a single series; and every series a part of its own.
CUTS = [(2, 9, 10, 22), tuple(range(1, 30))]


def exact(top: int | None = None, seglen: int = 8, alphabet: int = 5) -> zorp_miner.ExactParams:
    return exact_params(
        seglen=seglen, alphabet=alphabet, minsup=0.5, min_len=3, max_len=0, max_overlap=0.9, top=top
    )


@pytest.fixture(scope="module")
def walks() -> list[FloatArray]:
    return as_series_set([walk[: 200 + 13 * (i % 7)] for i, walk in enumerate(random_walks(30, 300, seed=8))])


@pytest.mark.parametrize("cuts", CUTS)
@pytest.mark.parametrize("top", [None, 3])
def test_exact_parts_give_the_run_in_one_part(walks: list[FloatArray], cuts: tuple[int, ...], top: int | None) -> None:
    params = exact(top)
    assert_same_motifs(run_parts(LocalParts(walks, cuts), params), run(walks, params))


def test_exact_parts_give_what_the_native_miner_gives(walks: list[FloatArray]) -> None:
    expected = reference.exact_motifs(walks, exact())
    assert len(expected) > 10
    assert_same_motifs(run_parts(LocalParts(walks, CUTS[0]), exact()), expected)
    assert_same_motifs(zorp_miner.find_motifs(walks, mode="exact", seglen=8, alphabet=5), expected)


def exact_sets(data: st.DataObject) -> tuple[list[FloatArray], zorp_miner.ExactParams, tuple[int, ...]]:
    """A set of series of unequal lengths (walks, noise, or the same few levels in shuffled
    chunks, whose motifs tie), parameters of the exact mode, and cuts into parts."""
    draw = data.draw
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    count = draw(st.integers(2, 14))
    kind = draw(st.sampled_from(["walks", "noise", "chunks"]))
    series = []
    for _ in range(count):
        points = int(rng.integers(8, 260))
        values: FloatArray
        if kind == "walks":
            values = np.cumsum(rng.normal(size=points))
        elif kind == "noise":
            values = rng.normal(size=points)
        else:
            levels = rng.choice(np.array([-2.0, -1.0, 1.0, 2.0]), size=-(-points // 4))
            values = np.repeat(levels, 4)[:points]
        series.append(values * draw(st.sampled_from([1.0, 1e-3, 1e6])))
    max_len = draw(st.sampled_from([0, 0, 3, 6]))
    params = exact_params(
        seglen=draw(st.integers(1, 9)),
        alphabet=draw(st.integers(2, 10)),
        minsup=draw(st.sampled_from([0.3, 0.5, 0.75, 1.0])),
        min_len=draw(st.integers(1, 4)) if max_len == 0 else draw(st.integers(1, max_len)),
        max_len=max_len,
        max_overlap=draw(st.sampled_from([0.0, 0.5, 0.9, 1.0])),
        top=draw(st.sampled_from([None, 1, 3])),
    )
    cuts = tuple(sorted(draw(st.sets(st.integers(1, count - 1), max_size=count - 1))))
    return as_series_set(series), params, cuts


@settings(max_examples=examples(40), deadline=None)
@given(st.data())
def test_exact_runs_here_and_over_parts_are_the_native_miner_bit_for_bit(data: st.DataObject) -> None:
    series, params, cuts = exact_sets(data)
    expected = reference.exact_motifs(series, params)
    assert_same_motifs(run(series, params), expected)
    assert_same_motifs(run_parts(LocalParts(series, cuts), params), expected)


def test_rows_stack_each_parts_block_and_refuse_a_block_of_another_size() -> None:
    parts = LocalParts(as_series_set([[1.0, 2.0, 3.0]] * 4), (3,))
    kept = [[np.zeros(1), np.arange(6.0)], [np.zeros(1), np.arange(6.0, 8.0).reshape(1, 2)]]
    rows = parts.rows(kept, 1, [3, 1], 2)
    assert rows.dtype == np.float64 and rows.tolist() == [[0, 1], [2, 3], [4, 5], [6, 7]]
    with pytest.raises(ValueError, match="a block of 2 values is not 2 rows of 2 points"):
        parts.rows(kept, 1, [3, 2], 2)


def tied_series(count: int, seed: int) -> list[list[float]]:
    """Series that each hold the same 20 chunks of three levels (4 points each) in their own
    order: every occurrence of a pattern holds the same numbers, normalised alike, since the
    series share one multiset of values summing to 0. Most motifs' naed is 0 (averaging
    occurrences rounds the others' a little away from it)."""
    rng = np.random.default_rng(seed)
    triples = rng.choice(64, size=10, replace=False)
    levels = np.array([-3.0, -1.0, 1.0, 3.0])
    chunks = [levels[[t // 16, t // 4 % 4, t % 4]] for t in triples.tolist()]
    chunks += [-chunk for chunk in chunks]
    return [
        np.repeat(np.concatenate([chunks[i] for i in rng.permutation(20)]), 4).tolist()
        for _ in range(count)
    ]


def test_equal_naed_values_keep_the_miners_order() -> None:
    series = tied_series(8, seed=3)
    params = exact(seglen=4, alphabet=4)
    got = run_parts(LocalParts(as_series_set(series), (1, 3, 4)), params)
    natives = _zorp_cpp.Miner(0.5, 4, 4, k=0).mine(series)
    # More than 16 ties: std::sort then leaves insertion sort for its partitioning steps.
    assert sum(m.naed == 0.0 for m in got) > 16
    assert [m.pattern for m in got] == [m.pattern for m in natives]
    assert [m.pattern for m in got] != sorted(m.pattern for m in got)


@pytest.mark.parametrize("cuts", CUTS)
@pytest.mark.parametrize("length", [96, None])
def test_robust_parts_give_the_run_in_one_part(cuts: tuple[int, ...], length: int | None) -> None:
    series = as_series_set(planted_walks(30, seed=5))
    params = robust_params(length=length, minsup=0.5, top=None)
    one = run(series, params)
    assert len(one) >= 1 and one[0].support >= 15
    assert_same_motifs(run_parts(LocalParts(series, cuts), params), one)


@pytest.mark.parametrize("cuts", [(), (7, 19)])
def test_robust_parts_give_the_run_in_one_part_when_the_search_reads_a_sample(
    monkeypatch: pytest.MonkeyPatch, cuts: tuple[int, ...]
) -> None:
    # The searches read only the sample's series and their nulls, the motifs are matched in
    # every series: a part's other series must not change what the sample's give.
    monkeypatch.setattr(robust_store, "SAMPLE", 12)
    series = as_series_set(planted_walks(30, seed=6))
    params = robust_params(length=96, minsup=0.5, top=None)
    assert_same_motifs(run_parts(LocalParts(series, cuts), params), run(series, params))


@settings(max_examples=examples(20), deadline=None)
@given(
    seed=st.integers(0, 2**16),
    m=st.sampled_from([8, 20, 40]),
    null=st.sampled_from([SERIES, (5, 1), (10, 2)]),
    factor=st.sampled_from([1, 2]),
)
def test_a_store_asked_for_some_series_gives_their_columns_of_every_series(
    seed: int, m: int, null: tuple[int, int], factor: int
) -> None:
    # Nulls and banks are made only for the series asked for and kept for later asks: rows in
    # any order, asked after other rows, give the columns of the ask over every series.
    rng = np.random.default_rng(seed)
    series = as_series_set([np.cumsum(rng.normal(size=int(rng.integers(m, 6 * m)))) for _ in range(14)])
    shapes = np.stack([znormalised(rng.normal(size=m // factor)) for _ in range(3)])
    every = RobustStore(LocalParts(series, (5,))).best(m // factor, shapes, factor=factor, null=null)
    store = RobustStore(LocalParts(series, (5,)))
    for _ in range(3):
        rows = rng.choice(14, size=int(rng.integers(1, 15)), replace=False).astype(np.int64)
        starts, best = store.best(m // factor, shapes, factor=factor, rows=rows, null=null)
        assert starts.tolist() == every[0][:, rows].tolist()
        assert best.tobytes() == np.ascontiguousarray(every[1][:, rows]).tobytes()
        places = [(int(i), int(rng.integers(-m, m)), int(rng.integers(m, 3 * m))) for i in rows]
        whole = store.windows([(i, 0, len(series[i])) for i in range(14)], null=null)
        for got, (i, lo, hi) in zip(store.windows(places, null=null), places, strict=True):
            assert got.tobytes() == window(whole[i], lo, hi).tobytes()


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_proposals_over_parts_are_the_proposals_over_one_part(alphabet: int) -> None:
    series = as_series_set(planted_walks(12, seed=2))
    m, letters = 48, 8
    owners, starts, means = window_words(series, m, letters)
    native = reference.propose(series, owners, starts, means, m, alphabet, 3.0, 20)
    assert len(native) >= 5
    for cuts in [(), (3, 4, 9)]:
        store = RobustStore(LocalParts(series, cuts))
        shapes, names = _proposals_of(store, m, letters, alphabet)
        assert names == [word for _, _, word in native]
        expected = [znormalised(series[owner][start : start + m]) for owner, start, _ in native]
        assert np.array(shapes).tobytes() == np.array(expected).tobytes()


def _proposals_of(store: RobustStore, m: int, letters: int, alphabet: int) -> tuple[FloatArray, list[str]]:
    """The proposals of one alphabet, 20 wanted."""
    return proposals(store, m, letters, 3.0, 20, alphabets=(alphabet,))


def proposal_windows(seed: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Owners, starts and segment means of 10 windows in each of 30 series."""
    means = np.random.default_rng(seed).normal(size=(300, 8))
    return np.repeat(np.arange(30), 10), np.tile(np.arange(10) * 7, 30), means


def test_member_sums_add_up_over_any_parts() -> None:
    owners, starts, means = proposal_windows(0)
    counts = _native.count_keys(owners, starts, means, 3)
    projections, keys = _native.ranked_keys(counts, 3.0)
    whole = _native.sum_members(owners, starts, means, 3, projections, keys)
    for cut in (1, 7, 150, 299):
        low = _native.sum_members(owners[:cut], starts[:cut], means[:cut], 3, projections, keys)
        high = _native.sum_members(owners[cut:], starts[cut:], means[cut:], 3, projections, keys)
        assert (low[0] + high[0]).tolist() == whole[0].tolist()
        assert (low[1] + high[1]).tolist() == whole[1].tolist()
        assert (low[2] + high[2]).tolist() == whole[2].tolist()


def misaligned(array: np.ndarray) -> np.ndarray:
    """A copy of array whose data starts one byte past an aligned address, as the arguments of
    a task may arrive on a worker (unpickled from a buffer)."""
    raw = np.zeros(array.nbytes + 1, dtype=np.uint8)
    copy = raw[1:].view(array.dtype).reshape(array.shape)
    copy[...] = array
    assert not copy.flags.aligned
    return copy


def test_the_kernels_read_misaligned_arrays_as_aligned_ones() -> None:
    # Under the sanitizers a misaligned read of an int64 or a double is an error.
    owners, starts, means = proposal_windows(1)
    counts = _native.count_keys(owners, starts, means, 3)
    shifted = _native.count_keys(misaligned(owners), misaligned(starts), misaligned(means), 3)
    assert [[a.tolist() for a in c] for c in shifted] == [[a.tolist() for a in c] for c in counts]
    projections, keys = _native.ranked_keys(counts, 3.0)
    again = _native.ranked_keys([(misaligned(k), misaligned(w), misaligned(s)) for k, w, s in counts], 3.0)
    assert again[0].tolist() == projections.tolist() and again[1].tolist() == keys.tolist()
    whole = _native.sum_members(owners, starts, means, 3, projections, keys)
    shifted_sums = _native.sum_members(
        owners, starts, means, 3, misaligned(projections), misaligned(keys)
    )
    assert all(a.tolist() == b.tolist() for a, b in zip(whole, shifted_sums, strict=True))
    naeds = np.random.default_rng(2).normal(size=40)
    assert _native.ranking_order(misaligned(naeds)).tolist() == _native.ranking_order(naeds).tolist()


def test_a_series_best_matches_do_not_depend_on_the_others() -> None:
    # Series of different lengths once took one FFT size, the longest's, and their matches
    # then changed in the last bits with the set they were matched in.
    series = planted_walks(6, seed=9)
    shapes = np.stack([znormalised(series[0][10:110]), znormalised(series[3][50:150])])
    together = SeriesBank(series, 100).best(shapes)
    for i, one in enumerate(series):
        alone = SeriesBank([one], 100).best(shapes)
        assert alone[0][:, 0].tolist() == together[0][:, i].tolist()
        assert alone[1][:, 0].tobytes() == together[1][:, i].tobytes()


@pytest.mark.parametrize(("count", "parts"), [(10, 3), (3, 8), (1, 1), (100, 7)])
def test_split_points_cut_near_equal_parts(count: int, parts: int) -> None:
    points = split_points(count, parts)
    assert points[0] == 0 and points[-1] == count
    sizes = np.diff(points)
    assert sizes.min() >= 1 and sizes.max() - sizes.min() <= 1


@settings(max_examples=examples(30), deadline=None)
@given(
    seed=st.integers(0, 2**16),
    m=st.sampled_from([4, 20, 33, 64]),
    cuts=st.sampled_from([(1,), (3, 4, 9), tuple(range(1, 12))]),
)
def test_realigned_shapes_do_not_depend_on_the_parts_nor_the_members_order(
    seed: int, m: int, cuts: tuple[int, ...]
) -> None:
    rng = np.random.default_rng(seed)
    series = as_series_set([np.cumsum(rng.normal(size=int(rng.integers(m, 4 * m)))) for _ in range(12)])
    # Starts anywhere, the windows widened by m // 2 often running off the series.
    groups = []
    for _ in range(3):
        members = rng.choice(12, size=int(rng.integers(1, 13)), replace=False).astype(np.int64)
        starts = np.array([int(rng.integers(-m, len(series[i]))) for i in members.tolist()], dtype=np.int64)
        groups.append((starts, members))
    one = realigned_each(RobustStore(LocalParts(series)), groups, m)
    shuffled = []
    for starts, members in groups:
        order = rng.permutation(len(members))
        shuffled.append((starts[order], members[order]))
    split = realigned_each(RobustStore(LocalParts(series, cuts)), shuffled, m)
    for a, b, (starts, members) in zip(one, split, groups, strict=True):
        assert a.tobytes() == b.tobytes()
        # And the shape is the plain mean of the members' windows at some shift.
        half, step = m // 2, max(1, m // 32)
        block = np.stack([window(series[i], s - half, s + m + half) for i, s in zip(members, starts)])
        views = np.lib.stride_tricks.sliding_window_view(block, m, axis=1)[:, half % step :: step, :]
        means = np.array([_plain_mean_of_znormalised(views[:, j]) for j in range(views.shape[1])])
        assert np.min(np.abs(means - znormalised(a)).max(axis=1)) < 1e-6


def window(values: FloatArray, lo: int, hi: int) -> FloatArray:
    out = np.full(hi - lo, np.nan)
    a, b = max(lo, 0), min(hi, len(values))
    if b > a:
        out[a - lo : b - lo] = values[a:b]
    return out


def _plain_mean_of_znormalised(rows: FloatArray) -> FloatArray:
    deviation = rows.std(axis=1, keepdims=True)
    usable = np.isfinite(deviation) & (deviation > 0.0)
    centred = np.where(usable, (rows - rows.mean(axis=1, keepdims=True)) / np.where(usable, deviation, 1.0), 0.0)
    return znormalised(centred.mean(axis=0))


@pytest.mark.parametrize("count", [1, 1000, 10**7])
@pytest.mark.parametrize("m", [4, 10**4, 10**6])
def test_fixed_point_sums_of_windows_cannot_overflow(count: int, m: int) -> None:
    scale = _fixed_scale(count, m)
    # Every point of a z-normalised window lies within sqrt(m) of 0.
    assert count * (math.sqrt(m) * scale + 0.5) < 2.0**63
    assert scale >= 2.0**20


def test_statistics_beyond_memory_are_refused_as_the_miner_refuses_them_before_any_average(
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    # One letter per series, each motif 2**31 - 1 points long over 3000 series: terabytes.
    series = [[1.0, 2.0]] * 3000
    with pytest.raises(MemoryError) as native:
        _zorp_cpp.Miner(0.5, 2**31 - 1, 4, min_len=1).mine(series)
    monkeypatch.setattr(_exact_parts, "_averages_task", mock.Mock(side_effect=AssertionError))
    params = exact_params(seglen=2**31 - 1, alphabet=4, minsup=0.5, min_len=1, max_len=0, max_overlap=0.9, top=1)
    for cuts in [(), (1000,)]:
        with pytest.raises(MemoryError) as refused:
            run_parts(LocalParts(as_series_set(series), cuts), params)
        assert str(refused.value) == str(native.value)


@settings(max_examples=examples(40), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    alphabet=st.integers(2, 10),
    letters=st.integers(1, 8),
    windows=st.integers(0, 300),
    threads=st.sampled_from([1, 3]),
)
def test_key_counts_are_the_windows_and_series_of_each_word(
    seed: int, alphabet: int, letters: int, windows: int, threads: int
) -> None:
    """Each projection's keys, counted natively (by tally for the smaller key spaces, by sort
    for 10^7 and more), are the distinct words of the windows with their windows and series,
    keys ascending: a count by dictionary of the letters the cuts give."""
    rng = np.random.default_rng(seed)
    owners = np.sort(rng.integers(0, 12, windows)).astype(np.int64)
    # Few distinct means, so that words repeat within and across series.
    means = rng.choice(rng.normal(size=3 * alphabet), size=(windows, letters))
    counted = _native.count_keys(owners, np.zeros(windows, np.int64), means, alphabet, threads=threads)
    # Each mean's letter, as SAX gives it for a segment of one point.
    codes = [[ord(letter) - ord("a") for letter in word] for word in _zorp_cpp.sax(means.tolist(), 1, alphabet)]
    assert len(counted) == letters + 1
    for projection, (keys, window_counts, series_counts) in enumerate(counted):
        kept = [j for j in range(letters) if j + 1 != projection]
        expected: dict[int, tuple[int, set[int]]] = {}
        for w in range(windows):
            key = sum(codes[w][j] * alphabet**k for k, j in enumerate(kept))
            held, owners_of = expected.get(key, (0, set()))
            expected[key] = (held + 1, owners_of | {int(owners[w])})
        assert keys.tolist() == sorted(expected)
        assert window_counts.tolist() == [expected[key][0] for key in sorted(expected)]
        assert series_counts.tolist() == [len(expected[key][1]) for key in sorted(expected)]
