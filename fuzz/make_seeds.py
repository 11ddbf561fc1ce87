#!/usr/bin/env python3
"""Writes the seed corpus fuzz/corpus/<target>/ in the byte layout the targets decode (see
fuzz_input.h and the comment at the top of each fuzz_<target>.cpp). The seeds are committed;
run this again only after changing the layout or the list below."""

import math
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent

MINSUPS = [1.0, 0.5, 0.25, 0.0, -1.0, "nan", "inf", 1e-9, 2.0]
OVERLAPS = [0.9, 0.5, 0.0, -1.0, 1.0, "nan", 2.0]
EDGE_VALUES = ["0", "-0", "nan", "inf", "-inf", "max", "-max", "min", "denorm", "-denorm",
            "1e300", "-1e300", "1e-300", "0.43", "-0.43"]
INT_MIN, INT_MAX = 255, 254  # the bytes that read as the extremes


def in_range(value, low):
    return bytes([value - low])


def value(v):
    """A point: an edge value by name, a multiple of 1/16 in [-7.5, 7.4375], or any other double."""
    if isinstance(v, str):
        return bytes([EDGE_VALUES.index(v)])
    code = v * 16 + 136
    if code == int(code) and 16 <= code <= 255:
        return bytes([int(code)])
    return b"\x0f" + struct.pack("<d", v)


def series_set(ts):
    out = bytes([len(ts)])
    for series in ts:
        out += bytes([len(series)]) + b"".join(value(v) for v in series)
    return out


def words(ws):
    out = bytes([len(ws)])
    for word in ws:
        out += bytes([len(word)])
        for letter in word:
            out += bytes([ord(letter) - ord("a")]) if letter in "abcd" else bytes([0xE0, ord(letter)])
    return out


def sax(seglen, alphabet, ts):
    return in_range(seglen, -3) + in_range(alphabet, -2) + series_set(ts)


def patterns(minsup, min_len, max_len, overlap, ws, min_len_byte=None):
    head = bytes([MINSUPS.index(minsup)])
    head += bytes([min_len_byte]) if min_len_byte is not None else in_range(min_len, -2)
    head += in_range(max_len, -2) + bytes([OVERLAPS.index(overlap)])
    return head + words(ws)


def miner(seglen, alphabet, minsup, min_len, max_len, overlap, k, ts):
    assert all(len(series) <= 16 * min(max(seglen, 1), 4) for series in ts)
    return (in_range(seglen, -2) + in_range(alphabet, -1) + bytes([MINSUPS.index(minsup)]) +
            in_range(min_len, -2) + in_range(max_len, -2) + bytes([OVERLAPS.index(overlap)]) +
            in_range(k, -2) + series_set(ts))


SUPPORTS = [0.0, 1.0, 2.0, 3.0, 0.5, "nan", "inf", -1.0]


def proposals(alphabet, letters, support, count, length, flags, ts, windows):
    """windows: (series step, start, means) each, the means letters long."""
    out = (in_range(alphabet, 0) + in_range(letters, 0) + bytes([SUPPORTS.index(support)]) +
           in_range(count, 0) + in_range(length, 0) + bytes([flags]) + series_set(ts))
    out += bytes([len(windows)])
    for step, start, means in windows:
        assert len(means) == letters
        out += bytes([step, start]) + b"".join(value(v) for v in means)
    return out


def shared_words(letters, series, per_series, start_step=4):
    """Windows of the same few words in every series, one series after the other."""
    words = [[((k + j) % 3 - 1) * 1.5 for j in range(letters)] for k in range(per_series)]
    out = []
    for i in range(series):
        for k, word in enumerate(words):
            out.append((1 if i and k == 0 else 0, k * start_step, word))
    return out


def wave(n, period, phase=0.0, scale=2.0):
    return [round(scale * math.sin(2 * math.pi * (i + phase) / period) * 16) / 16 for i in range(n)]


