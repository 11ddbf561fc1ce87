"""What the motifs command writes: the table (its head before the run, its body after), JSON,
CSV (with the robust motifs' occurrences), and the plot."""

import argparse
import csv
import io
import json
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any

from zorp_miner._interface import plural
from zorp_miner.cli.options import display_name, say
from zorp_miner.params import ExactParams, RobustParams
from zorp_miner.results import Motif, Motifs
from zorp_miner.search.occurrences import MATCH_COLUMNS, Occurrences
from zorp_miner.within.motifs import default_exclusion


def write_head(
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


def write_result(
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
        write_json({"file": names[0] if len(names) == 1 else names}, motifs)
    elif args.format == "csv":
        sys.stdout.write(csv_text(motifs, found))
        if not motifs.found:
            say(f"0 motifs found: {motifs.reason}")
    else:
        sys.stdout.write(table_body(motifs, elapsed))
    if args.plot is not None:
        write_plot(motifs, series, args.plot, args.plot_motifs)
        say(f"wrote {args.plot}")


def write_json(head: dict[str, Any], motifs: Motifs) -> None:
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
            if exclusion is not None:
                zone = f"{exclusion} points"
            elif params.length is None:
                zone = "half each motif's length"
            else:
                zone = f"{default_exclusion(params.length)} points"
            settings = (
                f"mode robust, within each series, length {length}, exclusion {zone}{kept}; "
                "support: the motif's windows in its series"
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
    lines.append(f"{plural(motifs.found, 'motif')} found{took}; {shown}.")
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
            f"{'':<11}  best match per series (series:start)"
        )
    else:
        header = (
            f"{'rank':>4}  {'pattern':<16} {'support':>9}  {'naed':>8}  "
            "best match per series (series:start)"
        )
    lines = [header, "-" * len(header)]
    unmeasured = []
    for motif in motifs:
        support = f"{motif.support}/{series_count}" if series_count else str(motif.support)
        if motif.mode == "robust":
            verdict = _short_mark(motif)
            if verdict == "unmeasured":
                unmeasured.append(f"motif {motif.rank}: {motif.why}")
            lines.append(
                f"{motif.rank:>4}  {motif.length:>6} {support:>9}  {motif.score:>8.4f}  "
                f"{motif.evidence:>8.2f}  {verdict:<11}  {_abbreviated(motif)}"
            )
        else:
            lines.append(
                f"{motif.rank:>4}  {_short(motif.pattern, 16):<16} {support:>9}  "
                f"{motif.naed:>8.4f}  {_abbreviated(motif)}"
            )
    return "\n".join(lines + unmeasured)


def _short_mark(motif: Motif) -> str:
    """The table's mark of a robust motif: likely, chance (evidence below 3), few series (held
    by fewer than minsup of them), chance, few (both), or unmeasured (a line below the table
    says why)."""
    if motif.likely:
        return "likely"
    if motif.why.startswith("evidence unmeasured"):
        return "unmeasured"
    return {"chance, few series": "chance, few"}.get(motif.why, motif.why or "chance")


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


def write_plot(motifs: Motifs, series: object, out: Path, count: int) -> None:
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


