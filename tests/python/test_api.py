"""zorp_miner.find_motifs and its results: the same motifs as _zorp_cpp.Miner, as numpy."""

import copy
import doctest
import io
import json
import math
import pickle
import subprocess
import sys
from collections.abc import Callable, Iterator
from importlib import metadata
from typing import Any

import numpy as np
import pytest

import _zorp_cpp
import zorp_miner
from zorp_miner.io.inputs import as_series_set
import zorp_miner.api
from conftest import assert_same_motifs, planted_walks, random_walks


@pytest.fixture(scope="module")
def ragged() -> list[list[float]]:
    walks = random_walks(12, 300, seed=4)
    return [walk[: 200 + 9 * i] for i, walk in enumerate(walks)]


def native_summary(motif: _zorp_cpp.Motif) -> dict[str, object]:
    series = sorted(motif.indexes)
    return {
        "pattern": motif.pattern,
        "length": motif.length,
        "naed": motif.naed,
        "series": series,
        "best_matches": [motif.best_matches[s] for s in series],
        "occurrences": [(s, p) for s in series for p in motif.indexes[s]],
        "average_occurrences": [motif.average_occurrences[s] for s in series],
        "representative": motif.representative,
    }


def summary(motif: zorp_miner.Motif) -> dict[str, object]:
    return {
        "pattern": motif.pattern,
        "length": motif.length,
        "naed": motif.naed,
        "series": motif.series.tolist(),
        "best_matches": motif.best_matches.tolist(),
        "occurrences": list(
            zip(motif.occurrence_series.tolist(), motif.occurrence_letters.tolist(), strict=True)
        ),
        "average_occurrences": motif.average_occurrences.tolist(),
        "representative": motif.representative.tolist(),
    }


def same(a: object, b: object) -> bool:
    """Equal, NaN equal to NaN."""
    return json.dumps(a, sort_keys=True) == json.dumps(b, sort_keys=True)


@pytest.mark.parametrize(
    "kwargs",
    [
        {"seglen": 4, "alphabet": 5, "minsup": 0.5},
        {"seglen": 8, "alphabet": 7, "minsup": 0.3, "min_len": 2, "max_len": 6},
        {"seglen": 3, "alphabet": 3, "minsup": 1.0, "min_len": 4, "max_overlap": 0.5},
    ],
)
def test_results_equal_the_native_miner(
    ragged: list[list[float]], kwargs: dict[str, Any]
) -> None:
    native_args = dict(kwargs)
    expected = _zorp_cpp.Miner(
        native_args.pop("minsup"),
        native_args.pop("seglen"),
        native_args.pop("alphabet"),
        **native_args,
    ).mine(ragged)
    got = zorp_miner.find_motifs([np.array(walk) for walk in ragged], mode="exact", **kwargs)
    assert len(expected) > 0
    assert got.found == len(got) == len(expected)
    assert same([summary(m) for m in got], [native_summary(m) for m in expected])
    assert [m.rank for m in got] == list(range(1, len(got) + 1))
    for motif in got:
        assert motif.support == len(motif.series) == len(motif.best_matches)
        assert motif.average_occurrences.shape == (motif.support, motif.length)
        assert motif.length == motif.seglen * motif.letters
        assert (motif.occurrence_starts == motif.occurrence_letters * motif.seglen).all()


def test_equal_length_series_give_the_same_motifs_as_a_2d_array() -> None:
    walks = random_walks(10, 256, seed=2)
    from_lists = zorp_miner.find_motifs(walks, mode="exact", seglen=4, alphabet=5)
    from_array = zorp_miner.find_motifs(np.array(walks), mode="exact", seglen=4, alphabet=5)
    assert same(from_lists.to_dict(), from_array.to_dict())


def test_top_cuts_the_ranked_list_and_found_counts_all(ragged: list[list[float]]) -> None:
    every = zorp_miner.find_motifs(ragged, mode="exact", seglen=4, alphabet=5)
    best = zorp_miner.find_motifs(ragged, mode="exact", seglen=4, alphabet=5, top=3)
    assert len(best) == 3 and best.found == every.found > 3
    assert same([summary(m) for m in best], [summary(m) for m in every[:3]])
    assert isinstance(every[:2], zorp_miner.Motifs) and every[1:3].found == every.found


