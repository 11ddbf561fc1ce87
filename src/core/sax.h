#pragma once

#include <string>
#include <vector>

#include "cancel.h"

namespace zorp {

// One numeric time series, and the set of series a run works on; a series' index in the set
// is its key everywhere else.
using Series = std::vector<double>;
using SeriesSet = std::vector<Series>;

// A symbol word holds one byte per letter. It is both a series' SAX word and the form of every
// pattern. Order words with symbol_less, never with operator<: bytes compare as signed values.
using Word = std::string;
using WordSet = std::vector<Word>;

// Lexicographic order on words with every byte taken as a signed 8-bit value, so bytes 0x80 to
// 0xFF sort before 0x00 to 0x7F; on a common prefix the shorter word comes first.
struct SymbolLess {
    bool operator()(const Word& a, const Word& b) const;
};

// Gaussian SAX cut points, one row per alphabet size 0 to 10; rows 0 and 1 are empty.
extern const std::vector<std::vector<double>> breakpoints;

constexpr int max_alphabet = 10;

// The row of cut points for an alphabet size; throws std::invalid_argument outside 0..10.
const std::vector<double>& breakpoint_row(int alphabet);

// How a z-normalisation adds up the points and their squares: running sums, one term after the
// other (the miner's), or pairwise sums, the order numpy's sum takes (in which the results have
// always measured each best match's distance). The two differ in the last bits.
enum class Summation { running, pairwise };

// Z-normalises every series in place with the population deviation, with running sums. A
// constant or one-point series becomes NaN throughout: nothing guards against a zero deviation.
// A cancelled call leaves the series partly normalised.
void znorm(SeriesSet& ts, const Cancellation& cancel = Cancellation());
// The same for one series, adding up in the given order.
void znorm(Series& series, Summation summation, const Cancellation& cancel = Cancellation());

// The sum of term(first) to term(first + count - 1) in pairwise order: fewer than 8 terms are
// added one by one from 0; up to 128 in eight running sums (terms 0, 8, 16, ... in the first)
// joined as ((s0 + s1) + (s2 + s3)) + ((s4 + s5) + (s6 + s7)), the terms past the last multiple
// of 8 then added one by one; more are split at half the count, rounded down to a multiple of 8,
// and the two halves' sums added. A whole sum starts from 0.0, as numpy's does: 0.0 + this.
template <typename Term>
double pairwise_sum(const Term& term, size_t first, size_t count) {
    if (count < 8) {
        double sum = 0.0;
        for (size_t i = 0; i < count; ++i) {
            sum += term(first + i);
        }
        return sum;
    }
    if (count <= 128) {
        double r[8];
        for (size_t j = 0; j < 8; ++j) {
            r[j] = term(first + j);
        }
        size_t i = 8;
        for (; i < count - count % 8; i += 8) {
            for (size_t j = 0; j < 8; ++j) {
                r[j] += term(first + i + j);
            }
        }
        double sum = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
        for (; i < count; ++i) {
            sum += term(first + i);
        }
        return sum;
    }
    size_t half = count / 2;
    half -= half % 8;
    return pairwise_sum(term, first, half) + pairwise_sum(term, first + half, count - half);
}

// PAA of one series into ceil(n / seglen) segment means, each turned into a letter.
Word get_row(const Series& series, int seglen, int alphabet,
             const Cancellation& cancel = Cancellation());

// 'a' plus the number of cut points of the alphabet's row that lie strictly below the value.
int get_discrete_value(int alphabet, double value);

// One word per series, in the order of ts. Does not normalise.
WordSet sax(const SeriesSet& ts, int seglen, int alphabet,
            const Cancellation& cancel = Cancellation());

}  // namespace zorp
