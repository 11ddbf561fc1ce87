"""Kept where earlier releases, and the results they pickled, import it from: every occurrence
of a robust motif lives in :mod:`zorp_miner.search.occurrences`."""

from zorp_miner.search.occurrences import Occurrences

__all__ = ["Occurrences"]