def test_results_are_read_only_copies(ragged: list[list[float]]) -> None:
    data = [np.array(walk) for walk in ragged]
    before = [one.copy() for one in data]
    motif = zorp_miner.find_motifs(data, mode="exact", seglen=4, alphabet=5, top=1)[0]
    for name in (
        "series",
        "best_matches",
        "average_occurrences",
        "representative",
        "occurrence_series",
        "occurrence_letters",
        "occurrence_starts",
    ):
        array = getattr(motif, name)
        assert not array.flags.writeable, name
        with pytest.raises(ValueError):
            array[...] = 0
    with pytest.raises(AttributeError):
        motif.naed = 0.0  # type: ignore[misc]
    assert all((a == b).all() for a, b in zip(data, before, strict=True))


@pytest.mark.parametrize("copied", [lambda m: pickle.loads(pickle.dumps(m)), copy.deepcopy, copy.copy])
def test_copies_and_pickles_stay_read_only(
    ragged: list[list[float]], copied: Callable[[zorp_miner.Motifs], zorp_miner.Motifs]
) -> None:
    motifs = copied(zorp_miner.find_motifs(ragged, mode="exact", seglen=4, alphabet=5, top=2))
    assert not motifs.series_lengths.flags.writeable
    for motif in [*motifs, *map(copied, motifs)]:  # type: ignore[arg-type]
        for name in ("series", "best_matches", "average_occurrences", "representative",
                     "occurrence_series", "occurrence_letters", "distances"):
            assert not getattr(motif, name).flags.writeable, name


def test_to_dict_is_strict_json_with_nan_as_null() -> None:
    # Occurrences near the end of the short series run past it: their averages hold NaN.
    data = [[0, 1, 0, 1, 5, 1, 0, 1, 0, 1, 5], [0, 1, 0, 1, 5, 1, 0, 1, 0, 1, 5, 1]]
    motifs = zorp_miner.find_motifs(
        data, mode="exact", seglen=3, alphabet=3, min_len=2, minsup=1.0
    )
    assert any(np.isnan(m.average_occurrences).any() for m in motifs)
    result = json.loads(json.dumps(motifs.to_dict(), allow_nan=False))
    assert result["zorp_miner"] == zorp_miner.__version__
    assert result["series"] == {"count": 2, "lengths": [11, 12]}
    assert result["parameters"]["seglen"] == 3 and result["found"] == len(motifs)
    first, motif = result["motifs"][0], motifs[0]
    assert first["support"] == motif.support and first["pattern"] == motif.pattern
    assert first["occurrences"]["starts"] == motif.occurrence_starts.tolist()
    assert any(None in row for m in result["motifs"] for row in m["average_occurrences"])


def test_to_frame_has_one_row_per_motif(ragged: list[list[float]]) -> None:
    pytest.importorskip("pandas")
    motifs = zorp_miner.find_motifs(ragged, mode="exact", seglen=4, alphabet=5, top=4)
    frame = motifs.to_frame()
    assert list(frame.columns) == [
        "rank",
        "pattern",
        "letters",
        "length",
        "support",
        "naed",
        "score",
        "evidence",
        "likely",
        "series",
        "best_matches",
        "distances",
        "occurrences",
    ]
    assert frame["rank"].tolist() == [1, 2, 3, 4]
    assert frame["naed"].tolist() == [m.naed for m in motifs]
    assert (frame["best_matches"][0] == motifs[0].best_matches).all()
    assert len(motifs[0].to_frame()) == 1


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (
            {"seglen": 0},
            ValueError,
            "seglen must be a whole number of points per letter, at least 1, got 0",
        ),
        ({"seglen": 2.0}, TypeError, "seglen must be a whole number"),
        ({"seglen": True}, TypeError, "seglen must be a whole number"),
        (
            {"seglen": 4, "alphabet": 1},
            ValueError,
            "alphabet must be a whole number of letters, from 2 to 10, got 1",
        ),
        ({"seglen": 4, "alphabet": 11}, ValueError, "from 2 to 10, got 11"),
        ({"seglen": 4, "minsup": 0}, ValueError, "minsup must be a number above 0 and at most 1"),
        ({"seglen": 4, "minsup": 1.5}, ValueError, "got 1.5"),
        ({"seglen": 4, "minsup": math.nan}, ValueError, "minsup must be"),
        ({"seglen": 4, "minsup": "0.5"}, TypeError, "minsup must be a number"),
        (
            {"seglen": 4, "min_len": 0},
            ValueError,
            "min_len must be a whole number of letters, at least 1",
        ),
        ({"seglen": 4, "max_len": -1}, ValueError, "max_len must be"),
        (
            {"seglen": 4, "min_len": 5, "max_len": 4},
            ValueError,
            "at least min_len (5) letters, got 4",
        ),
        ({"seglen": 2**30, "max_len": 4}, ValueError, "a motif's length"),
        ({"seglen": 4, "max_overlap": 1.1}, ValueError, "max_overlap must be a number from 0 to 1"),
        ({"seglen": 4, "top": -1}, ValueError, "top must be a whole number of motifs, 0 or None for all"),
        ({"seglen": 4, "mode": "fuzzy"}, ValueError, "mode must be one of 'robust', 'exact', got 'fuzzy'"),
        ({"seglen": 4, "lazy": 1}, TypeError, "lazy must be True or False, got 1"),
    ],
)
def test_bad_parameters_are_refused_before_the_input_is_read(
    kwargs: dict[str, Any], error: type[Exception], message: str
) -> None:
    class Untouchable:
        def __iter__(self) -> Iterator[float]:
            raise AssertionError("the input was read before the parameters were checked")

    with pytest.raises(error) as raised:
        zorp_miner.find_motifs(Untouchable(), **{"mode": "exact", **kwargs})
    assert message in str(raised.value)


