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

// Z-normalises every series in place with the population deviation. A constant or one-point
// series becomes NaN throughout: nothing guards against a zero deviation. A cancelled call
// leaves the series partly normalised.
void znorm(SeriesSet& ts, const Cancellation& cancel = Cancellation());

// PAA of one series into ceil(n / seglen) segment means, each turned into a letter.
Word get_row(const Series& series, int seglen, int alphabet,
             const Cancellation& cancel = Cancellation());

// 'a' plus the number of cut points of the alphabet's row that lie strictly below the value.
int get_discrete_value(int alphabet, double value);

// One word per series, in the order of ts. Does not normalise.
WordSet sax(const SeriesSet& ts, int seglen, int alphabet,
            const Cancellation& cancel = Cancellation());

}  // namespace zorp
