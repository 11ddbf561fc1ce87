"""Kept where earlier releases, and the results they pickled, import it from: the search by
example lives in :mod:`zorp_miner.search.matches`."""

from zorp_miner.search.matches import Matches, find_matches

__all__ = ["Matches", "find_matches"]