def test_numpy_integers_are_accepted_as_parameters(ragged: list[list[float]]) -> None:
    got = zorp_miner.find_motifs(
        ragged, mode="exact", seglen=np.int64(4), alphabet=np.int32(5), top=np.uint8(2)
    )
    assert isinstance(got.params, zorp_miner.ExactParams)
    assert len(got) == 2 and got.params.seglen == 4 and type(got.params.seglen) is int


def test_numpy_floats_are_accepted_as_fractions(ragged: list[list[float]]) -> None:
    plain = zorp_miner.find_motifs(
        ragged, mode="exact", seglen=4, alphabet=5, minsup=0.25, max_overlap=0.5
    )
    got = zorp_miner.find_motifs(
        ragged,
        mode="exact",
        seglen=4,
        alphabet=5,
        minsup=np.float32(0.25),
        max_overlap=np.float16(0.5),
    )
    assert same(got.to_dict(), plain.to_dict()) and type(got.params.minsup) is float


def test_version_is_the_installed_distributions() -> None:
    assert zorp_miner.__version__ == metadata.version("zorp_miner")


def test_import_loads_neither_pandas_nor_matplotlib() -> None:
    code = (
        "import sys, zorp_miner; "
        "print(sorted(m for m in ('pandas', 'matplotlib') if m in sys.modules))"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout.strip() == "[]"


@pytest.mark.parametrize(
    "module, call, extra",
    [
        ("pandas", lambda m: m.to_frame(), "zorp_miner[pandas]"),
        (
            "matplotlib",
            lambda m: zorp_miner.plot_matches(m[0], [[0, 1, 2, 3, 0, 1, 2, 3]] * 2),
            "zorp_miner[plot]",
        ),
    ],
)
def test_a_missing_extra_says_which_to_install(
    monkeypatch: pytest.MonkeyPatch,
    module: str,
    call: Callable[[zorp_miner.Motifs], object],
    extra: str,
) -> None:
    motifs = zorp_miner.find_motifs(
        [[0, 1, 2, 3, 0, 1, 2, 3]] * 2, mode="exact", seglen=1, alphabet=4
    )
    monkeypatch.setitem(sys.modules, module, None)
    with pytest.raises(ImportError) as raised:
        call(motifs)
    assert str(raised.value).endswith(f"pip install '{extra}'")
    assert "\n" not in str(raised.value)


def test_the_docstring_example_holds() -> None:
    assert doctest.testmod(zorp_miner.api).failed == 0


def gapped_plants(seed: int) -> tuple[list[np.ndarray], list[int]]:
    """20 noisy walks with a 96-point square wave planted in each, and three gaps of 1 to 12
    missing points (NaN) in each, anywhere but on the wave; the plants' starts."""
    rng = np.random.default_rng(seed)
    data, starts = [], []
    for i in range(20):
        points = 400 + 35 * (i % 5)
        row = np.cumsum(rng.normal(size=points)) * 0.3 + rng.normal(size=points)
        at = int(rng.integers(0, points - 96))
        row[at : at + 96] += np.repeat([6.0, -6.0, 6.0, -6.0], 24)
        for _ in range(3):
            width = int(rng.integers(1, 13))
            free = [p for p in range(points - width) if p + width <= at or p >= at + 96]
            gap = int(rng.choice(free))
            row[gap : gap + width] = np.nan
        data.append(row)
        starts.append(at)
    return data, starts


def assert_whole_results(motifs: zorp_miner.Motifs, data: list[np.ndarray]) -> None:
    """No NaN in a result field but naed, and every best match a window without a gap."""
    json.dumps({**motifs.to_dict(), "motifs": []}, allow_nan=False)
    for motif in motifs:
        fields = motif.to_dict()
        assert fields["naed"] is None
        del fields["naed"]
        json.dumps(fields, allow_nan=False)  # raises on any NaN left
        assert np.isfinite(motif.score)
        for one, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True):
            assert np.isfinite(data[one][start : start + motif.length]).all()


