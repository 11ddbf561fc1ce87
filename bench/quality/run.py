"""Quality benchmark: do the methods' motifs sit on the planted real shapes, and how fast.

Every registered method (methods.py) runs on the same sets (planted_sets.py, built by rules fixed
before any method ran on them) and is scored series by series (scoring.py). Sections:

- main: rule A, each data set's most frequent class; a row per data set and host kind with each
  method's mean F1 of its top motif, its F1 at 100, 60 and 40 % support and its total time;
- class: rule B, every class in turn (20 series, 60 % support), a row per data set and host;
- pair: two shapes in the same set, top 2, the methods that rank several motifs: each shape's
  best F1 over the returned motifs, and whether both were found (F1 >= 0.5 each);
- hosts: rule C, the most frequent class in hosts of other kinds (a long random walk, white
  noise, an autoregressive series, walk pieces with noisy plants), 20 series, 100 and 60 %;
- long: 50 series of 20,000 points (STUMPY only with --long-stumpy: see bench/README.md);
- unaligned: the bundled examples/unaligned.json, a 96-point burst in 40 noisy walks.

The cached methods (exact, stumpy, random) are computed once per set and kept under
build/quality-cache/<rules version>/ (``--cache`` reads another folder, e.g. another worktree's
build/quality-cache), so a rerun computes only what is asked (``--methods``) and prints the
cached peers beside it. A method that raises reports nothing on that set (F1 0)
and the error is listed under the table.

    .venv/bin/python bench/quality/run.py                              # everything
    .venv/bin/python bench/quality/run.py --methods robust,robust-nolength
    .venv/bin/python bench/quality/run.py --quick                      # development subset
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import pathlib
import subprocess
import sys
import time
from collections import defaultdict
from collections.abc import Callable, Iterable, Iterator

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from labelled_data import DATASETS, FloatArray, check_wheel  # noqa: E402
from methods import METHODS, Method  # noqa: E402
from planted_sets import (  # noqa: E402
    LONG_POINTS,
    LONG_SERIES,
    OTHER_SUPPORTS,
    RULES_VERSION,
    SIZES,
    SUPPORTS,
    Case,
    Plant,
    class_cases,
    long_cases,
    main_cases,
    other_host_cases,
    pair_cases,
    percent,
)
from scoring import Matches, Score, best_score, score  # noqa: E402

SECTIONS = ("main", "class", "hosts", "pair", "long", "unaligned")
CACHE = ROOT / "build" / "quality-cache" / RULES_VERSION
QUICK_SIZES = (20,)


@dataclasses.dataclass(frozen=True)
class Outcome:
    """One method on one set: per planted shape its score, the time, where it came from."""

    scores: tuple[Score, ...]
    seconds: float
    cached: bool
    error: str | None
    motifs: int
    length: int  # the top motif's length (points), 0 when none


@dataclasses.dataclass
class Runs:
    """Runs the methods, reading and writing the cache of the cached ones."""

    asked: list[str]
    recompute: bool
    cache: pathlib.Path = CACHE
    commit: str = ""  # with --keep: the commit the package was built from; its own results are kept too
    errors: list[str] = dataclasses.field(default_factory=list)
    warmed: set[str] = dataclasses.field(default_factory=set)

    def columns(self, ranked_only: bool = False) -> list[str]:
        """The methods asked, then the cached peers not asked (read from the cache only)."""
        peers = [name for name, m in METHODS.items() if m.cached and name not in self.asked]
        names = self.asked + peers
        return [name for name in names if METHODS[name].ranked or not ranked_only]

    def path(self, method: str, key: str, top: int) -> pathlib.Path:
        folder = method if METHODS[method].cached else f"{method}@{self.commit}"
        return self.cache / folder / (key.replace("/", "__") + f"__top{top}.json")

    def kept(self, method: Method) -> bool:
        """Whether the method's results are kept on disk: the peers, and with --keep all."""
        return method.cached or bool(self.commit)

    def motifs(
        self, method: Method, key: str, series: list[FloatArray], length: int, minsup: float, top: int
    ) -> tuple[list[Matches], float, bool, str | None] | None:
        """The method's motifs, time, whether cached, error; None for a peer not in the cache."""
        path = self.path(method.name, key, top)
        asked = method.name in self.asked
        if self.kept(method) and path.is_file() and not (asked and self.recompute):
            stored = json.loads(path.read_text())
            motifs = [{int(i): (int(s), int(n)) for i, s, n in rows} for rows in stored["motifs"]]
            return motifs, float(stored["seconds"]), True, stored["error"]
        if not asked:
            return None
        if method.warm_up is not None and method.name not in self.warmed:
            method.warm_up()
            self.warmed.add(method.name)
        error = None
        started = time.perf_counter()
        try:
            found = method.run(series, length, minsup, top)
        except (ValueError, MemoryError, RuntimeError) as exc:
            found, error = [], f"{type(exc).__name__}: {exc}"
        seconds = time.perf_counter() - started
        if self.kept(method):
            path.parent.mkdir(parents=True, exist_ok=True)
            rows = [[[i, s, n] for i, (s, n) in sorted(m.items())] for m in found]
            path.write_text(json.dumps({"motifs": rows, "seconds": seconds, "error": error}))
        return found, seconds, False, error

    def outcome(self, method: Method, case: Case, top: int) -> Outcome | None:
        got = self.motifs(method, case.key, case.series, case.length, case.minsup, top)
        if got is None:
            return None
        found, seconds, cached, error = got
        if error:
            self.errors.append(f"{method.name} on {case.key}: {error}")
        if top == 1:
            scores: tuple[Score, ...] = (score(found[0] if found else {}, case.plants[0]),)
        else:
            scores = tuple(best_score(found, plants) for plants in case.plants)
        length = next(iter(found[0].values()))[1] if found and found[0] else 0
        return Outcome(scores, seconds, cached, error, len(found), length)


