"""The search by example on the command line: ``zorp-miner match QUERY DATA... [options]``.

``zorp_miner.cli.motifs.main`` hands the arguments after ``match`` to :func:`run_match`, and reports
its errors as it does its own: one line on stderr, exit status 2 for a usage or input error, 1
for a refused or failed run.
"""

import argparse
import csv
import io
import json
import sys
import time
from pathlib import Path

from zorp_miner import progress
from zorp_miner.compute import threads as _threads
from zorp_miner._errors import ClusterError
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.run.cluster import opened
from zorp_miner.run.data import on_parts, series_here
from zorp_miner._types import FloatArray
from zorp_miner._version import __version__
from zorp_miner.cli.options import (
    PROG,
    Parser,
    UsageError,
    add_reading_options,
    add_threads_option,
    check_where_and_plot,
    display_name,
    reading_options,
    say,
    threads_of,
)
from zorp_miner.io.files import load
from zorp_miner.search.matches import Matches, as_query, refuse_longer, search

DESCRIPTION = """\
Find where the shape in QUERY occurs in the series of DATA: every window whose z-normalised
distance to it, sqrt(2 (1 - r)) with r their correlation (0 the same shape, 1.41 unrelated,
the scale of the motifs' scores), is at most --max-distance, closest first, no two of a series
overlapping. Windows holding a missing point (an empty cell or NaN) never match.

QUERY holds the shape: one series (a line, or one value per line), or pick one of several
with --query-series. DATA is read as zorp-miner reads its FILE (the reading options below
apply to DATA); several files are one set, their series numbered in file order. A data file
named "match" is ./match."""
EPILOG = """\
The default --max-distance is chance's: 0.8 x the smallest distance that 4 shapes like the
query but not it (its straight-line trend, the rest with its spectrum and scrambled phases)
reach in DATA; it costs a pass over the data. --exclusion "$(( (M + 3) / 4 ))" (a quarter of
the query's M points, rounded up) gives the windows of STUMPY's match.

exit status: 0 on success (also when nothing matches), 2 for a usage or input error, 1 when the
run is refused or fails on a cluster, 130 when interrupted (Ctrl-C). Every error is one line on
stderr.

CSV output: rank,series,start,distance, one row per match. JSON output: {"query_file",
"file", "zorp_miner", "length", "parameters": {"max_distance", "exclusion", "top"}, "series":
{"count", "lengths"}, "closest", "query", "matches": [{"series", "start", "distance"}]};
starts and lengths in points, "query" the shape's values, null for an infinite distance."""


def parser() -> argparse.ArgumentParser:
    """The argument parser of ``zorp-miner match``."""
    cli = Parser(
        prog=f"{PROG} match",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    cli.add_argument("query", metavar="QUERY", type=Path, help="the file holding the shape")
    cli.add_argument(
        "data", metavar="DATA", type=Path, nargs="+", help="the file of series, or several"
    )
    cli.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    run = cli.add_argument_group("search")
    run.add_argument(
        "--max-distance",
        type=float,
        metavar="F",
        help="the radius, 0 or more; inf for none (default: chance's, see below)",
    )
    run.add_argument(
        "--exclusion",
        type=int,
        metavar="N",
        help="no two matches of a series start within N points of each other (default: the "
        "query's length minus 1: matches never overlap)",
    )
    run.add_argument(
        "--query-series",
        type=int,
        metavar="I",
        help="the series of QUERY that is the shape, from 0 (default: QUERY must hold one)",
    )
    out = cli.add_argument_group("output")
    out.add_argument(
        "--top",
        type=int,
        default=0,
        metavar="K",
        help="print the closest K matches; 0 prints all (default: 0)",
    )
    out.add_argument(
        "--format",
        choices=("table", "json", "csv"),
        default="table",
        help="table: ranked matches; json: the search and every match; csv: one row per match "
        "(default: table)",
    )
    out.add_argument(
        "--plot",
        type=Path,
        metavar="OUT.png",
        help="also draw the query over its matches in the series of the best one into this PNG "
        "(needs matplotlib: pip install 'zorp_miner[plot]') (default: no plot)",
    )
    out.add_argument(
        "--quiet",
        action="store_true",
        help="show no progress on stderr (default: shown on a terminal for runs longer than a "
        "second)",
    )
    cluster = cli.add_argument_group(
        "running on a Dask cluster (needs the dask extra: pip install 'zorp_miner[dask]')"
    )
    where = cluster.add_mutually_exclusive_group()
    where.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="search on the cluster of this scheduler (tcp://HOST:PORT); each DATA file is read "
        "by a worker (default: search in this process)",
    )
    where.add_argument(
        "--workers",
        type=int,
        metavar="N",
        help="search on a cluster of N worker processes started on this machine (default: "
        "search in this process)",
    )
    add_threads_option(run)
    add_reading_options(cli, "reading DATA")
    return cli


def run_match(argv: list[str]) -> int:
    """Run ``zorp-miner match`` with the arguments after ``match``; the exit status.

    Raises
    ------
    UsageError, ValueError, TypeError, OSError
        For a bad command line or input (:func:`zorp_miner.cli.main` prints them).
    """
    args = parser().parse_args(argv)
    _check(args)
    with _threads.using(threads_of(args)):
        return _searched(args)


