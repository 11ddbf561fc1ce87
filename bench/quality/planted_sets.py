"""The planted sets of the quality benchmark: real labelled instances planted in hosts.

The rules below were fixed and committed before any method was run on these sets; no case is
ever dropped or changed because of how a method does on it. Changing a rule means raising
RULES_VERSION (the seeds and the cache of run.py depend on it).

**Data** (labelled_data.py): the ten classification data sets inside the aeon 1.6.0 wheel, the
multivariate two by their first channel, the unequal-length ones at their own lengths.

**Classes.** Rule A (the main table): each data set's most frequent class, ties to the first
label in sorted (string) order. Rule B (reported separately): every class of every data set in
turn, on a smaller grid (below).

**Instances.** Each plant is a different real instance of the class, drawn at random without
replacement; a class with fewer instances than plants is drawn as successive random
permutations, so no instance repeats before every one has been used (PickupGestureWiimoteZ,
BasicMotions and ACSF1 have 10 to 20 instances a class). An instance is planted as it is
recorded (its own values and length), shifted in level only.

**Hosts**, two kinds, each a row of the tables:

- walk: pieces of a Gaussian random walk, each z-normalised and scaled to the median standard
  deviation of the planted class's instances (of both classes', when two are planted), each
  piece uniform between max(8, L // 2) and max(16, 2 L) points long;
- crops: crops of instances of the data set's *other* classes (every class but the planted
  ones), each uniform between max(2, round(L / 6)) and max(2, round(L / 3)) points long (at most
  the instance's length), from a random instance at a random start: at most a third of the
  planted length, so that no window of that length holds most of another class's shape, which
  would then recur in every series as a rival motif.

Pieces and plants are joined level to level: each is shifted to start where the previous one
ended, so no jump marks an edge. L is the length given to the methods: the median length of
the instances planted in the set, rounded down (the instances' length where they all have one).
A host has H points, H uniform between max(1000, 2 Lmax) and max(2000, 3 Lmax), Lmax the longest
planted instance: 1,000 to 2,000 points for instances up to 666 points (2.3 to 4.7 times
OSULeaf's 427), 2 to 3 times the instance for longer ones (ACSF1: 2,920 to 4,380). The plants
sit at random positions: the free points are cut into gaps at uniformly drawn points.

**Grid.** Rule A: every data set, both hosts, 20 and 50 series, the class in 100 %, 60 % and
40 % of them (round(support x series) carriers, chosen at random), minsup 0.5 where the support
is 60 % or more and 0.3 at 40 %: 120 sets. Rule B: every class, both hosts, 20 series, support
60 %, minsup 0.5: 102 sets (a smaller grid, because STUMPY on ACSF1's long hosts takes about a
minute a set on this machine).

**Two shapes**: each data set's two most frequent classes (frequency ranks 0 and 1, ties as
above) in the same 20 series, both hosts (crops only where a third class exists to crop:
GunPoint, ItalyPowerDemand and UnitTest have two classes, so walk hosts only), in two layouts:
"halves" (the series split at random in two halves, each shape in every series of its half)
and "both" (both shapes in every series, not overlapping); minsup 0.5, top 2.

**Other hosts** (rule C, its own table; these rules were written, and run once by a probe
outside this file, before this section was added): each data set's most frequent class, 20
series, the class in 100 % and 60 % of them, minsup 0.5, in hosts built otherwise, each gap
between plants filled by one piece:

- longwalk: one Gaussian random walk, steps of s / sqrt(L) (s: the median standard deviation of
  the class's instances), not z-normalised piece by piece;
- noise: independent Gaussian values of deviation s;
- ar: a first-order autoregressive series, coefficient 0.9, of stationary deviation s;
- noisy: the walk host rule above, each plant with independent Gaussian noise of a quarter of
  that instance's own deviation added.

**Long**: each data set's most frequent class, 50 series of exactly 20,000 points, walk hosts,
one instance in every series, minsup 0.5.

**Seeds**: every set's generator is seeded with the CRC-32 of RULES_VERSION and the set's key
(section, data set, classes, host, size, support), so every run builds the same sets and no set
depends on which others are built.

Nothing is downloaded: the instances come from the installed wheel's files.
"""

from __future__ import annotations

import dataclasses
import zlib
from collections.abc import Callable, Iterator

import numpy as np
from labelled_data import DATASETS, DataSet, FloatArray, load

RULES_VERSION = "q1"

