"""Times Miner.mine on a numpy array and on lists of floats, and the conversion's share of it.

The same random walks are given as a C-ordered float64 array and as lists of Python floats.
Beside Miner(minsup, seglen, alphabet).mine (other arguments default), the benchmark times sax
and the input conversion alone (sax with alphabet 11 converts the whole input, then refuses
it; mine converts its input the same way). All calls run in one process, in rounds (see
benchlib); the ratios compare calls of that process. When the C++ benchmark is built
(build/bench/bench_phases), its miner subcommand then shows the phase split for the same
parameters on its own random walks (same sizes and kind, not the same numbers).

    .venv/bin/python bench/bench_miner.py [--series 1000] [--points 10000] [--minsup 0.5]
    .venv/bin/python bench/bench_miner.py --module /path/to/an/earlier/build
"""

import argparse
import pathlib
import subprocess
from collections.abc import Callable
from typing import Any

import benchlib

PHASES = pathlib.Path(__file__).resolve().parent.parent / "build" / "bench" / "bench_phases"
REFUSED_ALPHABET = 11


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    benchlib.add_input_arguments(parser)
    parser.add_argument("--minsup", type=float, default=0.5, help="minimum support (0.5)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds, best time kept (3)")
    return parser.parse_args()


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
    module = benchlib.load_module(args)
    array = benchlib.random_walks(args)
    lists = array.tolist()

    def mine(ts: Any) -> Callable[[], object]:
        return lambda: module.Miner(args.minsup, args.seglen, args.alphabet).mine(ts)

    def sax(ts: Any, alphabet: int = args.alphabet) -> Callable[[], object]:
        return lambda: module.sax(ts, args.seglen, alphabet)

    calls = {
        "mine(ndarray)": mine(array),
        "mine(lists)": mine(lists),
        "sax(ndarray)": sax(array),
        "conversion(ndarray)": benchlib.refused_after_conversion(sax(array, REFUSED_ALPHABET)),
        "conversion(lists)": benchlib.refused_after_conversion(sax(lists, REFUSED_ALPHABET)),
    }
    benchlib.print_header(f"Miner.mine, minsup {args.minsup}", args, module, args.rounds)
    figures = benchlib.measure(calls, args.rounds)
    benchlib.print_figures(figures)
    benchlib.print_ratios(
        figures,
        [
            ("mine(ndarray)", "mine(lists)"),
            ("conversion(ndarray)", "mine(ndarray)"),
            ("conversion(lists)", "mine(lists)"),
        ],
    )
    motifs = module.Miner(args.minsup, args.seglen, args.alphabet).mine(array)
    print(f"  motifs found: {len(motifs)}")
    run_phases(args)


if __name__ == "__main__":
    main()