Results = dict[str, dict[str, Outcome]]  # case key -> method -> outcome


def package_commit() -> str:
    """The last commit that changed the package's code (python/, src/ and their build files),
    refusing when the worktree differs from it (the kept results would then not belong to that
    commit). The installed build must be fresh: rerun scripts/setup.sh after a change."""
    def git(*args: str) -> str:
        return subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True, check=True).stdout

    package = ("python", "src", "CMakeLists.txt", "pyproject.toml")
    if git("status", "--porcelain", "--", *package).strip():
        raise SystemExit("--keep needs python/ and src/ committed: their results are kept by commit")
    return git("log", "-1", "--format=%h", "--abbrev=12", "--", *package).strip()


def run_cases(runs: Runs, cases: Iterable[Case], methods: list[str], top: int, label: str) -> tuple[list[Case], Results]:
    """Every method on every case, a progress line per case on stderr; the cases keep no series."""
    kept: list[Case] = []
    results: Results = {}
    for index, case in enumerate(cases, 1):
        results[case.key] = {}
        line = f"[{label} {index}] {case.key} (L={case.length}):"
        for name in methods:
            got = runs.outcome(METHODS[name], case, top)
            if got is not None:
                results[case.key][name] = got
                line += f" {name} {'/'.join(f'{s.f1:.2f}' for s in got.scores)} {got.seconds:.1f}s"
        print(line, file=sys.stderr, flush=True)
        kept.append(dataclasses.replace(case, series=[]))
    return kept, results


def lengths(cases: list[Case]) -> str:
    """The lengths given to the methods over the cases: one, or the range (points)."""
    low, high = min(c.length for c in cases), max(c.length for c in cases)
    return str(low) if low == high else f"{low}-{high}"


def mean(values: list[float]) -> float:
    return float(np.mean(values)) if values else float("nan")


def fmt(value: float, width: int = 5, digits: int = 2) -> str:
    return f"{'-':>{width}}" if np.isnan(value) else f"{value:>{width}.{digits}f}"


def time_cell(value: float, width: int) -> str:
    """Seconds with their unit, or a dash for none."""
    return f"{'-':>{width}}" if np.isnan(value) else f"{value:>{width - 1}.1f}s"


def f1s(results: Results, cases: list[Case], name: str, shape: int = 0) -> list[float]:
    return [results[c.key][name].scores[shape].f1 for c in cases if name in results[c.key]]


def seconds(results: Results, cases: list[Case], name: str) -> float:
    """The method's total time over the cases it has results for (NaN for none)."""
    times = [results[c.key][name].seconds for c in cases if name in results[c.key]]
    return float(sum(times)) if times else float("nan")


def present(results: Results, cases: list[Case], name: str) -> int:
    return sum(1 for c in cases if name in results[c.key])


def grouped(cases: list[Case], key: Callable[[Case], str]) -> dict[str, list[Case]]:
    groups: dict[str, list[Case]] = defaultdict(list)
    for case in cases:
        groups[key(case)].append(case)
    return groups


