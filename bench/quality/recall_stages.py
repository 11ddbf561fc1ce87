"""Where the robust mode loses a planted shape, stage by stage, on the development sets.

For each set, with the planted length: how many proposals sit on the plant (their best matches
hit it in at least half the carriers), the rank of the first such proposal after screening,
whether a refined candidate is still on it, whether the result's top motif is, and the
consensus score of the plant itself (the carriers' instances realigned and averaged) against
the top motif's: when the top scores better, the objective, not the search, prefers it.

    .venv/bin/python bench/quality/recall_stages.py [--only NAME]
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys

import numpy as np

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from recall_run import minsup_for  # noqa: E402
from recall_sets import Planted, real_sets  # noqa: E402
from scoring import overlaps  # noqa: E402

from zorp_miner import _robust  # noqa: E402


def on_plant(starts_row: np.ndarray, case: Planted, m: int) -> float:
    carriers = [i for i, at in enumerate(case.planted[0]) if at is not None]
    hit = sum(1 for i in carriers if overlaps(int(starts_row[i]), m, case.planted[0][i], case.lengths[0]))  # type: ignore[arg-type]
    return hit / len(carriers)


def stages(case: Planted) -> str:
    m = case.lengths[0]
    store = _robust.as_store(case.series)
    minsup = minsup_for(case.support)
    core = max(1, math.ceil(minsup * store.count))
    shapes, _ = _robust._proposals(store, m, 8, 0.25 * store.count, 256)
    starts, best = store.best(m, shapes)
    proposal_hits = [on_plant(row, case, m) for row in starts]
    on = [k for k, h in enumerate(proposal_hits) if h >= 0.5]
    order = _robust._screened(store, shapes, core)
    screened_rank = next((r for r, k in enumerate(order) if k in on), -1)
    chosen = order[:24]
    current = shapes[chosen]
    for _ in range(2):
        s, b = store.best(m, current)
        cores = [_robust._closest(row, core) for row in b]
        current = np.stack(_robust.realigned_each(store, [(s[c][cc], cc) for c, cc in enumerate(cores)], m))
    s, b = store.best(m, current)
    refined_hits = [on_plant(row, case, m) for row in s]
    refined_scores = [_robust._consensus(row, core) for row in b]
    found = _robust.discover(store, length=m, minsup=minsup, top=1)
    top_hit = on_plant(np.array([found[0].starts.get(i, -10**6) for i in range(store.count)]), case, m) if found else 0.0
    carriers = np.array([i for i, at in enumerate(case.planted[0]) if at is not None])
    plant = _robust.realigned(store, np.array([case.planted[0][i] for i in carriers]), carriers, m)
    ps, pb = store.best(m, plant[None])
    plant_score = _robust._consensus(pb[0], core)
    best_refined = int(np.argmin(refined_scores))
    return (
        f"{case.name:<40} proposals on plant {len(on):>3}/{len(shapes):<3} first screened rank {screened_rank:>4} "
        f"refined on plant {sum(h >= 0.5 for h in refined_hits):>2}/24 (best {max(refined_hits):.2f}) "
        f"best refined score {refined_scores[best_refined]:.3f} hit {refined_hits[best_refined]:.2f} "
        f"| top {'%.3f' % found[0].score if found else '  -  '} hit {top_hit:.2f} | plant score {plant_score:.3f} "
        f"hit {on_plant(ps[0], case, m):.2f}"
    )


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", default=None)
    args = parser.parse_args()
    for case in real_sets():
        if args.only is None or args.only in case.name:
            print(stages(case), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
