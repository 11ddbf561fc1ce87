"""Motifs within one long series: against an all-pairs computation, and the rules every motif
keeps (no self-matches, nothing within the exclusion zone, no window with a missing point)."""

import json
import math
import pathlib
import subprocess
import sys

import numpy as np
import numpy.typing as npt
import pytest
from hypothesis import given, settings, strategies as st

import zorp_miner
from reference import usable_windows
from conftest import examples
from zorp_miner.compute import threads as _threads
from zorp_miner.compute.shapes import shifted_distance
from zorp_miner.compute.sliding import FLAT_FRACTION, RESOLUTION, znormalised
from zorp_miner.within.motifs import group_evidence

FloatArray = npt.NDArray[np.float64]


def planted(
    seed: int, n: int, m: int, copies: int, *, gaps: int = 0, strength: float = 6.0
) -> tuple[FloatArray, list[int]]:
    """A random walk of n points with a shape of m points added at ``copies`` places at least
    2 m apart (scaled a little differently each time), and ``gaps`` missing points."""
    rng = np.random.default_rng(seed)
    values = np.cumsum(rng.normal(size=n))
    shape = strength * np.sqrt(m) * np.sin(np.linspace(0.0, 3.0 * np.pi, m)) * np.linspace(0.5, 1.5, m)
    slots = rng.choice(n // (3 * m) - 1, size=copies, replace=False)
    starts = sorted(int(slot) * 3 * m + int(rng.integers(0, m)) for slot in slots)
    for start in starts:
        values[start : start + m] += shape * rng.uniform(0.8, 1.2)
    for at in rng.integers(0, n - 1, size=gaps):
        values[at] = np.nan
    return values, starts


def all_pairs_closest(values: FloatArray, m: int, zone: int) -> float:
    """The smallest distance sqrt(2 (1 - r)) of two usable windows more than zone apart,
    comparing every window with every other."""
    usable = np.array(usable_windows(values.tolist(), m, FLAT_FRACTION, RESOLUTION))
    windows = np.lib.stride_tricks.sliding_window_view(values, m)[usable]
    starts = np.flatnonzero(usable)
    z = (windows - windows.mean(axis=1, keepdims=True)) / windows.std(axis=1, keepdims=True)
    r = z @ z.T / m
    r[np.abs(starts[:, None] - starts[None, :]) <= zone] = -np.inf
    return math.sqrt(2.0 * (1.0 - min(1.0, float(r.max()))))


def direct_distance(values: FloatArray, a: int, b: int, m: int) -> float:
    r = np.corrcoef(values[a : a + m], values[b : b + m])[0, 1]
    return math.sqrt(2.0 * (1.0 - r))


def assert_apart(motifs: zorp_miner.Motifs) -> None:
    """Every motif's windows start more than the exclusion zone apart (no self-match)."""
    assert motifs.within and motifs.exclusion is not None
    for motif in motifs:
        starts = np.sort(motif.best_matches)
        assert len(starts) >= 2
        assert np.all(np.diff(starts) > motifs.exclusion)


@settings(max_examples=examples(15), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    m=st.integers(16, 40),
    copies=st.integers(2, 6),
    gaps=st.integers(0, 6),
    exclusion=st.one_of(st.none(), st.integers(0, 60)),
)
def test_a_planted_shape_is_found_and_no_motif_matches_itself(
    seed: int, m: int, copies: int, gaps: int, exclusion: int | None
) -> None:
    values, starts = planted(seed, 40 * m, m, copies, gaps=gaps)
    motifs = zorp_miner.find_motifs(values, length=m, top=3, exclusion=exclusion)
    assert_apart(motifs)
    zone = math.ceil(m / 2) if exclusion is None else exclusion
    assert motifs.exclusion == zone
    for motif in motifs:
        assert set(motif.series.tolist()) == {0}
        for start in motif.best_matches.tolist():
            assert np.isfinite(values[start : start + m]).all()
    # The closest pair found is at least as close as the closest two whole copies (it may be
    # those, shifted copies, or a closer pair the walk happens to hold). The search finds it
    # first, so it is always returned; the ranking, by evidence, may put it second, behind a
    # group with more windows.
    whole = [s for s in starts if np.isfinite(values[s : s + m]).all()]
    copies_apart = [direct_distance(values, a, b, m) for a in whole for b in whole if b - a > zone]
    closest = min(motif.score for motif in motifs)
    assert closest <= min(copies_apart, default=math.inf) + 1e-9


@settings(max_examples=examples(6), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), m=st.integers(16, 64), copies=st.integers(4, 8))
def test_a_shape_planted_four_times_or_more_is_likely(seed: int, m: int, copies: int) -> None:
    # The evidence counts the windows beyond the pair: a pair alone, however close, is not
    # enough, and four clear copies are (the pair and two more). The closest pair may be two
    # copies' tails with the walk after them, a motif of its own found first: the likely one
    # ranks before it.
    values, _ = planted(seed, 40 * m, m, copies, strength=12.0)
    top = zorp_miner.find_motifs(values, length=m, top=3)[0]
    assert top.likely and top.support >= 4