HOSTS = ("walk", "crops")
OTHER_HOSTS = ("longwalk", "noise", "ar", "noisy")  # rule C
OTHER_SIZE = 20  # series per set, rule C
OTHER_SUPPORTS = (1.0, 0.6)  # rule C
AR_COEFFICIENT = 0.9  # the ar host's
PLANT_NOISE = 0.25  # the noisy host's: noise added to a plant, in its own deviations
SIZES = (20, 50)  # series per set, rule A
SUPPORTS = (1.0, 0.6, 0.4)  # share of the series holding the shape, rule A
CLASS_SIZE = 20  # series per set, rule B
CLASS_SUPPORT = 0.6  # rule B
PAIR_SIZE = 20  # series per set, two shapes
LONG_SERIES, LONG_POINTS = 50, 20_000
HOST_POINTS = (1000, 2000)  # the host length range for instances up to 666 points
HOST_TIMES = (2, 3)  # the host length range in instance lengths, for longer ones
WALK_PIECE = (0.5, 2.0)  # walk piece length range, in L
WALK_PIECE_MIN = (8, 16)  # points
CROP_PIECE = (1 / 6, 1 / 3)  # crop length range, in L
CROP_PIECE_MIN = 2  # points


def minsup_for(support: float) -> float:
    """The minsup rule: 0.5 where the shape is in 60 % of the series or more, else 0.3."""
    return 0.5 if support >= 0.6 - 1e-9 else 0.3


Plant = tuple[int, int]  # (start, length) in points


@dataclasses.dataclass(frozen=True)
class Case:
    """One planted set.

    plants holds, for each planted shape (one, or two in the two-shape section), the
    (start, length) in points of its instance in each series, None where it is absent.
    length is the length given to the methods (points), minsup the rule's minsup.
    """

    key: str
    dataset: str
    labels: tuple[str, ...]
    host: str
    support: float
    series: list[FloatArray]
    plants: list[list[Plant | None]]
    length: int
    minsup: float
    size: int = 0  # series, kept when the series are dropped
    mean_points: float = 0.0  # the series' mean length in points, likewise

    def __post_init__(self) -> None:
        if self.series and not self.size:
            object.__setattr__(self, "size", len(self.series))
            object.__setattr__(self, "mean_points", float(np.mean([len(x) for x in self.series])))


def seeded(key: str) -> np.random.Generator:
    """The generator of a set: seeded from the rules' version and the set's key."""
    return np.random.default_rng(zlib.crc32(f"{RULES_VERSION}/{key}".encode()))


def draws(rng: np.random.Generator, count: int, pool: int) -> list[int]:
    """count indices into a pool: successive random permutations, no repeat before all are used."""
    out: list[int] = []
    while len(out) < count:
        out += rng.permutation(pool).tolist()
    return out[:count]


def joined(pieces: list[FloatArray]) -> FloatArray:
    """The pieces one after the other, each shifted to start where the previous one ended."""
    out = []
    level = 0.0
    for piece in pieces:
        shifted = piece - piece[0] + level
        out.append(shifted)
        level = float(shifted[-1])
    return np.concatenate(out)


Filler = Callable[[np.random.Generator, int], list[FloatArray]]


def walk_filler(length: int, scale: float) -> Filler:
    """Random-walk pieces (the walk host rule) adding up to the points asked for."""
    low = max(WALK_PIECE_MIN[0], int(WALK_PIECE[0] * length))
    high = max(WALK_PIECE_MIN[1], int(WALK_PIECE[1] * length))

    def fill(rng: np.random.Generator, points: int) -> list[FloatArray]:
        pieces: list[FloatArray] = []
        total = 0
        while total < points:
            size = int(rng.integers(low, high + 1))
            walk = np.cumsum(rng.standard_normal(size))
            spread = float(walk.std())
            piece = (walk - walk.mean()) / spread * scale if spread > 0 else np.zeros(size)
            pieces.append(piece[: points - total])
            total += len(pieces[-1])
        return pieces

    return fill


def crop_filler(material: list[FloatArray], length: int) -> Filler:
    """Crops of the material instances (the crops host rule) adding up to the points asked for."""
    low = max(CROP_PIECE_MIN, round(CROP_PIECE[0] * length))
    high = max(CROP_PIECE_MIN, round(CROP_PIECE[1] * length))

    def fill(rng: np.random.Generator, points: int) -> list[FloatArray]:
        pieces: list[FloatArray] = []
        total = 0
        while total < points:
            row = material[int(rng.integers(len(material)))]
            size = min(int(rng.integers(low, high + 1)), len(row), points - total)
            start = int(rng.integers(0, len(row) - size + 1))
            pieces.append(row[start : start + size])
            total += size
        return pieces

    return fill


