"""zorp_miner: recurring shapes (motifs) across a set of numeric time series.

The entry point is :func:`find_motifs`; :func:`find_matches` finds where one given shape occurs,
``Motif.occurrences`` every occurrence of a motif, and :func:`find_discords` the windows least
like any other (anomalies); :func:`load` reads series from CSV, TSV,
UCR ``.tsv``, JSON, ``.npy`` and ``.npz`` files; :func:`plot_motif` and :func:`plot_motifs`
draw results (matplotlib, the ``plot`` extra); ``zorp-miner`` (or ``python -m zorp_miner``)
runs it all from the command line. Two modes: "robust" (the default) finds shapes wherever
they sit in each series; "exact" mines letter patterns that recur letter for letter. The native
module underneath is ``zorp_miner._native`` (the robust mode's kernels and the exact mode's
steps); ``_zorp_cpp``, beside the package, runs the exact mode's whole pipeline in one call.

Importing this package imports numpy and the native modules only: pandas and matplotlib are
imported by the functions that need them.
"""

from zorp_miner._errors import ClusterError, LoadError, RunRefused
from zorp_miner._version import __version__
from zorp_miner.api import find_motifs
from zorp_miner.discords import Discords, find_discords
from zorp_miner.io.files import load
from zorp_miner.search.matches import Matches, find_matches
from zorp_miner.search.occurrences import Occurrences
from zorp_miner.params import ExactParams, RobustParams
from zorp_miner.plot import plot_matches, plot_motif, plot_motifs, plot_occurrences, plot_search
from zorp_miner.plot_discords import plot_discords
from zorp_miner.results import Motif, Motifs

__all__ = [
    "ClusterError",
    "Discords",
    "ExactParams",
    "LoadError",
    "Matches",
    "Motif",
    "Motifs",
    "Occurrences",
    "RobustParams",
    "RunRefused",
    "__version__",
    "find_discords",
    "find_matches",
    "find_motifs",
    "load",
    "plot_discords",
    "plot_matches",
    "plot_motif",
    "plot_motifs",
    "plot_occurrences",
    "plot_search",
]
