"""Helpers shared by the Python benchmarks: random-walk input, timing and peak memory.

Each measurement runs in a fresh interpreter (the calling script again, with a hidden
--measure flag), so that its peak resident set size belongs to that measurement alone. The child
builds the input, takes the baseline, runs the call a few times and prints one JSON line.
"""

import argparse
import json
import math
import random
import resource
import subprocess
import sys
import time
from typing import Callable, Optional


def random_walks(count: int, points: int, seed: int) -> list[list[float]]:
    """count random walks of points values each, with standard Gaussian steps from 0."""
    rng = random.Random(seed)
    walks = []
    for _ in range(count):
        level = 0.0
        walk = []
        for _ in range(points):
            level += rng.gauss(0.0, 1.0)
            walk.append(level)
        walks.append(walk)
    return walks


def peak_rss_mib() -> float:
    """Peak resident set size of this process so far (ru_maxrss is in KiB on Linux)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def add_input_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--series", type=int, default=1000, help="number of series (1000)")
    parser.add_argument("--points", type=int, default=10000, help="points per series (10000)")
    parser.add_argument("--seed", type=int, default=42, help="random seed (42)")
    parser.add_argument("--seglen", type=int, default=10, help="segment length (10)")
    parser.add_argument("--alphabet", type=int, default=6, help="alphabet size (6)")
    parser.add_argument("--measure", help=argparse.SUPPRESS)


# A measured call takes the input and returns a count worth reporting, or None.
Call = Callable[[list[list[float]]], Optional[int]]


def measure_here(args: argparse.Namespace, call: Call, repeat: int) -> dict:
    """Builds the input, then runs call repeat times; the best time and the memory it took."""
    ts = random_walks(args.series, args.points, args.seed)
    baseline = peak_rss_mib()
    best = math.inf
    count = None
    for _ in range(repeat):
        start = time.perf_counter()
        count = call(ts)
        best = min(best, time.perf_counter() - start)
    peak = peak_rss_mib()
    return {"seconds": best, "count": count, "baseline_mib": baseline, "extra_mib": peak - baseline}


def measure_in_child(name: str) -> dict:
    """Runs this script again with --measure name and the same arguments; returns its figures."""
    command = [sys.executable, sys.argv[0], *sys.argv[1:], "--measure", name]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(output.strip().splitlines()[-1])


def report_child(figures: dict) -> None:
    print(json.dumps(figures))


def points_per_second(args: argparse.Namespace, seconds: float) -> float:
    return args.series * args.points / seconds if seconds > 0 else math.inf


def memory_text(figures: dict) -> str:
    return f"{figures['extra_mib']:.1f} MiB above a baseline of {figures['baseline_mib']:.1f} MiB"


def print_row(label: str, value: str) -> None:
    print(f"  {label:<28} {value}")
