"""Writes examples/planted.json: noisy random walks with one shape planted in each.

The file is committed; run this script again only to change the example. The seed is fixed, so
the same file comes out every time.

Each series is a slow random walk seen through white noise, of its own length, with one copy of
a square-wave burst (three high and three low plateaus of 24 points each) added at a known,
random position. Positions are multiples of SEGMENT, the seglen the demo uses, so the burst
covers whole SAX segments and reads as the same letters in every series; the noise keeps the
background from forming long frequent patterns of its own.
"""

import argparse
import json
import pathlib
import random
from typing import Any

SEED = 20261207
SERIES = 40
SHORTEST, LONGEST = 600, 1400
SEGMENT = 8
STEP = 0.02
NOISE = 1.0
PLATEAUS = [3.0, 3.0, 3.0, -3.0, -3.0, -3.0, 3.0, 3.0, 3.0, -3.0, -3.0, -3.0]


def planted_shape() -> list[float]:
    return [level for level in PLATEAUS for _ in range(SEGMENT)]


def make_series(rng: random.Random, shape: list[float], grid: int = SEGMENT) -> tuple[list[float], int]:
    """One noisy walk with shape added at a random multiple of grid points (1: anywhere)."""
    length = rng.randint(SHORTEST, LONGEST)
    level = 0.0
    series = []
    for _ in range(length):
        level += rng.gauss(0.0, STEP)
        series.append(level + rng.gauss(0.0, NOISE))
    start = grid * rng.randint(0, (length - len(shape)) // grid)
    for i, value in enumerate(shape):
        series[start + i] += value
    return [round(value, 5) for value in series], start


def example_data(
    seed: int = SEED,
    grid: int = SEGMENT,
    description: str = "noisy random walks, each with one planted square-wave burst",
) -> dict[str, Any]:
    rng = random.Random(seed)
    shape = planted_shape()
    series, starts = zip(*(make_series(rng, shape, grid) for _ in range(SERIES)))
    return {
        "description": description,
        "seed": seed,
        "shape_points": len(shape),
        "planted_at": list(starts),
        "series": list(series),
    }


def write(data: dict[str, Any], name: str, title: str) -> None:
    """Writes data as JSON to --out (by default ``name`` beside this script)."""
    parser = argparse.ArgumentParser(description=title)
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path(__file__).with_name(name))
    out = parser.parse_args().out
    out.write_text(json.dumps(data, separators=(",", ":")) + "\n")
    print(f"wrote {out.name}: {len(data['series'])} series, a shape of {data['shape_points']} points in each")


def main() -> None:
    write(example_data(), "planted.json", "Writes the example data set.")


if __name__ == "__main__":
    main()
