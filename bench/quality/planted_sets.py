"""Planted-motif sets built from real labelled series bundled with aeon.

Each set takes one class of a UCR data set as the shape to find. Every series of the set is a
host of a few thousand points glued together from random fragments of instances of the *other*
classes, so that no whole shape of another class recurs in it; one real instance of the planted
class (a different one in each series) is inserted at a random point position in a chosen
fraction of the series. Fragments and the planted instance are joined level to level (each piece
is shifted so that it starts where the previous one ended), so neither the instance nor the
fragments stand out by a jump at their edges. Everything comes from the data files that ship
inside the aeon wheel; nothing is downloaded. Seeds are fixed, so every run builds the same sets.
"""

from __future__ import annotations

import dataclasses
import importlib.util
import pathlib

import numpy as np

# Three shapes of distinct kinds: a hand movement's bump between flat shoulders (150 points),
# the smooth outline of an arrowhead (251 points) and a day of electricity demand (24 points).
# From each the class whose instances agree best is planted (see planted_class). The other
# bundled univariate sets are left out because no class of theirs is one shape: in OSULeaf,
# PickupGestureWiimoteZ and BasicMotions two instances of a class are as far apart as two
# unrelated shapes (median distance above 1.2, unrelated being 1.41), and ACSF1's instances of
# 1460 points would fill half a host.
DATASETS = ("GunPoint", "ArrowHead", "ItalyPowerDemand")
HOST_POINTS = (2000, 3000)  # host length range, planted instance included (points)
# Fragment lengths, as fractions of the planted length: at most a third, so that a window of
# the planted length never holds more than a third of an instance of another class. Longer
# fragments carry whole shapes of the other classes, which then recur in every series (several
# times) and are a better consensus motif than the planted class itself.
FRAGMENT = (1 / 6, 1 / 3)


@dataclasses.dataclass(frozen=True)
class PlantedSet:
    """A set of series with one instance of a class planted in some of them.

    planted_at holds, per series, the start of the planted instance in points, or None where
    nothing was planted; length is the planted instance's length in points.
    """

    name: str
    series: list[np.ndarray]
    planted_at: list[int | None]
    length: int


def data_directory() -> pathlib.Path:
    """The data sets inside the installed aeon package, found without importing it.

    aeon serves only as the carrier of the files (it is installed without its dependencies, see
    bench/README.md): importing it would pull in numba versions that STUMPY's may not match.
    """
    spec = importlib.util.find_spec("aeon")
    if spec is None or not spec.submodule_search_locations:
        raise SystemExit("the benchmark's data sets ship inside aeon: pip install --no-deps aeon==1.6.0")
    return pathlib.Path(next(iter(spec.submodule_search_locations))) / "datasets" / "data"


def read_ts(path: pathlib.Path) -> tuple[np.ndarray, np.ndarray]:
    """Instances and labels of a univariate, equal-length .ts file (values then ':label')."""
    rows, labels = [], []
    for line in path.read_text().splitlines():
        line = line.strip()
        if not line or line.startswith(("#", "@")):
            continue
        values, label = line.rsplit(":", 1)
        rows.append([float(value) for value in values.split(",")])
        labels.append(label)
    return np.array(rows, dtype=np.float64), np.array(labels)


def load_instances(dataset: str) -> tuple[np.ndarray, np.ndarray]:
    """All instances (train and test) of a bundled univariate data set, and their labels."""
    parts = [read_ts(data_directory() / dataset / f"{dataset}_{split}.ts") for split in ("TRAIN", "TEST")]
    return np.concatenate([x for x, _ in parts]), np.concatenate([y for _, y in parts])


def joined(pieces: list[np.ndarray]) -> np.ndarray:
    """The pieces one after the other, each shifted to start where the previous one ended."""
    out = []
    level = 0.0
    for piece in pieces:
        shifted = piece - piece[0] + level
        out.append(shifted)
        level = float(shifted[-1])
    return np.concatenate(out)


