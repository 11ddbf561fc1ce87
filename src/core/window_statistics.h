#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

// A series prepared for matching shapes of m points (see best_correlations): its values
// centred on their mean and divided by their largest deviation from it (NaN and infinities set
// to 0), and for every window its population deviation in that scale (1 where not usable),
// whether it may match, and its weight, 1 / (m × deviation), 0 where it may not.
struct PreparedSeries {
    Series values;
    Series deviations;
    std::vector<uint8_t> usable;
    Series weights;
};

// What makes a window flat, and so not usable: a deviation at or below flat_fraction times the
// median deviation of the usable windows, at or below floor (in the series' scale), or at or
// below the series' resolution: the smallest change between consecutive finite points when
// they span at least `levels` of it, else 0 (`step` in the series' units replaces it when not
// NaN). A window holding a point that is not finite, or one value throughout, is not usable.
struct FlatRules {
    double flat_fraction = 0.0;
    double floor = 0.0;
    double levels = 0.0;
};

// One series to prepare, read and written in place: n points, and where its tables go (n values,
// and n - m + 1 of each of the others when n is at least m, else none).
struct SeriesToPrepare {
    const double* points = nullptr;
    size_t n = 0;
    double step = 0.0;  // NaN: the series' own resolution
    double* values = nullptr;
    double* deviations = nullptr;
    uint8_t* usable = nullptr;
    double* weights = nullptr;
};

// The series prepared for windows of m points (m at least 1), bit for bit as the package's
// numpy steps make them: numpy's pairwise sums for the mean, its cumulative sums restarted every
// m points for the windows' sums, its median. A series shorter than m has no window.
PreparedSeries prepared_series(const Series& series, size_t m, double step, const FlatRules& rules);

// Every series prepared in place, on up to `threads` threads; the same for any number. Counts a
// unit per point on cancel.
void prepare_all(const std::vector<SeriesToPrepare>& series, size_t m, const FlatRules& rules,
                 const Cancellation& cancel = Cancellation(), size_t threads = 1);

}  // namespace zorp
