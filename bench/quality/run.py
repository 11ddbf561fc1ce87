"""Quality benchmark: which method's top motif sits on the planted instances, and how fast.

Runs, side by side on the same sets and in the same process:
- robust: zorp_miner.find_motifs in its default, robust mode, given the planted length;
- robust, no length: the same without the length (a row of its own, not a target);
- exact: zorp_miner's exact mode (the rule below);
- stumpy: STUMPY's ostinato given the planted length, then each series' nearest neighbour of
  its consensus window (stumpy.mass) as that series' match; its compilation is done before
  timing;
- random: one random window of the planted length per series (fixed seed).

Scores are per series (see scoring.py): precision, recall and F1 of the top motif's best
matches. Then the shifted-burst example (examples/unaligned.json). With --grid, a
sensitivity grid of the robust mode's settings is printed after the table, labelled as such:
the rule is not chosen from it.

    .venv/bin/python bench/quality/run.py [--skip-stumpy] [--grid]
"""

from __future__ import annotations

import argparse
import json
import math
import pathlib
import sys
import time
from collections.abc import Callable

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(pathlib.Path(__file__).parent)]

import zorp_miner  # noqa: E402
from planted_sets import PlantedSet, benchmark_sets, easy_sets  # noqa: E402
from scoring import Score, score  # noqa: E402

from zorp_miner._robust import discover  # noqa: E402

Matches = dict[int, tuple[int, int]]


def top_matches(motifs: zorp_miner.Motifs) -> Matches:
    """The best match of the top motif in each series it holds, with the motif's length."""
    if not motifs:
        return {}
    top = motifs[0]
    return {
        i: (start, top.length)
        for i, start in zip(top.series.tolist(), top.best_matches.tolist(), strict=True)
    }


def robust(series: list[np.ndarray], length: int | None) -> Matches:
    """The robust rule: find_motifs' defaults, the planted length given (see bench/README.md)."""
    return top_matches(zorp_miner.find_motifs(series, length=length, minsup=0.5, top=1))


def robust_with(series: list[np.ndarray], length: int, letters: int, support: float) -> Matches:
    """The robust mode with other proposal settings, for the sensitivity grid."""
    found = discover(
        series, length=length, minsup=0.5, top=1, letters=letters, proposal_support=support
    )
    if not found:
        return {}
    return {i: (start, found[0].length) for i, start in found[0].starts.items()}


def exact_seglen(length: int) -> int:
    return max(1, round(length / 12))


def exact(series: list[np.ndarray], length: int) -> Matches:
    """The exact rule: the demo's settings, seglen scaled so the planted length is 12 letters."""
    return top_matches(
        zorp_miner.find_motifs(
            series, mode="exact", seglen=exact_seglen(length), minsup=0.5, min_len=6, top=1
        )
    )


def stumpy_consensus(series: list[np.ndarray], length: int) -> Matches:
    import stumpy

    _, owner, start = stumpy.ostinato(series, length)
    window = series[owner][start : start + length]
    return {i: (int(np.argmin(stumpy.mass(window, values))), length) for i, values in enumerate(series)}


def random_window(series: list[np.ndarray], length: int) -> Matches:
    rng = np.random.default_rng(7)
    return {i: (int(rng.integers(0, len(values) - length + 1)), length) for i, values in enumerate(series)}


METHODS: dict[str, Callable[[list[np.ndarray], int], Matches]] = {
    "robust": lambda series, length: robust(series, length),
    "robust, no length": lambda series, length: robust(series, None),
    "exact": exact,
    "stumpy": stumpy_consensus,
    "random": random_window,
}


def timed(method: Callable[[list[np.ndarray], int], Matches], case: PlantedSet) -> tuple[Score, float]:
    started = time.perf_counter()
    matches = method(case.series, case.length)
    elapsed = time.perf_counter() - started
    return score(matches, case.planted_at, case.length), elapsed


def warm_up_stumpy() -> None:
    import stumpy

    rng = np.random.default_rng(0)
    stumpy.ostinato([rng.normal(size=200) for _ in range(3)], 24)
    stumpy.mass(rng.normal(size=24), rng.normal(size=200))