@settings(max_examples=examples(4), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), m=st.integers(20, 48), copies=st.integers(5, 7))
def test_without_a_length_a_planted_shape_is_found_on_its_copies_and_once(seed: int, m: int, copies: int) -> None:
    # The lengths searched double from 8 points: the shape's is none of them, and each near
    # one finds a part of it or the part with context. Its motif is searched again at the
    # extent its windows agree over; one shape is reported once, whatever lengths found it.
    values, starts = planted(seed, 60 * m, m, copies, strength=12.0)
    motifs = zorp_miner.find_motifs(values, keep="all", top=None)
    top = motifs[0]
    assert top.likely and motifs.exclusion is None and top.exclusion == math.ceil(top.length / 2)
    # Its extent is where its windows agree most once z-normalised: the shape's loudest part
    # (the shape swells threefold along its length), which may recur twice in a copy, with
    # some of the walk beside it or not.
    # Its closest windows lie on the copies, one each (a search by example's wider radius may
    # add windows beyond them, as with a length given).
    assert top.length <= 4 * m
    closest = top.best_matches[np.argsort(top.distances, kind="stable")][: copies - 1].tolist()
    on = [{p for p in starts if p - top.length < s < p + m} for s in closest]
    assert all(on) and len(set().union(*on)) == copies - 1
    for motif in motifs:
        assert motif.exclusion == math.ceil(motif.length / 2)
        assert np.all(np.diff(np.sort(motif.best_matches)) > motif.exclusion)
    for i, a in enumerate(motifs):
        for b in list(motifs)[i + 1 :]:
            # most windows of the one with fewer (either, when as many) inside the other's
            for fewer, more in [(a, b), (b, a)]:
                if fewer.support > more.support:
                    continue
                shorter = min(a.length, b.length)
                shared = [
                    any(2 * (min(s + fewer.length, t + more.length) - max(s, t)) >= shorter for t in more.best_matches.tolist())
                    for s in fewer.best_matches.tolist()
                ]
                assert 2 * sum(shared) <= len(shared), (a, b)


def test_without_a_length_a_series_too_short_for_any_length_says_what_to_give() -> None:
    found = zorp_miner.find_motifs(np.sin(np.arange(30.0)), keep="all")
    assert len(found) == 0 and "needs at least 32 points" in found.reason and "give length" in found.reason


