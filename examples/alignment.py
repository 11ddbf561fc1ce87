"""What each mode finds when a shape's copies start on letter boundaries, and when not.

Plants one square wave (four plateaus of 24 points) in each of 50 series of noise, once at
multiples of seglen (8 points) and once anywhere, and prints where the wave ranks among the
motifs found by the exact mode (seglen 8) and by the robust mode (with and without the length).
The README quotes this output.
"""

import numpy as np
import numpy.typing as npt

import zorp_miner

SERIES, POINTS, SEGLEN = 50, 600, 8
WAVE = np.repeat([3.0, -3.0, 3.0, -3.0], 24)


def planted(aligned: bool, seed: int = 7) -> tuple[npt.NDArray[np.float64], list[int]]:
    """Noise with the wave added once to each series; the data and the starts in points."""
    rng = np.random.default_rng(seed)
    data = rng.normal(size=(SERIES, POINTS))
    last = POINTS - len(WAVE)
    starts = []
    for row in data:
        start = (
            SEGLEN * int(rng.integers(0, last // SEGLEN + 1))
            if aligned
            else int(rng.integers(0, last + 1))
        )
        row[start : start + len(WAVE)] += WAVE
        starts.append(start)
    return data, starts


def on_the_wave(motif: zorp_miner.Motif, starts: list[int]) -> int:
    """The series whose best match overlaps the wave planted in it."""
    return sum(
        abs(int(match) - starts[series]) < len(WAVE)
        for series, match in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True)
    )


def main() -> None:
    for aligned in (True, False):
        data, starts = planted(aligned)
        where = "at multiples of 8 points" if aligned else "anywhere"
        motifs = zorp_miner.find_motifs(data, mode="exact", seglen=SEGLEN)
        waves = [m for m in motifs if on_the_wave(m, starts) > m.support / 2]
        if not waves:
            print(f"wave planted {where}: not among the {motifs.found} motifs")
        else:
            first = waves[0]
            print(
                f"wave planted {where}: first motif on it ranks {first.rank} of {motifs.found} "
                f"({first.pattern!r}, in {on_the_wave(first, starts)} of {SERIES} series); "
                f"rank 1 is {motifs[0].pattern!r}"
            )
        for length in (len(WAVE), None):
            found = zorp_miner.find_motifs(data, length=length)
            given = "length 96" if length else "no length"
            if not found:
                print(f"  robust mode, {given}: no motif")
                continue
            top = found[0]
            print(
                f"  robust mode, {given}: motif 1 of {found.found} ({top.length} points) is on "
                f"the wave in {on_the_wave(top, starts)} of {SERIES} series"
            )


if __name__ == "__main__":
    main()
