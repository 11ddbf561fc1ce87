"""Helpers shared by the Python benchmarks: random-walk input, timing, peak memory, the module.

All the calls of one benchmark run in one process, in rounds: every round runs each call once,
in turn, and a call's time is its best over the rounds, so that a ratio of two calls compares
them under the same conditions. A call's peak memory is the highest resident set size during
the call above the one it started with, measured in a round of its own: the C heap's free
pages are handed back first and the peak mark is reset (Linux /proc/self/clear_refs), so that
what earlier calls took and freed does not count.
"""

import argparse
import ctypes
import gc
import importlib
import math
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass
from types import ModuleType
from typing import Any

import numpy as np
import numpy.typing as npt


def add_input_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--series", type=int, default=1000, help="number of series (1000)")
    parser.add_argument("--points", type=int, default=10000, help="points per series (10000)")
    parser.add_argument("--seed", type=int, default=42, help="random seed (42)")
    parser.add_argument("--seglen", type=int, default=10, help="points per letter (10)")
    parser.add_argument("--alphabet", type=int, default=6, help="alphabet size in letters (6)")
    parser.add_argument(
        "--module",
        metavar="DIR",
        help="import _zorp_cpp from DIR (an earlier build, to compare) instead of the installed one",
    )


def load_module(args: argparse.Namespace) -> ModuleType:
    """_zorp_cpp, from --module when given."""
    if args.module:
        sys.path.insert(0, args.module)
    return importlib.import_module("_zorp_cpp")


def random_walks(args: argparse.Namespace) -> npt.NDArray[np.float64]:
    """args.series random walks of args.points values each, standard Gaussian steps from the
    first one, as a C-ordered float64 array."""
    steps = np.random.default_rng(args.seed).standard_normal((args.series, args.points))
    return np.cumsum(steps, axis=1)


@dataclass(frozen=True)
class Figures:
    seconds: float  # the best time over the rounds
    peak_mib: float  # the largest rise of the resident set size during the call, in MiB


def _status_mib(field: str) -> float:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024.0
    return math.nan


def _release_free_memory() -> None:
    """Hands the C heap's free pages back to the system, so that what a call takes shows in
    the resident set size instead of reusing pages an earlier call freed."""
    try:
        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass


def _reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")
        return True
    except OSError:
        return False


def measure(
    calls: dict[str, Callable[[], Any]], rounds: int, cold: frozenset[str] = frozenset()
) -> dict[str, Figures]:
    """Runs every call once per round, in turn, for its best time; then once more each, for
    its peak memory, after handing the free heap pages back. Timing runs without that, as the
    allocator works by itself, except for the calls named in cold: those start each time on a
    heap whose free pages went back to the system, as a process's first large call does, so
    their memory is new pages that the system must supply (and zero) as they are first written."""
    best = {name: math.inf for name in calls}
    for _ in range(rounds):
        for name, call in calls.items():
            gc.collect()
            if name in cold:
                _release_free_memory()
            start = time.perf_counter()
            call()
            best[name] = min(best[name], time.perf_counter() - start)
    peak = {}
    for name, call in calls.items():
        gc.collect()
        _release_free_memory()
        start_mib = _status_mib("VmRSS")
        peak_known = _reset_peak()
        result = call()
        peak[name] = _status_mib("VmHWM") - start_mib if peak_known else math.nan
        del result
    return {name: Figures(best[name], peak[name]) for name in calls}


def refused_after_conversion(call: Callable[[], object]) -> Callable[[], None]:
    """A call that converts its series and then fails with ValueError (alphabet 11 is refused
    before any word is built): timing it times the conversion alone."""

    def converted() -> None:
        try:
            call()
        except ValueError:
            return
        raise RuntimeError("the call was not refused: no conversion-only figure")

    return converted


def print_header(title: str, args: argparse.Namespace, module: ModuleType, rounds: int) -> None:
    print(
        f"{title}: {args.series} series x {args.points} points of float64 (seed {args.seed}), "
        f"seglen {args.seglen}, alphabet {args.alphabet}; best of {rounds} rounds"
    )
    print(f"module: {module.__file__}")


def print_figures(figures: dict[str, Figures]) -> None:
    width = max(len(name) for name in figures)
    print(f"  {'call':<{width}}  {'time':>9}  peak memory above the inputs")
    for name, figure in figures.items():
        print(f"  {name:<{width}}  {figure.seconds:>7.3f} s  {figure.peak_mib:>7.1f} MiB")


def print_ratios(figures: dict[str, Figures], pairs: list[tuple[str, str]]) -> None:
    width = max(len(f"{a} / {b}") for a, b in pairs)
    print("  time ratios")
    for a, b in pairs:
        ratio = figures[a].seconds / figures[b].seconds
        print(f"  {f'{a} / {b}':<{width}}  {ratio:>6.2f}")
