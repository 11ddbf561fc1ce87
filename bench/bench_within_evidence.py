"""How often the evidence of motifs within one series marks chance as likely, and misses a
planted shape.

For each draw (seeds FIRST to LAST - 1): a motif length m of 16 to 79 points and a series of 40
to 120 times m points of pure noise (white noise for even seeds, a random walk for odd ones),
searched for its top 3 motifs, every one of which should be chance; and a random walk of 40 m
points with a shape planted four times (``planted`` of tests/python/test_within.py, copies the
walk distorts), whose top motif should be likely. Prints each miss and the counts.

    .venv/bin/python bench/bench_within_evidence.py [--first 0] [--last 300]
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).parents[1] / "tests" / "python"))

from test_within import planted  # noqa: E402

import zorp_miner  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--first", type=int, default=0)
    parser.add_argument("--last", type=int, default=300)
    args = parser.parse_args()
    motifs = false = missed = 0
    for seed in range(args.first, args.last):
        rng = np.random.default_rng(seed)
        m = int(rng.integers(16, 80))
        noise = rng.normal(size=int(rng.integers(40, 120)) * m)
        found = zorp_miner.find_motifs(np.cumsum(noise) if seed % 2 else noise, length=m, top=3, keep="all")
        motifs += len(found)
        if any(motif.likely for motif in found):
            false += 1
            print(f"seed {seed}: noise holds a likely motif: {list(found)}", flush=True)
        values, _ = planted(seed, 40 * m, m, 4)
        top = zorp_miner.find_motifs(values, length=m, top=3)[0]
        if not top.likely:
            missed += 1
            print(f"seed {seed}: the planted shape is not likely: {top!r}", flush=True)
    draws = args.last - args.first
    print(
        f"noise: {motifs} motifs of {draws} series, {false} series with a likely one; "
        f"planted four times: likely in {draws - missed} of {draws}"
    )


if __name__ == "__main__":
    main()