@pytest.mark.parametrize("seed", [0, 1, 2])
@pytest.mark.parametrize("length", [96, None])
def test_a_planted_shape_is_found_between_missing_points(seed: int, length: int | None) -> None:
    from conftest import assert_same_motifs
    from zorp_miner.cluster.parts import LocalParts
    from zorp_miner.params import robust_params

    data, starts = gapped_plants(seed)
    motifs = zorp_miner.find_motifs(data, length=length, top=2)
    assert_whole_results(motifs, data)
    best = motifs[0]
    # Its best match covers the plant by half its length or more in three quarters of the
    # series at least (17 of 20 at worst over 300 seeds of these plants, at either length).
    on_plant = [
        one
        for one, start in zip(best.series.tolist(), best.best_matches.tolist(), strict=True)
        if min(start + best.length, starts[one] + 96) - max(start, starts[one]) >= best.length / 2
    ]
    assert len(on_plant) >= 15
    # Over parts (as on a cluster), the same motifs, bit for bit.
    parts = LocalParts(as_series_set(data), cuts=[3, 11])
    params = robust_params(length=length, minsup=0.5, top=2)
    assert_same_motifs(zorp_miner.api.run_parts(parts, params), motifs)


def test_series_mostly_missing_or_without_a_whole_window_hold_no_match() -> None:
    data, _ = gapped_plants(5)
    data[0][:-1] = np.nan  # one point left
    data[1][::2] = np.nan  # every window holds a missing point
    data[2][60:-1] = np.nan  # one stretch of 60 points left, too short for the wave
    for length in (96, None):
        motifs = zorp_miner.find_motifs(data, length=length)
        assert motifs and not {0, 1} & set(motifs[0].series.tolist())
        assert_whole_results(motifs, data)
    nothing = [np.array([1.0, np.nan] * 100 + [1.0])] * 5
    for length in (8, None):
        empty = zorp_miner.find_motifs(nothing, length=length)
        assert len(empty) == 0 and empty.reason


@pytest.mark.parametrize(
    "data, options, reason",
    [
        (np.ones((4, 50)), {"length": 51}, "length 51 is above the length of every series"),
        (
            [np.arange(100.0)] + [np.arange(40.0)] * 5,
            {"length": 60},
            "only 1 of the 6 series have the 60 points of length, fewer than the 3",
        ),
        (np.ones((4, 15)), {}, "without a length, lengths from 8 points to half the median length"),
        (
            np.ones((4, 40)),
            {"mode": "exact", "seglen": 8, "min_len": 6},
            "0 of the 4 series have the 6 letters (48 points) a pattern needs",
        ),
        (
            np.random.default_rng(0).normal(size=(6, 300)),
            {"mode": "exact", "seglen": 4, "min_len": 30, "minsup": 1.0},
            "no letter pattern of 30 letters or more occurs in minsup 1 of the 6 series",
        ),
        (
            np.random.default_rng(0).normal(size=(6, 300)),
            {"length": 40, "minsup": 1.0, "keep": "likely"},
            "no motif beyond chance: the most evident of the",
        ),
    ],
    ids=["length too long", "too few long series", "too short to search", "too few letters",
         "no pattern", "nothing beyond chance"],
)
def test_an_empty_result_says_why(data: object, options: dict[str, Any], reason: str) -> None:
    motifs = zorp_miner.find_motifs(data, **options)
    assert len(motifs) == 0 and motifs.found == 0
    assert motifs.reason.startswith(reason)
    assert repr(motifs).endswith(f": {motifs.reason})")
    assert motifs.to_dict()["reason"] == motifs.reason
    assert "\n" not in motifs.reason


