"""Development sets for the robust mode's recall, built by rules of their own.

These are not the benchmark's sets (``planted_sets.py``): the rules differ on purpose, so that a
change measured here and there was not fitted to either. Every set plants real instances of the
*most frequent* class of a labelled data set bundled in the aeon wheel (ties: the first label in
sorted order) at random positions in hosts of one of three kinds:

- ``walk``: pieces of random walks (Gaussian steps), each a half to twice the planted length,
  z-normalised and joined level to level;
- ``crops``: crops of instances of the *other* classes, a sixth to a half of an instance long,
  z-normalised and joined level to level;
- ``noise``: white noise of deviation 1.

The planted instance is z-normalised and joined level to level too. Hosts are 1000 to 2000
points long, or three to four planted lengths where that is longer. Support 100, 60 or 40 % of
the series. Synthetic extras: short spikes (8 to 30 points) in walks, two shapes in one set,
long series, and windows of a bundled recording.
"""

from __future__ import annotations

import dataclasses
import pathlib

import numpy as np

from planted_sets import data_directory, load_instances, read_ts

DATASETS = ("GunPoint", "ArrowHead", "OSULeaf", "ItalyPowerDemand", "PickupGestureWiimoteZ")
HOSTS = ("walk", "crops", "noise")
SUPPORTS = (1.0, 0.6, 0.4)


@dataclasses.dataclass(frozen=True)
class Planted:
    """A set of series and where each planted shape sits: planted[k][i] is the start of shape
    k in series i (None where it is absent), lengths[k] its length in points."""

    name: str
    series: list[np.ndarray]
    planted: list[list[int | None]]
    lengths: list[int]
    support: float


def instances(dataset: str) -> tuple[np.ndarray, np.ndarray]:
    if dataset == "PickupGestureWiimoteZ":
        parts = [
            read_ts(data_directory() / dataset / f"{dataset}_eq_{split}.ts") for split in ("TRAIN", "TEST")
        ]
        return np.concatenate([x for x, _ in parts]), np.concatenate([y for _, y in parts])
    return load_instances(dataset)


def most_frequent(labels: np.ndarray) -> str:
    names, counts = np.unique(labels, return_counts=True)
    return str(names[int(np.argmax(counts))])


def znorm(values: np.ndarray) -> np.ndarray:
    deviation = values.std()
    return (values - values.mean()) / (deviation if deviation > 0 else 1.0)


def joined(pieces: list[np.ndarray]) -> np.ndarray:
    out, level = [], 0.0
    for piece in pieces:
        shifted = piece - piece[0] + level
        out.append(shifted)
        level = float(shifted[-1])
    return np.concatenate(out) if out else np.zeros(0)