def host_points(rng: np.random.Generator, longest: int) -> int:
    """A host's length in points (the host length rule)."""
    low = max(HOST_POINTS[0], HOST_TIMES[0] * longest)
    high = max(HOST_POINTS[1], HOST_TIMES[1] * longest)
    return int(rng.integers(low, high + 1))


def assembled(
    rng: np.random.Generator, points: int, shapes: list[FloatArray], fill: Filler
) -> tuple[FloatArray, list[int]]:
    """A host of points points with the shapes planted in random order at random places.

    Returns the series and each shape's start (in the order the shapes were given).
    """
    free = points - sum(len(shape) for shape in shapes)
    if free < 0:
        raise ValueError(f"a host of {points} points cannot hold shapes of {sum(map(len, shapes))}")
    cuts = sorted(int(c) for c in rng.integers(0, free + 1, size=len(shapes)))
    gaps = [b - a for a, b in zip([0] + cuts, cuts + [free], strict=True)]
    order = rng.permutation(len(shapes)).tolist()
    pieces: list[FloatArray] = []
    starts = [0] * len(shapes)
    at = 0
    for gap, which in zip(gaps, order + [-1], strict=True):
        if gap:
            pieces += fill(rng, gap)
            at += gap
        if which >= 0:
            pieces.append(shapes[which])
            starts[which] = at
            at += len(shapes[which])
    series = joined(pieces)
    assert len(series) == points
    return series, starts


def gap_filler(host: str, length: int, scale: float) -> Filler:
    """One piece per gap, of a rule C host kind other than noisy (see the module's description)."""

    def fill(rng: np.random.Generator, points: int) -> list[FloatArray]:
        if host == "longwalk":
            return [np.cumsum(rng.standard_normal(points)) * scale / np.sqrt(length)]
        if host == "noise":
            return [rng.standard_normal(points) * scale]
        innovations = rng.standard_normal(points) * scale * np.sqrt(1.0 - AR_COEFFICIENT**2)
        values = np.empty(points)
        values[0] = rng.standard_normal() * scale
        for t in range(1, points):
            values[t] = AR_COEFFICIENT * values[t - 1] + innovations[t]
        return [values]

    return fill


def filler_for(host: str, data: DataSet, labels: tuple[str, ...], length: int) -> Filler:
    """The host rule of a kind for a set planting the given classes."""
    if host in ("walk", "noisy", "longwalk", "noise", "ar"):
        spread = np.median([float(np.std(x)) for label in labels for x in data.of_class(label)])
        scale = float(spread) if spread > 0 else 1.0
        return walk_filler(length, scale) if host in ("walk", "noisy") else gap_filler(host, length, scale)
    if host == "crops":
        material = data.not_of(set(labels))
        if not material:
            raise ValueError(f"{data.name}: no other class to crop hosts from")
        return crop_filler(material, length)
    raise ValueError(f"unknown host kind {host!r}: expected one of {', '.join(HOSTS + OTHER_HOSTS)}")


def planted_case(
    key: str,
    data: DataSet,
    labels: tuple[str, ...],
    host: str,
    carriers: Callable[[np.random.Generator], list[set[int]]],
    size: int,
    support: float,
    minsup: float,
    points: int | None = None,
) -> Case:
    """A set of size series; carriers(rng) gives, per class, the series that hold it."""
    rng = seeded(key)
    holders = carriers(rng)
    pools = [data.of_class(label) for label in labels]
    chosen = [
        iter(draws(rng, len(held), len(pool))) for held, pool in zip(holders, pools, strict=True)
    ]
    instances: list[list[FloatArray | None]] = [
        [pool[next(picks)] if i in held else None for i in range(size)]
        for held, pool, picks in zip(holders, pools, chosen, strict=True)
    ]
    lengths = [len(x) for row in instances for x in row if x is not None]
    length = int(np.floor(np.median(lengths)))
    fill = filler_for(host, data, labels, length)
    if host == "noisy":
        instances = [
            [None if x is None else x + rng.standard_normal(len(x)) * PLANT_NOISE * float(np.std(x)) for x in row]
            for row in instances
        ]
    series: list[FloatArray] = []
    plants: list[list[Plant | None]] = [[] for _ in labels]
    for i in range(size):
        here = [(k, row[i]) for k, row in enumerate(instances) if row[i] is not None]
        total = points if points is not None else host_points(rng, max(lengths))
        values, starts = assembled(rng, total, [x for _, x in here if x is not None], fill)
        series.append(values)
        placed = {k: (start, len(x)) for (k, x), start in zip(here, starts, strict=True) if x is not None}
        for k in range(len(labels)):
            plants[k].append(placed.get(k))
    return Case(key, data.name, labels, host, support, series, plants, length, minsup)