def footer(results: Results, cases: list[Case], methods: list[str], width: int, block: int) -> None:
    """Mean F1, total time and STUMPY's time over each method's, over the cases."""
    line = f"{'mean F1':<{width}}"
    for name in methods:
        n = present(results, cases, name)
        note = "" if n == len(cases) else f" ({n}/{len(cases)} sets)"
        line += f"{fmt(mean(f1s(results, cases, name)), max(7, block - len(note)), 3)}{note}"
    print(line)
    common = [c for c in cases if all(name in results[c.key] for name in methods)]
    if len(common) < len(cases):
        print(f"{f'mean F1, the {len(common)} sets all have':<{width}}"
              + "".join(fmt(mean(f1s(results, common, n)), block, 3) for n in methods))
    print(f"{'total time (s)':<{width}}" + "".join(fmt(seconds(results, cases, n), block, 1) for n in methods))
    if "stumpy" in methods:
        for name in methods:
            both = [c for c in cases if "stumpy" in results[c.key] and name in results[c.key]]
            own = seconds(results, both, name)
            if name != "stumpy" and own > 0 and both:
                ratio = seconds(results, both, "stumpy") / own
                print(f"  stumpy's time / {name}'s: {ratio:.0f}x (over {len(both)} sets)")


def support_table(
    title: str, cases: list[Case], results: Results, methods: list[str], detail: bool,
    supports: tuple[float, ...] = SUPPORTS,
) -> None:
    """Rows per data set and host: mean F1, F1 at each support, total time per method."""
    width, block = 40, 32
    print(f"\n{title}")
    print(f"{'data set, host':<{width}}" + "".join(f"{name:>{block}}" for name in methods))
    columns = "F1" + "".join(f"{percent(s):>5}%" for s in supports) + "    time"
    print(f"{'':<{width}}" + "".join(f"{columns:>{block}}" for _ in methods))
    print("-" * (width + block * len(methods)))
    for row, members in grouped(cases, lambda c: f"{c.dataset} {c.host}").items():
        line = f"{row + f' (L={lengths(members)})':<{width}}"
        for name in methods:
            by_support = [
                mean(f1s(results, [c for c in members if c.support == s], name)) for s in supports
            ]
            line += f"{fmt(mean(f1s(results, members, name)), 8)}" + "".join(fmt(v, 6) for v in by_support)
            line += time_cell(seconds(results, members, name), 8)
        print(line)
        if detail:
            for case in members:
                print(f"  {case.key:<{width + 10}}" + detail_cells(results[case.key], methods))
    print("-" * (width + block * len(methods)))
    footer(results, cases, methods, width, block)
    for s in supports:
        at = [c for c in cases if c.support == s]
        print(f"{f'mean F1 at {percent(s)} %':<{width}}" + "".join(fmt(mean(f1s(results, at, n)), block, 3) for n in methods))


def detail_cells(outcomes: dict[str, Outcome], methods: list[str]) -> str:
    cells = ""
    for name in methods:
        got = outcomes.get(name)
        if got is None:
            cells += f"{'-':>24}"
        else:
            s = got.scores[0]
            cells += f"  P {s.precision:.2f} R {s.recall:.2f} F1 {s.f1:.2f}{'!' if got.error else ' '}"
    return cells


def class_table(cases: list[Case], results: Results, methods: list[str], detail: bool) -> None:
    width, block = 36, 18
    print("\nRULE B: every class in turn (20 series, 60 % support, minsup 0.5); mean F1 over the classes, total time")
    print(f"{'data set, host':<{width}}" + "".join(f"{name:>{block}}" for name in methods))
    print(f"{'':<{width}}" + "".join(f"{'F1    time':>{block}}" for _ in methods))
    print("-" * (width + block * len(methods)))
    for row, members in grouped(cases, lambda c: f"{c.dataset} {c.host}").items():
        line = f"{row + f' ({len(members)} cl.)':<{width}}"
        for name in methods:
            line += f"{fmt(mean(f1s(results, members, name)), 9)}{time_cell(seconds(results, members, name), 9)}"
        print(line)
        if detail:
            for case in members:
                line = f"  {'class ' + case.labels[0] + f' (L={case.length})':<{width - 2}}"
                for name in methods:
                    got = results[case.key].get(name)
                    line += f"{fmt(got.scores[0].f1 if got else float('nan'), 9)}{'':>9}"
                print(line)
    print("-" * (width + block * len(methods)))
    footer(results, cases, methods, width, block)