def host(rng: np.random.Generator, kind: str, points: int, length: int, material: np.ndarray) -> list[np.ndarray]:
    if kind == "noise":
        return [rng.normal(size=points)] if points else []
    pieces: list[np.ndarray] = []
    total = 0
    while total < points:
        if kind == "walk":
            size = int(rng.integers(max(2, length // 2), 2 * length + 1))
            piece = znorm(np.cumsum(rng.normal(size=size)))
        else:
            row = material[int(rng.integers(len(material)))]
            size = int(rng.integers(max(2, len(row) // 6), max(3, len(row) // 2) + 1))
            start = int(rng.integers(0, len(row) - size + 1))
            piece = znorm(row[start : start + size])
        size = min(len(piece), points - total)
        pieces.append(piece[:size])
        total += size
    return pieces


def build(
    name: str,
    shapes: list[np.ndarray],
    material: np.ndarray,
    kind: str,
    count: int,
    support: float,
    seed: int,
    points: tuple[int, int] = (1000, 2000),
    together: bool = True,
) -> Planted:
    """count hosts; each shape planted in round(support x count) of them (with ``together``
    the same series for every shape, else different series where there are enough)."""
    rng = np.random.default_rng(seed)
    lengths = [len(s[0]) for s in shapes]
    longest = max(lengths)
    planted_count = round(support * count)
    order = rng.permutation(count)
    carriers = []
    for k in range(len(shapes)):
        if together:
            carriers.append(set(order[:planted_count].tolist()))
        else:
            carriers.append(set(np.roll(order, -k * planted_count)[:planted_count].tolist()))
    picks = [rng.choice(len(s), size=planted_count, replace=len(s) < planted_count) for s in shapes]
    used = [0] * len(shapes)
    series: list[np.ndarray] = []
    planted: list[list[int | None]] = [[None for _ in range(count)] for _ in shapes]
    for i in range(count):
        low, high = max(points[0], 3 * longest), max(points[1], 4 * longest)
        total = int(rng.integers(low, high + 1))
        here = [k for k in range(len(shapes)) if i in carriers[k]]
        rng.shuffle(here)
        free = total - sum(lengths[k] for k in here)
        cuts = sorted(rng.integers(0, free + 1, size=len(here)).tolist())
        pieces: list[np.ndarray] = []
        at = 0
        previous = 0
        for k, cut in zip(here, cuts):
            pieces += host(rng, kind, cut - previous, longest, material)
            at += cut - previous
            previous = cut
            planted[k][i] = at
            pieces.append(znorm(shapes[k][picks[k][used[k]]]))
            used[k] += 1
            at += lengths[k]
        pieces += host(rng, kind, free - previous, longest, material)
        series.append(joined(pieces))
    return Planted(name, series, planted, lengths, support)


def real_set(dataset: str, kind: str, count: int, support: float, seed: int) -> Planted:
    x, y = instances(dataset)
    label = most_frequent(y)
    return build(
        f"{dataset} {kind} {count}x{round(100 * support)}%",
        [x[y == label]],
        x[y != label],
        kind,
        count,
        support,
        seed,
    )


def real_sets(count: int = 20, seed: int = 77) -> list[Planted]:
    sets = []
    for d, dataset in enumerate(DATASETS):
        for h, kind in enumerate(HOSTS):
            for s, support in enumerate(SUPPORTS):
                sets.append(real_set(dataset, kind, count, support, seed + 100 * d + 10 * h + s))
    return sets


def spikes(length: int, rng: np.random.Generator, copies: int) -> np.ndarray:
    """copies of one random short shape (a bump and a dip at random places), a little noise each."""
    t = np.linspace(0.0, 1.0, length)
    a, b = rng.uniform(0.1, 0.45), rng.uniform(0.55, 0.9)
    width = rng.uniform(0.04, 0.12)
    base = np.exp(-(((t - a) / width) ** 2)) - 0.8 * np.exp(-(((t - b) / width) ** 2))
    return np.stack([base + rng.normal(0.0, 0.05, length) for _ in range(copies)])


def spike_sets(count: int = 20, seed: int = 900) -> list[Planted]:
    sets = []
    for j, length in enumerate((8, 12, 16, 24, 30)):
        rng = np.random.default_rng(seed + j)
        shapes = spikes(length, rng, count)
        for support in (1.0, 0.6):
            sets.append(build(f"spike{length} walk {count}x{round(100 * support)}%", [shapes], shapes, "walk",
                              count, support, seed + 10 * j + round(10 * support)))
    return sets


def two_shape_sets(count: int = 20, seed: int = 500) -> list[Planted]:
    """Two classes' instances in the same set: each in half the series, or both in all."""
    sets = []
    pairs = (("GunPoint", "ArrowHead"), ("ArrowHead", "ItalyPowerDemand"), ("OSULeaf", "GunPoint"))
    for p, (first, second) in enumerate(pairs):
        xa, ya = instances(first)
        xb, yb = instances(second)
        shapes = [xa[ya == most_frequent(ya)], xb[yb == most_frequent(yb)]]
        for kind in ("walk", "noise"):
            for together, support in ((True, 1.0), (False, 0.5)):
                name = f"{first}+{second} {kind} {'both in all' if together else 'each in half'}"
                sets.append(build(name, shapes, shapes[0], kind, count, support, seed + 10 * p + together,
                                  together=together))
    return sets


def long_sets(seed: int = 300) -> list[Planted]:
    """Few long series of random-walk pieces holding a smooth outline (ArrowHead) in every one."""
    x, y = instances("ArrowHead")
    label = most_frequent(y)
    return [build("ArrowHead walk 40 x 16000", [x[y == label]], x, "walk", 40, 1.0, seed, points=(16000, 16000))]


def recording(path: pathlib.Path, column: int = 1) -> np.ndarray:
    rows = [line.split(",") for line in path.read_text().splitlines()[1:] if line.strip()]
    return np.array([float(row[column]) for row in rows])


def recording_windows() -> list[tuple[str, list[np.ndarray], int]]:
    """Recordings cut into windows: (name, windows, the beat's period in points)."""
    base = data_directory()
    out = []
    ecg = recording(base / "UnitTest" / "ecg-diff-count-3_TRAIN_A.csv")
    bleeding = recording(base / "KDD-TSAD_135" / "135_UCR_Anomaly_InternalBleeding16_TEST.csv")
    for name, values in (("ecg-diff-count-3", ecg), ("InternalBleeding16", bleeding)):
        period = beat_period(values)
        width = 6 * period
        windows = [values[i : i + width] for i in range(0, len(values) - width + 1, width)]
        out.append((name, windows[:40], period))
    return out


def beat_period(values: np.ndarray) -> int:
    """The lag (points) of the autocorrelation's highest peak after its first dip."""
    centred = values - values.mean()
    spectrum = np.fft.rfft(centred, n=2 * len(centred))
    auto = np.fft.irfft(spectrum * np.conj(spectrum))[: len(centred) // 4]
    dip = int(np.argmax(np.diff(auto) > 0))
    return dip + int(np.argmax(auto[dip:]))