def _searched(args: argparse.Namespace) -> int:
    """The search of a checked command line, its output written; the exit status."""
    query = read_query(args.query, args.query_series)
    names = [str(path) for path in args.data]
    options = reading_options(args)
    shown = progress.Bar(sys.stderr) if sys.stderr.isatty() and not args.quiet else None
    with progress.reporting(shown):
        if args.scheduler is not None or args.workers is not None:
            with opened(args.scheduler, args.workers) as (client, _):
                try:
                    found, elapsed = on_parts(names, client, lambda parts: _search(args, query, names, parts), options)
                except (MemoryError, ClusterError) as error:
                    say(f"run failed: {error}")
                    return 1
            series: list[FloatArray] = []
        else:
            series = series_here(names, options)
            try:
                found, elapsed = _search(args, query, names, LocalParts(series))
            except MemoryError as error:
                say(f"run refused: {error}")
                return 1
    _write(args, found, names, elapsed)
    if args.plot is not None:
        from zorp_miner.plot import plot_search

        plot_search(found, series).savefig(args.plot, dpi=100)
        say(f"wrote {args.plot}")
    return 0


def _check(args: argparse.Namespace) -> None:
    if args.top < 0:
        raise UsageError(f"--top must be 0 (all) or a positive number of matches, got {args.top}")
    if args.exclusion is not None and args.exclusion < 0:
        raise UsageError(f"--exclusion must be 0 or more points, got {args.exclusion}")
    if args.max_distance is not None and not args.max_distance >= 0.0:
        raise UsageError(
            f"--max-distance must be 0 or more (inf for no radius), got {args.max_distance}"
        )
    if args.query_series is not None and args.query_series < 0:
        raise UsageError(f"--query-series must be 0 or more, got {args.query_series}")
    check_where_and_plot(args)


def read_query(path: Path, which: int | None) -> FloatArray:
    """The shape in a query file: its one series (a file of one value per line is one series),
    or series ``which``; checked as :func:`zorp_miner.search.matches.as_query` checks it.

    Raises
    ------
    ValueError
        Naming the file, for a file of several series without ``which``, a ``which`` beyond
        them, or a shape that is no query.
    """
    shapes = load(path)
    if len(shapes) > 1 and all(len(one) == 1 for one in shapes):
        shapes = load(path, layout="columns")
    if which is None and len(shapes) != 1:
        raise UsageError(
            f"{path} holds {len(shapes)} series; QUERY is one shape: choose one with "
            "--query-series I (from 0)"
        )
    index = which or 0
    if index >= len(shapes):
        raise UsageError(
            f"--query-series {index}: {path} holds {len(shapes)} series (0 to {len(shapes) - 1})"
        )
    try:
        return as_query(shapes[index])
    except ValueError as error:
        raise ValueError(f"{path}: {error}") from None


def _search(
    args: argparse.Namespace, query: FloatArray, names: list[str], parts: Parts
) -> tuple[Matches, float]:
    """The matches, printing the table's head first, and the seconds the search took."""
    refuse_longer(len(query), parts.lengths)
    if args.format == "table":
        lengths = parts.lengths.tolist()
        sys.stdout.write(
            f"{args.query}: a query of {len(query)} points\n"
            f"{display_name(names)}: {len(lengths)} series, {sum(lengths)} points\n\n"
        )
        sys.stdout.flush()
    started = time.perf_counter()
    found = search(
        parts,
        query,
        max_distance=args.max_distance,
        exclusion=len(query) - 1 if args.exclusion is None else args.exclusion,
        top=args.top or None,
    )
    return found, time.perf_counter() - started


def _write(args: argparse.Namespace, found: Matches, names: list[str], elapsed: float) -> None:
    if args.format == "json":
        record = {"query_file": str(args.query), "file": names[0] if len(names) == 1 else names}
        sys.stdout.write(json.dumps({**record, **found.to_dict()}) + "\n")
    elif args.format == "csv":
        sys.stdout.write(csv_text(found))
    else:
        sys.stdout.write(table_text(found, elapsed, given=args.max_distance is not None))


def table_text(found: Matches, elapsed: float | None = None, *, given: bool = True) -> str:
    """The matches, one line each, and a closing line with the radius and the exclusion."""
    took = "" if elapsed is None else f" in {elapsed * 1000:.1f} ms"
    radius = f"max distance {found.max_distance:.4g}" + ("" if given else " (chance's, the default)")
    if len(found) == 0:
        return (
            f"0 matches{took}: none within {radius}; the closest window is at "
            f"{found.closest:.4g}: give a larger --max-distance to see it\n"
        )
    header = f"{'rank':>5}  {'series':>6}  {'start':>9}  {'distance':>8}"
    lines = [header, "-" * len(header)]
    for rank, (s, start, d) in enumerate(
        zip(found.series.tolist(), found.starts.tolist(), found.distances.tolist()), start=1
    ):
        lines.append(f"{rank:>5}  {s:>6}  {start:>9}  {d:>8.4f}")
    held = len(set(found.series.tolist()))
    cut = f", the closest {found.top}" if found.top is not None and len(found) == found.top else ""
    lines += [
        "",
        f"{len(found)} matches{cut} in {held} of {found.series_count} series{took}; {radius}, "
        f"none within {found.exclusion} points of another.",
    ]
    return "\n".join(lines) + "\n"


def csv_text(found: Matches) -> str:
    """One CSV row per match, best first: rank, series, start (points), distance."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(["rank", "series", "start", "distance"])
    for rank, (s, start, d) in enumerate(
        zip(found.series.tolist(), found.starts.tolist(), found.distances.tolist()), start=1
    ):
        writer.writerow([rank, s, start, repr(d)])
    return buffer.getvalue()
