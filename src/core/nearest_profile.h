#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cancel.h"

namespace zorp {

// How close every window's nearest neighbour beyond an exclusion zone is, over the whole series.
struct NearestProfile {
    // The highest correlation of each window with a window more than `exclusion` points away;
    // NaN where the window or every such window is unusable.
    std::vector<double> correlations;
};

// values and weights as within_discords takes them (the series centred and scaled, missing points
// 0; each window's 1 / (m x deviation), 0 for a window that never matches). Walks the matrix of
// correlations along its diagonals, each cell from the one before it on its diagonal in a few
// operations (the windows' co-deviation updated by the points that enter and leave), computed
// afresh every `refresh` rows so that rounding never gathers. Each diagonal is computed the same
// way whatever the thread count, and a window's best is the highest of its cells: the same
// profile for any thread count. Where the best lies is not kept (a scan of one window finds it).
NearestProfile nearest_profile(const std::vector<double>& values,
                               const std::vector<double>& weights, size_t m, size_t exclusion,
                               const Cancellation& cancel, size_t threads);

// The cells nearest_profile walks for a series of `windows` windows: the work it does.
double nearest_profile_cells(size_t windows, size_t exclusion);

}  // namespace zorp
