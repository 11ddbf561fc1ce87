"""What the two commands of the command line share (``zorp-miner`` and ``zorp-miner match``):
the program's name, the usage error and the parser that raises it, messages on stderr, and the
options of reading files and of threads."""

import argparse
from pathlib import Path
import sys
from typing import TYPE_CHECKING, Any, NoReturn

from zorp_miner.compute.threads import MOST as MOST_THREADS
from zorp_miner._extras import require
from zorp_miner.io.files import FORMATS

if TYPE_CHECKING:
    pass

PROG = "zorp-miner"


class UsageError(Exception):
    """A bad command line or input: exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def add_reading_options(cli: argparse.ArgumentParser, title: str) -> None:
    """The options of :func:`zorp_miner.load`, as a group of the parser."""
    read = cli.add_argument_group(title)
    read.add_argument(
        "--input-format",
        choices=FORMATS,
        help="the format of FILE (default: from its suffix; *_TRAIN.tsv and *_TEST.tsv are "
        "read as ucr)",
    )
    read.add_argument(
        "--columns",
        action="store_true",
        help="one series per column instead of per line (default: per line)",
    )
    read.add_argument(
        "--header",
        action="store_true",
        help="skip the first line (default: read it, unless it is the header line pandas' "
        "to_csv writes)",
    )
    read.add_argument(
        "--sep",
        type=_separator,
        metavar="SEP",
        help="text files: the cell separator, one of , ; tab space (default: detected from the "
        "first lines, the format's own when they all hold it)",
    )
    read.add_argument(
        "--index-col",
        action=argparse.BooleanOptionalAction,
        help="text files: the first column is an index to drop, or with --no-index-col is not "
        "(default: detected, as in the header pandas' to_csv writes or a first column 0, 1, 2, "
        "... under a header)",
    )
    read.add_argument(
        "--label",
        metavar="CLASS",
        help="ucr files: keep only the series of this class (default: all)",
    )
    read.add_argument(
        "--key",
        metavar="NAME",
        help=".npz files: the array to read (default: the only one, or every 1-D array)",
    )


def add_threads_option(group: "argparse._ArgumentGroup") -> None:
    """--threads, the threads of the run's kernels in this process."""
    group.add_argument(
        "--threads",
        type=int,
        metavar="N",
        help=f"threads of the run in this process, 1 to {MOST_THREADS}; the same result for any "
        "number (default: every core this process may use; on a cluster, each worker's own)",
    )


def threads_of(args: argparse.Namespace) -> int | None:
    """--threads, checked: None for every core."""
    if args.threads is not None and not 1 <= args.threads <= MOST_THREADS:
        raise UsageError(f"--threads must be 1 to {MOST_THREADS} threads, got {args.threads}")
    threads: int | None = args.threads
    return threads


def reading_options(args: argparse.Namespace) -> dict[str, Any]:
    """The keyword arguments of :func:`zorp_miner.load` that the reading options ask for."""
    return {
        "format": args.input_format,
        "layout": "columns" if args.columns else "rows",
        "header": args.header,
        "label": args.label,
        "key": args.key,
        "sep": args.sep,
        "index_col": args.index_col,
    }


def _separator(value: str) -> str:
    """--sep: , ; tab space (also a tab character or a space itself)."""
    named = {",": ",", ";": ";", "tab": "\t", "\t": "\t", "\\t": "\t", "space": " ", " ": " "}
    if value.lower() not in named:
        raise argparse.ArgumentTypeError(f"--sep must be one of , ; tab space, got {value!r}")
    return named[value.lower()]


def display_name(names: list[str]) -> str:
    return names[0] if len(names) == 1 else f"{names[0]} and {len(names) - 1} more files"


def check_where_and_plot(args: argparse.Namespace) -> None:
    """The checks both commands make of --workers, and of --plot with a cluster: the plot draws
    the series here, which a cluster run never reads."""
    if args.workers is not None and args.workers < 1:
        raise UsageError(f"--workers must be at least 1 worker process, got {args.workers}")
    if args.plot is not None:
        if args.scheduler is not None or args.workers is not None:
            raise UsageError(
                "--plot draws the series here, which a cluster run never reads: leave out "
                "--plot, or --scheduler and --workers"
            )
        check_plot_path(args.plot)


def check_plot_path(path: Path) -> None:
    """--plot, checked before any work: matplotlib installed, the folder there, and a suffix
    matplotlib writes (png, pdf, svg, ...)."""
    require("matplotlib", "--plot")
    if not path.parent.is_dir():
        raise UsageError(f"--plot: the folder {path.parent} does not exist")
    from matplotlib.figure import Figure

    formats = sorted(Figure().canvas.get_supported_filetypes())
    if path.suffix.lower().lstrip(".") not in formats:
        raise UsageError(
            f"--plot: {path.name} does not end in an image format matplotlib writes: give a "
            f"file ending in one of .{', .'.join(formats)}"
        )


def say(message: str) -> None:
    print(f"{PROG}: {message}", file=sys.stderr)
