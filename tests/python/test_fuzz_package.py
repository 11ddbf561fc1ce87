"""A seeded fuzzer over what a user, a file or the package itself hands zorp_miner: the native
module's kernels (``zorp_miner._native``), :func:`zorp_miner.find_motifs`,
:func:`zorp_miner.load` and the command line's ``main``.

Whatever a call is given, it returns, or raises one of the errors its documentation names (the
native kernels: TypeError, ValueError, MemoryError), leaves its arguments as they were, and never
brings the process down; the command line returns an exit status with at most one line on
stderr. The calls of each seed run in a child process, which writes each call to a log before
making it: a crash fails the test with the call that caused it.

Every run draws the same calls (a fixed seed per test). FUZZ_EXPLORE=N (a positive integer)
draws N times as many calls from new seeds; FUZZ_SEED=S repeats one seed. Runs are bounded: the
series are short, and an exact run whose threshold (minsup x series) is at most 1, which keeps
every substring, gets a small max_len (such runs take the cube of the letters' count).
"""

import contextlib
import io
import json
import math
import os
import pathlib
import random
import subprocess
import sys
import traceback
from collections.abc import Callable
from typing import Any

import numpy as np
import pytest

NativeCall = tuple[str, dict[str, Any]]
EXPLORE = int(os.environ.get("FUZZ_EXPLORE") or 0)
NATIVE_ERRORS = (TypeError, ValueError, MemoryError)
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1

# ---------------------------------------------------------------------------------------------
# Comparing arguments before and after a call


def canon(value: object) -> object:
    """A comparable image of an argument: arrays by dtype, shape and bytes, containers
    recursively, floats by their bits."""
    if isinstance(value, np.ndarray):
        return ("ndarray", value.dtype.str, value.shape, value.tobytes())
    if isinstance(value, float):
        return ("float", value.hex())
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(canon(item) for item in value))
    if isinstance(value, dict):
        return ("dict", tuple((repr(k), canon(v)) for k, v in value.items()))
    return (type(value).__name__, repr(value))


def described(value: object, most: int = 300) -> str:
    """A short description of an argument, for the log."""
    if isinstance(value, np.ndarray):
        text = f"array(dtype={value.dtype}, shape={value.shape}, values={value.ravel()[:12].tolist()})"
    elif isinstance(value, (list, tuple)):
        text = f"{type(value).__name__}[{', '.join(described(item, 80) for item in value[:6])}" + (
            ", ...]" if len(value) > 6 else "]"
        )
    else:
        text = repr(value)
    return text if len(text) <= most else text[: most - 3] + "..."


# ---------------------------------------------------------------------------------------------
# The native kernels: valid arguments, then one or two of them made wrong


