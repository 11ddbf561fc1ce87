"""Miner and Motif from the host: defaults, the k cut, the stored list and fresh objects."""

import math
from typing import Any

import pytest

from _zorp_cpp import Miner, Motif
from conftest import random_walks

VECTOR_TOO_LARGE = "cannot create std::vector larger than max_size()"


def summary(motifs: list[Motif]) -> list[tuple[object, ...]]:
    return [(m.pattern, m.naed, m.best_matches, m.indexes, m.length) for m in motifs]


def test_defaults_are_3_0_0_9_and_0(walks: list[list[float]]) -> None:
    assert summary(Miner(0.5, 4, 5).mine(walks)) == summary(Miner(0.5, 4, 5, 3, 0, 0.9, 0).mine(walks))
    assert summary(Miner(minsup=0.5, seglen=4, alphabet=5, k=5).mine(walks)) == summary(
        Miner(0.5, 4, 5).mine(walks)[:5]
    )
    assert summary(Miner(1, 4, 5).mine(walks)) == summary(Miner(1.0, 4, 5).mine(walks))


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((0.5, 2), {}),
        ((0.5, 2.0, 4), {}),
        ((0.5, 2, 4, 3, 0, 0.9, 0, 1), {}),
        ((0.5, 2, 4), {"top": 3}),
        ((0.5, 2, 4), {"k": 2**31}),
        (("0.5", 2, 4), {}),
    ],
)
def test_bad_construction(args: tuple[Any, ...], kwargs: dict[str, Any]) -> None:
    with pytest.raises(TypeError):
        Miner(*args, **kwargs)


def test_k_cut_and_the_stored_ranked_list(walks: list[list[float]]) -> None:
    miner = Miner(0.5, 4, 5, k=2)
    best = miner.mine(walks)
    stored = miner.motifs
    assert len(stored) > 2
    assert summary(best) == summary(stored[:2])
    naeds = [m.naed for m in stored]
    assert naeds == sorted(naeds)
    for k in (0, len(stored), len(stored) + 3):
        assert summary(Miner(0.5, 4, 5, k=k).mine(walks)) == summary(stored)


def test_negative_k_fails_after_the_ranked_list_is_stored(walks: list[list[float]]) -> None:
    miner = Miner(0.5, 4, 5, k=-1)
    with pytest.raises(ValueError) as raised:
        miner.mine(walks)
    assert str(raised.value) == VECTOR_TOO_LARGE
    assert summary(miner.motifs) == summary(Miner(0.5, 4, 5).mine(walks))


def test_nothing_frequent_gives_empty_lists() -> None:
    miner = Miner(2.0, 2, 4)
    assert miner.motifs == []
    assert miner.mine([[1.0, 2.0, 3.0, 4.0]]) == []
    assert miner.motifs == []


def test_reads_give_distinct_equal_objects(walks: list[list[float]]) -> None:
    miner = Miner(0.5, 4, 5)
    returned = miner.mine(walks)
    first, second = miner.motifs, miner.motifs
    assert all(a is not b for a, b in zip(returned, first))
    assert all(a is not b for a, b in zip(first, second))
    assert summary(first) == summary(second)
    motif = first[0]
    assert motif.representative is not motif.representative
    first[0].best_matches.clear()
    first.clear()
    assert summary(miner.motifs) == summary(second)


def test_second_run_equals_a_fresh_miner(walks: list[list[float]]) -> None:
    other = random_walks(5, 150, seed=9)
    reused = Miner(0.5, 4, 5)
    reused.mine(walks)
    assert summary(reused.mine(other)) == summary(Miner(0.5, 4, 5).mine(other))
    assert summary(reused.motifs) == summary(Miner(0.5, 4, 5).mine(other))


def test_callers_lists_are_unchanged(walks: list[list[float]]) -> None:
    snapshot = [list(series) for series in walks]
    Miner(0.5, 4, 5).mine(walks)
    assert walks == snapshot