def random_carriers(size: int, support: float) -> Callable[[np.random.Generator], list[set[int]]]:
    def pick(rng: np.random.Generator) -> list[set[int]]:
        count = round(support * size)
        return [set(rng.choice(size, size=count, replace=False).tolist())]

    return pick


def percent(support: float) -> int:
    return round(support * 100)


def single_case(section: str, dataset: str, label: str, host: str, size: int, support: float) -> Case:
    """One class planted in round(support x size) of size series."""
    key = f"{section}/{dataset}/{label}/{host}/{size}x{percent(support)}"
    return planted_case(
        key, load(dataset), (label,), host, random_carriers(size, support), size, support,
        minsup_for(support),
    )


def main_cases(sizes: tuple[int, ...] = SIZES) -> Iterator[Case]:
    """Rule A: each data set's most frequent class, both hosts, every size and support."""
    for dataset in DATASETS:
        label = load(dataset).most_frequent()
        for host in HOSTS:
            for size in sizes:
                for support in SUPPORTS:
                    yield single_case("main", dataset, label, host, size, support)


def class_cases() -> Iterator[Case]:
    """Rule B: every class of every data set, both hosts, CLASS_SIZE series, CLASS_SUPPORT."""
    for dataset in DATASETS:
        for label in load(dataset).classes():
            for host in HOSTS:
                yield single_case("class", dataset, label, host, CLASS_SIZE, CLASS_SUPPORT)


def other_host_cases() -> Iterator[Case]:
    """Rule C: each data set's most frequent class in the other host kinds, OTHER_SIZE series,
    every OTHER_SUPPORTS."""
    for dataset in DATASETS:
        label = load(dataset).most_frequent()
        for host in OTHER_HOSTS:
            for support in OTHER_SUPPORTS:
                yield single_case("hosts", dataset, label, host, OTHER_SIZE, support)


PAIR_LAYOUTS = ("halves", "both")


def pair_carriers(layout: str, size: int) -> Callable[[np.random.Generator], list[set[int]]]:
    def pick(rng: np.random.Generator) -> list[set[int]]:
        if layout == "both":
            return [set(range(size)), set(range(size))]
        order = rng.permutation(size).tolist()
        return [set(order[: size // 2]), set(order[size // 2 :])]

    return pick


def pair_cases() -> Iterator[Case]:
    """Two shapes: each data set's two most frequent classes, both layouts, both hosts where a
    third class exists to crop."""
    for dataset in DATASETS:
        data = load(dataset)
        labels = (data.most_frequent(0), data.most_frequent(1))
        hosts = HOSTS if len(data.classes()) > 2 else ("walk",)
        for host in hosts:
            for layout in PAIR_LAYOUTS:
                key = f"pair/{dataset}/{labels[0]}+{labels[1]}/{host}/{PAIR_SIZE}/{layout}"
                support = 1.0 if layout == "both" else 0.5
                yield planted_case(
                    key, data, labels, host, pair_carriers(layout, PAIR_SIZE), PAIR_SIZE,
                    support, 0.5,
                )


def long_cases() -> Iterator[Case]:
    """Long series: each data set's most frequent class in every one of 50 x 20,000 points."""
    for dataset in DATASETS:
        data = load(dataset)
        label = data.most_frequent()
        key = f"long/{dataset}/{label}/walk/{LONG_SERIES}x100/{LONG_POINTS}"
        yield planted_case(
            key, data, (label,), "walk", random_carriers(LONG_SERIES, 1.0), LONG_SERIES, 1.0,
            minsup_for(1.0), points=LONG_POINTS,
        )


def control_case(dataset: str, size: int = 20) -> Case:
    """A control for stumpy_check.py: the most frequent class in every series of white noise of
    a fifth of the instances' median deviation, where any consensus method should find it."""
    data = load(dataset)
    label = data.most_frequent()
    key = f"control/{dataset}/{label}/noise/{size}x100"
    rng = seeded(key)
    pool = data.of_class(label)
    spread = 0.2 * float(np.median([np.std(x) for x in pool]))
    series: list[FloatArray] = []
    plants: list[Plant | None] = []
    picks = draws(rng, size, len(pool))
    for index in picks:
        shape = pool[index]
        values = rng.normal(0.0, spread, host_points(rng, len(shape)))
        start = int(rng.integers(0, len(values) - len(shape) + 1))
        values[start : start + len(shape)] += shape
        series.append(values)
        plants.append((start, len(shape)))
    length = int(np.floor(np.median([p[1] for p in plants if p is not None])))
    return Case(key, dataset, (label,), "noise", 1.0, series, [plants], length, 0.5)
