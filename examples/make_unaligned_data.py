"""Writes examples/unaligned.json: the bundled example's shape, planted at arbitrary positions.

Same series as examples/make_example_data.py (slow random walks seen through white noise, 40
of them, 600 to 1400 points each, the same 96-point square-wave burst added once to each), with
one difference: the burst starts at any point, not only at multiples of the seglen. This is how
a shape sits in data as users have it; the exact pipeline's letters then differ from series to
series, so it needs the robust mode. The seed is fixed, so the same file comes out every time.
"""

import argparse
import json
import pathlib
import random
from typing import Any

from make_example_data import LONGEST, NOISE, SERIES, SHORTEST, STEP, planted_shape

SEED = 20261208


def make_series(rng: random.Random, shape: list[float]) -> tuple[list[float], int]:
    length = rng.randint(SHORTEST, LONGEST)
    level = 0.0
    series = []
    for _ in range(length):
        level += rng.gauss(0.0, STEP)
        series.append(level + rng.gauss(0.0, NOISE))
    start = rng.randint(0, length - len(shape))
    for i, value in enumerate(shape):
        series[start + i] += value
    return [round(value, 5) for value in series], start


def example_data() -> dict[str, Any]:
    rng = random.Random(SEED)
    shape = planted_shape()
    series, starts = zip(*(make_series(rng, shape) for _ in range(SERIES)))
    return {
        "description": "noisy random walks, each with one square-wave burst planted at an arbitrary position",
        "seed": SEED,
        "shape_points": len(shape),
        "planted_at": list(starts),
        "series": list(series),
    }


def main() -> None:
    parser = argparse.ArgumentParser(description="Writes the unaligned example data set.")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path(__file__).with_name("unaligned.json"))
    out = parser.parse_args().out
    data = example_data()
    out.write_text(json.dumps(data, separators=(",", ":")) + "\n")
    print(f"wrote {out.name}: {len(data['series'])} series, a shape of {data['shape_points']} points in each")


if __name__ == "__main__":
    main()