def test_mine_takes_one_positional_argument() -> None:
    miner = Miner(0.5, 4, 5)
    with pytest.raises(TypeError):
        miner.mine(ts=[[1.0]])  # type: ignore[call-arg]
    with pytest.raises(TypeError):
        miner.mine()  # type: ignore[call-arg]
    with pytest.raises(TypeError):
        miner.mine("abc")  # type: ignore[arg-type]


def test_motif_has_no_constructor() -> None:
    with pytest.raises(TypeError, match="No constructor defined!"):
        Motif()


def test_motif_properties_are_read_only(walks: list[list[float]]) -> None:
    motif = Miner(0.5, 4, 5).mine(walks)[0]
    for name in ("pattern", "indexes", "average_occurrences", "representative", "best_matches",
                 "length", "naed", "weight"):
        with pytest.raises(AttributeError):
            setattr(motif, name, 1)
    with pytest.raises(AttributeError):
        Miner(0.5, 4, 5).motifs = []  # type: ignore[misc]


def test_motif_views(walks: list[list[float]]) -> None:
    motif = Miner(0.5, 4, 5, k=1).mine(walks)[0]
    assert repr(motif) == str(motif) == f"Motif('{motif.pattern}')"
    assert motif.length == 4 * len(motif.pattern)
    assert len(motif.representative) == motif.length
    assert set(motif.average_occurrences) == set(motif.indexes) == set(motif.best_matches)
    assert all(len(average) == motif.length for average in motif.average_occurrences.values())
    assert isinstance(motif.naed, float)


def test_one_letter_motif_repr() -> None:
    miner = Miner(1.0, 1, 2, min_len=1)
    motifs = miner.mine([[1.0, 1.0, 1.0, 1.0, -2.0], [1.0, 1.0, 1.0, 1.0, -2.0]])
    assert [repr(m) for m in motifs] == ["Motif('bbbba')"]
    one = Miner(1.0, 1, 2, min_len=1, max_len=1).mine([[1.0, -1.0], [1.0, -1.0]])
    assert sorted(repr(m) for m in one) == ["Motif('a')", "Motif('b')"]


def test_constant_series_has_all_a_and_adds_nothing() -> None:
    # The constant series becomes NaN throughout: letters all "a", every distance 0.
    motifs = Miner(0.5, 1, 3, min_len=3, max_overlap=1.0).mine([[5.0, 5.0, 5.0], [-1.0, 0.0, 1.0]])
    by_pattern = {m.pattern: m for m in motifs}
    assert set(by_pattern) == {"aaa", "abc"}
    assert all(math.isnan(v) for v in by_pattern["aaa"].representative)
    assert by_pattern["aaa"].naed == 0.0
    assert by_pattern["aaa"].best_matches == {0: 0}


def test_motifs_without_occurrences_rank_last() -> None:
    # A zero threshold with a length bound accepts pairs that never occur: their naed is NaN.
    motifs = Miner(0.0, 1, 2, min_len=1, max_len=2, max_overlap=1.0).mine([[1.0, -1.0, 1.0]])
    naeds = [m.naed for m in motifs]
    never = [m.pattern for m in motifs if not m.indexes]
    assert sorted(never) == ["aa", "bb"]
    assert all(math.isnan(value) for value in naeds[-2:])
    assert not any(math.isnan(value) for value in naeds[:-2])
    assert naeds[:-2] == sorted(naeds[:-2])


def test_statistics_too_large_for_memory_are_refused() -> None:
    # One letter per series, each motif 2**31 - 1 points long over 3000 series: terabytes.
    series = [[1.0, 2.0]] * 3000
    miner = Miner(0.5, 2**31 - 1, 4, min_len=1)
    with pytest.raises(MemoryError, match="would need .* GiB"):
        miner.mine(series)


def test_length_that_does_not_fit_is_a_value_error_whatever_the_memory() -> None:
    # 2 letters x 2**30 points overflows the 32-bit motif length before any memory estimate.
    with pytest.raises(ValueError, match="does not fit in a 32-bit integer"):
        Miner(0.0, 2**30, 4, 2, 2, 0.9, 0).mine([[1.0, 2.0]])
