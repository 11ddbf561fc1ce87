"""Runs on a Dask cluster of local worker processes against the run in one process.

    .venv/bin/python bench/bench_cluster.py speed [--series 4000] [--points 10000] [--repeat 2]
        [--per-file 500] [--modes exact,robust]
    .venv/bin/python bench/bench_cluster.py memory [--files 40] [--series 500] [--points 10000]
        [--top 3] [--modes robust,exact,exact-all]

speed: random walks (--series x --points), written as .npy files of --per-file series each
(500) into a scratch directory. The single-process run reads them all and runs here; the cluster runs give
the file names to a LocalCluster of 2 worker processes (one thread each), whose workers read
them: once with Dask's default worker settings, once with zorp_miner.cluster.dask.WORKER_SETTINGS (the
settings of `zorp-miner --workers`), one cluster at a time. Both modes, the best of --repeat
runs each (--modes, both by default); the results are checked to be the same bit for bit.

memory: --files files of --series random walks of --points points (40 x 500 x 10,000: 1.6 GB as
doubles), generated into a scratch directory by a process of their own. Then, for each mode, a
fresh process runs find_motifs over the file names on a LocalCluster of 2 worker processes and
reports its own peak resident memory (the client's, which holds the scheduler too) and each
worker's, from getrusage; the size of the arrays the result holds ("result") and of the average
occurrences the exact mode leaves on the cluster until read ("on cluster": series x length
doubles per motif); then the time and the client's peak reading every motif's average
occurrences one motif at a time, none kept ("reading all", as writing the result out does).
The workers have WORKER_SETTINGS. The modes run with --top, and "exact-all" runs the exact mode
with every motif returned. The scratch directory (--scratch, default a temporary one) is
removed at the end.

Figures are printed, never asserted.
"""

from __future__ import annotations

import argparse
import copy
import json
import pathlib
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Any

import numpy as np

import zorp_miner
from zorp_miner.cluster.dask import local_cluster

ROBUST: dict[str, Any] = {"length": 100}
EXACT: dict[str, Any] = {"mode": "exact", "seglen": 20, "alphabet": 5}
# The memory run's exact mode: one letter per 100 points keeps the words, and the mining that
# reads them here, small next to the data.
EXACT_LARGE: dict[str, Any] = {"mode": "exact", "seglen": 100, "alphabet": 5}
PER_FILE = 500


def write_walks(folder: pathlib.Path, files: int, series: int, points: int) -> list[str]:
    """files .npy files of series random walks of points points each; their names."""
    folder.mkdir(parents=True, exist_ok=True)
    names = []
    for i in range(files):
        rng = np.random.default_rng(1000 + i)
        path = folder / f"walks-{i:03d}.npy"
        np.save(path, np.cumsum(rng.normal(size=(series, points)), axis=1))
        names.append(str(path))
    return names


def same(a: zorp_miner.Motifs, b: zorp_miner.Motifs) -> bool:
    return json.dumps(a.to_dict()) == json.dumps(b.to_dict()) and all(
        x.average_occurrences.tobytes() == y.average_occurrences.tobytes()
        and x.distances.tobytes() == y.distances.tobytes()
        for x, y in zip(a, b, strict=True)
    )


def best_of(repeat: int, run: Any) -> tuple[float, Any]:
    times, result = [], None
    for _ in range(repeat):
        started = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - started)
    return min(times), result


