#pragma once

#include <cstdint>
#include <vector>

#include "cancel.h"
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

// The fixed-point sums with which the robust discovery realigns groups of windows. The rows (all
// of one width) are the groups' windows one group after the other, members[g] rows for group g;
// each row is first divided by its largest finite magnitude (when that is above 0), so that
// neither tiny nor huge values lose their shape. Every row is cut into windows of m points
// starting at first, first + step, ... up to width - m; each window is z-normalised (mean 0,
// population deviation 1), clipped to within bound of 0, multiplied by its group's scale and
// rounded to the nearest integer (ties to even), and a group's windows at each start are added
// up. A window that is not usable (a NaN or an infinity, a deviation of 0) is centred but not
// scaled, a NaN counted as 0. The mean and the deviation are summed as numpy's reductions sum
// (pairwise: eight partial sums up to 128 values, halves cut at a multiple of 8 beyond), so that
// the sums are those of the same steps in numpy, bit for bit.
struct RealignmentSums {
    size_t starts = 0;            // windows per row
    std::vector<int64_t> sums;    // entry (g * starts + j) * m + k: point k of group g's start j
    std::vector<uint8_t> usable;  // entry g * starts + j: 1 when every member's window is usable
};

// Throws std::invalid_argument when m or step is 0, when the rows differ in width, when members
// does not add up to the rows or scales does not have one entry per group, or when a group's sum
// could leave the range of int64_t (bound x scale x members from 2^62). Counts a unit per point
// of a window on cancel. Runs on up to `threads` threads, a group to a thread: the same sums for
// any number.
RealignmentSums realignment_sums(const SeriesSet& rows, const std::vector<size_t>& members,
                                 const std::vector<double>& scales, size_t m, size_t first,
                                 size_t step, double bound,
                                 const Cancellation& cancel = Cancellation(), size_t threads = 1);

}  // namespace zorp