def quality_table(methods: list[str], sets: list[PlantedSet]) -> None:
    f1: dict[str, list[float]] = {name: [] for name in methods}
    seconds: dict[str, float] = {name: 0.0 for name in methods}
    header = f"{'set':<36}" + "".join(f"{name:>26}" for name in methods)
    print(header)
    print(f"{'':<36}" + "".join(f"{'P    R    F1     time':>26}" for _ in methods))
    print("-" * len(header))
    for case in sets:
        line = f"{case.name + f' (m={case.length})':<36}"
        for name in methods:
            result, elapsed = timed(METHODS[name], case)
            f1[name].append(result.f1)
            seconds[name] += elapsed
            line += f"{result.precision:>9.2f}{result.recall:>5.2f}{result.f1:>5.2f}{elapsed:>6.2f}s"
        print(line, flush=True)
    print("-" * len(header))
    print(f"{'mean F1':<36}" + "".join(f"{np.mean(f1[name]):>26.3f}" for name in methods))
    print(f"{'total time (s)':<36}" + "".join(f"{seconds[name]:>26.2f}" for name in methods))
    if "stumpy" in methods:
        for name in methods:
            if name != "stumpy" and seconds[name] > 0:
                print(f"stumpy total time / {name} total time: {seconds['stumpy'] / seconds[name]:.0f}x")


def shifted_burst(with_stumpy: bool) -> None:
    data = json.loads((ROOT / "examples" / "unaligned.json").read_text())
    series = [np.array(values) for values in data["series"]]
    planted_at, length = data["planted_at"], data["shape_points"]
    aligned = sum(1 for start in planted_at if start % 8 == 0)
    print(f"\nshifted burst: {len(series)} noisy walks, a {length}-point burst at arbitrary positions "
          f"({aligned} of them happen to fall on multiples of 8)")
    runs: list[tuple[str, Callable[[], Matches]]] = [
        ("robust, length 96", lambda: robust(series, length)),
        ("robust, no length", lambda: robust(series, None)),
        ("exact, seglen 8, min_len 6", lambda: _top_exact(series)),
    ]
    if with_stumpy:
        runs.append(("stumpy ostinato, length 96", lambda: stumpy_consensus(series, length)))
    for name, run in runs:
        started = time.perf_counter()
        matches = run()
        elapsed = time.perf_counter() - started
        result = score(matches, planted_at, length)
        found = next(iter(matches.values()))[1] if matches else 0
        print(f"  {name:<36} top motif hits the burst in {result.hits:>2} of {len(series)} series "
              f"(reported in {result.reported}, length {found}), {elapsed:.2f} s")


def _top_exact(series: list[np.ndarray]) -> Matches:
    return top_matches(zorp_miner.find_motifs(series, mode="exact", seglen=8, min_len=6, top=1))


def sensitivity_grid() -> None:
    print("\nSENSITIVITY GRID (robust mode, length given; for information only, the rule is fixed):")
    sets = benchmark_sets()
    for letters in (6, 8, 10):
        for support in (0.15, 0.25, 0.35):
            scores = [
                score(robust_with(c.series, c.length, letters, support), c.planted_at, c.length).f1
                for c in sets
            ]
            print(f"  letters={letters:<3} proposal_support={support:<5} mean F1 {np.mean(scores):.3f}", flush=True)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--skip-stumpy", action="store_true", help="leave STUMPY out (it takes minutes)")
    parser.add_argument("--grid", action="store_true", help="also print the sensitivity grid")
    args = parser.parse_args(argv)
    methods = [name for name in METHODS if not (args.skip_stumpy and name == "stumpy")]
    if not args.skip_stumpy:
        warm_up_stumpy()
    quality_table(methods, benchmark_sets())
    print("\nCONTROLS (not in the figures above): the planted class's instances in white noise")
    quality_table(methods, easy_sets())
    shifted_burst(not args.skip_stumpy)
    if args.grid:
        sensitivity_grid()
    return 0


if __name__ == "__main__":
    sys.exit(main())
