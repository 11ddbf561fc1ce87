"""Kept where earlier releases import it from: reading files of series lives in
:mod:`zorp_miner.io.files` (and is :func:`zorp_miner.load`)."""

from zorp_miner.io.files import FORMATS, is_file_list, load

__all__ = ["FORMATS", "is_file_list", "load"]
