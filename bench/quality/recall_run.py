"""F1 of the robust mode's top motif on the development sets of recall_sets.py, set by set.

    .venv/bin/python bench/quality/recall_run.py [--which real|spikes|two|long|ecg] [--stumpy]
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time
from collections.abc import Callable

import numpy as np

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

import zorp_miner  # noqa: E402
from zorp_miner.params import Keep, checked_keep  # noqa: E402
from recall_sets import Planted, long_sets, real_sets, recording_windows, spike_sets, two_shape_sets  # noqa: E402
from scoring import overlaps, score  # noqa: E402

Matches = dict[int, tuple[int, int]]


def minsup_for(support: float) -> float:
    return 0.5 if support >= 0.6 else 0.3


def matches_of(motif: zorp_miner.Motif) -> Matches:
    return {i: (s, motif.length) for i, s in zip(motif.series.tolist(), motif.best_matches.tolist())}


def robust(case: Planted, length: int | None, top: int = 1, keep: Keep = "all") -> zorp_miner.Motifs:
    return zorp_miner.find_motifs(case.series, length=length, minsup=minsup_for(case.support), top=top, keep=keep)


def stumpy_matches(series: list[np.ndarray], length: int) -> Matches:
    import stumpy

    _, owner, start = stumpy.ostinato(series, length)
    window = series[owner][start : start + length]
    return {i: (int(np.argmin(stumpy.mass(window, values))), length) for i, values in enumerate(series)}


def f1(matches: Matches, case: Planted, k: int = 0) -> float:
    return score(matches, case.planted[k], case.lengths[k]).f1


def run_real(cases: list[Planted], with_stumpy: bool, keep: Keep, modes: str = "length,none") -> None:
    methods: dict[str, Callable[[Planted], Matches]] = {
        "length": lambda c: _top(robust(c, c.lengths[0], keep=keep)),
        "none": lambda c: _top(robust(c, None, keep=keep)),
    }
    methods = {k: v for k, v in methods.items() if k in modes.split(",")}
    if with_stumpy:
        methods["stumpy"] = lambda c: stumpy_matches(c.series, c.lengths[0])
    totals = {name: [] for name in methods}  # type: ignore[var-annotated]
    times = {name: 0.0 for name in methods}
    cpu = {name: 0.0 for name in methods}
    for case in cases:
        line = f"{case.name + f' m={case.lengths[0]}':<44}"
        for name, method in methods.items():
            started = time.perf_counter()
            began = time.process_time()
            got = method(case)
            times[name] += time.perf_counter() - started
            cpu[name] += time.process_time() - began
            value = f1(got, case)
            totals[name].append((case, value))
            found = next(iter(got.values()))[1] if got else 0
            line += f" {name} {value:.2f} ({found:>4})"
        print(line, flush=True)
    for name, values in totals.items():
        by_support = {s: np.mean([v for c, v in values if c.support == s]) for s in (1.0, 0.6, 0.4)}
        by_host = {h: np.mean([v for c, v in values if f" {h} " in c.name]) for h in ("walk", "crops", "noise")}
        print(f"{name:<8} mean {np.mean([v for _, v in values]):.3f}  "
              + " ".join(f"{int(100 * s)}%:{v:.2f}" for s, v in by_support.items()) + "  "
              + " ".join(f"{h}:{v:.2f}" for h, v in by_host.items()) + f"  time {times[name]:.1f}s cpu {cpu[name]:.1f}s")


def _top(motifs: zorp_miner.Motifs) -> Matches:
    return matches_of(motifs[0]) if len(motifs) else {}


def run_two(cases: list[Planted], keep: Keep) -> None:
    for case in cases:
        for length in (None, "each"):
            if length is None:
                motifs = robust(case, None, top=2, keep=keep)
            else:
                motifs = robust(case, case.lengths[0], top=2, keep=keep)
                other = robust(case, case.lengths[1], top=2, keep=keep)
            found = []
            for k in range(2):
                pool = list(motifs) if length is None else list(motifs if k == 0 else other)
                found.append(max((f1(matches_of(m), case, k) for m in pool), default=0.0))
            print(f"{case.name:<44} {'no length' if length is None else 'length':<10} "
                  f"shape 1 F1 {found[0]:.2f} shape 2 F1 {found[1]:.2f}  "
                  f"lengths {[m.length for m in motifs]}", flush=True)


def run_ecg(keep: Keep) -> None:
    for name, windows, period in recording_windows():
        for length in (period, None):
            motifs = zorp_miner.find_motifs(windows, length=length, minsup=0.5, top=5, keep=keep)
            print(f"{name} period {period} length {length}: "
                  + ", ".join(f"{m.length}/{m.support}/{m.score:.3f}" for m in motifs), flush=True)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--which", default="real")
    parser.add_argument("--stumpy", action="store_true")
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--seed", type=int, default=77)
    parser.add_argument("--keep", default="all")
    parser.add_argument("--only", default=None, help="substring of the set names to run")
    parser.add_argument("--modes", default="length,none")
    args = parser.parse_args()
    keep: Keep = checked_keep(args.keep)
    if args.which == "real":
        cases = real_sets(args.count, args.seed)
    elif args.which == "spikes":
        cases = spike_sets(args.count)
    elif args.which == "long":
        cases = long_sets()
    elif args.which == "two":
        cases = two_shape_sets(args.count)
        run_two([c for c in cases if args.only is None or args.only in c.name], keep)
        return 0
    else:
        run_ecg(keep)
        return 0
    cases = [c for c in cases if args.only is None or args.only in c.name]
    run_real(cases, args.stumpy, keep, args.modes)
    return 0


if __name__ == "__main__":
    sys.exit(main())
