#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sax.h"

namespace zorp {

// Windows of the motif length taken from a set of series, each described by the z-normalised
// means of its segments (letters of them per window, one window after the other).
struct ProposalWindows {
    std::vector<int> series;    // the series each window belongs to, ascending
    std::vector<int> starts;    // its start in points
    std::vector<double> means;  // letters segment means per window
    int letters = 0;
};

// One proposed shape: the window chosen to stand for a frequent word, and the word ('.' for the
// letter left out of it).
struct Proposal {
    int series = 0;
    int start = 0;
    std::string word;
};

// What a run of propose looks for.
struct ProposalSettings {
    int length = 0;        // window length in points
    int alphabet = 4;      // letters per position of the words, 2 to 10
    double support = 1.0;  // series a key must occur in to propose a shape
    size_t count = 0;      // proposals wanted at most
};

// Shapes proposed by words that many series share. Each window's means become letters (SAX cut
// points of the alphabet). A window counts under its whole word and, tolerantly, under each of
// its one-letter wildcards; every such key held by at least settings.support series is ranked
// by support / sqrt(occurrences per series), highest first (keys that occur once in many series
// come first), ties by the position left out (none first) and then by the key's letters. In that
// order, each key whose set of windows was not proposed before proposes its medoid: the window
// whose means are closest to the average of the key's windows (the first of them on a tie).
// Medoids whose shape a monotone curve explains (monotone_share above 0.9) are skipped as
// trivial. Stops at settings.count proposals. ts are the series the windows were taken from.
// Nothing depends on the order of the series but the choice between windows at exactly equal
// distances from an average.
std::vector<Proposal> propose(const SeriesSet& ts, const ProposalWindows& windows,
                              const ProposalSettings& settings);

// The share (0 to 1) of a shape's variance that the best monotone curve (non-decreasing or
// non-increasing) explains, computed on the means of min(points, size) blocks of the shape (the
// block edges are floor(i × size / blocks)). A flat shape, or one of no points, counts as
// monotone: 1.
double monotone_share(const std::vector<double>& shape, int points = 32);

// The shape minus its mean, divided by its population deviation; zeros when it is flat. Scaled
// by its largest deviation from the mean first, so that tiny values do not underflow.
std::vector<double> znormalised(const std::vector<double>& shape);

}  // namespace zorp
