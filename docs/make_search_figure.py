"""Writes docs/search-by-example.png, the picture of the README's "Search by example": the
example's search drawn by zorp_miner.plot_search.

Run it again (python docs/make_search_figure.py) after changing the plot or the example.
"""

import pathlib

import numpy as np
import numpy.typing as npt

import zorp_miner

FIGURE = pathlib.Path(__file__).resolve().parent / "search-by-example.png"


def example() -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """The README's example: three random walks, the shape added at four places, a gap."""
    rng = np.random.default_rng(0)
    walks = np.cumsum(rng.normal(size=(3, 3000)), axis=1)
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    for row, start in [(0, 700), (1, 2500), (2, 100), (2, 1900)]:
        walks[row, start : start + 60] += shape
    walks[1, 1000:1040] = np.nan
    return shape, walks


if __name__ == "__main__":
    shape, walks = example()
    found = zorp_miner.find_matches(shape, walks)
    zorp_miner.plot_search(found, walks).savefig(FIGURE, dpi=100)
    print(f"{found!r}\nwrote {FIGURE}")
