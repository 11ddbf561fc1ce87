"""What the robust mode's evidence says where nothing recurs: sets with no shape planted.

Every motif carries an evidence (standard errors by which its gain over the shuffled series
beats the best gain of the shapes the same search finds in shuffled series), and is likely from
3 on. This script runs the robust mode on sets in which no shape recurs but by chance, built by
rules fixed before it first ran, and prints, per kind of host and length, the largest evidence
of any motif listed (`top=None`, every motif) in each run and how many runs list a likely one:
a likely motif there is a false alarm.

Rules (version CALIBRATION_VERSION; a set's generator is seeded with the CRC-32 of the version
and the set's key, so that every run builds the same sets):

- hosts: the quality benchmark's host rules without a plant (planted_sets.py): walk (pieces of a
  random walk, each z-normalised, L/2 to 2L points, L = 100 where no length is given),
  longwalk (one random walk), noise (white noise) and ar (first order, coefficient 0.9); each
  series 1,000 to 2,000 points. The crops hosts are left out: they repeat their material (up to
  exact copies), so a likely motif there is a shape that recurs, not a false alarm;
- 20 and 50 series per set, SETS sets of each host and size;
- the robust mode given the length 24, 100 and 250 points, and without a length; minsup 0.5.

    .venv/bin/python bench/quality/calibration.py
"""

from __future__ import annotations

import argparse
import sys
import time
import zlib

import numpy as np

import zorp_miner
from planted_sets import HOST_POINTS, OTHER_HOSTS, gap_filler, joined, walk_filler

CALIBRATION_VERSION = "c1"
HOSTS = ("walk",) + tuple(host for host in OTHER_HOSTS if host != "noisy")
SIZES = (20, 50)
LENGTHS = (24, 100, 250, None)
SETS = 5
NO_LENGTH_RULE = 100  # the walk pieces' L where no length is given


def host_set(host: str, size: int, length: int | None, number: int) -> list[np.ndarray]:
    """The set number `number` of a host kind and size (no plant)."""
    key = f"{CALIBRATION_VERSION}/{host}/{size}/{length}/{number}"
    rng = np.random.default_rng(zlib.crc32(key.encode()))
    rule = length if length is not None else NO_LENGTH_RULE
    fill = walk_filler(rule, 1.0) if host == "walk" else gap_filler(host, rule, 1.0)
    return [joined(fill(rng, int(rng.integers(HOST_POINTS[0], HOST_POINTS[1] + 1)))) for _ in range(size)]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sets", type=int, default=SETS, help=f"sets per host and size (default {SETS})")
    args = parser.parse_args(argv)
    if args.sets < 1:
        parser.error(f"--sets must be at least 1 (sets per host and size), got {args.sets}")
    print(f"rules {CALIBRATION_VERSION}; {args.sets} sets per host and size, sizes {SIZES}, minsup 0.5, top=None")
    print(f"{'host':<9} {'length':>6} {'runs':>5} {'largest evidence':>17} {'median of runs':>15} "
          f"{'runs with a likely motif':>25} {'motifs a run':>13} {'time':>8}")
    largest_all: list[float] = []
    false_alarms = 0
    for host in HOSTS:
        for length in LENGTHS:
            largest: list[float] = []
            alarms = 0
            listed = 0
            began = time.process_time()
            for size in SIZES:
                for number in range(args.sets):
                    motifs = zorp_miner.find_motifs(
                        host_set(host, size, length, number), length=length, minsup=0.5, top=None
                    )
                    evidences = [m.evidence for m in motifs if np.isfinite(m.evidence)]
                    largest.append(max(evidences, default=float("-inf")))
                    alarms += any(m.likely for m in motifs)
                    listed += len(motifs)
            runs = len(largest)
            largest_all += largest
            false_alarms += alarms
            print(f"{host:<9} {'none' if length is None else length:>6} {runs:>5} {max(largest):>17.2f} "
                  f"{float(np.median(largest)):>15.2f} {alarms:>25} {listed / runs:>13.1f} "
                  f"{time.process_time() - began:>7.1f}s", flush=True)
    print(f"all      {len(largest_all):>13} {max(largest_all):>17.2f} {float(np.median(largest_all)):>15.2f} "
          f"{false_alarms:>25}")
    print("STUMPY reports no evidence: it has no row here.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