def host_pieces(rng: np.random.Generator, material: np.ndarray, points: int, length: int) -> list[np.ndarray]:
    """Random fragments of the material rows adding up to exactly points points."""
    pieces: list[np.ndarray] = []
    total = 0
    while total < points:
        size = int(rng.integers(max(1, round(FRAGMENT[0] * length)), max(1, round(FRAGMENT[1] * length)) + 1))
        size = min(size, points - total)
        row = material[int(rng.integers(len(material)))]
        start = int(rng.integers(0, len(row) - size + 1))
        pieces.append(row[start:start + size])
        total += size
    return pieces


def class_spread(instances: np.ndarray) -> float:
    """Median length-normalised z-normalised distance between two instances (0 to 2)."""
    centred = instances - instances.mean(axis=1, keepdims=True)
    shapes = centred / centred.std(axis=1, keepdims=True)
    correlation = shapes @ shapes.T / shapes.shape[1]
    pairs = np.triu_indices(len(shapes), 1)
    return float(np.median(np.sqrt(np.maximum(2.0 * (1.0 - correlation[pairs]), 0.0))))


def planted_class(instances: np.ndarray, labels: np.ndarray) -> str:
    """The class whose instances agree best: the smallest class_spread."""
    names: list[str] = sorted({str(label) for label in labels.tolist()})
    return min(names, key=lambda label: class_spread(instances[labels == label]))


def planted_set(dataset: str, series_count: int, fraction: float, seed: int) -> PlantedSet:
    """series_count hosts, the planted class inserted into round(fraction * series_count) of them."""
    instances, labels = load_instances(dataset)
    label = planted_class(instances, labels)
    shapes = instances[labels == label]
    material = instances[labels != label]
    length = shapes.shape[1]
    rng = np.random.default_rng(seed)
    planted_count = round(fraction * series_count)
    carriers = set(rng.choice(series_count, size=planted_count, replace=False).tolist())
    chosen = rng.choice(len(shapes), size=planted_count, replace=False)
    series: list[np.ndarray] = []
    planted_at: list[int | None] = []
    used = 0
    for index in range(series_count):
        points = int(rng.integers(HOST_POINTS[0], HOST_POINTS[1] + 1))
        if index in carriers:
            start = int(rng.integers(0, points - length + 1))
            before = host_pieces(rng, material, start, length) if start else []
            after_points = points - start - length
            after = host_pieces(rng, material, after_points, length) if after_points else []
            series.append(joined(before + [shapes[chosen[used]]] + after))
            planted_at.append(start)
            used += 1
        else:
            series.append(joined(host_pieces(rng, material, points, length)))
            planted_at.append(None)
    name = f"{dataset} {series_count}x{round(fraction * 100)}%"
    return PlantedSet(name, series, planted_at, length)


def benchmark_sets() -> list[PlantedSet]:
    """The twelve sets of the benchmark: each data set at 20 and 50 series, 100 % and 60 %."""
    sets = []
    for d, dataset in enumerate(DATASETS):
        for series_count in (20, 50):
            for fraction in (1.0, 0.6):
                seed = 1000 * d + 10 * series_count + round(fraction * 10)
                sets.append(planted_set(dataset, series_count, fraction, seed))
    return sets


def easy_set(dataset: str, series_count: int, seed: int) -> PlantedSet:
    """A control: the planted class's instances in hosts of white noise, in every series.

    The noise has a fifth of an instance's deviation, so nothing in a host resembles the shape:
    any consensus method should find it.
    """
    instances, labels = load_instances(dataset)
    shapes = instances[labels == planted_class(instances, labels)]
    length = shapes.shape[1]
    spread = 0.2 * float(np.median(shapes.std(axis=1)))
    rng = np.random.default_rng(seed)
    chosen = rng.choice(len(shapes), size=series_count, replace=False)
    series: list[np.ndarray] = []
    planted_at: list[int | None] = []
    for row in chosen.tolist():
        points = int(rng.integers(HOST_POINTS[0], HOST_POINTS[1] + 1))
        values = rng.normal(0.0, spread, points)
        start = int(rng.integers(0, points - length + 1))
        values[start : start + length] += shapes[row]
        series.append(values)
        planted_at.append(start)
    return PlantedSet(f"{dataset} {series_count}x100% in noise", series, planted_at, length)


def easy_sets() -> list[PlantedSet]:
    """The controls: each data set's class in white noise, 20 series."""
    return [easy_set(dataset, 20, 500 + d) for d, dataset in enumerate(DATASETS)]