@settings(max_examples=examples(6), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), m=st.integers(16, 64), copies=st.integers(4, 8))
def test_a_likely_shape_is_not_hidden_behind_a_closer_chance_pair(seed: int, m: int, copies: int) -> None:
    # A stretch of the walk copied once elsewhere is the closest pair (distance 0) and nothing
    # more: with top=1 the planted shape still comes first, found after that pair.
    values, starts = planted(seed, 40 * m, m, copies, strength=12.0)
    rng = np.random.default_rng(seed)
    free = [a for a in range(0, len(values) - m, m) if all(abs(a - b) > 2 * m for b in starts)]
    source, target = sorted(rng.choice(free, size=2, replace=False).tolist())
    values[target : target + m] = values[source : source + m] - values[source] + values[target]
    top = zorp_miner.find_motifs(values, length=m, top=1)
    assert len(top) == 1 and top[0].likely and top[0].support >= 4, top[0].best_matches
    pairs = zorp_miner.find_motifs(values, length=m, keep="all")
    assert any({source, target} <= set(motif.best_matches.tolist()) for motif in pairs)


@settings(max_examples=examples(6), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), m=st.integers(16, 64), walk=st.booleans())
def test_a_plain_random_walk_or_white_noise_holds_no_likely_motif(seed: int, m: int, walk: bool) -> None:
    noise = np.random.default_rng(seed).normal(size=60 * m)
    motifs = zorp_miner.find_motifs(np.cumsum(noise) if walk else noise, length=m, top=3, keep="all")
    assert len(motifs) > 0
    assert not any(motif.likely for motif in motifs), [(motif.support, motif.evidence) for motif in motifs]


def test_the_evidence_comes_from_a_count_of_windows_beyond_the_pair() -> None:
    # Its one rule: the evidence of a count of windows beyond the pair (those within chance's
    # radius: the others a motif holds are copies by a search by example's radius), never of
    # more windows than the motif holds.
    values, _ = planted(2, 6000, 48, 7, strength=12.0)
    motifs = zorp_miner.find_motifs(values, length=48, top=4, keep="all")
    for motif in motifs:
        counts = [k for k in range(motif.support - 1) if math.isclose(group_evidence(k), motif.evidence)]
        assert counts, (motif.support, motif.evidence)
        assert motif.likely == (motif.evidence >= 3)
    assert motifs[0].likely and motifs[0].support >= 7


def beats(seed: int, n: int, period: int) -> FloatArray:
    """n points of one short spike over and over, every period points, sampled at a phase that
    drifts (so the spike's samples differ beat to beat), with a little noise."""
    rng = np.random.default_rng(seed)
    t = np.arange(n, dtype=np.float64)
    phase = np.cumsum(rng.normal(0.0, 0.02, size=n))
    spike = np.exp(-0.5 * ((np.mod(t + phase, period) - period / 2) / 0.8) ** 2)
    return 5.0 * spike + rng.normal(0.0, 0.05, size=n)


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_one_short_shape_over_and_over_is_one_motif_holding_its_beats(seed: int) -> None:
    # Before, the shuffles (which keep a quarter of a window) came as close as the beats did:
    # a tenth of the beats at each of ten phases, ten motifs of one shape.
    m, period, n = 40, 20, 6000
    motifs = zorp_miner.find_motifs(beats(seed, n, period), length=m, keep="all")
    likely = [motif for motif in motifs if motif.likely]
    assert len(likely) == 1, [(motif.support, motif.evidence) for motif in motifs]
    # A window holds two beats and keeps ceil(m / 2) points from the next: one in every
    # other beat at most.
    assert likely[0].support >= 0.8 * n / (2 * period + 1)
    assert_apart(motifs)


