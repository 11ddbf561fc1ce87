"""``zorp-miner FILE... [--length N] [options]``: the motifs of files, on the run layer that
:func:`zorp_miner.find_motifs` runs on."""

import argparse
import sys
import time
from pathlib import Path
from typing import Any

from zorp_miner import progress
from zorp_miner._errors import ClusterError, RunRefused
from zorp_miner._version import __version__
from zorp_miner.api import motifs_here, run_parts
from zorp_miner.cli.options import (
    PROG,
    Parser,
    UsageError,
    add_reading_options,
    add_threads_option,
    check_where_and_plot,
    reading_options,
    say,
    threads_of,
)
from zorp_miner.cli.output import write_head, write_result
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.compute import threads as _threads
from zorp_miner.io.files import MAX_JSON_BYTES
from zorp_miner.io.text import MAX_LINE_BYTES
from zorp_miner.io.inputs import refuse_missing
from zorp_miner.params import (
    ALPHABET_MAX,
    ALPHABET_MIN,
    EXACT_DEFAULTS,
    KEEPS,
    LENGTH_MIN,
    MINSUP_DEFAULT,
    MODES,
    ExactParams,
    OtherModeError,
    RobustParams,
    checked_params,
)
from zorp_miner.results import Motifs
from zorp_miner.robust.rules import SHORTEST
from zorp_miner.run import choice
from zorp_miner.run.cluster import opened
from zorp_miner.run.data import on_parts, series_here
from zorp_miner.search.occurrences import Occurrences, occurrences_in_parts

OUTPUT_FORMATS = ("table", "json", "csv")
DESCRIPTION = """\
Find the shapes (motifs) that recur across a set of numeric series read from FILE, and print
them best first. FILE holds one series per line (CSV, TSV, space-separated .txt, the UCR
archive's _TRAIN.tsv/_TEST.tsv), a JSON list of series, or a .npy/.npz array; lines may differ
in length. Several files are one set, their series numbered in file order; with --scheduler or
--workers each file is read and worked on by the workers of a Dask cluster.

Two modes: robust (the default) finds a shape wherever it sits in each series, scores it by the
mean distance sqrt(2 (1 - r)) of its best matches (0 the same shape, 1.41 unrelated) and ranks
motifs by their evidence, how unlikely they are to be chance in this data (3 and more: likely;
--keep likely prints only those); give --length when you know the shape's length in points.
A file of one series (or --within) gives the motifs within each series: groups of windows of
one series that share a shape, never a window with itself or its own shift (without --length,
at lengths of 8 points and up, doubling, to a quarter of the series or 1,024 points).
exact (--mode exact --seglen N) mines letter patterns that recur letter for letter and ranks
them by naed.

zorp-miner match QUERY DATA finds where one given shape occurs instead (zorp-miner match --help)."""
EPILOG = f"""\
exit status: 0 on success, 2 for a usage or input error, 1 when the run is refused (for
instance when an exact run would need more memory than the machine has: raise --minsup, set
--max-len or use a smaller --seglen) or fails on a cluster, 130 when interrupted (Ctrl-C).
Every error is one line on stderr. On a terminal, a run that takes more than a second shows
its progress on stderr (--quiet hides it).

missing points: an empty cell or NaN inside a series is a missing point, which the robust mode
never matches and the exact mode refuses. Text files are read a line at a time, lines of at
most {MAX_LINE_BYTES >> 20} MiB; JSON files whole, at most {MAX_JSON_BYTES >> 20} MiB.

JSON output: {{"zorp_miner", "mode", "parameters", "series": {{"count", "lengths"}}, "found",
"reason" (why no motif was found, or null), "file" (a list with several files), "motifs":
[{{"rank", "mode", "pattern", "letters", "seglen", "length", "support", "naed", "score",
"evidence", "likely", "series", "best_matches", "distances", "occurrences": {{"series",
"letters", "starts"}}, "average_occurrences", "representative"}}]}}; lengths and starts in
points, null for NaN. The README describes every field."""


