"""The command line: ``zorp-miner FILE... [--length N] [options]`` (also ``python -m zorp_miner``),
and ``zorp-miner match QUERY DATA... [options]``, the search by example (``zorp_miner._match_cli``).

Exit status: 0 on success; 2 for a usage or input error (one line on stderr); 1 when the run
itself is refused, for instance because it would need more memory than the machine has, or
fails on a cluster; 130 when interrupted (Ctrl-C). Never a traceback: every failure is one
line on stderr.
"""

import argparse
import csv
import io
import json
import os
import sys
import time
from collections.abc import Sequence
from pathlib import Path
from typing import Any

from zorp_miner import progress
from zorp_miner.compute import threads as _threads
from zorp_miner._command_line import PROG, Parser, UsageError, add_reading_options, add_threads_option, display_name, opened_cluster, reading_options, say, threads_of
from zorp_miner._errors import ClusterError, RunRefused
from zorp_miner._extras import require
from zorp_miner._interface import COMMAND_LINE
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner._version import __version__
from zorp_miner.api import run, run_parts
from zorp_miner.io.files import MAX_JSON_BYTES, MAX_LINE_BYTES, load
from zorp_miner.io.inputs import refuse_missing
from zorp_miner.params import ALPHABET_MAX, ALPHABET_MIN, EXACT_DEFAULTS, KEEPS, LENGTH_MIN, MINSUP_DEFAULT, MODES, ExactParams, OtherModeError, RobustParams, checked_params
from zorp_miner.search.occurrences import MATCH_COLUMNS, Occurrences, occurrences_in_parts
from zorp_miner.results import Motif, Motifs
from zorp_miner.within.motifs import default_exclusion, within_motifs

# The first argument that makes the command a search by example (see zorp_miner._match_cli).
MATCH = "match"
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
one series that share a shape, never a window with itself or its own shift (--length needed).
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


def main(argv: list[str] | None = None) -> int:
    """Run the command line.

    Parameters
    ----------
    argv : list of str, optional
        The arguments after the program name; ``sys.argv[1:]`` by default.

    Returns
    -------
    int
        The exit status: 0 on success, 2 for a usage or input error, 1 for a refused or
        failed run, 130 when interrupted.
    """
    token = COMMAND_LINE.set(True)
    arguments = sys.argv[1:] if argv is None else argv
    try:
        if arguments[:1] == [MATCH]:
            from zorp_miner._match_cli import run_match

            return run_match(arguments[1:])
        args = parser().parse_args(arguments)
        with _threads.using(threads_of(args)):
            return _run(args)
    except UsageError as error:
        command = f"{PROG} {MATCH}" if arguments[:1] == [MATCH] else PROG
        say(f"error: {error} (see {command} --help)")
        return 2
    except RunRefused as error:
        say(f"run refused: {error}")
        return 1
    except ClusterError as error:
        say(f"run failed: {error}")
        return 1
    except (ValueError, TypeError, ImportError) as error:
        say(f"error: {error}")
        return 2
    except OSError as error:
        if isinstance(error, BrokenPipeError):
            return _stdout_closed()
        say(f"error: {_os_message(error)}")
        return 2
    except MemoryError as error:
        say(f"run refused: {error or 'out of memory'}")
        return 1
    except KeyboardInterrupt:
        say("interrupted")
        return 130
    except SystemExit as exit:  # --help and --version
        return exit.code if isinstance(exit.code, int) else 0
    except Exception as error:  # anything else: one line too, never a traceback
        say(f"failed: {type(error).__name__}: {error}")
        return 1
    finally:
        COMMAND_LINE.reset(token)


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
        "the run, 8 points or longer)",
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
        default=MINSUP_DEFAULT,
        metavar="F",
        help="fraction of the series that must hold a motif, above 0 and at most 1 "
        f"(default: {MINSUP_DEFAULT})",
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