def series_of(rng: random.Random) -> list[np.ndarray]:
    """Up to 5 series of 0 to 120 points: noise, a repeated shape, steps, NaN here and there."""
    out = []
    for _ in range(rng.randint(1, 5)):
        points = rng.choice([0, 1, 5, 16, 40, 80, 120])
        kind = rng.choice(["noise", "repeated", "steps"])
        generator = np.random.default_rng(rng.getrandbits(32))
        values: np.ndarray
        if kind == "noise":
            values = generator.normal(size=points)
        elif kind == "repeated":
            values = np.resize(generator.normal(size=rng.randint(2, 9)), points)
        else:
            values = np.repeat(generator.integers(-2, 3, size=points // 4 + 1), 4)[:points] * 1.0
        if points and rng.random() < 0.2:
            values[rng.randrange(points)] = math.nan
        out.append(values.astype(np.float64))
    return out


def windows_of(rng: random.Random, series: list[np.ndarray], m: int, alphabet: int, most: int) -> dict[str, Any]:
    """Proposal windows of up to most letters, as the package makes them."""
    from zorp_miner.robust.tasks import window_words

    letters = rng.randint(1, min(m, 12, most)) if rng.random() < 0.9 else rng.randint(1, min(m, most))
    owners, starts, means = window_words(series, m, letters)
    return {"owners": owners, "starts": starts, "means": means, "alphabet": alphabet}


def valid_native_call(rng: random.Random, name: str) -> dict[str, Any]:
    """Arguments the kernel takes, made the way the package makes them."""
    from zorp_miner import _native
    from zorp_miner.compute.sliding import FLAT_FRACTION, LEVELS, RESOLUTION, SeriesBank, resolution

    series = series_of(rng)
    m = rng.choice([4, 8, 16, 24, 64])
    alphabet = rng.randint(2, 10)
    if name == "best_correlations":
        bank = SeriesBank(series, m)
        shapes = np.random.default_rng(rng.getrandbits(32)).normal(size=(rng.randint(0, 5), m))
        return {"values": bank.values, "weights": bank.weights, "shapes": shapes}
    if name == "segment_jumps":
        # A null's segments as `shuffled` hands them over: the points before and at the end of
        # each (NaN where missing), the memory at its size.
        generator = np.random.default_rng(rng.getrandbits(32))
        befores, ends = generator.normal(size=(2, rng.randint(0, 40)))
        befores[generator.random(len(befores)) < 0.1] = math.nan
        return {"befores": befores, "ends": ends, "tails": generator.uniform(0.0, 1.0, len(befores))}
    if name in ("monotone_share", "znormalised"):
        shape = np.random.default_rng(rng.getrandbits(32)).normal(size=rng.randint(0, 40))
        return {"shape": shape} if name == "znormalised" else {"shape": shape, "points": rng.randint(1, 40)}
    if name == "realignment_sums":
        step = max(1, m // 32)
        width = m + 2 * (m // 2)
        generator = np.random.default_rng(rng.getrandbits(32))
        rows = np.stack([np.resize(one, width) if len(one) else np.full(width, math.nan) for one in series])
        cut = rng.randint(0, len(rows))
        members = np.array([cut, len(rows) - cut], dtype=np.int64)
        scales = np.array([2.0 ** generator.integers(1, 41) for _ in members])
        return {"rows": rows, "members": members, "scales": scales, "m": m, "first": (m // 2) % step,
                "step": step, "bound": math.sqrt(m)}
    if name in ("prepared_series", "window_words"):
        steps = None if rng.random() < 0.5 else np.array([resolution(one) for one in series])
        rules = {"series": series, "m": m, "steps": steps, "flat_fraction": FLAT_FRACTION, "floor": RESOLUTION,
                 "levels": float(LEVELS)}
        if name == "window_words":
            rules |= {"letters": rng.randint(1, 12), "windows_per_series": rng.choice([1, 5, 4096])}
        return rules
    if name == "nearest_profile":
        bank = SeriesBank(series[:1], m)
        return {"values": bank.values[0], "weights": bank.weights[0], "m": m, "exclusion": rng.randint(0, 2 * m)}
    if name == "within_discords":
        bank = SeriesBank(series[:1], m)
        return {"values": bank.values[0], "weights": bank.weights[0], "m": m,
                "exclusion": rng.randint(0, m - 1), "top": rng.randint(0, 5)}
    if name == "ranking_order":
        naeds = np.random.default_rng(rng.getrandbits(32)).random(rng.randint(0, 9))
        naeds[naeds < 0.2] = math.nan
        return {"naeds": naeds}
    if name in ("add_to_representative", "representative_from"):
        length = rng.randint(0, 12)
        averages = np.random.default_rng(rng.getrandbits(32)).normal(size=(rng.randint(0, 4), length))
        averages[averages > 1.2] = math.nan
        sums, counts = _native.add_to_representative(np.zeros(length), np.zeros(length), averages)
        if name == "representative_from":
            return {"sums": sums, "counts": counts}
        return {"sums": sums, "counts": counts, "averages": averages}
    if name == "motif_lengths":
        return {"letters": np.array([rng.randint(1, 40) for _ in range(rng.randint(0, 5))]), "seglen": rng.randint(1, 9)}
    if name == "refuse_oversized_statistics":
        count = rng.randint(0, 5)
        return {"lengths": np.array([rng.randint(1, 2**20) for _ in range(count)], dtype=np.int64),
                "supports": np.array([rng.randint(0, 100) for _ in range(count)], dtype=np.int64)}
    if name == "normalised_words":
        return {"series": series, "seglen": rng.randint(1, 9), "alphabet": alphabet}
    if name in ("mine_words", "part_averages", "part_best_matches"):
        seglen = rng.randint(1, 6)
        words = _native.normalised_words(series, seglen, alphabet)
        mining: dict[str, Any] = {"words": words, "minsup": rng.choice([1.0, 0.5, 0.3]), "min_len": rng.randint(1, 3),
                  "max_len": rng.choice([0, 3, 5]), "max_overlap": rng.choice([0.0, 0.5, 0.9, 1.0])}
        if name == "mine_words":
            return mining
        mining["max_len"] = 4 if mining["max_len"] == 0 else mining["max_len"]
        found = _native.mine_words(**mining)[:5]
        motifs = [(len(pattern), groups, ends, positions) for pattern, groups, ends, positions in found]
        arguments: dict[str, Any] = {"series": series, "first": 0, "motifs": motifs, "seglen": seglen}
        if name == "part_best_matches":
            arguments["representatives"] = [
                np.random.default_rng(rng.getrandbits(32)).normal(size=letters * seglen)
                for letters, _, _, _ in motifs
            ]
        return arguments
    # Windows of more letters than a 64-bit key numbers (19 with alphabet 10) are refused: the
    # steps that need keys first are given fewer.
    most = 64 if name in ("count_keys", "proposal_word") else 19
    windows = windows_of(rng, series, m, alphabet, most)
    if name == "count_keys":
        return windows
    if name == "proposal_word":
        means = windows["means"]
        row = means[rng.randrange(len(means))] if len(means) else np.zeros(means.shape[1])
        return {"means": row, "alphabet": alphabet, "projection": rng.randint(0, len(row))}
    key_counts = _native.count_keys(**windows)
    if name == "ranked_keys":
        return {"counts": key_counts, "support": rng.choice([0.0, 1.0, 2.0])}
    projections, keys = _native.ranked_keys(key_counts, 1.0)
    chosen = {**windows, "projections": projections[:20], "keys": keys[:20]}
    if name == "sum_members":
        return chosen
    member_counts, _, member_sums = _native.sum_members(**chosen)
    return {**chosen, "averages": member_sums * 2.0**-32 / np.maximum(member_counts, 1)[:, None]}


NATIVE_FUNCTIONS = (
    "best_correlations", "monotone_share", "count_keys", "ranked_keys", "sum_members",
    "nearest_members", "proposal_word", "znormalised", "normalised_words", "mine_words",
    "part_averages", "add_to_representative", "representative_from", "part_best_matches",
    "ranking_order", "motif_lengths", "refuse_oversized_statistics", "realignment_sums",
    "within_discords", "prepared_series", "window_words", "nearest_profile", "segment_jumps",
)  # fmt: skip


def wrong_int(rng: random.Random, value: int) -> object:
    return rng.choice([-1, 0, 1, 2, 11, value - 1, value + 1, value * 1000 + 7, INT32_MAX, INT32_MIN,
                       2**31, 2**63, -(2**63) - 1, 2**64, 1.5, "3", None, True])  # fmt: skip


def wrong_float(rng: random.Random, value: float) -> object:
    return rng.choice([math.nan, math.inf, -math.inf, -1.0, 0.0, 1e-300, 2.0, 1e300, -value, "0.5", None])


def wrong_values(rng: random.Random, array: np.ndarray) -> np.ndarray:
    """The array with some entries set to an extreme of its type."""
    out = array.copy()
    if out.size == 0:
        return out
    flat = out.reshape(-1)
    if out.dtype.kind == "f":
        extremes: list[Any] = [math.nan, math.inf, -math.inf, 1e300, -1e300, 2.0**30, -(2.0**30), 5e-324]
    elif out.dtype.kind == "u":
        extremes = [2**64 - 1, 2**63, 1]
    else:
        info = np.iinfo(out.dtype)
        extremes = [-1, info.max, info.min, INT32_MAX, 2**31 if info.bits > 32 else -2]
    for _ in range(rng.randint(1, 3)):
        flat[rng.randrange(flat.size)] = rng.choice(extremes)
    return out


def wrong_array(rng: random.Random, array: np.ndarray) -> object:
    if array.dtype.kind not in "iuf":
        return array.tolist()
    choice = rng.randrange(13)
    if choice == 0:
        return array.astype(np.float64) if array.dtype.kind in "iu" else np.nan_to_num(array).astype(np.int64)
    if choice == 1:
        return array.reshape(-1) if array.ndim > 1 else array.reshape(1, -1)
    if choice == 2:
        return array[:0]
    if choice == 3:
        return array[:-1] if len(array) else np.concatenate([array, array])
    if choice == 4:
        return np.concatenate([array, array[:1]]) if len(array) else array
    if choice == 5:
        return array[::-1]  # a view with negative strides
    if choice == 6:
        return array.tolist()
    if choice == 7:
        return rng.choice(["abc", None, 3, [[1, 2], [3]], np.zeros((2, 2, 2)), np.array(["x"])])
    if choice == 8:
        # Misaligned: the values one byte into a buffer.
        buffer = np.zeros(array.nbytes + 1, np.uint8)
        moved = np.frombuffer(buffer.data, dtype=array.dtype, count=array.size, offset=1)
        moved[:] = array.reshape(-1)
        return moved.reshape(array.shape)
    if choice == 9:
        return array.T
    if choice == 10 and array.ndim == 2:
        # More letters per window than a 64-bit key numbers with most alphabets.
        return np.tile(array, (1, rng.choice([3, 8, 16])))
    return wrong_values(rng, array)


def wrong(rng: random.Random, value: object) -> object:
    """A value of a kind the argument may not take, or of a range it may not take."""
    if isinstance(value, bool):
        return rng.choice([2, None, "yes"])
    if isinstance(value, int):
        return wrong_int(rng, value)
    if isinstance(value, float):
        return wrong_float(rng, value)
    if isinstance(value, np.ndarray):
        return wrong_array(rng, value)
    if isinstance(value, tuple):
        items = list(value)
        if items and rng.random() < 0.8:
            k = rng.randrange(len(items))
            items[k] = wrong(rng, items[k])
        elif items:
            items.pop()
        return tuple(items)
    if isinstance(value, list):
        items = list(value)
        choice = rng.randrange(5)
        if choice == 0 or not items:
            return rng.choice([[], None, "abc", [None], [[]]])
        if choice == 1:
            return items[:-1]
        if choice == 2:
            return items + [items[0]]
        k = rng.randrange(len(items))
        items[k] = wrong(rng, items[k])
        return items
    if isinstance(value, bytes):
        return rng.choice([b"", value * 3, "text", None])
    return None


def hopeless(name: str, arguments: dict[str, Any]) -> bool:
    """A mining run that keeps every substring of long words: legitimately long, not drawn."""
    if name not in ("mine_words", "part_averages", "part_best_matches") or "words" not in arguments:
        return False
    words, minsup, max_len = (arguments.get(k) for k in ("words", "minsup", "max_len"))
    if not isinstance(words, list) or not isinstance(minsup, float) or not isinstance(max_len, int):
        return False
    return minsup * len(words) <= 1.0 and (max_len == 0 or max_len > 4)


def native_call(rng: random.Random) -> NativeCall:
    name = rng.choice(NATIVE_FUNCTIONS)
    arguments = valid_native_call(rng, name)
    for _ in range(rng.choice([0, 1, 1, 1, 2])):
        key = rng.choice(list(arguments))
        arguments[key] = wrong(rng, arguments[key])
    if hopeless(name, arguments):
        arguments["max_len"] = 3
    return name, arguments


def run_native(rng: random.Random, log: Callable[[str], None]) -> str:
    from zorp_miner import _native

    name, arguments = native_call(rng)
    log(f"_native.{name}({', '.join(f'{k}={described(v)}' for k, v in arguments.items())})")
    before = canon(arguments)
    try:
        getattr(_native, name)(**arguments)
        outcome = "result"
    except NATIVE_ERRORS as error:
        outcome = type(error).__name__
    assert canon(arguments) == before, "the call changed its arguments"
    return f"{name}: {outcome}"


# ---------------------------------------------------------------------------------------------
# The public functions


def number(rng: random.Random) -> float:
    return rng.choice([
        rng.gauss(0.0, 1.0), rng.gauss(0.0, 1.0), float(rng.randint(-3, 3)), math.nan, math.inf, -math.inf,
        1e300, -1e-300, 0.0, 2.0**53 + 1,
    ])  # fmt: skip


def data_of(rng: random.Random) -> object:
    """A set of series in one of the forms find_motifs takes, or something close to one."""
    series = [
        [number(rng) if rng.random() < 0.05 else float(v) for v in values]
        for values in series_of(rng)
    ]
    form = rng.randrange(10) if rng.random() < 0.3 else rng.choice([0, 1, 2])
    if form == 0:
        return series
    if form == 1:
        return [np.array(values) for values in series]
    if form == 2:
        longest = max(len(values) for values in series)
        return np.array([np.resize(np.array(values or [0.0]), longest) for values in series])
    if form == 3:
        return tuple(tuple(values) for values in series)
    if form == 4:
        return np.array(series[0] or [1.0])  # one series, 1-D
    if form == 5:
        return [[rng.choice([None, "x", [1.0], b"1", {}, 1j])] + values for values in series]
    if form == 6:
        return rng.choice([[], [[]], None, "abc", 3, {"a": [1.0]}, np.zeros((2, 3, 4)), np.array([])])
    if form == 7:
        return [np.array(np.clip(values, -1e30, 1e30), dtype=np.float32) for values in series]
    if form == 8:
        return [np.array([int(v) for v in values if abs(v) < 2**62], dtype=np.int64) for values in series]
    return series + [series[0]]


def pick(rng: random.Random, good: list[Any], bad: list[Any]) -> Any:
    """A good value nine times in ten, else a bad one."""
    return rng.choice(good) if rng.random() < 0.9 or not bad else rng.choice(bad)


def params_of(rng: random.Random, count: int) -> dict[str, Any]:
    mode = pick(rng, ["robust", "exact"], ["other", None])
    params: dict[str, Any] = {"mode": mode}
    if rng.random() < 0.8:
        params["minsup"] = pick(rng, [0.5, 1.0, 0.3], [0.0, -1.0, 2.0, math.nan, "0.5"])
    if rng.random() < 0.4:
        params["top"] = pick(rng, [None, 0, 1, 3], [-1, 2.5])
    if mode == "exact":
        params["seglen"] = pick(rng, [1, 2, 4, 8], [0, -1, 2**31, None, 4.0])
        for name, good, bad in (
            ("alphabet", [2, 4, 10], [1, 11, None]),
            ("min_len", [1, 2, 3], [0, None]),
            ("max_len", [0, 3, 5], [-1, None]),
            ("max_overlap", [0.0, 0.5, 0.9, 1.0], [1.5, None]),
        ):
            if rng.random() < 0.5:
                params[name] = pick(rng, good, bad)
        minsup = params.get("minsup", 0.5)
        if isinstance(minsup, float) and minsup * count <= 1.0:
            params["max_len"] = rng.choice([2, 3])
    elif rng.random() < 0.7:
        params["length"] = pick(rng, [None, 4, 8, 16, 40], [3, 0, 10**6, 8.5, "8"])
    if rng.random() < 0.05:
        params["seglen" if mode != "exact" else "length"] = 4  # a parameter of the other mode
    return params


def series_count(data: object) -> int:
    try:
        return len(data)  # type: ignore[arg-type]
    except TypeError:
        return 1


def run_find_motifs(rng: random.Random, log: Callable[[str], None]) -> str:
    import zorp_miner

    data = data_of(rng)
    params = params_of(rng, series_count(data))
    log(f"find_motifs({described(data)}, **{params!r})")
    before = canon(data)
    try:
        found = zorp_miner.find_motifs(data, **params)
        assert all(0 <= motif.support <= series_count(data) for motif in found)
        outcome = "result"
    except (TypeError, ValueError, MemoryError) as error:
        outcome = type(error).__name__
    assert canon(data) == before, "find_motifs changed its input"
    return f"find_motifs: {outcome}"


def text_file(rng: random.Random, separator: str) -> str:
    lines = []
    for values in series_of(rng):
        values = np.where(np.isnan(values), 0.0, values)  # a file's series have no gaps
        cells = [repr(float(v)) if rng.random() > 0.005 else rng.choice(["", "n/a", "1e999", "--1", "nan"]) for v in values]
        lines.append(separator.join(cells))
        if rng.random() < 0.1:
            lines.append(rng.choice(["", "# note", "a,b,c", "1;2;3", "\t"]))
    return rng.choice(["\n", "\r\n"]).join(lines) + rng.choice(["", "\n"])


def json_file(rng: random.Random) -> str:
    series: list[Any] = [[float(v) if math.isfinite(v) else 0.0 for v in values] for values in series_of(rng)]
    if rng.random() < 0.1:
        series[0] = rng.choice([[1, "2", 3], [[1.0, 2.0]], {"x": 1}, None, 7, []])
    document: object = {"series": series} if rng.random() < 0.3 else series
    text = json.dumps(document, allow_nan=True)
    return text[: rng.randint(0, len(text))] if rng.random() < 0.1 else text


def write_file(rng: random.Random, folder: pathlib.Path, index: int) -> pathlib.Path:
    """A file of series in one of the formats load reads, sometimes spoiled."""
    kind = pick(rng, ["csv", "tsv", "txt", "ucr", "json", "npy", "npz"], ["bytes"])
    suffix = {"ucr": "_TRAIN.tsv", "bytes": rng.choice([".csv", ".json", ".npy", ".npz", ".txt"])}.get(
        kind, "." + kind
    )
    path = folder / f"file{index}{suffix}"
    if kind in ("csv", "tsv", "txt"):
        path.write_text(text_file(rng, {"csv": ",", "tsv": "\t", "txt": " "}[kind]))
    elif kind == "ucr":
        lines = text_file(rng, "\t").splitlines()
        path.write_text("\n".join(f"{rng.choice([1, 2, 'a'])}\t{line}" for line in lines))
    elif kind == "json":
        path.write_text(json_file(rng))
    elif kind in ("npy", "npz"):
        rows = [np.nan_to_num(values) for values in series_of(rng)]
        shape = rng.choice(["rows", "rows", "one series", "objects", "3-D", "strings"])
        if shape == "rows":
            array = np.array([np.resize(row, 40) for row in rows])
        elif shape == "one series":
            array = np.resize(rows[0], 30)
        elif shape == "objects":
            array = np.array(rows + [None], dtype=object)
        elif shape == "3-D":
            array = np.zeros((2, 1, 30))
        else:
            array = np.array(["1.0", "x"])
        if kind == "npy":
            np.save(path, array, allow_pickle=True)
        elif rng.random() < 0.2:
            np.savez(path, a=array, b=np.arange(5.0))
        else:
            np.savez(path, array)
    else:
        path.write_bytes(rng.randbytes(rng.randint(0, 300)))
    return path


def run_load(rng: random.Random, log: Callable[[str], None], folder: pathlib.Path) -> str:
    import zorp_miner

    path = write_file(rng, folder, 0)
    options: dict[str, Any] = {}
    for name, choices in (
        ("layout", ["rows", "columns", "diagonal"]),
        ("header", [True, False]),
        ("format", [None, "csv", "json", "npy", "ucr", "xls"]),
        ("label", [None, 1, "a"]),
        ("key", [None, "a", "arr_0", "zz"]),
    ):
        if rng.random() < 0.05:
            options[name] = rng.choice(choices)
    log(f"load({path.name!r}, **{options!r}), file bytes: {path.read_bytes()[:300]!r}")
    try:
        series = zorp_miner.load(path, **options)
        assert all(isinstance(s, np.ndarray) and s.dtype == np.float64 and s.ndim == 1 for s in series)
        outcome = "result"
    except (ValueError, OSError) as error:
        outcome = type(error).__name__
    return f"load: {outcome}"


def run_main(rng: random.Random, log: Callable[[str], None], folder: pathlib.Path) -> str:
    from zorp_miner.cli import main

    files = [str(write_file(rng, folder, k)) for k in range(rng.choice([1, 1, 2]))]
    argv = list(files)
    if rng.random() < 0.2:
        argv.append(str(folder / "missing.csv"))
    exact = rng.random() < 0.4
    if exact:
        # The files may hold a single short series: a small max_len keeps the run bounded.
        argv += ["--mode", "exact", "--seglen", pick(rng, ["2", "4"], ["0", "x"]), "--max-len", "3"]
    elif rng.random() < 0.5:
        argv += ["--length", pick(rng, ["8", "16"], ["3", "x", "-5"])]
    for option, good, bad in (
        ("--minsup", ["0.5", "1"], ["0", "nan", "-1"]),
        ("--top", ["1", "3"], ["0"]),
        ("--format", ["table", "json", "csv"], ["yaml"]),
        ("--mode", ["robust"], ["fast"]),
    ):
        if rng.random() < 0.3:
            argv += [option, pick(rng, good, bad)]
    if rng.random() < 0.05:
        argv.append(rng.choice(["--help", "--version", "--no-such-option"]))
    log(f"main({argv!r}), files: {[pathlib.Path(f).read_bytes()[:200] for f in files]!r}")
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = main(argv)
    assert status in (0, 1, 2), status
    message = err.getvalue()
    assert "Traceback" not in message, message
    if status != 0:
        assert len(message.strip().splitlines()) == 1, message
    return f"main: exit {status}"


# ---------------------------------------------------------------------------------------------
# The child process and the tests

TARGETS = ("native", "find_motifs", "load", "main")
CALLS = {"native": 1500, "find_motifs": 60, "load": 300, "main": 40}


def fuzz(target: str, seed: int, calls: int, folder: pathlib.Path, log_path: pathlib.Path) -> dict[str, int]:
    """Makes the calls of one seed; each is written to log_path before it runs."""
    rng = random.Random(f"{target}-{seed}")
    outcomes: dict[str, int] = {}
    with open(log_path, "w", encoding="utf-8") as log_file:

        def log(line: str) -> None:
            log_file.write(line + "\n")
            log_file.flush()

        for _ in range(calls):
            if target == "native":
                outcome = run_native(rng, log)
            elif target == "find_motifs":
                outcome = run_find_motifs(rng, log)
            elif target == "load":
                outcome = run_load(rng, log, folder)
            else:
                outcome = run_main(rng, log, folder)
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
    return outcomes


def seeds() -> list[int]:
    if os.environ.get("FUZZ_SEED"):
        return [int(os.environ["FUZZ_SEED"])]
    if EXPLORE:
        return [random.SystemRandom().randrange(2**32) for _ in range(EXPLORE)]
    return [1]


@pytest.mark.parametrize("seed", seeds())
@pytest.mark.parametrize("target", TARGETS)
def test_calls_return_or_raise_documented_errors(target: str, seed: int, tmp_path: pathlib.Path) -> None:
    log_path = tmp_path / "calls.log"
    try:
        child = subprocess.run(
            [sys.executable, __file__, target, str(seed), str(CALLS[target]), str(tmp_path), str(log_path)],
            capture_output=True,
            text=True,
            timeout=600,
        )
    except subprocess.TimeoutExpired:
        pytest.fail(f"{target}, seed {seed}: still running after 600 s at {last_call(log_path)}")
    assert child.returncode == 0, (
        f"{target}, seed {seed} (FUZZ_SEED={seed} repeats it): the child ended with "
        f"{child.returncode} at\n  {last_call(log_path)}\n{child.stderr[-3000:]}"
    )
    outcomes = json.loads(child.stdout.strip().splitlines()[-1])
    assert sum(outcomes.values()) == CALLS[target]
    # Both results and refusals were drawn: the draws reach past the argument checks.
    assert any(key.endswith("result") or key.endswith("exit 0") for key in outcomes), outcomes
    assert any(not (key.endswith("result") or key.endswith("exit 0")) for key in outcomes), outcomes


def last_call(log_path: pathlib.Path) -> str:
    lines = log_path.read_text(encoding="utf-8").splitlines() if log_path.exists() else []
    return lines[-1] if lines else "(no call made)"


def test_every_native_function_is_fuzzed() -> None:
    from zorp_miner import _native

    public = {name for name in dir(_native) if not name.startswith("_")}
    assert public == set(NATIVE_FUNCTIONS)


if __name__ == "__main__":
    target, seed, calls, folder, log_path = sys.argv[1:]
    sys.path.insert(0, str(pathlib.Path(__file__).parent))
    try:
        found = fuzz(target, int(seed), int(calls), pathlib.Path(folder), pathlib.Path(log_path))
    except BaseException:
        traceback.print_exc()
        sys.exit(3)
    print(json.dumps(found))
