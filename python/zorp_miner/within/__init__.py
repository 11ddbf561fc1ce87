"""Motifs within each series: groups of windows of one series that share a shape (`motifs`
at one length, `lengths` without one, `result` ranking them all). The method: docs/within.md."""

from zorp_miner.within.motifs import default_exclusion
from zorp_miner.within.result import within_motifs

__all__ = ["default_exclusion", "within_motifs"]