def planted(n, at):
    """A flat, slightly ragged series with one bump at the given start."""
    base = [((i * 7) % 5 - 2) / 16 for i in range(n)]
    for i, v in enumerate([1, 3, 5, 6, 5, 3, 1, 0]):
        base[at + i] = v
    return base


SEEDS = {
    "sax": {
        "normal": sax(4, 5, [wave(32, 16), wave(29, 10, 3), wave(40, 7, 1)]),
        "empty-set": sax(4, 4, []),
        "empty-series": sax(3, 4, [[], [1, 2, 3, 4, 5]]),
        "edge-values": sax(2, 6, [["nan", 1, "inf", "-inf", "max", "-max", "-0", "denorm",
                                "1e300", "1e300", 2, "1e-300"]]),
        "constant": sax(3, 4, [[1.5] * 9, [0] * 4]),
        "seglen-0": sax(0, 4, [[1, 2, 3]]),
        "seglen-0-empty-series": sax(0, 4, [[]]),
        "seglen-negative": sax(-2, 4, [[1, 2, 3]]),
        "seglen-negative-empty-series": sax(-1, 4, [[], []]),
        "alphabet-11": sax(2, 11, [[1, 2, 3, 4]]),
        "alphabet-0": sax(2, 0, [[1, -2, 3, -4]]),
        "cut-point": sax(1, 3, [[0.43, -0.43, 0.4375, -0.4375, "0.43", "-0.43"]]),
        "raw-double": sax(1, 10, [[1e-310, -123456.789, 3.141592653589793]]),
        "seglen-int-max": bytes([INT_MAX]) + in_range(4, -2) + series_set([[1, 2, 3]]),
        "seglen-int-min": bytes([INT_MIN]) + in_range(4, -2) + series_set([[1, 2], []]),
        "alphabet-int-min": in_range(2, -3) + bytes([INT_MIN]) + series_set([[1, 2]]),
    },
    "patterns": {
        "normal": patterns(0.5, 3, 0, 0.9, ["abcabcdab", "dabcabd", "cabcab", "ddddd"]),
        "empty-set": patterns(0.5, 1, 0, 0.9, []),
        "empty-words": patterns(1.0, 1, 0, 0.9, ["", "", ""]),
        "minsup-0-max-len-3": patterns(0.0, 1, 3, 0.9, ["abcd", "bca", "dd"]),
        "minsup-0-max-len-0": patterns(0.0, 1, 0, 0.9, ["abc"]),
        "minsup-negative": patterns(-1.0, 2, 2, 0.5, ["ab", "ba"]),
        "minsup-nan": patterns("nan", 1, 2, 0.0, ["abba", "cab"]),
        "minsup-inf-no-words": patterns("inf", 1, 0, 0.9, []),
        "minsup-tiny-no-overlap-removal": patterns(1e-9, 1, 0, 1.0,
                                                   ["abcabdabc", "cbacbd", "aaaa", "dcba"]),
        "raw-bytes": patterns(0.5, 1, 4, "nan", ["a\x00b\x80\xff", "\x80\xffa\x00", "b\x7f"]),
        "min-len-int-max": patterns(0.25, 0, 0, 0.9, ["abcab", "bcab"], min_len_byte=INT_MAX),
        "min-len-int-min": patterns(0.25, 0, 0, 2.0, ["abcab", "bcab"], min_len_byte=INT_MIN),
        "max-len-negative": patterns(0.5, -2, -1, -1.0, ["abab", "baba", "cc"]),
        "long-words": patterns(0.25, 2, 6, 0.5,
                               ["abcdabcdabcdabcdabcdabcd", "dcbadcbadcbadcbadcbadcba",
                                "aabbccddaabbccddaabbccdd", "abababababababababababab"]),
    },
    "proposals": {
        "normal": proposals(3, 4, 2.0, 5, 8, 0, [wave(40, 8)] * 3, shared_words(4, 3, 3)),
        "alphabet-10": proposals(10, 5, 1.0, 3, 16, 0, [wave(60, 16), wave(60, 12)],
                                 shared_words(5, 2, 4)),
        "largest-key-space-4": proposals(4, 31, 1.0, 2, 8, 0, [wave(40, 8)] * 2,
                                         shared_words(31, 2, 1)),
        "key-space-beyond-64-bits-4": proposals(4, 32, 1.0, 2, 8, 0, [wave(40, 8)],
                                                shared_words(32, 1, 1)),
        "key-space-beyond-64-bits-8": proposals(8, 22, 1.0, 2, 8, 0, [wave(40, 8)],
                                                shared_words(22, 1, 1)),
        "alphabet-11": proposals(11, 3, 1.0, 2, 8, 0, [wave(40, 8)], shared_words(3, 1, 2)),
        "no-letters": proposals(4, 0, 1.0, 2, 8, 0, [wave(40, 8)], shared_words(0, 1, 2)),
        "series-out-of-order": proposals(3, 3, 1.0, 2, 8, 1, [wave(40, 8)] * 2,
                                         shared_words(3, 2, 2)),
        "negative-start": proposals(3, 3, 1.0, 2, 8, 2, [wave(40, 8)], shared_words(3, 1, 2)),
        "nan-mean": proposals(3, 3, 1.0, 2, 8, 0, [wave(40, 8)], [(0, 0, ["nan", 1, 2])]),
        "window-past-the-end": proposals(3, 2, 1.0, 2, 30, 0, [wave(20, 8)],
                                         shared_words(2, 1, 2)),
        "length-0": proposals(3, 2, 1.0, 2, 0, 0, [wave(20, 8)], shared_words(2, 1, 2)),
        "support-nan": proposals(3, 3, "nan", 2, 8, 0, [wave(40, 8)] * 2, shared_words(3, 2, 2)),
        "no-windows": proposals(4, 4, 0.0, 3, 8, 0, [wave(40, 8)], []),
    },
    "miner": {
        "normal": miner(4, 4, 0.5, 2, 0, 0.9, 3,
                        [planted(48, 8), planted(40, 24), planted(56, 32), wave(44, 11)]),
        "empty-set": miner(4, 4, 0.5, 2, 0, 0.9, 0, []),
        "empty-series": miner(2, 4, 0.5, 1, 0, 0.9, 0, [[], [], [1, 2, 3, 4]]),
        "nan-and-constant": miner(2, 5, 0.5, 1, 0, 0.9, 0,
                                  [["nan", 1, 2, 3], [2.5] * 10, [1], wave(12, 6)]),
        "infinities": miner(1, 3, 0.25, 1, 3, 0.9, 0, [["inf", 1, -1, 2], ["max", "max", 0, 1]]),
        "seglen-0": miner(0, 4, 0.5, 1, 0, 0.9, 0, [[1, 2, 3]]),
        "seglen-negative": miner(-1, 4, 0.5, 1, 0, 0.9, 0, [[1, 2, 3]]),
        "seglen-negative-empty-series": miner(-2, 4, 0.5, 1, 0, 0.9, 0, [[], []]),
        "alphabet-11": miner(2, 11, 0.5, 1, 0, 0.9, 0, [wave(16, 8)]),
        "minsup-0-max-len-3": miner(2, 3, 0.0, 1, 3, 0.9, 0, [wave(20, 10), wave(18, 6)]),
        "k-negative": miner(2, 4, 0.5, 1, 0, 0.9, -1, [wave(24, 8), wave(24, 8, 2)]),
        "k-0-no-overlap-removal": miner(4, 10, 1e-9, 1, 0, 1.0, 0,
                                        [wave(64, 16), wave(64, 9, 1), wave(64, 5), wave(64, 13)]),
        "min-len-int-max": in_range(2, -2) + in_range(4, -1) + bytes([1, INT_MAX]) +
                           in_range(0, -2) + bytes([0]) + in_range(0, -2) +
                           series_set([wave(16, 8), wave(16, 4)]),
    },
}


def main():
    for target, seeds in SEEDS.items():
        directory = HERE / "corpus" / target
        directory.mkdir(parents=True, exist_ok=True)
        for old in directory.iterdir():
            old.unlink()
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
