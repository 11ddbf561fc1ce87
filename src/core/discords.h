#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cancel.h"

namespace zorp {

// The top discords of one series: the windows whose nearest neighbour beyond the exclusion zone
// is farthest, each at least a window's length from those before it, farthest first.
struct Discords {
    std::vector<int64_t> starts;
    std::vector<int64_t> neighbours;
    std::vector<double> distances;  // sqrt(2 (1 - r)), r the windows' correlation
};

// values: the series centred and scaled, missing points set to 0 (points); weights: each
// window's 1 / (m x deviation) in that scale, 0 for a window that never matches (a missing
// point, flat). Exact: the discords of the full matrix of distances. Searched window by window
// (pruned_discords) until that has cost what the whole profile would, then from the profile
// (discords_from_profile). At most `top` discords.
Discords within_discords(const std::vector<double>& values, const std::vector<double>& weights,
                         size_t m, size_t exclusion, size_t top, const Cancellation& cancel,
                         size_t threads);

// The search window by window: a window is searched
// outward from itself in blocks of doubling size, after the window next to the one the last
// window searched came closest to (neighbours run along diagonals), every distance lowering both
// windows' bounds, and left as soon as a window comes within the farthest nearest neighbour
// found; windows whose bound is already within it are never searched. Gives up (nullopt) once
// its distances have cost more than `budget` products (m to a distance), or as soon as the cost
// of its first windows foretells that they would. The products done go to `spent` when given.
std::optional<Discords> pruned_discords(const std::vector<double>& values,
                                        const std::vector<double>& weights, size_t m,
                                        size_t exclusion, size_t top, const Cancellation& cancel,
                                        size_t threads, double budget, double* spent = nullptr);

// The same discords from every window's nearest correlation (nearest_profile), each one's
// neighbour and distance then found by a scan of every window, as the search finds them.
Discords discords_from_profile(const std::vector<double>& values,
                               const std::vector<double>& weights, size_t m, size_t exclusion,
                               size_t top, const Cancellation& cancel, size_t threads);

}  // namespace zorp
