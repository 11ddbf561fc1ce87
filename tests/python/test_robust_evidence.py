"""What the robust mode promises for every draw: planted shapes are found and marked likely,
noise is marked chance, the length is found, two shapes are two motifs, and the scale of the
series does not matter."""

import math

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st

import reference
import zorp_miner
from conftest import examples
from zorp_miner.compute import evidence as _evidence
from zorp_miner.robust.motifs import Found
from zorp_miner.robust.search import discover, extent

FloatArray = npt.NDArray[np.float64]
M = 48


def burst(m: int = M) -> FloatArray:
    """A square wave of four plateaus."""
    return np.repeat([3.0, -3.0, 3.0, -3.0], m // 4)


def wave(m: int = M) -> FloatArray:
    """One period of a sine, as strong as the burst and nothing like it (correlation 0)."""
    return 3.0 * math.sqrt(2.0) * np.sin(2.0 * np.pi * np.arange(m) / m)


def hosts(count: int, points: int, rng: np.random.Generator) -> list[FloatArray]:
    """Noisy random walks: a slow walk under white noise of deviation 1."""
    return [np.cumsum(rng.normal(0.0, 0.05, points)) + rng.normal(0.0, 1.0, points) for _ in range(count)]


def plant(
    series: list[FloatArray], shape: FloatArray, carriers: list[int], rng: np.random.Generator
) -> list[int | None]:
    """shape added at an arbitrary point of each carrier; the starts (None elsewhere)."""
    starts: list[int | None] = [None] * len(series)
    for i in carriers:
        at = int(rng.integers(0, len(series[i]) - len(shape) + 1))
        series[i][at : at + len(shape)] += shape
        starts[i] = at
    return starts


def on_shape(motif: Found, starts: list[int | None], length: int) -> int:
    """The series whose match by motif shares half the shorter length with the planted shape."""
    hit = 0
    for i, s in motif.starts.items():
        at = starts[i]
        if at is not None and 2 * (min(s + motif.length, at + length) - max(s, at)) >= min(motif.length, length):
            hit += 1
    return hit


@settings(max_examples=examples(4), deadline=None)
@given(st.integers(0, 2**32 - 1))
def test_a_shape_planted_in_60_percent_of_the_series_is_the_top_motif_and_likely(seed: int) -> None:
    rng = np.random.default_rng(seed)
    series = hosts(20, 500, rng)
    carriers = rng.choice(20, size=12, replace=False).tolist()
    starts = plant(series, burst(), carriers, rng)
    top = discover(series, length=M, minsup=0.5, top=1)[0]
    assert top.likely and top.evidence >= 3
    assert on_shape(top, starts, M) >= 11
    assert top.support - on_shape(top, starts, M) <= 2


@settings(max_examples=examples(6), deadline=None)
@given(
    st.integers(0, 2**32 - 1),
    st.sampled_from([12, 30]),
    st.sampled_from([300, 900]),
    st.sampled_from(["white noise", "random walk"]),
)
def test_noise_gives_only_motifs_marked_as_chance(seed: int, count: int, points: int, kind: str) -> None:
    rng = np.random.default_rng(seed)
    series = [rng.normal(size=points) for _ in range(count)]
    if kind == "random walk":
        series = [np.cumsum(values) for values in series]
    found = discover(series, length=M, top=3)
    assert found and not any(motif.likely for motif in found)
    assert all(motif.evidence < 3 for motif in found)
    assert discover(series, length=M, top=3, keep="likely") == []


@settings(max_examples=examples(3), deadline=None)
@given(st.integers(0, 2**32 - 1))
def test_without_a_length_the_length_found_is_within_a_quarter_of_the_shapes(seed: int) -> None:
    rng = np.random.default_rng(seed)
    series = hosts(12, 500, rng)
    starts = plant(series, burst(), list(range(12)), rng)
    top = discover(series, top=1)[0]
    assert abs(top.length - M) <= M / 4
    assert on_shape(top, starts, M) >= 11


@settings(max_examples=examples(3), deadline=None)
@given(st.integers(0, 2**32 - 1), st.booleans(), st.sampled_from([M, None]))
def test_two_planted_shapes_are_two_motifs(seed: int, together: bool, length: int | None) -> None:
    rng = np.random.default_rng(seed)
    series = hosts(20, 600, rng)
    order = rng.permutation(20).tolist()
    first, second = (order, order) if together else (order[:10], order[10:])
    starts = [plant(series, burst(), first, rng), plant(series, wave(), second, rng)]
    found = discover(series, length=length, minsup=0.5 if together else 0.4, top=2)[:2]
    # Each is the top motif or the second, on its shape in most of the series holding it.
    for planted, carriers in zip(starts, (first, second), strict=True):
        assert any(3 * on_shape(motif, planted, M) >= 2 * len(carriers) for motif in found)


@settings(max_examples=examples(3), deadline=None)
@given(st.integers(0, 2**32 - 1), st.sampled_from([1e-300, 1e300, 7.0]), st.sampled_from([M, None]))
def test_scaled_series_give_the_same_motifs(seed: int, scale: float, length: int | None) -> None:
    rng = np.random.default_rng(seed)
    series = hosts(10, 400, rng)
    plant(series, burst(), list(range(10)), rng)
    # Shifted far from 0 too: the shapes stay, the values' magnitude goes.
    shifted = [(values + 100.0) * scale for values in series]
    expected = discover(series, length=length, top=2)
    got = discover(shifted, length=length, top=2)
    assert len(got) == len(expected) > 0
    for a, b in zip(got, expected, strict=True):
        assert (a.length, a.starts, a.support, a.likely) == (b.length, b.starts, b.support, b.likely)
        assert a.score == pytest.approx(b.score, abs=1e-9)
        assert a.evidence == pytest.approx(b.evidence, abs=1e-6)


def test_the_null_keeps_each_segment_and_the_series_values() -> None:
    rng = np.random.default_rng(3)
    values = np.cumsum(rng.normal(size=1000))
    values[100:110] = np.nan
    shuffled = _evidence.shuffled(values, 50, _evidence.content_key(values))
    assert len(shuffled) == len(values) and np.isnan(shuffled).sum() == 10
    # A walk stays a walk: the steps of the null are those of the series, but for the joints
    # (a joint carries the step that led into its segment), and it wanders as far.
    quantiles = np.linspace(0.05, 0.95, 19)
    steps = np.diff(values)
    kept = np.diff(shuffled)
    assert np.nanquantile(kept, quantiles) == pytest.approx(np.nanquantile(steps, quantiles), abs=0.05)
    assert 0.5 < np.nanstd(shuffled) / np.nanstd(values) < 2.0
    # White noise stays white noise: no walk is added at the joints.
    noise = rng.normal(size=4000)
    again = _evidence.shuffled(noise, 50, _evidence.content_key(noise))
    assert sorted(again.tolist()) == pytest.approx(sorted(noise.tolist()), abs=0.2)
    assert abs(np.corrcoef(again[:-200], again[200:])[0, 1]) < 0.1


@settings(max_examples=examples(150), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    points=st.integers(1, 700),
    seglen=st.integers(1, 60),
    gaps=st.integers(0, 30),
    walk=st.booleans(),
)
def test_the_null_is_the_segment_by_segment_shuffle_bit_for_bit(
    seed: int, points: int, seglen: int, gaps: int, walk: bool
) -> None:
    rng = np.random.default_rng(seed)
    values = rng.normal(size=points)
    values = np.cumsum(values) if walk else values
    values[rng.integers(0, points, size=gaps)] = np.nan
    key = _evidence.content_key(values)
    memory = _evidence.autocorrelation(values, seglen)
    for draw in range(3):
        got = _evidence.shuffled(values, seglen, key, draw, memory=memory)
        expected = reference.shuffled_segment_by_segment(values, seglen, key, draw, memory)
        assert got.tobytes() == expected.tobytes()


def test_the_extent_of_windows_is_where_they_agree() -> None:
    rng = np.random.default_rng(5)
    windows = []
    for _ in range(8):
        window = rng.normal(size=120)
        window[30:78] += burst()
        windows.append(window)
    assert abs(extent(windows) - M) <= 6
    assert extent([rng.normal(size=120) for _ in range(8)]) <= 120


@settings(max_examples=examples(8), deadline=None)
@given(st.integers(0, 2**32 - 1), st.sampled_from([40, 120, 149, 150]), st.sampled_from([6, 14]))
def test_evidence_is_never_nan_and_why_names_what_is_missing(seed: int, m: int, count: int) -> None:
    """GunPoint at lengths 80, 149 and 150 reported evidence nan, without a reason; and a
    tight motif held by a few series too few was marked chance like one beyond none."""
    rng = np.random.default_rng(seed)
    series = [np.cumsum(rng.normal(size=150)) for _ in range(count)]
    for motif in zorp_miner.find_motifs(series, length=m):
        assert not math.isnan(motif.evidence)
        assert motif.likely is (motif.why == "")
        assert motif.why in ("", "chance", "few series", "chance, few series") or motif.why.startswith(
            "evidence unmeasured: "
        )
        if motif.why.startswith("evidence unmeasured"):
            assert motif.evidence == 0.0
        needed = math.ceil(0.5 * count)
        assert ("few series" in motif.why) is (motif.support < needed and not motif.why.startswith("evidence"))
        assert ("chance" in motif.why) is (motif.evidence < 3 and not motif.why.startswith("evidence"))


def test_an_evident_motif_held_by_too_few_series_is_marked_few_series_not_chance() -> None:
    rng = np.random.default_rng(0)
    series = hosts(20, 500, rng)
    starts = plant(series, burst(), list(range(9)), rng)  # 9 of 20, under minsup 0.5
    found = [motif for motif in discover(series, length=M, top=3) if on_shape(motif, starts, M) >= 8]
    assert found and found[0].evidence >= 3 and not found[0].likely
    assert found[0].why == "few series"
    shown = [m for m in zorp_miner.find_motifs(series, length=M, top=3) if m.evidence == found[0].evidence]
    assert shown and shown[0].mark == "few series" and "few series" in repr(shown[0])
