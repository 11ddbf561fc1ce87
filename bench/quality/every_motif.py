"""Every motif the robust mode lists, scored against the plants: is the shape anywhere in the list?

The main benchmark (run.py) scores the top motif. This scores the whole list (``top=None``) of
both robust variants on the development subset (rule A's 20-series sets, those of
``run.py --quick``), set by set: the top motif's F1, the best F1 of any motif listed (a shape
that recurs and is hidden, masked or merged into another motif is missing from the list, and
this is where it shows), and the number of motifs listed; then the means by host kind.

    .venv/bin/python bench/quality/every_motif.py                        # both variants
    .venv/bin/python bench/quality/every_motif.py --variants nolength --datasets OSULeaf
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time
from collections.abc import Sequence

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from development import by_host, development_cases  # noqa: E402
from methods import motif_matches  # noqa: E402
from planted_sets import Case  # noqa: E402
from scoring import score  # noqa: E402

import zorp_miner  # noqa: E402

VARIANTS = ("length", "nolength")


def listed(case: Case, variant: str) -> tuple[float, float, int, float]:
    """The top motif's F1, the best F1 of the list, the motifs listed, the seconds taken."""
    began = time.perf_counter()
    motifs = zorp_miner.find_motifs(
        case.series, length=case.length if variant == "length" else None, minsup=case.minsup, top=None
    )
    seconds = time.perf_counter() - began
    f1 = [score(matches, case.plants[0]).f1 for matches in motif_matches(motifs)]
    return (f1[0] if f1 else 0.0), max(f1, default=0.0), len(f1), seconds


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--variants", default=",".join(VARIANTS), help=f"comma-separated, of {','.join(VARIANTS)}")
    parser.add_argument("--datasets", default="", help="only these data sets, comma-separated (default: all)")
    args = parser.parse_args(argv)
    variants = [v for v in args.variants.split(",") if v]
    for variant in variants:
        if variant not in VARIANTS:
            parser.error(f"unknown variant {variant!r}: expected one of {', '.join(VARIANTS)}")
    cases = development_cases(parser, args.datasets)
    for variant in variants:
        rows: dict[str, list[Sequence[float]]] = {}
        print(f"robust, {variant}: top F1, best F1 listed, motifs listed, seconds")
        for case in cases:
            row = listed(case, variant)
            rows.setdefault(case.host, []).append(row)
            print(f"  {case.key:50s} {row[0]:5.2f} {row[1]:5.2f} {row[2]:4d} {row[3]:6.1f}", flush=True)
        for host, table in by_host(rows):
            print(
                f"  mean, {host:6s} ({len(table)} sets): top {table[:, 0].mean():.3f}, best listed"
                f" {table[:, 1].mean():.3f}, motifs {table[:, 2].mean():.1f}, total {table[:, 3].sum():.1f} s"
            )
    return 0


if __name__ == "__main__":
    sys.exit(main())