def parser() -> argparse.ArgumentParser:
    """The argument parser of ``zorp-miner``."""
    cli = Parser(
        prog=PROG,
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    cli.add_argument(
        "file", metavar="FILE", type=Path, nargs="+", help="the file of series, or several"
    )
    cli.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    run = cli.add_argument_group("discovery")
    run.add_argument(
        "--mode",
        choices=MODES,
        default="robust",
        help="robust: shapes wherever they sit, verified on the numbers; exact: letter "
        "patterns that recur letter for letter, needs --seglen (default: robust)",
    )
    run.add_argument(
        "--length",
        type=int,
        metavar="N",
        help=f"robust mode: the motif length in points, at least {LENGTH_MIN} (default: found by "
        f"the run, from {SHORTEST} points to half the median series length)",
    )
    run.add_argument(
        "--within",
        action="store_true",
        help="robust mode: find motifs within each series (pairs and groups of windows of one "
        "series), not across the set; a file of one series is always searched within. Needs "
        "--length (default: across the set)",
    )
    run.add_argument(
        "--exclusion",
        type=int,
        metavar="N",
        help="within each series: no two windows of a motif start within N points of each other "
        "(default: half the length, rounded up)",
    )
    run.add_argument(
        "--keep",
        choices=KEEPS,
        default="all",
        help="robust mode: all: every motif found, each with its evidence; likely: only the "
        "motifs likely not to be chance (default: all)",
    )
    run.add_argument(
        "--minsup",
        type=float,
        metavar="F",
        help="fraction of the series that must hold a motif, above 0 and at most 1 "
        f"(default: {MINSUP_DEFAULT}); motifs across a set only",
    )
    run.add_argument(
        "--seglen",
        type=int,
        metavar="N",
        help="exact mode, required there: points per letter. A shape of W points becomes W/N "
        "letters and needs at least --min-len of them: start with a quarter to a tenth of the "
        "length of the shapes you look for (default: none)",
    )
    run.add_argument(
        "--alphabet",
        type=int,
        metavar="N",
        help=f"exact mode: letters, {ALPHABET_MIN} to {ALPHABET_MAX} "
        f"(default: {EXACT_DEFAULTS['alphabet']})",
    )
    run.add_argument(
        "--min-len",
        type=int,
        metavar="N",
        help="exact mode: shortest pattern kept, in letters "
        f"(default: {EXACT_DEFAULTS['min_len']})",
    )
    run.add_argument(
        "--max-len",
        type=int,
        metavar="N",
        help="exact mode: longest pattern searched, in letters; 0 for no limit "
        f"(default: {EXACT_DEFAULTS['max_len']})",
    )
    run.add_argument(
        "--max-overlap",
        type=float,
        metavar="F",
        help="exact mode: drop a pattern whose longest common subsequence with a longer kept "
        f"one covers more than this share of it, 0 to 1 (default: {EXACT_DEFAULTS['max_overlap']})",
    )
    out = cli.add_argument_group("output")
    out.add_argument(
        "--top",
        type=int,
        default=10,
        metavar="K",
        help="print the best K motifs; 0 prints all (default: 10)",
    )
    out.add_argument(
        "--format",
        choices=OUTPUT_FORMATS,
        default="table",
        help="table: ranked summary; json: every field of every motif; csv: every occurrence "
        "of every motif, a row each: rank,series,start,length,distance (default: table)",
    )
    out.add_argument(
        "--plot",
        type=Path,
        metavar="OUT.png",
        help="also draw the best motifs over the data into this PNG (needs matplotlib: "
        "pip install 'zorp_miner[plot]') (default: no plot)",
    )
    out.add_argument(
        "--quiet",
        action="store_true",
        help="show no progress on stderr (default: shown on a terminal for runs longer than a "
        "second)",
    )
    out.add_argument(
        "--plot-motifs",
        type=int,
        default=3,
        metavar="N",
        help="how many of the best motifs --plot draws (default: 3)",
    )
    cluster = cli.add_argument_group(
        "running on a Dask cluster (needs the dask extra: pip install 'zorp_miner[dask]')"
    )
    where = cluster.add_mutually_exclusive_group()
    where.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run on the cluster of this scheduler (tcp://HOST:PORT); each FILE is read by a "
        "worker, so the paths must be readable there (default: run in this process)",
    )
    where.add_argument(
        "--workers",
        type=int,
        metavar="N",
        help="run on a cluster of N worker processes started on this machine for the run "
        "(default: run in this process)",
    )
    add_threads_option(run)
    add_reading_options(cli, "reading FILE")
    return cli


def run_motifs(arguments: list[str]) -> int:
    """Run ``zorp-miner`` with its arguments (see :func:`zorp_miner.cli.main`); the exit
    status. Raises what :func:`zorp_miner.cli.main` turns into one line."""
    args = parser().parse_args(arguments)
    with _threads.using(threads_of(args)):
        return _run(args)


def _check(args: argparse.Namespace) -> None:
    """The checks of options only the command line has."""
    if args.top < 0:
        raise UsageError(f"--top must be 0 (all) or a positive number of motifs, got {args.top}")
    if args.plot_motifs < 1:
        raise UsageError(f"--plot-motifs must be at least 1, got {args.plot_motifs}")
    if args.exclusion is not None and args.exclusion < 0:
        raise UsageError(f"--exclusion must be 0 or more points, got {args.exclusion}")
    check_where_and_plot(args)


def _run(args: argparse.Namespace) -> int:
    _check(args)
    try:
        params = checked_params(
            args.mode,
            length=args.length,
            minsup=MINSUP_DEFAULT if args.minsup is None else args.minsup,
            top=args.top or None,
            keep=args.keep,
            seglen=args.seglen,
            alphabet=args.alphabet,
            min_len=args.min_len,
            max_len=args.max_len,
            max_overlap=args.max_overlap,
        )
    except OtherModeError as error:
        raise UsageError(str(error)) from None
    on_cluster = args.scheduler is not None or args.workers is not None
    given = args.minsup is not None
    chosen, zone = choice.checked_choice(
        params, True if args.within else None, args.exclusion, minsup_given=given, on_cluster=on_cluster
    )
    reading = reading_options(args)
    names = [str(path) for path in args.file]
    shown = progress.Bar(sys.stderr) if sys.stderr.isatty() and not args.quiet else None
    with progress.reporting(shown):
        if on_cluster:
            return _run_on_cluster(args, params, names, reading)
        series = series_here(names, reading)
        if isinstance(params, ExactParams):
            refuse_missing(series)  # an input error, before the run
        within = choice.is_within(params, chosen, len(series))
        choice.check_for_data(within, chosen, zone, minsup_given=given, series=len(series))
        write_head(args, names, [len(one) for one in series], params, within, zone)
        started = time.perf_counter()
        try:
            motifs = motifs_here(series, params, chosen, zone, minsup_given=given)
        except (MemoryError, ValueError) as error:
            say(f"run refused: {error}")
            return 1
        found = _occurrences(args, motifs, LocalParts(series))
    write_result(args, motifs, names, time.perf_counter() - started, series, found)
    return 0


def _run_on_cluster(
    args: argparse.Namespace,
    params: RobustParams | ExactParams,
    names: list[str],
    reading: dict[str, Any],
) -> int:
    def work(parts: Parts) -> tuple[Motifs, Occurrences | None]:
        write_head(args, names, parts.lengths.tolist(), params)
        motifs = run_parts(parts, params)
        return motifs, _occurrences(args, motifs, parts)

    with opened(args.scheduler, args.workers) as (client, _):
        started = time.perf_counter()
        try:
            motifs, found = on_parts(names, client, work, reading)
        except (MemoryError, ClusterError, RunRefused) as error:
            say(f"run refused: {error}")
            return 1
        # The motifs' average occurrences come from the cluster as they are written out.
        try:
            write_result(args, motifs, names, time.perf_counter() - started, [], found)
        except ClusterError as error:
            say(f"run failed: {error}")
            return 1
    return 0


def _occurrences(args: argparse.Namespace, motifs: Motifs, parts: Parts) -> Occurrences | None:
    """The occurrences of robust motifs in the run's series (held in parts: the loaded files,
    or the cluster's), for --format csv (else None): a pass over the series per motif."""
    if args.format != "csv" or motifs.mode != "robust":
        return None
    return occurrences_in_parts(motifs, parts, parts.lengths)
