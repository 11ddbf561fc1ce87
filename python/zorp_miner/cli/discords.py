"""Discords on the command line: ``zorp-miner discords FILE... --length M [options]``.

``zorp_miner.cli.main`` hands the arguments after ``discords`` to :func:`run_discords`, and
reports its errors as it does the other commands': one line on stderr, exit status 2 for a
usage or input error.
"""

import argparse
import csv
import io
import json
import sys
import time
from pathlib import Path

from zorp_miner import progress
from zorp_miner._version import __version__
from zorp_miner.cli.options import (
    PROG,
    Parser,
    UsageError,
    add_reading_options,
    check_plot_path,
    display_name,
    reading_options,
    say,
)
from zorp_miner.discords import Discords, find_discords
from zorp_miner.run.data import series_here

DESCRIPTION = """\
Find the discords of the series in FILE: the windows of --length points least like any other.
In one series, the windows whose nearest neighbour (the closest window starting more than
--exclusion points away) is farthest, each at least --length points from those before it; in a
set of several series, each series' window farthest from every window of the other series.
Exact: the discords of the full matrix of distances, found without computing most of it.
Distances are z-normalised, sqrt(2 (1 - r)) with r the correlation (1.41 unrelated; STUMPY's
matrix profile holds sqrt(length) times these). Windows holding a missing point never count."""
EPILOG = """\
exit status: 0 on success, 2 for a usage or input error, 130 when interrupted (Ctrl-C).

CSV output: rank,series,start,distance,neighbour_series,neighbour_start. JSON output: {"file",
"zorp_miner", "length", "within", "exclusion", "series": {"count", "lengths"}, "discords":
[{"series", "start", "distance", "neighbour_series", "neighbour_start"}]}."""


def parser() -> argparse.ArgumentParser:
    """The argument parser of ``zorp-miner discords``."""
    cli = Parser(
        prog=f"{PROG} discords",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    cli.add_argument("files", metavar="FILE", type=Path, nargs="+", help="the file of series, or several")
    cli.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    run = cli.add_argument_group("search")
    run.add_argument("--length", type=int, required=True, metavar="M", help="the windows' length, in points (at least 4)")
    run.add_argument(
        "--exclusion",
        type=int,
        metavar="N",
        help="in one series: a window's neighbours start more than N points from it, below M "
        "(default: a quarter of M, rounded up, as STUMPY's)",
    )
    out = cli.add_argument_group("output")
    out.add_argument("--top", type=int, default=3, metavar="K", help="print the K farthest; 0 prints all (default: 3)")
    out.add_argument(
        "--format",
        choices=("table", "json", "csv"),
        default="table",
        help="table: ranked discords; json: the search and every discord; csv: one row per discord (default: table)",
    )
    out.add_argument(
        "--plot",
        type=Path,
        metavar="OUT.png",
        help="also draw the discords in their series, each beside its nearest neighbour (needs "
        "matplotlib: pip install 'zorp_miner[plot]') (default: no plot)",
    )
    out.add_argument("--quiet", action="store_true", help="show no progress on stderr (default: shown on a terminal)")
    add_reading_options(cli, "reading FILE")
    return cli


def run_discords(argv: list[str]) -> int:
    """Run ``zorp-miner discords`` with the arguments after ``discords``; the exit status.

    Raises
    ------
    UsageError, ValueError, TypeError, OSError
        For a bad command line or input (:func:`zorp_miner.cli.main` prints them).
    """
    args = parser().parse_args(argv)
    if args.top < 0:
        raise UsageError(f"--top must be 0 (all) or a positive number of discords, got {args.top}")
    if args.plot is not None:
        check_plot_path(args.plot)
    names = [str(path) for path in args.files]
    shown = progress.Bar(sys.stderr) if sys.stderr.isatty() and not args.quiet else None
    with progress.reporting(shown):
        series = series_here(names, reading_options(args))
        started = time.perf_counter()
        found = find_discords(series, args.length, top=args.top, exclusion=args.exclusion, progress=False)
        elapsed = time.perf_counter() - started
    if args.format == "json":
        record = {"file": names[0] if len(names) == 1 else names, "zorp_miner": __version__}
        sys.stdout.write(json.dumps({**record, **found.to_dict()}) + "\n")
    elif args.format == "csv":
        sys.stdout.write(csv_text(found))
    else:
        sys.stdout.write(f"{display_name(names)}: {len(series)} series, {sum(len(s) for s in series)} points\n\n")
        sys.stdout.write(table_text(found, elapsed))
    if args.plot is not None:
        from zorp_miner.plot_discords import plot_discords

        plot_discords(found, series).savefig(args.plot, dpi=100)
        say(f"wrote {args.plot}")
    return 0


def table_text(found: Discords, elapsed: float | None = None) -> str:
    """The discords, one line each, and a closing line with what they are."""
    took = "" if elapsed is None else f" in {elapsed * 1000:.1f} ms"
    if len(found) == 0:
        return f"no discord{took}: no window of {found.length} points has a usable neighbour\n"
    header = f"{'rank':>5}  {'series':>6}  {'start':>9}  {'distance':>8}  {'neighbour (series:start)':>24}"
    lines = [header, "-" * len(header)]
    for rank in range(len(found)):
        neighbour = f"{found.neighbour_series[rank]}:{found.neighbour_starts[rank]}"
        lines.append(
            f"{rank + 1:>5}  {found.series[rank]:>6}  {found.starts[rank]:>9}  "
            f"{found.distances[rank]:>8.4f}  {neighbour:>24}"
        )
    if found.within:
        what = f"windows of {found.length} points, neighbours more than {found.exclusion} points away"
    else:
        what = f"each series' window of {found.length} points farthest from the other series'"
    lines += ["", f"{len(found)} discords{took}: {what}."]
    return "\n".join(lines) + "\n"


def csv_text(found: Discords) -> str:
    """One CSV row per discord, farthest first."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(["rank", "series", "start", "distance", "neighbour_series", "neighbour_start"])
    for rank in range(len(found)):
        writer.writerow(
            [
                rank + 1,
                int(found.series[rank]),
                int(found.starts[rank]),
                repr(float(found.distances[rank])),
                int(found.neighbour_series[rank]),
                int(found.neighbour_starts[rank]),
            ]
        )
    return buffer.getvalue()
