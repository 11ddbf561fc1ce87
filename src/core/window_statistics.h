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
    double* weights = nullptr;  // not written when null
};

// The series prepared for windows of m points (m at least 1), bit for bit as the package's
// numpy steps make them: numpy's pairwise sums for the mean, its cumulative sums restarted every
// m points for the windows' sums, its median. A series shorter than m has no window.
PreparedSeries prepared_series(const Series& series, size_t m, double step, const FlatRules& rules);

// Every series prepared in place, on up to `threads` threads; the same for any number. Counts a
// unit per point on cancel.
void prepare_all(const std::vector<SeriesToPrepare>& series, size_t m, const FlatRules& rules,
                 const Cancellation& cancel = Cancellation(), size_t threads = 1);

// One series read where it lies: n points, and its resolution in its units (NaN: its own).
struct SeriesView {
    const double* points = nullptr;
    size_t n = 0;
    double step = 0.0;
};

// What the proposal windows are: windows of m points, described by the means of `letters`
// segments of m / letters points each (letters at most m; the tail past them left out), taken
// every max(1, m / 16) points from each series' start, or farther apart so that a series gives
// at most windows_per_series of them.
struct WordRules {
    size_t m = 1;
    size_t letters = 1;
    size_t windows_per_series = 1;
    FlatRules flat;
};

// The proposal windows of a set of series: the series each belongs to (its position in the
// set) and its start (points), ascending, and its segment means, letters per window.
struct WindowWords {
    std::vector<int64_t> owners;
    std::vector<int64_t> starts;
    Series means;
    size_t letters = 0;
};

// The proposal windows of every series, bit for bit as the package's numpy steps make them:
// each series divided by its largest finite magnitude and prepared as prepared_series
// prepares it (its step divided likewise); of the windows of WordRules, those usable, with
// the means of their segments (from the running sum of the finite values, numpy's cumulative
// sum) less the window's mean, divided by its deviation, both in the divided series' units.
// Runs on up to `threads` threads, the same for any number; counts some 48 units per point.
// Throws std::invalid_argument when m, letters or windows_per_series is 0.
WindowWords window_words(const std::vector<SeriesView>& series, const WordRules& rules,
                         const Cancellation& cancel = Cancellation(), size_t threads = 1);

}  // namespace zorp
