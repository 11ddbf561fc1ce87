"""Times _zorp_cpp.sax on a numpy array and on lists of floats, against numpy's own copies.

The same random walks are given as a C-ordered float64 array, as lists of Python floats, as the
array in Fortran order and as a list of its rows. Beside sax, the benchmark times the input
conversion alone (sax with alphabet 11 converts the whole input, then refuses it), and, as the
yardsticks, ndarray.copy() and numpy.array(lists), numpy's own conversion of the lists. All
calls run in one process, in rounds (see benchlib); the ratios compare calls of that process.
sax(ndarray) runs twice: as it comes, on whatever heap pages earlier calls freed, and on a cold
heap (free pages handed back first), where each of the 1,000 native series is new memory.

    .venv/bin/python bench/bench_sax.py [--series 1000] [--points 10000] [--rounds 5]
    .venv/bin/python bench/bench_sax.py --module /path/to/an/earlier/build
"""

import argparse
from collections.abc import Callable
from typing import Any

import numpy as np

import benchlib

REFUSED_ALPHABET = 11


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    benchlib.add_input_arguments(parser)
    parser.add_argument("--rounds", type=int, default=5, help="rounds, best time kept (5)")
    return parser.parse_args()


def main() -> None:
    args = parse_arguments()
    module = benchlib.load_module(args)
    array = benchlib.random_walks(args)
    lists = array.tolist()
    fortran = np.asfortranarray(array)
    rows = list(array)

    def sax(ts: Any, alphabet: int = args.alphabet) -> Callable[[], object]:
        return lambda: module.sax(ts, args.seglen, alphabet)

    calls = {
        "ndarray.copy()": array.copy,
        "numpy.array(lists)": lambda: np.array(lists),
        "sax(ndarray)": sax(array),
        "sax(ndarray), cold heap": sax(array),
        "sax(lists)": sax(lists),
        "sax(Fortran ndarray)": sax(fortran),
        "sax(list of rows)": sax(rows),
        "conversion(ndarray)": benchlib.refused_after_conversion(sax(array, REFUSED_ALPHABET)),
        "conversion(lists)": benchlib.refused_after_conversion(sax(lists, REFUSED_ALPHABET)),
    }
    benchlib.print_header("sax", args, module, args.rounds)
    figures = benchlib.measure(calls, args.rounds, cold=frozenset({"sax(ndarray), cold heap"}))
    benchlib.print_figures(figures)
    benchlib.print_ratios(
        figures,
        [
            ("sax(ndarray)", "ndarray.copy()"),
            ("sax(ndarray), cold heap", "ndarray.copy()"),
            ("sax(lists)", "numpy.array(lists)"),
            ("conversion(ndarray)", "sax(ndarray)"),
            ("conversion(lists)", "sax(lists)"),
        ],
    )


if __name__ == "__main__":
    main()