def _run(args: argparse.Namespace) -> int:
    if args.top < 0:
        raise UsageError(f"--top must be 0 (all) or a positive number of motifs, got {args.top}")
    if args.plot_motifs < 1:
        raise UsageError(f"--plot-motifs must be at least 1, got {args.plot_motifs}")
    if args.workers is not None and args.workers < 1:
        raise UsageError(f"--workers must be at least 1 worker process, got {args.workers}")
    on_cluster = args.scheduler is not None or args.workers is not None
    if on_cluster and args.plot is not None:
        raise UsageError(
            "--plot draws the series here, which a cluster run never reads: leave out "
            "--plot, or --scheduler and --workers"
        )
    if args.exclusion is not None and args.exclusion < 0:
        raise UsageError(f"--exclusion must be 0 or more points, got {args.exclusion}")
    if on_cluster and args.within:
        raise UsageError("--within runs in this process: leave out --scheduler and --workers")
    if args.mode != "robust" and (args.within or args.exclusion is not None):
        raise UsageError(
            "--within and --exclusion are options of the robust mode (the default --mode)"
        )
    try:
        params = checked_params(
            args.mode,
            length=args.length,
            minsup=args.minsup,
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
    if args.plot is not None:
        require("matplotlib", "--plot")
        if not args.plot.parent.is_dir():
            raise UsageError(f"--plot: the folder {args.plot.parent} does not exist")
    options = reading_options(args)
    names = [str(path) for path in args.file]
    shown = progress.Bar(sys.stderr) if sys.stderr.isatty() and not args.quiet else None
    with progress.reporting(shown):
        if on_cluster:
            return _run_on_cluster(args, params, names, options)
        progress.plan(len(names))
        series = []
        for name in names:
            progress.step(f"reading {name}")  # a long file shows its name while it is read
            series.extend(load(name, **options))
        if isinstance(params, ExactParams):
            refuse_missing(series)  # an input error, before the run
        robust = params if isinstance(params, RobustParams) else None
        within = robust is not None and (args.within or len(series) == 1)
        if robust is not None and within and robust.length is None:
            raise UsageError(
                "motifs within a series need --length (points, at least "
                f"{LENGTH_MIN}){'' if args.within else ': a file of one series is searched within it'}"
            )
        zone = args.exclusion if not within or args.exclusion is not None else None
        _write_head(args, names, [len(one) for one in series], params, within, zone)
        started = time.perf_counter()
        try:
            motifs = within_motifs(series, robust, zone) if robust and within else run(series, params)
        except (MemoryError, ValueError) as error:
            say(f"run refused: {error}")
            return 1
        found = _occurrences(args, motifs, LocalParts(series))
    _write(args, motifs, names, time.perf_counter() - started, series, found)
    return 0


def _run_on_cluster(
    args: argparse.Namespace,
    params: RobustParams | ExactParams,
    names: list[str],
    options: dict[str, Any],
) -> int:
    from zorp_miner.cluster.dask import DaskParts, file_recipes

    with opened_cluster(args.scheduler, args.workers) as client:
        started = time.perf_counter()
        try:
            with DaskParts(client, *file_recipes(names, options)) as parts:
                _write_head(args, names, parts.lengths.tolist(), params)
                motifs = run_parts(parts, params)
                found = _occurrences(args, motifs, parts)
        except (MemoryError, ClusterError, RunRefused) as error:
            say(f"run refused: {error}")
            return 1
        # The motifs' average occurrences come from the cluster as they are written out.
        try:
            _write(args, motifs, names, time.perf_counter() - started, [], found)
        except ClusterError as error:
            say(f"run failed: {error}")
            return 1
    return 0


def _write_head(
    args: argparse.Namespace,
    names: list[str],
    lengths: list[int],
    params: RobustParams | ExactParams,
    within: bool = False,
    exclusion: int | None = None,
) -> None:
    """The table's first lines, printed before the run: what is read and how it is run."""
    if args.format == "table":
        head = table_head(display_name(names), lengths, params, within, exclusion)
        sys.stdout.write(head)
        sys.stdout.flush()


def _occurrences(args: argparse.Namespace, motifs: Motifs, parts: Parts) -> Occurrences | None:
    """The occurrences of robust motifs in the run's series (held in parts: the loaded files,
    or the cluster's), for --format csv (else None): a pass over the series per motif."""
    if args.format != "csv" or motifs.mode != "robust":
        return None
    return occurrences_in_parts(motifs, parts, parts.lengths)


def _write(
    args: argparse.Namespace,
    motifs: Motifs,
    names: list[str],
    elapsed: float,
    series: list[Any],
    found: Occurrences | None = None,
) -> None:
    """Prints the result in the format asked for (the table after its head; with csv, the
    robust motifs' occurrences, found), and draws the plot asked for."""
    if args.format == "json":
        _write_json({"file": names[0] if len(names) == 1 else names}, motifs)
    elif args.format == "csv":
        sys.stdout.write(csv_text(motifs, found))
        if not motifs.found:
            say(f"0 motifs found: {motifs.reason}")
    else:
        sys.stdout.write(table_body(motifs, elapsed))
    if args.plot is not None:
        _write_plot(motifs, series, args.plot, args.plot_motifs)
        say(f"wrote {args.plot}")


def _write_json(head: dict[str, Any], motifs: Motifs) -> None:
    """``json.dumps({**head, **motifs.to_dict()})`` on a line, written one motif at a time, so
    that the motifs' values (fetched from a cluster, when left there) are never all held at
    once."""
    whole = {**head, **motifs[:0].to_dict()}
    del whole["motifs"]  # the last key: written after the others
    sys.stdout.write(json.dumps(whole)[:-1] + ', "motifs": [')
    for i, motif in enumerate(motifs):
        sys.stdout.write((", " if i else "") + json.dumps(motif.to_dict()))
    sys.stdout.write("]}\n")


def table_text(motifs: Motifs, name: str, elapsed: float | None = None) -> str:
    """The ranked table the command prints by default, with a heading and a closing line."""
    lengths = motifs.series_lengths.tolist()
    head = table_head(name, lengths, motifs.params, motifs.within, motifs.exclusion)
    return head + table_body(motifs, elapsed)


def table_head(
    name: str,
    lengths: Sequence[int],
    params: RobustParams | ExactParams,
    within: bool = False,
    exclusion: int | None = None,
) -> str:
    """The table's heading: the series read and the settings of the run (``within``: found
    within each series, with this exclusion zone in points, None for the default)."""
    if isinstance(params, ExactParams):
        settings = (
            f"mode exact, seglen {params.seglen}, alphabet {params.alphabet}, minsup "
            f"{params.minsup:g}, min_len {params.min_len}, max_len {params.max_len or 'none'}, "
            f"max_overlap {params.max_overlap:g}"
        )
    else:
        length = "found by the run" if params.length is None else f"{params.length} points"
        kept = "" if params.keep == "all" else ", likely motifs only"
        settings = f"mode robust, length {length}, minsup {params.minsup:g}{kept}"
        if within:
            zone = default_exclusion(params.length or 0) if exclusion is None else exclusion
            settings = (
                f"mode robust, within each series, length {length}, exclusion {zone} "
                f"points{kept}; support: the motif's windows in its series"
            )
    return f"{name}: {len(lengths)} series, {sum(lengths)} points\n{settings}\n\n"


def table_body(motifs: Motifs, elapsed: float | None = None) -> str:
    """The table under its heading: one line per motif, and a closing line (with the reason
    when no motif was found)."""
    took = "" if elapsed is None else f" in {elapsed * 1000:.1f} ms"
    if not motifs.found:
        return f"0 motifs found{took}: {motifs.reason}\n"
    lines = [motif_table(motifs, 0 if motifs.within else motifs.series_count, mode=motifs.mode), ""]
    if any(motif.support > SHOWN_MATCHES for motif in motifs):
        lines.append(
            f"The table shows {SHOWN_MATCHES} best matches per motif; --format csv or --format "
            "json lists them all."
        )
    shown = f"the best {len(motifs)} shown" if len(motifs) < motifs.found else "all shown"
    lines.append(f"{motifs.found} motifs found{took}; {shown}.")
    return "\n".join(lines) + "\n"


# Best matches (series:start) shown per motif in the table.
SHOWN_MATCHES = 5


def motif_table(motifs: Sequence[Motif], series_count: int, *, mode: str | None = None) -> str:
    """One line per motif: rank, pattern (exact) or length (robust), support, the score (naed)
    and, robust, the evidence that ranked it and whether it is likely, and the first best
    matches. ``mode`` chooses the columns ("robust" or "exact"); by default the motifs' own.
    A series_count of 0 shows the support alone (motifs found within each series)."""
    robust = (mode or (motifs[0].mode if motifs else "robust")) == "robust"
    if robust:
        header = (
            f"{'rank':>4}  {'length':>6} {'support':>9}  {'score':>8}  {'evidence':>8}  "
            f"{'':<6}  best match per series (series:start)"
        )
    else:
        header = (
            f"{'rank':>4}  {'pattern':<16} {'support':>9}  {'naed':>8}  "
            "best match per series (series:start)"
        )
    lines = [header, "-" * len(header)]
    for motif in motifs:
        support = f"{motif.support}/{series_count}" if series_count else str(motif.support)
        if motif.mode == "robust":
            verdict = "likely" if motif.likely else "chance"
            lines.append(
                f"{motif.rank:>4}  {motif.length:>6} {support:>9}  {motif.score:>8.4f}  "
                f"{motif.evidence:>8.2f}  {verdict:<6}  {_abbreviated(motif)}"
            )
        else:
            lines.append(
                f"{motif.rank:>4}  {_short(motif.pattern, 16):<16} {support:>9}  "
                f"{motif.naed:>8.4f}  {_abbreviated(motif)}"
            )
    return "\n".join(lines)


def csv_text(motifs: Motifs, found: Occurrences | None = None) -> str:
    """Every occurrence of every motif, one CSV row each: the columns of
    ``Motifs.matches_frame()`` (rank, series, start and length in points, distance).

    Robust mode: ``found``, the motifs' occurrences (``Motifs.occurrences``). Exact mode: the
    occurrences of each motif's pattern, distance left empty (the exact mode measures one per
    series, its best match's: ``distances`` of ``--format json``)."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(MATCH_COLUMNS)
    if found is not None:
        for row in zip(
            found.ranks.tolist(),
            found.series.tolist(),
            found.starts.tolist(),
            found.lengths.tolist(),
            map(repr, found.distances.tolist()),
            strict=True,
        ):
            writer.writerow(row)
        return buffer.getvalue()
    for motif in motifs:
        _refuse_robust(motif)
        for series, start in zip(
            motif.occurrence_series.tolist(), motif.occurrence_starts.tolist(), strict=True
        ):
            writer.writerow([motif.rank, series, start, motif.length, ""])
    return buffer.getvalue()


def _refuse_robust(motif: Motif) -> None:
    """A robust motif's occurrences are searched in the data: csv_text needs them given."""
    if motif.mode == "robust":
        raise ValueError(
            f"motif {motif.rank} is robust: pass its occurrences (Motifs.occurrences(data))"
        )


def _abbreviated(motif: Motif, shown: int = SHOWN_MATCHES) -> str:
    pairs = [
        f"{s}:{start}"
        for s, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True)
    ]
    if len(pairs) <= shown:
        return " ".join(pairs)
    return " ".join(pairs[:shown]) + f" ... (+{len(pairs) - shown} more)"


def _short(pattern: str, most: int) -> str:
    return pattern if len(pattern) <= most else pattern[: most - 3] + "..."


def _write_plot(motifs: Motifs, series: object, out: Path, count: int) -> None:
    from zorp_miner.plot import plot_motifs

    if len(motifs) == 0:
        from matplotlib.figure import Figure

        figure = Figure(figsize=(8.0, 2.0), layout="constrained")
        figure.text(
            0.5,
            0.5,
            f"No motif found in {motifs.series_count} series:\n{motifs.reason}",
            ha="center",
            va="center",
            wrap=True,
        )
    else:
        figure = plot_motifs(motifs, series, top=count)
    figure.savefig(out, dpi=100)


def _stdout_closed() -> int:
    """The reader of stdout went away (``zorp-miner ... | head``): nothing more to say."""
    # Python would report the broken pipe again when it flushes stdout at exit.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    return 1


def _os_message(error: OSError) -> str:
    if error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error)


