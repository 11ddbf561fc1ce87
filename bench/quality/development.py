"""The development subset as the list-scoring scripts read it, and their means by kind of host."""

from __future__ import annotations

import argparse
from collections.abc import Sequence

import numpy as np

from planted_sets import Case, main_cases


def development_cases(parser: argparse.ArgumentParser, datasets: str) -> list[Case]:
    """Rule A's 20-series sets (those of ``run.py --quick``), of the data sets named
    (comma-separated; every data set when empty); a parser error when none is."""
    wanted = {name for name in datasets.split(",") if name}
    cases = [case for case in main_cases((20,)) if not wanted or case.dataset in wanted]
    if not cases:
        parser.error(f"no set of the development subset is of the data sets {sorted(wanted)}")
    return cases


def by_host(rows: dict[str, list[Sequence[float]]]) -> list[tuple[str, np.ndarray]]:
    """Each kind of host's rows as one table (a row per set), then every row's, as "all"."""
    every = [row for host_rows in rows.values() for row in host_rows]
    return [(host, np.array(host_rows, dtype=np.float64)) for host, host_rows in [*rows.items(), ("all", every)]]
