"""Times _zorp_cpp.sax on lists of Python floats, and the input conversion on its own.

sax(ts, seglen, 11) converts the whole of ts and then raises ValueError at once (alphabet 11 is
refused before any word is built), so timing that call times the conversion alone. Every figure
is the best of --repeat runs; each measurement runs in a fresh subprocess, whose peak memory is
reported above the baseline taken once the input is built.

    .venv/bin/python bench/bench_sax.py [--series 1000] [--points 10000] [--repeat 3]
"""

import argparse

import _zorp_cpp

import benchlib

REFUSED_ALPHABET = 11


def sax_call(args: argparse.Namespace) -> benchlib.Call:
    def call(ts: list[list[float]]) -> int:
        return len(_zorp_cpp.sax(ts, args.seglen, args.alphabet))

    return call


def conversion_call(args: argparse.Namespace) -> benchlib.Call:
    def call(ts: list[list[float]]) -> None:
        try:
            _zorp_cpp.sax(ts, args.seglen, REFUSED_ALPHABET)
        except ValueError:
            return None
        raise RuntimeError(f"sax accepted alphabet {REFUSED_ALPHABET}: no conversion-only figure")

    return call


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    benchlib.add_input_arguments(parser)
    parser.add_argument("--repeat", type=int, default=3, help="repetitions, best kept (3)")
    return parser.parse_args()


def print_measurement(args: argparse.Namespace, label: str, figures: dict) -> None:
    rate = benchlib.points_per_second(args, figures["seconds"])
    benchlib.print_row(f"{label} time", f"{figures['seconds']:.3f} s")
    benchlib.print_row(f"{label} speed", f"{rate / 1e6:.1f} M points/s")
    benchlib.print_row(f"{label} peak memory", benchlib.memory_text(figures))


def main() -> None:
    args = parse_arguments()
    calls = {"sax": sax_call(args), "conversion": conversion_call(args)}
    if args.measure:
        benchlib.report_child(benchlib.measure_here(args, calls[args.measure], args.repeat))
        return
    print(
        f"sax: {args.series} series x {args.points} points (seed {args.seed}), "
        f"seglen {args.seglen}, alphabet {args.alphabet}, best of {args.repeat}"
    )
    sax = benchlib.measure_in_child("sax")
    conversion = benchlib.measure_in_child("conversion")
    print_measurement(args, "sax", sax)
    print_measurement(args, "conversion", conversion)
    ratio = sax["seconds"] / conversion["seconds"] if conversion["seconds"] > 0 else float("inf")
    benchlib.print_row("time ratio sax/conversion", f"{ratio:.2f}")


if __name__ == "__main__":
    main()
