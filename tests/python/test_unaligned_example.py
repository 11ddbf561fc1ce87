"""The unaligned example generator: reproducible, and its bursts sit off the segment grid."""

import importlib.util
import pathlib

import numpy as np

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def generator():
    spec = importlib.util.spec_from_file_location("make_unaligned_data", EXAMPLES / "make_unaligned_data.py")
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    import sys

    sys.path.insert(0, str(EXAMPLES))
    try:
        spec.loader.exec_module(module)
    finally:
        sys.path.remove(str(EXAMPLES))
    return module


def test_the_same_data_comes_out_every_time():
    make = generator()
    assert make.example_data() == make.example_data()


def test_bursts_are_planted_where_stated_and_mostly_off_the_grid():
    data = generator().example_data()
    length = data["shape_points"]
    assert len(data["series"]) == len(data["planted_at"]) == 40
    assert sum(1 for start in data["planted_at"] if start % 8) >= 30
    for values, start in zip(data["series"], data["planted_at"]):
        values = np.array(values)
        assert 0 <= start <= len(values) - length
        # The burst's high plateaus stand about 6 above its low ones; the noise is 1.
        plateaus = values[start : start + length].reshape(-1, length // 4)
        assert plateaus[0].mean() - plateaus[1].mean() > 4
