"""The labelled data sets of the quality benchmark, read from the files inside the aeon wheel.

**Which data sets** (the rule, fixed before any method was run on them): every data set that
ships inside the aeon 1.6.0 wheel as a classification problem, that is every folder of
``aeon/datasets/data`` holding a ``<folder>_TRAIN.ts`` and a ``<folder>_TEST.ts`` whose header
says ``@classLabel true``. Listing the wheel gives ten:

- univariate: ACSF1, ArrowHead, Covid3Month_disc, GunPoint, ItalyPowerDemand, OSULeaf,
  PickupGestureWiimoteZ, UnitTest;
- multivariate: BasicMotions (6 channels), JapaneseVowels (12 channels). They enter as their
  *first channel* (the first ``:``-separated block of each instance as the file lists it), one
  rule for both, with no look at which channel holds the clearest shape.

Left out by the same rule: CardanoSentiment and Covid3Month (``@targetlabel``: regression, no
classes), UnitTestTimeStamps (a format fixture: seven series of four points with time stamps and
no test file), and the CSV files (forecasting, segmentation and anomaly series, unlabelled).
``discovered()`` applies the rule to the installed files, and the benchmark refuses to run when
it does not give ``DATASETS``, so a different wheel cannot silently change the data.

**Unequal lengths.** PickupGestureWiimoteZ and JapaneseVowels also ship ``_eq`` files, where
every instance is stretched by interpolation to the longest one's length (361 and 25 points).
The benchmark reads the unequal-length files and plants each instance at its own length: a
recorded gesture of 29 points stretched twelvefold is a shape no recording holds. A method that
needs one length is given the median length of the instances planted in the set (see
planted_sets.py), and each plant is scored at its own length.

Train and test files are pooled. Values are read as written; aeon itself is never imported
(it is installed with --no-deps only to carry the files).
"""

from __future__ import annotations

import dataclasses
import functools
import importlib.util
import pathlib

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

DATASETS = (
    "ACSF1",
    "ArrowHead",
    "BasicMotions",
    "Covid3Month_disc",
    "GunPoint",
    "ItalyPowerDemand",
    "JapaneseVowels",
    "OSULeaf",
    "PickupGestureWiimoteZ",
    "UnitTest",
)


@dataclasses.dataclass(frozen=True)
class DataSet:
    """The pooled instances of one data set (first channel), each with its class label."""

    name: str
    instances: tuple[FloatArray, ...]
    labels: tuple[str, ...]

    def classes(self) -> list[str]:
        """The class labels, sorted as strings."""
        return sorted(set(self.labels))

    def of_class(self, label: str) -> list[FloatArray]:
        """The instances of one class, in file order (train first)."""
        return [x for x, y in zip(self.instances, self.labels, strict=True) if y == label]

    def not_of(self, labels: set[str]) -> list[FloatArray]:
        """The instances of every class not in labels, in file order."""
        return [x for x, y in zip(self.instances, self.labels, strict=True) if y not in labels]

    def most_frequent(self, rank: int = 0) -> str:
        """The class of the given frequency rank (0: most frequent); ties go to the first label
        in sorted order."""
        counts = {label: self.labels.count(label) for label in self.classes()}
        ordered = sorted(counts, key=lambda label: (-counts[label], label))
        return ordered[rank]


def data_directory() -> pathlib.Path:
    """The data sets inside the installed aeon package, found without importing it.

    aeon serves only as the carrier of the files (it is installed without its dependencies, see
    bench/README.md): importing it would pull in numba versions that STUMPY's may not match.
    """
    spec = importlib.util.find_spec("aeon")
    if spec is None or not spec.submodule_search_locations:
        raise SystemExit(
            "the benchmark's data sets ship inside aeon: "
            "pip install --no-deps -r bench/data-requirements.txt"
        )
    return pathlib.Path(next(iter(spec.submodule_search_locations))) / "datasets" / "data"


def header(path: pathlib.Path) -> dict[str, str]:
    """The ``@key value`` lines of a .ts file, keys lower-cased (files differ in case)."""
    tags: dict[str, str] = {}
    for line in path.read_text().splitlines():
        line = line.strip()
        if line.lower().startswith("@data"):
            break
        if line.startswith("@"):
            key, _, value = line[1:].partition(" ")
            tags.setdefault(key.lower(), value.strip())
    return tags


def is_classification(folder: pathlib.Path) -> bool:
    """Whether a data folder holds a TRAIN/TEST pair of .ts files with class labels."""
    files = [folder / f"{folder.name}_{split}.ts" for split in ("TRAIN", "TEST")]
    return all(path.is_file() for path in files) and all(
        header(path).get("classlabel", "").lower().startswith("true") for path in files
    )


def discovered() -> tuple[str, ...]:
    """The data sets the rule picks from the installed wheel, sorted."""
    root = data_directory()
    return tuple(sorted(f.name for f in root.iterdir() if f.is_dir() and is_classification(f)))


def check_wheel() -> None:
    """Refuse to run on a wheel whose classification data sets are not DATASETS."""
    found = discovered()
    if found != DATASETS:
        raise SystemExit(
            f"the installed aeon holds the classification data sets {found}, the benchmark "
            f"expects {DATASETS}: install aeon as pinned in bench/data-requirements.txt"
        )


def read_ts(path: pathlib.Path) -> tuple[list[FloatArray], list[str]]:
    """Instances (first channel, each at its own length) and labels of a .ts file.

    A data line is ``channel:channel:...:label``, each channel comma-separated values.
    """
    rows: list[FloatArray] = []
    labels: list[str] = []
    started = False
    for line in path.read_text().splitlines():
        line = line.strip()
        if not started:
            started = line.lower().startswith("@data")
            continue
        if not line or line.startswith("#"):
            continue
        blocks = line.split(":")
        if len(blocks) < 2:
            raise ValueError(f"{path}: a data line without a label: {line[:60]!r}")
        values = np.array([float(v) for v in blocks[0].split(",")], dtype=np.float64)
        if not np.all(np.isfinite(values)):
            raise ValueError(f"{path}: an instance with missing or infinite values")
        rows.append(values)
        labels.append(blocks[-1].strip())
    return rows, labels


@functools.cache
def load(name: str) -> DataSet:
    """A data set of DATASETS: its train and test instances pooled, train first."""
    if name not in DATASETS:
        raise ValueError(f"unknown data set {name!r}: expected one of {', '.join(DATASETS)}")
    instances: list[FloatArray] = []
    labels: list[str] = []
    for split in ("TRAIN", "TEST"):
        rows, names = read_ts(data_directory() / name / f"{name}_{split}.ts")
        instances += rows
        labels += names
    return DataSet(name, tuple(instances), tuple(labels))
