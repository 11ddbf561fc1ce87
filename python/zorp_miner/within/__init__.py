"""Motifs within each series: groups of windows of one series that share a shape (`motifs`).
The method: docs/within.md."""

from zorp_miner.within.motifs import default_exclusion, within_motifs

__all__ = ["default_exclusion", "within_motifs"]
