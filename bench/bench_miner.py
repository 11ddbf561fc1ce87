"""Times a whole Miner.mine run against sax alone, then shows the C++ phase split.

sax is the best of 3 runs and mine the best of 2; each measurement runs in a fresh subprocess,
whose peak memory is reported above the baseline taken once the input is built. When the C++
benchmark is built (build/bench/bench_phases), its miner subcommand runs with the same
parameters on its own random walks (same sizes and kind, not the same numbers).

    .venv/bin/python bench/bench_miner.py [--series 1000] [--points 10000] [--minsup 0.5]
"""

import argparse
import pathlib
import subprocess

import _zorp_cpp

import benchlib

PHASES = pathlib.Path(__file__).resolve().parent.parent / "build" / "bench" / "bench_phases"
REPEATS = {"sax": 3, "mine": 2}


def sax_call(args: argparse.Namespace) -> benchlib.Call:
    def call(ts: list[list[float]]) -> int:
        return len(_zorp_cpp.sax(ts, args.seglen, args.alphabet))

    return call


def mine_call(args: argparse.Namespace) -> benchlib.Call:
    def call(ts: list[list[float]]) -> int:
        return len(_zorp_cpp.Miner(args.minsup, args.seglen, args.alphabet).mine(ts))

    return call


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    benchlib.add_input_arguments(parser)
    parser.add_argument("--minsup", type=float, default=0.5, help="minimum support (0.5)")
    return parser.parse_args()


def print_measurement(label: str, figures: dict) -> None:
    benchlib.print_row(f"{label} time", f"{figures['seconds']:.3f} s")
    benchlib.print_row(f"{label} peak memory", benchlib.memory_text(figures))


def run_phases(args: argparse.Namespace) -> None:
    if not PHASES.exists():
        print(f"({PHASES} is not built: no phase split; bench/run.sh builds it)")
        return
    command = [str(PHASES), "miner", "--series", str(args.series), "--points", str(args.points),
               "--seglen", str(args.seglen), "--alphabet", str(args.alphabet),
               "--minsup", str(args.minsup)]
    print("phase split from the C++ benchmark:")
    print(subprocess.run(command, check=True, capture_output=True, text=True).stdout, end="")


def main() -> None:
    args = parse_arguments()
    calls = {"sax": sax_call(args), "mine": mine_call(args)}
    if args.measure:
        measured = args.measure
        benchlib.report_child(benchlib.measure_here(args, calls[measured], REPEATS[measured]))
        return
    print(
        f"miner: {args.series} series x {args.points} points (seed {args.seed}), "
        f"seglen {args.seglen}, alphabet {args.alphabet}, minsup {args.minsup}, "
        f"other Miner arguments default; sax best of 3, mine best of 2"
    )
    sax = benchlib.measure_in_child("sax")
    mine = benchlib.measure_in_child("mine")
    print_measurement("sax", sax)
    print_measurement("mine", mine)
    ratio = mine["seconds"] / sax["seconds"] if sax["seconds"] > 0 else float("inf")
    benchlib.print_row("time ratio mine/sax", f"{ratio:.1f}")
    benchlib.print_row("motifs", str(mine["count"]))
    run_phases(args)


if __name__ == "__main__":
    main()
