"""Where a robust run's time goes, phase by phase, on sets of the quality benchmark's rule A.

Each phase is a set of the package's functions, timed around every call (wall time, less the
time of the phases called inside it), so the phases add up to the runs' total:

- matching: the best match of shapes in series (the banks' products and their maxima), and of
  that the direct products of short shapes and the FFTs of longer ones;
- transforms: preparing the series for matching (window statistics, the series' FFTs);
- realignment: the members' windows summed at every shift;
- proposals: the frequent words' windows, their keys, members and medoids;
- nulls: the shuffled series;
- evidence: the gains and their bootstrap;
- the rest: everything else (choices over the whole set, Python between the kernels).

The sets: every STRIDE-th set of rule A (a rule fixed before any figure), the first SETS of
them, with and without the length.

    .venv/bin/python bench/profile_robust.py                  # 10 sets, both kinds of run
    .venv/bin/python bench/profile_robust.py --sets 20 --runs length
"""

from __future__ import annotations

import argparse
import functools
import importlib
import pathlib
import sys
import time
from collections import defaultdict
from collections.abc import Callable
from typing import Any

ROOT = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(ROOT / "quality")]

import zorp_miner  # noqa: E402
from planted_sets import Case, main_cases  # noqa: E402

STRIDE = 11  # one set in STRIDE of rule A: 11 is prime to the 12 sets of a data set, so every host, size
# and support comes round in turn

# Phase -> (module, object, attribute) of the functions timed for it.
PHASES: dict[str, list[tuple[str, str | None, str]]] = {
    "matching": [
        ("zorp_miner.compute.sliding", "SeriesBank", "best"),
        ("zorp_miner.compute.sliding", "SeriesBank", "series_correlations"),
    ],
    "  of which direct": [("zorp_miner._native", None, "best_correlations")],
    "  of which FFT": [("zorp_miner.compute.sliding", "SeriesBank", "_best_by_fft")],
    "transforms": [
        ("zorp_miner.compute.sliding", "SeriesBank", "__init__"),
        ("zorp_miner.compute.sliding", "SeriesBank", "spectrum"),
        ("zorp_miner.compute.shapes", None, "paa"),
    ],
    "realignment": [("zorp_miner.robust.tasks", None, "realignment_task")],
    "proposals": [
        ("zorp_miner.robust.tasks", None, "proposal_windows"),
        ("zorp_miner.robust.tasks", None, "count_task"),
        ("zorp_miner.robust.tasks", None, "members_task"),
        ("zorp_miner.robust.tasks", None, "nearest_task"),
    ],
    "nulls": [("zorp_miner.compute.evidence", None, "shuffled")],
    "evidence": [
        ("zorp_miner.compute.evidence", None, "evidences"),
        ("zorp_miner.compute.evidence", None, "gains"),
    ],
}


class Clock:
    """Wall time per phase, each call's own: the time of timed calls inside it goes to theirs."""

    def __init__(self) -> None:
        self.own: dict[str, float] = defaultdict(float)
        self.stack: list[list[float]] = []  # per open call: [start, time of timed calls inside]

    def wrap(self, phase: str, function: Callable[..., Any]) -> Callable[..., Any]:
        @functools.wraps(function)
        def timed(*args: Any, **kwargs: Any) -> Any:
            self.stack.append([time.perf_counter(), 0.0])
            try:
                return function(*args, **kwargs)
            finally:
                began, inner = self.stack.pop()
                took = time.perf_counter() - began
                self.own[phase] += took - inner
                if self.stack:
                    self.stack[-1][1] += took

        return timed

    def install(self) -> None:
        for phase, places in PHASES.items():
            for module_name, owner_name, attribute in places:
                module = importlib.import_module(module_name)
                owner = module if owner_name is None else getattr(module, owner_name)
                original = getattr(owner, attribute)
                setattr(owner, attribute, self.wrap(phase, original))
                # Modules that imported the function by name call their own reference.
                if owner_name is None:
                    for other in list(sys.modules.values()):
                        if other is not None and other is not module and getattr(other, attribute, None) is original:
                            if (other.__name__ or "").startswith("zorp_miner"):
                                setattr(other, attribute, getattr(owner, attribute))


def chosen_cases(count: int) -> list[Case]:
    return [case for k, case in enumerate(main_cases()) if k % STRIDE == 0][:count]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sets", type=int, default=10, help="sets of rule A (every %d-th), default 10" % STRIDE)
    parser.add_argument("--runs", default="length,nolength", help="length, nolength or both (comma-separated)")
    parser.add_argument("--threads", type=int, default=None, help="threads= of find_motifs (default: the package's)")
    args = parser.parse_args(argv)
    if args.sets < 1:
        parser.error(f"--sets must be at least 1, got {args.sets}")
    runs = [run for run in args.runs.split(",") if run]
    if not runs or any(run not in ("length", "nolength") for run in runs):
        parser.error(f"--runs takes length and nolength, got {args.runs!r}")
    cases = chosen_cases(args.sets)
    options: dict[str, Any] = {} if args.threads is None else {"threads": args.threads}
    clock = Clock()
    clock.install()
    for run in runs:
        clock.own.clear()
        total = 0.0
        for case in cases:
            length = case.length if run == "length" else None
            began = time.perf_counter()
            zorp_miner.find_motifs(case.series, length=length, minsup=case.minsup, top=3, **options)
            total += time.perf_counter() - began
        print(f"{run}: {len(cases)} sets of rule A (every {STRIDE}-th), {total:.1f} s wall")
        rest = total - sum(clock.own.values())
        shown = dict(clock.own)
        # matching is shown whole, its parts under it
        shown["matching"] = sum(v for k, v in clock.own.items() if k == "matching" or k.startswith("  "))
        for phase in [*PHASES, "the rest"]:
            seconds = rest if phase == "the rest" else shown.get(phase, 0.0)
            print(f"  {phase:<18} {seconds:7.1f} s  {100.0 * seconds / total:5.1f} %")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