def pair_table(cases: list[Case], results: Results, methods: list[str]) -> None:
    width, block = 52, 22
    print("\nTWO SHAPES: the two most frequent classes in the same 20 series, top 2; each shape's best F1 "
          "over the returned motifs, 'both' when both reach 0.5")
    print(f"{'data set, host, layout (classes)':<{width}}" + "".join(f"{name:>{block}}" for name in methods))
    print(f"{'':<{width}}" + "".join(f"{'F1 a  F1 b  both':>{block}}" for _ in methods))
    print("-" * (width + block * len(methods)))
    for case in cases:
        row = f"{case.dataset} {case.host} {case.key.rsplit('/', 1)[1]} ({case.labels[0]}, {case.labels[1]})"
        line = f"{row:<{width}}"
        for name in methods:
            got = results[case.key].get(name)
            if got is None:
                line += f"{'-':>{block}}"
                continue
            a, b = (s.f1 for s in got.scores)
            line += f"{a:>{block - 12}.2f}{b:>6.2f}{'yes' if min(a, b) >= 0.5 else 'no':>6}"
        print(line)
    print("-" * (width + block * len(methods)))
    layouts: list[tuple[str, str | None]] = [
        ("both found", None), ("  halves", "halves"), ("  both in every series", "both")
    ]
    for label, kind in layouts:
        members = [c for c in cases if kind is None or c.key.endswith("/" + kind)]
        line = f"{label + f' (of {len(members)} sets)':<{width}}"
        for name in methods:
            found = sum(1 for c in members if name in results[c.key] and min(s.f1 for s in results[c.key][name].scores) >= 0.5)
            line += f"{found:>{block}}"
        print(line)
    line = f"{'mean F1, shape a / shape b':<{width}}"
    for name in methods:
        line += f"{fmt(mean(f1s(results, cases, name, 0)), block - 6)}{fmt(mean(f1s(results, cases, name, 1)), 6)}"
    print(line)
    print(f"{'total time (s)':<{width}}" + "".join(fmt(seconds(results, cases, n), block, 1) for n in methods))


def long_table(cases: list[Case], results: Results, methods: list[str], stumpy_estimate: str) -> None:
    width, block = 36, 18
    print(f"\nLONG SERIES: {LONG_SERIES} series of {LONG_POINTS:,} points, walk hosts, the most frequent class in every series")
    print(f"{'data set':<{width}}" + "".join(f"{name:>{block}}" for name in methods))
    print(f"{'':<{width}}" + "".join(f"{'F1    time':>{block}}" for _ in methods))
    print("-" * (width + block * len(methods)))
    for case in cases:
        line = f"{case.dataset + f' (L={case.length})':<{width}}"
        for name in methods:
            got = results[case.key].get(name)
            line += f"{'-':>{block}}" if got is None else f"{got.scores[0].f1:>9.2f}{got.seconds:>8.1f}s"
        print(line)
    print("-" * (width + block * len(methods)))
    footer(results, cases, methods, width, block)
    if stumpy_estimate:
        print(stumpy_estimate)


def stumpy_long_estimate(main: list[Case], results: Results, size: int) -> str:
    """STUMPY's time on a long set, from its times on the main sets of as many series: at a given
    number of series its cost grows as the square of the series' length."""
    times = [
        results[c.key]["stumpy"].seconds / c.mean_points**2
        for c in main
        if "stumpy" in results[c.key] and c.size == size and c.mean_points
    ]
    if not times:
        return "STUMPY not run on the long sets (--long-stumpy runs it)."
    estimate = float(np.median(times)) * LONG_POINTS**2
    return (
        f"STUMPY not run on the long sets (--long-stumpy runs it): at {size} series its time grows as the "
        f"square of the series' length, and from its times on the main {size}-series sets (median of "
        f"time / points^2) one long set would take about {estimate / 60:.0f} min."
    )


