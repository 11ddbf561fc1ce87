"""Kept where earlier releases and their documents import it from: the series taken from the
forms Python holds them in live in :mod:`zorp_miner.io.inputs`."""

from zorp_miner.io.inputs import as_series_set, native_series_set, refuse_missing

__all__ = ["as_series_set", "native_series_set", "refuse_missing"]