@settings(max_examples=examples(6), deadline=None)
@given(seed=st.integers(0, 2**32 - 1), period=st.integers(8, 24), walk=st.booleans())
def test_no_two_motifs_of_a_series_are_one_shape_at_two_phases(seed: int, period: int, walk: bool) -> None:
    values = beats(seed, 40 * period, period) + (np.cumsum(np.random.default_rng(seed).normal(0, 0.05, 40 * period)) if walk else 0.0)
    m = 2 * period
    motifs = zorp_miner.find_motifs(values, length=m, keep="all")
    for i, a in enumerate(motifs):
        for b in list(motifs)[i + 1 :]:
            # a's distances to its copies bound what a search for it takes as one
            distance = shifted_distance(a.representative, b.representative, m // 4)
            assert distance > float(np.max(a.distances)) or distance > float(np.max(b.distances)), (a, b)


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("noise", [False, True])
@pytest.mark.parametrize("exclusion", [None, 1])
def test_the_closest_pair_found_is_the_closest_of_all_pairs_computed_directly(
    seed: int, noise: bool, exclusion: int | None
) -> None:
    # A series' first motif is its closest pair; the ranking by evidence may put it later.
    m = 24
    zone = math.ceil(m / 2) if exclusion is None else exclusion
    if noise:
        values = np.cumsum(np.random.default_rng(seed).normal(size=1500))
    else:
        values, _ = planted(seed, 1500, m, 3, gaps=3)
    motifs = zorp_miner.find_motifs(values, length=m, keep="all", exclusion=exclusion)
    top = min(motifs, key=lambda motif: motif.score)
    a, b = top.best_matches[:2].tolist()
    assert b - a > zone
    assert top.score == pytest.approx(direct_distance(values, a, b, m), abs=1e-9)
    assert top.score == pytest.approx(all_pairs_closest(values, m, zone), abs=1e-9)


@settings(max_examples=examples(25), deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    kind=st.sampled_from(["walk", "noise", "planted"]),
    points=st.integers(300, 2500),
    m=st.integers(8, 64),
    share=st.floats(0.0, 1.0),
)
def test_the_closest_pair_is_the_exact_closest_pair_on_every_draw(
    seed: int, kind: str, points: int, m: int, share: float
) -> None:
    """Whatever the series and the exclusion zone, the closest pair verified is the closest of
    all pairs of usable windows beyond the zone (the whole profile is walked at these sizes)."""
    rng = np.random.default_rng(seed)
    if kind == "planted" and points >= 9 * m:
        values, _ = planted(seed, points, m, 2, gaps=2)
    elif kind == "noise":
        values = rng.normal(size=points)
    else:
        values = np.cumsum(rng.normal(size=points))
    zone = int(share * m)
    motifs = zorp_miner.find_motifs(values, length=m, keep="all", exclusion=zone, progress=False)
    exact = all_pairs_closest(values, m, zone)
    assert motifs, "a series with usable windows beyond the zone has a closest pair"
    closest = min(motif.score for motif in motifs)
    assert closest == pytest.approx(exact, abs=1e-9)


@pytest.mark.parametrize("exclusion", [0, 5, 20])
def test_a_narrow_exclusion_zone_still_gives_the_closest_pair(exclusion: int) -> None:
    # Windows a point or two apart in a rough walk are the closest by their segment means,
    # though not by their distance: they must not crowd the copies out of the proposals.
    values, _ = planted(33246731, 1600, 40, 2)
    motifs = zorp_miner.find_motifs(values, length=40, keep="all", exclusion=exclusion)
    closest = min(motif.score for motif in motifs)
    assert closest == pytest.approx(all_pairs_closest(values, 40, exclusion), abs=1e-9)


@pytest.mark.parametrize("exclusion", [None, 7])
def test_a_motif_written_alone_keeps_its_exclusion_zone(exclusion: int | None) -> None:
    # One motif's JSON is read without its run's parameters: it carries the zone itself.
    values, _ = planted(5, 1600, 40, 3)
    motifs = zorp_miner.find_motifs(values, length=40, exclusion=exclusion)
    zone = motifs.exclusion
    assert zone == (20 if exclusion is None else exclusion)
    assert all(json.loads(json.dumps(motif.to_dict()))["exclusion"] == zone for motif in motifs)
    across = zorp_miner.find_motifs([values[:800], values[800:]], length=40)
    assert all(motif.to_dict()["exclusion"] is None for motif in across)


def test_windows_holding_a_missing_point_never_match() -> None:
    # Every other point missing in a stretch holding a copy: only the other copies match.
    values, starts = planted(3, 4000, 32, 5)
    values[starts[2] : starts[2] + 32 : 2] = np.nan
    motifs = zorp_miner.find_motifs(values, length=32)
    assert_apart(motifs)
    for motif in motifs:
        for start in motif.best_matches.tolist():
            assert np.isfinite(values[start : start + 32]).all()
    found = motifs[0].best_matches.tolist()
    assert all(min(abs(s - plant) for s in found) <= 8 for plant in starts if plant != starts[2])
    assert all(abs(s - starts[2]) >= 31 for s in found)


def test_a_count_up_on_plateaus_of_a_counted_series_is_no_pair() -> None:
    # Counts (whole steps up to 40) with plateaus on which one point is one count up:
    # z-normalised, every such window is the same spike, a pair at distance 0.
    rng = np.random.default_rng(5)
    values = np.cumsum(rng.integers(-40, 41, 3000)).astype(np.float64)
    for at in range(100, 2900, 300):
        values[at : at + 60] = values[at]
        values[at + 30] += 1.0
    motifs = zorp_miner.find_motifs(values, length=16, top=3)
    assert len(motifs) > 0
    for motif in motifs:
        for start in motif.best_matches.tolist():
            assert np.std(values[start : start + 16]) > 1.0, (motif.rank, start)


def test_one_series_is_searched_within_in_any_form_and_across_only_when_asked() -> None:
    values, _ = planted(5, 3000, 40, 4)
    one = zorp_miner.find_motifs(values, length=40, top=2)
    assert one.within
    for same in (
        zorp_miner.find_motifs(values[None, :], length=40, top=2),
        zorp_miner.find_motifs([values.tolist()], length=40, top=2, within=True),
    ):
        assert same.to_dict() == one.to_dict()
    across = zorp_miner.find_motifs(values, length=40, top=2, within=False)
    assert not across.within


def test_each_series_of_a_set_is_searched_on_its_own() -> None:
    first, _ = planted(7, 2000, 32, 4)
    second = np.cumsum(np.random.default_rng(8).normal(size=2500))
    both = zorp_miner.find_motifs([first, second], length=32, within=True)
    alone = [zorp_miner.find_motifs(one, length=32) for one in (first, second)]
    pairs = {(int(m.series[0]), m.score) for m in both}
    assert pairs == {(i, m.score) for i, run in enumerate(alone) for m in run}
    ranks = [(not m.likely, -m.evidence) for m in both]
    assert ranks == sorted(ranks)
    assert not any(m.likely for m in alone[1])  # a random walk holds no likely motif


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"length": 16, "within": "yes"}, "within must be"),
        ({"length": 16, "exclusion": -1}, "exclusion"),
        ({"length": 16, "within": False, "exclusion": 4}, "exclusion is the exclusion zone of motifs within"),
        ({"length": 16, "within": True, "minsup": 0.9}, "minsup is the share of the series .* leave it out"),
        ({"length": 16, "minsup": 0.9}, "a single series is searched within"),
        ({"mode": "exact", "seglen": 4, "within": True}, "robust mode"),
        ({"length": 16, "within": True, "client": "tcp://127.0.0.1:1"}, "leave out client"),
    ],
)
def test_bad_requests_are_refused_with_what_to_pass(kwargs: dict[str, object], message: str) -> None:
    with pytest.raises((TypeError, ValueError), match=message):
        zorp_miner.find_motifs(np.sin(np.arange(500.0)), **kwargs)  # type: ignore[arg-type]