def test_a_result_with_motifs_has_no_reason(ragged: list[list[float]]) -> None:
    motifs = zorp_miner.find_motifs(ragged, mode="exact", seglen=4)
    assert motifs.found and motifs.reason == "" and motifs.to_dict()["reason"] is None


@pytest.mark.parametrize(
    "series, points, options",
    [(2, 4500, {"seglen": 2}), (1, 3000, {"seglen": 1, "minsup": 1.0})],
)
def test_hopeless_exact_runs_are_refused_before_any_work(
    series: int, points: int, options: dict[str, Any]
) -> None:
    data = np.cumsum(np.random.default_rng(1).normal(size=(series, points)), axis=1)
    held_by_one = "is at most 1, so a pattern held by one"
    with pytest.raises(zorp_miner.RunRefused, match=held_by_one) as refused:
        zorp_miner.find_motifs(data, mode="exact", **options)
    assert isinstance(refused.value, ValueError)
    assert "set max_len (the longest pattern in letters" in str(refused.value)
    # Bounded by max_len, the same run is quick, and runs.
    assert zorp_miner.find_motifs(data, mode="exact", max_len=12, **options).found > 0


class Recorder:
    def __init__(self) -> None:
        self.steps: list[zorp_miner.progress.Step] = []

    def __call__(self, step: zorp_miner.progress.Step) -> None:
        self.steps.append(step)


@pytest.mark.parametrize(
    "options, first",
    [
        ({"length": 96}, ["length 96: searching the series", "length 96: searching the shuffled"]),
        ({}, ["length 8: searching the series", "length "]),
        ({"mode": "exact", "seglen": 8}, ["letters of the series", "mining the letter patterns"]),
    ],
)
def test_progress_reports_each_step_then_the_end(options: dict[str, Any], first: list[str]) -> None:
    import zorp_miner.progress

    data, _ = gapped_plants(0)
    if options.get("mode") == "exact":
        data = [np.nan_to_num(row) for row in data]
    recorder = Recorder()
    quiet = zorp_miner.find_motifs(data, **options)
    reported = zorp_miner.find_motifs(data, progress=recorder, **options)
    assert [m.best_matches.tolist() for m in reported] == [m.best_matches.tolist() for m in quiet]
    steps = recorder.steps
    for step, prefix in zip(steps, first, strict=False):
        assert step.what.startswith(prefix)
    assert [step.done for step in steps[:-1]] == list(range(len(steps) - 1))
    assert all(step.done < step.total for step in steps[:-1])
    # The total is planned when the run starts (steps a run turns out not to need are done
    # at its end): a bar never runs backwards.
    assert len({step.total for step in steps}) == 1
    assert steps[-1].finished and steps[-1].done == steps[-1].total
    assert not any(step.finished for step in steps[:-1])
    assert all(a.elapsed <= b.elapsed for a, b in zip(steps, steps[1:]))


def test_progress_true_draws_a_bar_that_is_erased(monkeypatch: pytest.MonkeyPatch) -> None:
    import io

    import zorp_miner.progress

    stream = io.StringIO()
    monkeypatch.setattr(sys, "stderr", stream)
    monkeypatch.setattr(zorp_miner.progress.Bar, "DELAY", 0.0)
    zorp_miner.find_motifs(gapped_plants(0)[0], length=96, progress=True)
    drawn = stream.getvalue()
    assert "zorp-miner: [" in drawn and "length 96: evidence of" in drawn
    assert drawn.endswith("\r") and drawn.rsplit("\r", 2)[-2].strip() == ""
    with pytest.raises(TypeError, match="progress must be True"):
        zorp_miner.find_motifs([[1.0, 2.0]], progress="yes")  # type: ignore[arg-type]


class Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


