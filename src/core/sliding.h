#pragma once

#include <cstdint>
#include <vector>

#include "cancel.h"
#include "realignment.h"
#include "sax.h"

namespace zorp {

// The best match of each of a few shapes in each series of a set, as the robust discovery
// verifies its candidates: Pearson correlations of a shape with every window of a series,
// computed by direct dot products. Both tables are shape-major: entry c * series + i is shape
// c in series i.
struct BestMatches {
    std::vector<int64_t> starts;       // start (points) of the best window; 0 when none
    std::vector<double> correlations;  // its correlation; -infinity when no window is usable
};

// For every shape (each of the same length m, z-normalised: mean 0, population deviation 1) and
// every series, the window of m points with the largest correlation, values[i][j .. j + m) ·
// shape × weights[i][j]. values are the series as prepared for matching (centred and scaled,
// NaN replaced by 0); weights[i][j] is 1 / (m × deviation of window j) for a usable window and 0
// for one that must never match (a NaN, a flat stretch), and there are values[i].size() - m + 1
// of them (none when the series is shorter than m). The first window among equals wins.
// Throws std::invalid_argument when the shapes differ in length, or when a series' weights do
// not number its windows. Counts a unit per product of a point and a shape on cancel. Runs on up
// to `threads` threads (see parallel_for): the same tables for any number.
BestMatches best_correlations(const SeriesSet& values, const SeriesSet& weights,
                              const SeriesSet& shapes, const Cancellation& cancel = Cancellation(),
                              size_t threads = 1);

}  // namespace zorp
