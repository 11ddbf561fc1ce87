"""Times the core of an earlier revision against the working tree's, side by side.

Builds bench/bench_phases.cpp of the working tree twice: against the core (src/core, CMakeLists.txt)
of the given revision and against the working tree's own. Then runs each case with both
builds in turn, --repeat times, and keeps the best (smallest) figure of each, since the machine
may be busy with other work; peak memory is the largest of the runs. Prints one table per kind
of case, the ratio after / before beside each figure.

    .venv/bin/python bench/compare.py --base 076742e [--repeat 3] [--quick]

--quick makes every series ten times shorter, for a trial of the script itself.
"""

import argparse
import dataclasses
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "compare"
FIGURE = re.compile(r"^  (\S[\w ,]*?)\s{2,}([0-9.]+) (s|MiB)\b")
DIGEST = re.compile(r"^  digest\s+([0-9a-f]+)")


@dataclasses.dataclass(frozen=True)
class Case:
    name: str
    arguments: tuple[str, ...]
    figures: tuple[str, ...]


def cases(quick: bool) -> list[Case]:
    """The pipeline at two lengths, the long runs, and two redundancy passes: a heavy one over
    walks and every candidate kept over two short words."""
    scale = 10 if quick else 1
    walks = ("--series", "1000", "--seglen", "10", "--alphabet", "6", "--minsup", "0.5")
    pipeline = ("mine", "map", "total", "peak RSS", "peak RSS, returned")
    return [
        Case("Miner, 1000 x 10000 walks",
             ("miner", *walks, "--points", str(10000 // scale)), pipeline),
        Case("Miner, 1000 x 40000 walks",
             ("miner", *walks, "--points", str(40000 // scale)), pipeline),
        Case(
            "PatternMiner(0.5).mine, long runs (1000 x 40000 walks, not normalised)",
            ("search", *walks, "--points", str(40000 // scale), "--raw", "1"),
            ("search", "peak RSS"),
        ),
        Case(
            "PatternMiner.mine, heavy redundancy (100 x 20000, alphabet 10, minsup 0.05, min_len 1)",
            ("search", "--series", "100", "--points", str(20000 // scale), "--seglen", "10",
             "--alphabet", "10", "--minsup", "0.05", "--min-len", "1"),
            ("search", "peak RSS"),
        ),
        # Every word of 1 to 5 letters over the ten letters of two short words is accepted: the
        # redundancy pass sifts 111,110 patterns.
        Case(
            "PatternMiner(-1e308, 0, 5).mine, two words of 30 and 4 letters over a to j",
            ("search", "--words", "eecdcdccbideagcjaecbehgcefdhij,gfgf", "--minsup", "-1e308",
             "--min-len", "0", "--max-len", "5"),
            ("search", "peak RSS"),
        ),
    ]


def export_revision(revision: str, into: pathlib.Path) -> None:
    """The revision's tree, with the working tree's benchmark in place of its own."""
    if into.exists():
        shutil.rmtree(into)
    into.mkdir(parents=True)
    with tempfile.TemporaryFile() as archive:
        subprocess.run(["git", "-C", str(ROOT), "archive", revision], stdout=archive, check=True)
        archive.seek(0)
        with tarfile.open(fileobj=archive) as tree:
            tree.extractall(into, filter="data")
    shutil.copy(ROOT / "bench" / "bench_phases.cpp", into / "bench" / "bench_phases.cpp")


def build(source: pathlib.Path, into: pathlib.Path) -> pathlib.Path:
    subprocess.run(
        ["cmake", "-S", str(source), "-B", str(into), "-DCMAKE_BUILD_TYPE=Release",
         "-DZORP_BUILD_BENCH=ON", "-DZORP_BUILD_MODULE=OFF"],
        check=True, stdout=subprocess.DEVNULL,
    )
    subprocess.run(["cmake", "--build", str(into), "-j2", "--target", "bench_phases"], check=True,
                   stdout=subprocess.DEVNULL)
    found = [path for path in into.rglob("bench_phases") if path.is_file()]
    return found[0]


def run(program: pathlib.Path, case: Case) -> tuple[dict[str, float], str]:
    """The figures a run prints, and its digest of what it found."""
    output = subprocess.run([str(program), *case.arguments], check=True, capture_output=True,
                            text=True).stdout
    figures = {}
    digest = ""
    for line in output.splitlines():
        match = FIGURE.match(line)
        if match:
            figures[match.group(1).strip()] = float(match.group(2))
        found = DIGEST.match(line)
        if found:
            digest = found.group(1)
    return figures, digest


def best_of(runs: list[dict[str, float]], figure: str) -> float:
    values = [run[figure] for run in runs]
    return max(values) if figure.startswith("peak") else min(values)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", required=True, help="revision whose core is 'before'")
    parser.add_argument("--repeat", type=int, default=3, help="runs per case and build (3)")
    parser.add_argument("--quick", action="store_true", help="series ten times shorter")
    parser.add_argument("--only", default="", help="run only the cases whose name holds this")
    args = parser.parse_args(argv)

    print(f"[compare] building {args.base} and the working tree", file=sys.stderr)
    export_revision(args.base, BUILD / "base-source")
    before_program = build(BUILD / "base-source", BUILD / "base")
    after_program = build(ROOT, BUILD / "head")

    totals: dict[str, tuple[float, float]] = {}
    for case in [case for case in cases(args.quick) if args.only in case.name]:
        before: list[dict[str, float]] = []
        after: list[dict[str, float]] = []
        digests = set()
        for attempt in range(args.repeat):
            print(f"[compare] {case.name}: run {attempt + 1} of {args.repeat}", file=sys.stderr)
            for program, figures in ((before_program, before), (after_program, after)):
                found, digest = run(program, case)
                figures.append(found)
                digests.add(digest)
        same = "the same" if len(digests) == 1 else "DIFFERENT"
        print(f"\n{case.name}, best of {args.repeat}; results {same} before and after\n")
        print("| figure | before | after | after / before |")
        print("|---|---|---|---|")
        for figure in case.figures:
            old, new = best_of(before, figure), best_of(after, figure)
            unit = "MiB" if figure.startswith("peak") else "s"
            ratio = f"{new / old:.3f}" if old > 0 else "-"
            print(f"| {figure} | {old:.3f} {unit} | {new:.3f} {unit} | {ratio} |")
        if "total" in case.figures:
            totals[case.name] = (best_of(before, "total"), best_of(after, "total"))

    if len(totals) == 2:
        (short_name, short), (long_name, long) = totals.items()
        print(f"\nGrowth of the Miner total from '{short_name}' to '{long_name}'\n")
        print(f"| before | after |\n|---|---|\n| {long[0] / short[0]:.2f} x | {long[1] / short[1]:.2f} x |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
