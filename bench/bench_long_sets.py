"""Recall and time in long series: a clear shape in every series of sets of 50 and 200 random
walks of 2,000 to 32,000 points each.

The shape: 3 cycles of a sine over 100 points, amplitude 10, with N(0, 1) noise, added to each
walk (steps N(0, 1)) at a start drawn uniformly, a new draw of the noise in every series. A set
counts as found when the run's top motif is likely and its best match overlaps the plant by half
its length in at least 80 % of the series that hold it. Each set is also run without the shape
(nothing should be likely there). STUMPY (``ostinato`` then ``mass``, as in the quality
benchmark) runs in a child process, given at most --stumpy-limit seconds (10 minutes by
default); it is not run on a size whose smaller neighbour already took longer than that.

    .venv/bin/python bench/bench_long_sets.py                     # the whole grid
    .venv/bin/python bench/bench_long_sets.py --counts 50 --points 2000,16000 --no-stumpy
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time

import numpy as np
import numpy.typing as npt

import zorp_miner

FloatArray = npt.NDArray[np.float64]
SHAPE_POINTS = 100
FOUND_SHARE = 0.8


def planted_set(count: int, points: int, seed: int, plant: bool = True) -> tuple[FloatArray, list[int]]:
    """count walks of points points, the sine added to each (when plant); the starts."""
    rng = np.random.default_rng([seed, count, points])
    walks = np.cumsum(rng.normal(size=(count, points)), axis=1)
    shape = 10.0 * np.sin(2.0 * np.pi * 3.0 * np.arange(SHAPE_POINTS) / SHAPE_POINTS)
    starts = []
    for row in walks:
        start = int(rng.integers(0, points - SHAPE_POINTS))
        starts.append(start)
        if plant:
            row[start : start + SHAPE_POINTS] += shape + rng.normal(size=SHAPE_POINTS)
    return walks, starts


def on_plant(motif: zorp_miner.Motif, starts: list[int]) -> float:
    """The share of the motif's series whose best match overlaps the plant by half."""
    hits = [
        abs(start - starts[series]) <= SHAPE_POINTS // 2
        for series, start in zip(motif.series.tolist(), motif.best_matches.tolist())
    ]
    return float(np.mean(hits)) if hits else 0.0


STUMPY_CHILD = """
import json, sys, time
import numpy as np, stumpy
sys.path.insert(0, {here!r})
from bench_long_sets import planted_set, SHAPE_POINTS
count, points, seed = {count}, {points}, {seed}
walks, starts = planted_set(count, points, seed)
rng = np.random.default_rng(0)
stumpy.ostinato([rng.normal(size=200) for _ in range(3)], 24)  # compiled before the clock
began = time.perf_counter()
series = [row for row in walks]
_, owner, start = stumpy.ostinato(series, SHAPE_POINTS)
window = series[owner][start : start + SHAPE_POINTS]
best = [int(np.argmin(stumpy.mass(window, values))) for values in series]
took = time.perf_counter() - began
hits = float(np.mean([abs(b - s) <= SHAPE_POINTS // 2 for b, s in zip(best, starts)]))
print(json.dumps({{"seconds": took, "on_plant": hits}}))
"""


def stumpy_run(count: int, points: int, seed: int, limit: float) -> dict[str, float] | None:
    """STUMPY's time and share of series on the plant; None past the limit."""
    here = str(__import__("pathlib").Path(__file__).resolve().parent)
    code = STUMPY_CHILD.format(here=here, count=count, points=points, seed=seed)
    try:
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=limit + 60)
    except subprocess.TimeoutExpired:
        return None
    if done.returncode != 0:
        raise RuntimeError(done.stderr[-2000:])
    result: dict[str, float] = json.loads(done.stdout.strip().splitlines()[-1])
    return result if result["seconds"] <= limit else None


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--counts", default="50,200", help="series per set (comma-separated)")
    parser.add_argument("--points", default="2000,8000,16000,32000", help="points per series")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--threads", type=int, default=None, help="threads= of find_motifs")
    parser.add_argument("--no-stumpy", action="store_true", help="leave STUMPY out")
    parser.add_argument("--stumpy-limit", type=float, default=600.0, help="seconds STUMPY may take")
    args = parser.parse_args(argv)
    counts = [int(v) for v in args.counts.split(",") if v]
    sizes = [int(v) for v in args.points.split(",") if v]
    if not counts or not sizes or min(counts) < 2 or min(sizes) < 2 * SHAPE_POINTS:
        parser.error("--counts needs sets of at least 2 series and --points at least 200 points")
    print(f"{'series':>6} {'points':>6}  {'found':>5} {'support':>8} {'evidence':>8} {'on plant':>8}"
          f" {'seconds':>8} {'s / 10^6 pts':>12}  {'noise: likely':>13}  stumpy")
    for count in counts:
        stumpy_gave_up = args.no_stumpy
        for points in sizes:
            walks, starts = planted_set(count, points, args.seed)
            began = time.perf_counter()
            motifs = zorp_miner.find_motifs(walks, length=SHAPE_POINTS, threads=args.threads)
            took = time.perf_counter() - began
            top = motifs[0] if len(motifs) else None
            share = on_plant(top, starts) if top is not None else 0.0
            found = top is not None and top.likely and share >= FOUND_SHARE
            noise, _ = planted_set(count, points, args.seed, plant=False)
            likely_in_noise = sum(bool(m.likely) for m in zorp_miner.find_motifs(noise, length=SHAPE_POINTS, threads=args.threads))
            peer = "-"
            if not stumpy_gave_up:
                result = stumpy_run(count, points, args.seed, args.stumpy_limit)
                if result is None:
                    peer = f"over {args.stumpy_limit:.0f} s"
                    stumpy_gave_up = True
                else:
                    peer = f"{result['seconds']:.1f} s, on plant {result['on_plant']:.2f}"
            support = f"{top.support}/{count}" if top is not None else "-"
            evidence = f"{top.evidence:.2f}" if top is not None else "-"
            per_million = took / (count * points / 1e6)
            print(f"{count:>6} {points:>6}  {'yes' if found else 'no':>5} {support:>8} {evidence:>8} {share:>8.2f}"
                  f" {took:>8.1f} {per_million:>12.2f}  {likely_in_noise:>13}  {peer}", flush=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
