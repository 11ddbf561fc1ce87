"""Writes docs/every-occurrence.png, the picture of the README's "Every occurrence of a motif":
the occurrences of the example's best motif in series 3, drawn by zorp_miner.plot_search.

Run it again (python docs/make_occurrences_figure.py) after changing the plot or the example.
"""

import pathlib

import numpy as np
import numpy.typing as npt

import zorp_miner

FIGURE = pathlib.Path(__file__).resolve().parent / "every-occurrence.png"


def example() -> npt.NDArray[np.float64]:
    """The README's example: six random walks, a shape added once to three times in each."""
    rng = np.random.default_rng(1)
    walks = np.cumsum(rng.normal(size=(6, 2000)), axis=1)
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    copies = {0: [300], 1: [150, 900], 2: [1200], 3: [100, 700, 1500], 4: [400, 1300], 5: [800]}
    for row, starts in copies.items():
        for start in starts:
            walks[row, start : start + 60] += shape
    return walks


if __name__ == "__main__":
    walks = example()
    best = zorp_miner.find_motifs(walks, length=60, top=3)[0]
    found = best.occurrences(walks, max_distance=0.5)
    zorp_miner.plot_search(found, walks, series=3).savefig(FIGURE, dpi=100)
    print(f"{found!r}\nwrote {FIGURE}")
