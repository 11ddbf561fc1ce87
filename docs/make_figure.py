"""Writes docs/unaligned-motifs.png, the README's picture: zorp-miner's --plot in the robust mode
on the bundled example of unaligned shapes (what ./scripts/demo.sh draws).

Run it again (python docs/make_figure.py) after changing the plots or the example data.
"""

import pathlib
import sys

from zorp_miner.cli import main

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLE = ROOT / "examples" / "unaligned.json"
FIGURE = ROOT / "docs" / "unaligned-motifs.png"

if __name__ == "__main__":
    sys.exit(main([str(EXAMPLE), "--plot", str(FIGURE)]))