def speed(args: argparse.Namespace) -> None:
    folder = pathlib.Path(tempfile.mkdtemp(prefix="zorp-bench-"))
    try:
        files = -(-args.series // args.per_file)
        names = write_walks(folder, files, args.per_file, args.points)
        print(
            f"{files * args.per_file} random walks of {args.points} points in {files} files "
            f"({files * args.per_file * args.points * 8 / 1e9:.2f} GB as doubles); best of "
            f"{args.repeat}\n"
        )
        from distributed import Client, LocalCluster

        wanted = args.modes.split(",")
        modes = tuple(
            (label, options)
            for name, label, options in (("exact", "exact (seglen 20)", EXACT), ("robust", "robust (length 100)", ROBUST))
            if name in wanted
        )
        here: dict[str, tuple[float, Any]] = {}
        for label, options in modes:
            here[label] = best_of(
                args.repeat,
                lambda: zorp_miner.find_motifs([s for n in names for s in zorp_miner.load(n)], **options),
            )
        # One cluster at a time: an idle cluster's processes would share the two cores too.
        def plain() -> Any:
            return LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0")

        def tuned() -> Any:
            return local_cluster(2)

        there: dict[str, list[float]] = {label: [] for label, _ in modes}
        alike = {label: True for label, _ in modes}
        for start in (plain, tuned):
            cluster = start()
            client = Client(cluster)
            try:
                for label, options in modes:
                    seconds, theirs = best_of(
                        args.repeat, lambda: zorp_miner.find_motifs(names, client=client, **options)
                    )
                    there[label].append(seconds)
                    # Compared while the client is open: the exact result's averages are read
                    # from the cluster.
                    alike[label] = alike[label] and same(here[label][1], theirs)
            finally:
                client.close()
                cluster.close()
        print(
            f"{'mode':<22}{'one process':>12}{'2 workers, Dask defaults':>26}"
            f"{'2 workers, WORKER_SETTINGS':>28}  same"
        )
        for label, _ in modes:
            seconds, mine = here[label]
            cells = [f"{t:.1f} s ({seconds / t:.2f}x)" for t in there[label]]
            print(f"{label:<22}{seconds:>10.1f} s{cells[0]:>26}{cells[1]:>28}  {alike[label]} ({len(mine)} motifs)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def peak_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def resident_mib() -> float:
    """This process's resident memory now."""
    pages = int(pathlib.Path("/proc/self/statm").read_text().split()[1])
    return pages * resource.getpagesize() / 2**20


RESULT_ARRAYS = (
    "average_occurrences",
    "occurrence_series",
    "occurrence_letters",
    "series",
    "best_matches",
    "distances",
    "representative",
)


def memory_run(args: argparse.Namespace) -> None:
    """One mode over the files of a folder, in this (fresh) process; prints JSON figures."""
    names = sorted(str(p) for p in pathlib.Path(args.folder).glob("*.npy"))
    options = dict(ROBUST if args.mode == "robust" else EXACT_LARGE)
    options["top"] = None if args.mode == "exact-all" else args.top
    from distributed import Client

    before = peak_mib()
    cluster = local_cluster(2)
    client = Client(cluster)
    try:
        ready = resident_mib()
        started = time.perf_counter()
        motifs = zorp_miner.find_motifs(names, client=client, **options)
        elapsed = time.perf_counter() - started
        workers = sorted(client.run(peak_mib).values())
        after_run = peak_mib()
        # What the result holds here; average occurrences still on the cluster are not read.
        held = sum(
            vars(motif)[name].nbytes for motif in motifs for name in RESULT_ARRAYS if name in vars(motif)
        )
        on_cluster = [
            8 * motif.support * motif.length
            for motif in motifs
            if "average_occurrences" not in vars(motif)
        ]
        # Then every motif's average occurrences, one motif at a time (a copy fetches them
        # and is dropped), as writing the result out does.
        started = time.perf_counter()
        for motif in motifs:
            copy.copy(motif)
        reading = time.perf_counter() - started
    finally:
        client.close()
        cluster.close()
    print(
        json.dumps(
            {
                "mode": args.mode,
                "seconds": elapsed,
                "motifs": len(motifs),
                "found": motifs.found,
                "result_mib": held / 2**20,
                "on_cluster_mib": sum(on_cluster) / 2**20,
                "largest_mib": max(on_cluster, default=0) / 2**20,
                "series": motifs.series_count,
                "client_peak_mib": after_run,
                "client_before_mib": before,
                "client_ready_mib": ready,
                "reading_seconds": reading,
                "reading_peak_mib": peak_mib(),
                "worker_peak_mib": workers,
            }
        )
    )


def memory(args: argparse.Namespace) -> None:
    folder = pathlib.Path(args.scratch or tempfile.mkdtemp(prefix="zorp-bench-"))
    script = str(pathlib.Path(__file__).resolve())
    try:
        subprocess.run(
            [sys.executable, script, "generate", str(folder), str(args.files), str(args.series), str(args.points)],
            check=True,
        )
        size = args.files * args.series * args.points * 8
        print(
            f"{args.files} files of {args.series} random walks of {args.points} points: "
            f"{args.files * args.series} series, {size / 2**30:.2f} GiB as doubles "
            f"(a tenth: {size / 10 / 2**20:.0f} MiB); 2 worker processes\n"
        )
        print(
            f"{'mode':<28}{'time':>9}{'motifs':>12}{'result':>10}{'on cluster':>12}"
            f"{'client peak':>13}{'  worker peaks':<22}{'reading all':>20}"
        )
        notes = []
        for mode in args.modes.split(","):
            shown = subprocess.run(
                [sys.executable, script, "memory-run", str(folder), mode, str(args.top)],
                check=True,
                capture_output=True,
                text=True,
            )
            figures = json.loads(shown.stdout.strip().splitlines()[-1])
            label = {
                "robust": f"robust (length 100, top {args.top})",
                "exact": f"exact (seglen 100, top {args.top})",
                "exact-all": "exact (seglen 100, all)",
            }[mode]
            peaks = " ".join(f"{w:.0f} MiB" for w in figures["worker_peak_mib"])
            print(
                f"{label:<28}{figures['seconds']:>7.1f} s{figures['motifs']:>5} of {figures['found']:<4}"
                f"{figures['result_mib']:>6.0f} MiB{figures['on_cluster_mib']:>8.0f} MiB"
                f"{figures['client_peak_mib']:>9.0f} MiB  {peaks:<20}"
                f"{figures['reading_seconds']:>6.1f} s, {figures['reading_peak_mib']:>5.0f} MiB"
            )
            notes.append(
                f"{label}: client {figures['client_before_mib']:.0f} MiB before the cluster, "
                f"{figures['client_ready_mib']:.0f} MiB with the scheduler and the client; the "
                f"largest motif's average occurrences {figures['largest_mib']:.0f} MiB"
            )
        print("\n" + "\n".join(notes))
    finally:
        if args.scratch is None:
            shutil.rmtree(folder, ignore_errors=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    one = sub.add_parser("speed")
    one.add_argument("--series", type=int, default=4000)
    one.add_argument("--points", type=int, default=10000)
    one.add_argument("--repeat", type=int, default=2)
    one.add_argument("--per-file", type=int, default=PER_FILE, help=f"series per file ({PER_FILE})")
    one.add_argument("--modes", default="exact,robust", help="exact, robust or both (both)")
    two = sub.add_parser("memory")
    two.add_argument("--files", type=int, default=40)
    two.add_argument("--series", type=int, default=500)
    two.add_argument("--points", type=int, default=10000)
    two.add_argument("--scratch", help="the folder for the files (default: a temporary one)")
    two.add_argument("--top", type=int, default=3, help="motifs returned (default 3)")
    two.add_argument("--modes", default="robust,exact,exact-all")
    generate = sub.add_parser("generate")
    for name in ("folder", "files", "series", "points"):
        generate.add_argument(name)
    run = sub.add_parser("memory-run")
    run.add_argument("folder")
    run.add_argument("mode", choices=("robust", "exact", "exact-all"))
    run.add_argument("top", type=int)
    args = parser.parse_args()
    if args.command == "speed":
        speed(args)
    elif args.command == "memory":
        memory(args)
    elif args.command == "generate":
        write_walks(pathlib.Path(args.folder), int(args.files), int(args.series), int(args.points))
    else:
        memory_run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