def test_an_option_the_run_would_not_use_is_refused_by_one_rule_in_both_interfaces(
    tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    """Exclusion across a set and minsup within a series were once ignored without a word."""
    from zorp_miner.cli import main

    walks = [np.cumsum(np.random.default_rng(k).normal(size=300)) for k in range(3)]
    with pytest.raises(ValueError, match=r"exclusion is the exclusion zone .*these 3 series are searched across: give within=True"):
        zorp_miner.find_motifs(walks, length=16, exclusion=4)
    np.save(tmp_path / "three.npy", np.stack(walks))
    np.save(tmp_path / "one.npy", walks[0])
    for command, message in [
        ([str(tmp_path / "three.npy"), "--length", "16", "--exclusion", "4"], "--exclusion is the exclusion zone"),
        ([str(tmp_path / "one.npy"), "--length", "16", "--within", "--minsup", "0.9"], "--minsup is the share"),
        ([str(tmp_path / "one.npy"), "--length", "16", "--minsup", "0.9"], "a single series is searched within"),
    ]:
        assert main(command) == 2
        err = capsys.readouterr().err
        assert err.count("\n") == 1 and message in err, err


def test_the_command_line_searches_a_one_series_file_within(tmp_path: pathlib.Path) -> None:
    values, starts = planted(11, 3000, 40, 4)
    path = tmp_path / "one.csv"
    path.write_text(",".join(f"{v:.6f}" for v in values) + "\n")
    command = [sys.executable, "-m", "zorp_miner", str(path), "--quiet"]
    shown = subprocess.run([*command, "--length", "40", "--top", "2"], capture_output=True, text=True)
    assert shown.returncode == 0, shown.stderr
    assert "within each series, length 40 points, exclusion 20 points" in shown.stdout
    first = shown.stdout.splitlines()[5].split()
    assert first[0] == "1" and first[5] == "likely"
    found = [int(cell.split(":")[1]) for cell in first[6:] if ":" in cell]
    assert all(min(abs(s - plant) for plant in starts) <= 10 for s in found)
    # Without a length the lengths are the run's: the shape is found at about its own.
    found_length = subprocess.run([*command, "--top", "1"], capture_output=True, text=True)
    assert found_length.returncode == 0, found_length.stderr
    assert "length found by the run, exclusion half each motif's length" in found_length.stdout
    first = found_length.stdout.splitlines()[5].split()
    assert first[0] == "1" and 20 <= int(first[1]) <= 80 and first[5] == "likely"


def periodic(seed: int) -> FloatArray:
    """A wave of period 30 points over a faint walk: windows of 40 points recur every 30."""
    rng = np.random.default_rng(seed)
    return 5.0 * np.sin(np.arange(3000) * 2.0 * np.pi / 30.0) + 0.05 * np.cumsum(rng.normal(size=3000))


@pytest.mark.parametrize("exclusion", [None, 10])
def test_the_occurrences_of_a_motif_within_a_series_are_its_windows(exclusion: int | None) -> None:
    # Its windows may overlap (they keep the exclusion zone, not their length, apart): the
    # occurrences keep the same zone, so that none of them is lost. They may hold more: the
    # windows within the radius that an earlier motif's windows kept from this one.
    values = periodic(3)
    motifs = zorp_miner.find_motifs(values, length=40, top=2, exclusion=exclusion)
    table = motifs.matches_frame(values)
    for motif in motifs:
        assert motif.exclusion == motifs.exclusion
        found = motif.occurrences(values)
        assert set(motif.best_matches.tolist()) <= set(found.starts.tolist())
        assert set(found.series.tolist()) == {0}
        assert motif.exclusion is not None
        assert np.all(np.diff(np.sort(found.starts)) > motif.exclusion)
        assert np.all(found.distances <= found.max_distance)
        rows = table[table["rank"] == motif.rank]
        assert sorted(rows["start"].tolist()) == sorted(found.starts.tolist())
    assert len(motifs[0].occurrences(values)) == motifs[0].support


def test_a_motif_within_a_series_is_drawn_as_its_windows() -> None:
    pytest.importorskip("matplotlib")
    from zorp_miner import plot

    values = periodic(4)
    motif = zorp_miner.find_motifs(values, length=40, top=1, exclusion=10)[0]
    matches = plot.plot_matches(motif, values).axes[0]
    assert f"{motif.support} windows" in matches.get_title()
    legend = matches.get_legend()
    assert legend is not None
    assert "series" not in " ".join(text.get_text() for text in legend.get_texts())
    lanes = plot.plot_occurrences(motif, values).axes[0]
    assert [label.get_text() for label in lanes.get_yticklabels()] == ["series 0"]
    assert f"its {motif.support} windows" in lanes.get_title(loc="left")
    assert len(lanes.patches) == motif.support


def test_the_evidence_of_a_large_group_stays_finite() -> None:
    # About 190 windows beyond the pair make chance's probability underflow.
    values = 5.0 * np.sin(np.arange(12_000) * 2.0 * np.pi / 30.0)
    values += 0.05 * np.cumsum(np.random.default_rng(0).normal(size=12_000))
    top = zorp_miner.find_motifs(values, length=40, top=1, exclusion=10)[0]
    assert top.support > 200 and top.likely and math.isfinite(top.evidence)


def test_shuffles_made_side_by_side_are_those_made_one_by_one(monkeypatch: pytest.MonkeyPatch) -> None:
    from zorp_miner.within import chance as within

    values = np.cumsum(np.random.default_rng(7).normal(size=350_000))
    values[1000:1040] = np.nan
    # Three shuffles at once, not held: enough work for three threads.
    monkeypatch.setattr(within, "CHANCE_BYTES", 3 * within.BANK_BYTES_PER_POINT * len(values))
    banks = []
    for threads in (1, 3):
        with _threads.using(threads):
            chance = within.Chance(values, 40)
        assert chance.batch == 3 and chance.threads == threads
        banks.append(chance._bank(5))
    for name in ("values", "deviations", "usable", "weights"):
        assert all(np.array_equal(a, b) for a, b in zip(getattr(banks[0], name), getattr(banks[1], name)))


@pytest.mark.parametrize("batch, threads", [(1, 1), (13, 3)])
def test_shuffles_made_anew_per_motif_give_the_radius_of_shuffles_held(
    monkeypatch: pytest.MonkeyPatch, batch: int, threads: int
) -> None:
    # A long recording's shuffles are made a few at a time for each motif, not held: one or
    # 13 at a time, by one thread or three side by side, must give the same radius for every
    # shape, so the same motifs bit for bit.
    from zorp_miner.within import chance as within
    from zorp_miner.within import motifs

    values, _ = planted(8, 3000, 30, 5, gaps=2)
    shapes = [znormalised(row) for row in np.random.default_rng(1).normal(size=(60, 30)).cumsum(axis=1)]
    with _threads.using(1):
        held = within.Chance(values, 30)
    found_held = zorp_miner.find_motifs(values, length=30, keep="all").to_dict()
    monkeypatch.setattr(within, "CHANCE_BYTES", batch * within.BANK_BYTES_PER_POINT * len(values))
    monkeypatch.setattr(within, "WORK_BYTES", threads * within.WORK_BYTES_PER_POINT * len(values))
    with _threads.using(8):
        anew = within.Chance(values, 30)
    assert held.held is not None and anew.held is None and anew.threads == threads
    assert [anew.radius(shape) for shape in shapes] == [held.radius(shape) for shape in shapes]
    assert zorp_miner.find_motifs(values, length=30, keep="all").to_dict() == found_held
    # Made anew, a motif's radius is only bounded once no window beyond its pair can be within
    # it: the same motifs, with fewer shuffles made.
    if batch < within.NULL_DRAWS // 2:
        found = motifs.series_motifs(values, 0, 30, motifs.default_exclusion(30), motifs.MOST_MOTIFS)
        assert any(not motif.radius_exact for motif in found)