def test_progress_is_drawn_by_default_on_a_terminal_only(monkeypatch: pytest.MonkeyPatch) -> None:
    import zorp_miner.progress

    monkeypatch.setattr(zorp_miner.progress.Bar, "DELAY", 0.0)
    for stream, drawn in ((Terminal(), True), (io.StringIO(), False)):
        monkeypatch.setattr(sys, "stderr", stream)
        zorp_miner.find_motifs(gapped_plants(0)[0], length=96)
        assert ("zorp-miner: [" in stream.getvalue()) is drawn
    silent = Terminal()
    monkeypatch.setattr(sys, "stderr", silent)
    zorp_miner.find_motifs(gapped_plants(0)[0], length=96, progress=False)
    assert silent.getvalue() == ""


@pytest.mark.parametrize("columns", [30, 45, 60, 80, 200])
def test_a_bar_keeps_the_count_the_time_and_whole_words(columns: int) -> None:
    """Labels were cut mid-word at the terminal's width ("searching the shuffled serie")."""
    import zorp_miner.progress

    bar = zorp_miner.progress.Bar(io.StringIO(), delay=3600.0)
    try:
        what = "length 96: searching the shuffled series"
        line = bar.line(zorp_miner.progress.Step(3, 9, what, 1.0), columns)
    finally:
        bar.close()
    assert len(line) <= columns - 1 and "3/9 " in line and line.endswith(" s")
    shown = line.split("3/9 ", 1)[1].rsplit("  ", 1)[0]
    # Whole on any usual terminal (the bar gives way first), else cut after a word.
    assert shown == what if columns >= 80 else (shown == what or (shown.endswith("\u2026") and what[len(shown) - 1] == " "))
    assert ("[" in line) is (columns >= 100)


def test_top_0_means_every_motif_as_on_the_command_line() -> None:
    """top=0 was an error here and "all" for zorp-miner --top 0: one meaning now, in both."""
    data = planted_walks(6, seed=3)
    every = zorp_miner.find_motifs(data, length=96, top=None)
    assert_same_motifs(zorp_miner.find_motifs(data, length=96, top=0), every)
    query = np.repeat([6.0, -6.0, 6.0, -6.0], 24)
    assert len(zorp_miner.find_matches(query, data, top=0)) == len(zorp_miner.find_matches(query, data))


def test_hostile_values_give_a_result_or_a_clean_error() -> None:
    """minsup=5e-324 overflowed the seed count; a subnormal series gave infinite averages."""
    rng = np.random.default_rng(4)
    found = zorp_miner.find_motifs(rng.normal(size=(5, 120)), length=16, minsup=5e-324, top=1)
    assert len(found) == 1 and found.params.minsup == 5e-324
    walks = np.cumsum(rng.normal(size=(8, 200)), axis=1)
    tiny = zorp_miner.find_motifs(walks * 1e-310, mode="exact", seglen=8)
    usual = zorp_miner.find_motifs(walks, mode="exact", seglen=8)
    assert len(tiny) == len(usual) >= 1
    for a, b in zip(tiny, usual, strict=True):
        assert np.isfinite(a.representative).all() and np.isfinite(a.average_occurrences).all()
        # Subnormal values hold fewer bits: the same shapes, to their precision.
        np.testing.assert_allclose(a.representative, b.representative, rtol=1e-9, atol=1e-9)


def test_a_length_above_every_series_says_so_and_one_equal_to_them_takes_each_whole() -> None:
    """The message said "at or above" while a length equal to every series' ran: instances cut
    to the shape's length give their consensus (test_robust_mode), one point more the reason."""
    data = np.cumsum(np.random.default_rng(5).normal(size=(6, 150)), axis=1)
    found = zorp_miner.find_motifs(data, length=151)
    assert len(found) == 0 and found.reason.startswith("length 151 is above the length of every series")
    assert "at or above" not in found.reason


def test_help_shows_the_public_functions_annotations_resolved() -> None:
    """help(find_matches) showed its annotations as strings ('RealNumber | None')."""
    import inspect

    for function in (zorp_miner.find_motifs, zorp_miner.find_matches, zorp_miner.load):
        for name, parameter in inspect.signature(function).parameters.items():
            if name != "client":  # names an optional package's class
                assert not isinstance(parameter.annotation, str), (function.__name__, name)