def unaligned(runs: Runs, methods: list[str]) -> None:
    data = json.loads((ROOT / "examples" / "unaligned.json").read_text())
    series = [np.array(values, dtype=np.float64) for values in data["series"]]
    length = int(data["shape_points"])
    plants: list[Plant | None] = [(int(start), length) for start in data["planted_at"]]
    case = Case("unaligned/examples-unaligned", "unaligned.json", ("burst",), "walk", 1.0, series, [plants], length, 0.5)
    print(f"\nUNALIGNED: examples/unaligned.json, {len(series)} noisy walks, a {length}-point burst at arbitrary positions")
    for name in methods:
        got = runs.outcome(METHODS[name], case, 1)
        if got is None:
            print(f"  {name:<20} not in the cache")
            continue
        s = got.scores[0]
        print(f"  {name:<20} top motif hits the burst in {s.hits:>2} of {len(series)} series "
              f"(reported in {s.reported}, length {got.length}), {got.seconds:.2f} s{' (cached)' if got.cached else ''}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--methods", default=",".join(METHODS),
                        help=f"the methods to compute, comma-separated (default: all, {','.join(METHODS)}); "
                        "the cached ones not asked are printed from the cache")
    parser.add_argument("--sections", default=",".join(SECTIONS), help=f"comma-separated, of {','.join(SECTIONS)}")
    parser.add_argument("--quick", action="store_true",
                        help="development subset: the main section at 20 series only, and the unaligned example")
    parser.add_argument("--datasets", default="",
                        help="only these data sets, comma-separated (default: all; a subset is not the benchmark's figures)")
    parser.add_argument("--detail", action="store_true", help="also print every set's row")
    parser.add_argument("--recompute", action="store_true", help="recompute the cached methods asked, ignoring the cache")
    parser.add_argument("--cache", type=pathlib.Path, default=CACHE.parent,
                        help="the cache's folder, e.g. another worktree's, to read the peers it holds "
                        "(default build/quality-cache; the rules' version is a folder inside)")
    parser.add_argument("--keep", action="store_true",
                        help="also keep the robust methods' results, by the last commit that changed the package, "
                        "so that a later --keep run at the same commit reads them instead of running again")
    parser.add_argument("--long-stumpy", action="store_true", help="also run STUMPY on the long sets (hours)")
    args = parser.parse_args(argv)
    asked = [name for name in args.methods.split(",") if name]
    unknown = [name for name in asked if name not in METHODS]
    if unknown:
        parser.error(f"unknown method(s) {', '.join(unknown)}: expected some of {', '.join(METHODS)}")
    sections = [name for name in args.sections.split(",") if name]
    if any(name not in SECTIONS for name in sections):
        parser.error(f"--sections takes some of {', '.join(SECTIONS)}, got {args.sections!r}")
    if args.quick:
        sections = [name for name in sections if name in ("main", "unaligned")]
        print("QUICK SUBSET (main section at 20 series only, and the unaligned example): "
              "for development, not the benchmark's figures")
    check_wheel()
    chosen = [name for name in args.datasets.split(",") if name]
    if any(name not in DATASETS for name in chosen):
        parser.error(f"--datasets takes some of {', '.join(DATASETS)}, got {args.datasets!r}")
    if chosen:
        print(f"SUBSET of the data sets ({', '.join(chosen)}): not the benchmark's figures")

    def only(cases: Iterable[Case]) -> Iterator[Case]:
        return (case for case in cases if not chosen or case.dataset in chosen)

    runs = Runs(asked, args.recompute, args.cache / RULES_VERSION, package_commit() if args.keep else "")
    methods = runs.columns()
    print(f"rules {RULES_VERSION}; asked: {', '.join(asked)} (from the cache where kept"
          f"{f', own results by commit {runs.commit}' if runs.commit else ''}); peers from the cache: "
          f"{', '.join(m for m in methods if m not in asked) or 'none'}")
    main_sets: list[Case] = []
    main_results: Results = {}
    if "main" in sections:
        sizes = QUICK_SIZES if args.quick else SIZES
        main_sets, main_results = run_cases(runs, only(main_cases(sizes)), methods, 1, "main")
        support_table(
            f"RULE A: each data set's most frequent class; {' and '.join(map(str, sizes))} series; top motif's F1",
            main_sets, main_results, methods, args.detail,
        )
    if "class" in sections:
        cases, results = run_cases(runs, only(class_cases()), methods, 1, "class")
        class_table(cases, results, methods, args.detail)
    if "hosts" in sections:
        cases, results = run_cases(runs, only(other_host_cases()), methods, 1, "hosts")
        support_table(
            "RULE C: each data set's most frequent class in hosts of other kinds; 20 series; top motif's F1",
            cases, results, methods, args.detail, OTHER_SUPPORTS,
        )
    if "pair" in sections:
        ranked = runs.columns(ranked_only=True)
        cases, results = run_cases(runs, only(pair_cases()), ranked, 2, "pair")
        pair_table(cases, results, ranked)
    if "long" in sections:
        long_methods = [m for m in methods if args.long_stumpy or m != "stumpy"]
        cases, results = run_cases(runs, only(long_cases()), long_methods, 1, "long")
        estimate = "" if args.long_stumpy else stumpy_long_estimate(main_sets, main_results, LONG_SERIES)
        long_table(cases, results, long_methods, estimate)
    if "unaligned" in sections:
        unaligned(runs, methods)
    if runs.errors:
        print("\nERRORS (the method reported nothing on these sets):")
        for error in runs.errors:
            print(f"  {error}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
