"""Motif discovery on the bundled examples from Python: a shape planted in 40 noisy random walks.

Runs zorp_miner.find_motifs on an example and prints the ranked motifs (the same run as
scripts/demo.sh makes with the zorp-miner command), then checks the best one against the
positions where the shape was planted. By default the robust mode on examples/unaligned.json,
where the shape starts anywhere; ``--mode exact`` runs the exact mode (on
examples/planted.json, whose shapes start on multiples of 8 points, unless a file is given).
"""

import argparse
import json
import pathlib
import sys
import time

try:
    import zorp_miner
    from zorp_miner.cli.output import table_text
except ImportError as missing:  # a Python without the package, such as the system's
    sys.exit(
        f"{missing}: zorp_miner is not installed for {sys.executable}. It is installed into "
        ".venv by ./scripts/setup.sh (or ./scripts/demo.sh): run .venv/bin/python "
        "examples/demo.py, or source .venv/bin/activate first"
    )

EXAMPLES = pathlib.Path(__file__).parent
DATA = {"robust": EXAMPLES / "unaligned.json", "exact": EXAMPLES / "planted.json"}


def planted_hits(motif: zorp_miner.Motif, planted_at: list[int], planted_length: int) -> int:
    """Series whose best match shares at least half the shorter length with the planted shape."""
    hits = 0
    for series, start in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True):
        shared = min(start + motif.length, planted_at[series] + planted_length) - max(
            start, planted_at[series]
        )
        hits += 2 * shared >= min(motif.length, planted_length)
    return hits


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("data", nargs="?", type=pathlib.Path)
    parser.add_argument("--mode", choices=("robust", "exact"), default="robust")
    parser.add_argument("--length", type=int, help="robust mode: motif length in points")
    parser.add_argument("--minsup", type=float, default=0.5)
    parser.add_argument("--seglen", type=int, default=8, help="exact mode")
    parser.add_argument("--min-len", type=int, default=6, help="exact mode")
    parser.add_argument("--top", type=int, default=10)
    args = parser.parse_args()
    path = args.data or DATA[args.mode]

    series = zorp_miner.load(path)
    started = time.perf_counter()
    if args.mode == "robust":
        motifs = zorp_miner.find_motifs(
            series, length=args.length, minsup=args.minsup, top=args.top
        )
    else:
        motifs = zorp_miner.find_motifs(
            series,
            mode="exact",
            seglen=args.seglen,
            minsup=args.minsup,
            min_len=args.min_len,
            top=args.top,
        )
    elapsed = time.perf_counter() - started
    print(table_text(motifs, path.name, elapsed), end="")

    content = json.loads(path.read_text())
    if motifs and isinstance(content, dict) and "planted_at" in content:
        best = motifs[0]
        hits = planted_hits(best, content["planted_at"], content["shape_points"])
        print(
            f"Planted shape ({content['shape_points']} points): the top motif "
            f"({best.length} points) matches it in {hits} of {motifs.series_count} series."
        )


if __name__ == "__main__":
    main()
