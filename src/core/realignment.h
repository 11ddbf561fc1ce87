#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

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
