"""zorp_miner.find_motifs and its results: the same motifs as _zorp_cpp.Miner, as numpy."""

import copy
import doctest
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
import zorp_miner.api
from conftest import random_walks


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
        ({"seglen": 4, "top": 0}, ValueError, "top must be a whole number of motifs"),
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
