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
from typing import Any

import make_example_data

SEED = 20261208


def example_data() -> dict[str, Any]:
    return make_example_data.example_data(
        seed=SEED,
        grid=1,
        description="noisy random walks, each with one square-wave burst planted at an arbitrary position",
    )


def main() -> None:
    parser = argparse.ArgumentParser(description="Writes the unaligned example data set.")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path(__file__).with_name("unaligned.json"))
    out = parser.parse_args().out
    data = example_data()
    out.write_text(json.dumps(data, separators=(",", ":")) + "\n")
    print(f"wrote {out.name}: {len(data['series'])} series, a shape of {data['shape_points']} points in each")


if __name__ == "__main__":
    main()
