"""Writes docs/planted-motifs.png, the README's picture: zorp-miner's --plot on the bundled example.

Run it again (python docs/make_figure.py) after changing the plots or the example data.
"""

import pathlib
import sys

from zorp_miner.cli import main

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLE = ROOT / "examples" / "planted.json"
FIGURE = ROOT / "docs" / "planted-motifs.png"

if __name__ == "__main__":
    sys.exit(
        main(
            [str(EXAMPLE), "--seglen", "8", "--min-len", "6", "--top", "3"]
            + ["--plot", str(FIGURE), "--plot-motifs", "2"]
        )
    )
