"""Writes examples/unaligned.json: the bundled example's shape, planted at arbitrary positions.

Same series as examples/make_example_data.py (slow random walks seen through white noise, 40
of them, 600 to 1400 points each, the same 96-point square-wave burst added once to each), with
one difference: the burst starts at any point, not only at multiples of the seglen. This is how
a shape sits in data as users have it; the exact pipeline's letters then differ from series to
series, so it needs the robust mode. The seed is fixed, so the same file comes out every time.
"""

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
    make_example_data.write(example_data(), "unaligned.json", "Writes the unaligned example data set.")


if __name__ == "__main__":
    main()
