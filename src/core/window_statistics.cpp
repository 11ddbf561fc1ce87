#include "window_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "parallel.h"

namespace zorp {

namespace {

// The sum of every window of m points of values (n - m + 1 of them, n at least m), as numpy
// gives them from cumulative sums that restart every m points: window j = c m + r is the sum
// of block c from r to its end plus the sum of block c + 1 up to r, (P[c][m] - P[c][r]) +
// P[c + 1][r], so no sum's rounding grows with the series' length.
void window_sums(const double* values, size_t n, size_t m, Series& partial, Series& sums) {
    const size_t blocks = (n + m - 1) / m + 1;
    // partial[c (m + 1) + k]: the sum of the first k points of block c (0 past the series).
    partial.assign(blocks * (m + 1), 0.0);
    for (size_t c = 0; c < blocks; ++c) {
        double* row = partial.data() + c * (m + 1);
        for (size_t k = 0; k < m; ++k) {
            const size_t at = c * m + k;
            const double value = at < n ? values[at] : 0.0;
            row[k + 1] = k == 0 ? value : row[k] + value;  // numpy's cumsum starts at the value
        }
    }
    const size_t windows = n - m + 1;
    sums.resize(windows);
    for (size_t j = 0; j < windows; ++j) {
        const size_t c = j / m;
        const size_t r = j % m;
        const double* row = partial.data() + c * (m + 1);
        const double* next = row + (m + 1);
        sums[j] = (row[m] - row[r]) + next[r];
    }
}

// The smallest change between consecutive finite points, when they span at least levels of
// it; 0 otherwise and when no two differ.
double resolution_of(const double* series, size_t n, double levels) {
    double step = std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool seen = false;
    double last = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double value = series[i];
        if (!std::isfinite(value)) {
            continue;
        }
        if (seen) {
            const double change = std::abs(value - last);
            if (change > 0.0) {
                step = std::min(step, change);
            }
        }
        low = std::min(low, value);
        high = std::max(high, value);
        last = value;
        seen = true;
    }
    if (!(step < std::numeric_limits<double>::infinity())) {
        return 0.0;
    }
    return high - low >= levels * step ? step : 0.0;
}

// Scratch reused from series to series by one task.
struct Scratch {
    Series finite_points;
    Series centred;
    Series squares;
    Series missing;
    Series partial;
    Series sums;
    Series mean;
    Series kept;
};

void prepare(const SeriesToPrepare& one, size_t m, const FlatRules& rules, Scratch& scratch) {
    const double* series = one.points;
    const size_t n = one.n;
    if (n < m) {
        // No window: the values as they are, but for the points that are not finite.
        for (size_t i = 0; i < n; ++i) {
            one.values[i] = std::isfinite(series[i]) ? series[i] : 0.0;
        }
        return;
    }
    // The centre: the finite points' mean (numpy's pairwise sum over them, in order).
    Series& finite_points = scratch.finite_points;
    finite_points.clear();
    for (size_t i = 0; i < n; ++i) {
        if (std::isfinite(series[i])) {
            finite_points.push_back(series[i]);
        }
    }
    const double centre = finite_points.empty()
                              ? 0.0
                              : (0.0 + pairwise_sum([&](size_t i) { return finite_points[i]; }, 0,
                                                    finite_points.size())) /
                                    static_cast<double>(finite_points.size());
    Series& centred = scratch.centred;
    centred.assign(n, 0.0);
    double scale = 0.0;
    for (size_t i = 0; i < n; ++i) {
        if (std::isfinite(series[i])) {
            centred[i] = series[i] - centre;
            scale = std::max(scale, std::abs(centred[i]));
        }
    }
    if (!(scale > 0.0 && std::isfinite(scale))) {
        scale = 1.0;
    }
    for (size_t i = 0; i < n; ++i) {
        one.values[i] = std::isfinite(series[i]) ? (series[i] - centre) / scale : 0.0;
    }
    const size_t windows = n - m + 1;
    Series& squares = scratch.squares;
    squares.resize(n);
    for (size_t i = 0; i < n; ++i) {
        centred[i] /= scale;
        squares[i] = centred[i] * centred[i];
    }
    const double points = static_cast<double>(m);
    Series& sums = scratch.sums;
    window_sums(centred.data(), n, m, scratch.partial, sums);
    Series& mean = scratch.mean;
    mean.resize(windows);
    for (size_t j = 0; j < windows; ++j) {
        mean[j] = sums[j] / points;
    }
    window_sums(squares.data(), n, m, scratch.partial, sums);
    double* deviation = one.deviations;
    for (size_t j = 0; j < windows; ++j) {
        deviation[j] = std::sqrt(std::max(sums[j] / points - mean[j] * mean[j], 0.0));
    }
    // Windows without a missing point (a sum of the missing points' indicators below 0.5)...
    Series& missing = scratch.missing;
    missing.resize(n);
    for (size_t i = 0; i < n; ++i) {
        missing[i] = std::isfinite(series[i]) ? 0.0 : 1.0;
    }
    window_sums(missing.data(), n, m, scratch.partial, sums);
    uint8_t* usable = one.usable;
    for (size_t j = 0; j < windows; ++j) {
        usable[j] = sums[j] < 0.5;
    }
    // ... nor one value throughout (missing points counted as 0): a run of equal values from
    // the window's start reaching its end.
    size_t run_end = n;
    for (size_t i = n; i-- > 0;) {
        if (i + 1 < n) {
            const double value = std::isfinite(series[i]) ? series[i] : 0.0;
            const double after = std::isfinite(series[i + 1]) ? series[i + 1] : 0.0;
            if (value != after) {
                run_end = i + 1;
            }
        }
        if (i < windows && run_end - i >= m) {
            usable[i] = 0;
        }
    }
    // ... and not flat beside the usable windows' median deviation, the floor and the series'
    // resolution.
    Series& kept = scratch.kept;
    kept.clear();
    for (size_t j = 0; j < windows; ++j) {
        if (usable[j]) {
            kept.push_back(deviation[j]);
        }
    }
    if (!kept.empty()) {
        const auto half = static_cast<ptrdiff_t>(kept.size() / 2);
        std::nth_element(kept.begin(), kept.begin() + half, kept.end());
        double typical = kept[static_cast<size_t>(half)];
        if (kept.size() % 2 == 0) {
            // numpy's median of an even count: the mean of the two middle values
            typical = (*std::max_element(kept.begin(), kept.begin() + half) + typical) / 2.0;
        }
        const double bar = rules.flat_fraction * typical;
        for (size_t j = 0; j < windows; ++j) {
            usable[j] = usable[j] && deviation[j] > bar;
        }
    }
    const double resolution =
        (std::isnan(one.step) ? resolution_of(series, n, rules.levels) : one.step) / scale;
    for (size_t j = 0; j < windows; ++j) {
        usable[j] = usable[j] && deviation[j] > rules.floor && deviation[j] > resolution;
        if (!usable[j]) {
            deviation[j] = 1.0;
        }
        one.weights[j] = usable[j] ? 1.0 / (points * deviation[j]) : 0.0;
    }
}

}  // namespace

PreparedSeries prepared_series(const Series& series, size_t m, double step,
                               const FlatRules& rules) {
    const size_t windows = series.size() >= m ? series.size() - m + 1 : 0;
    PreparedSeries prepared;
    prepared.values.resize(series.size());
    prepared.deviations.resize(windows);
    prepared.usable.resize(windows);
    prepared.weights.resize(windows);
    prepare_all({SeriesToPrepare{series.data(), series.size(), step, prepared.values.data(),
                                 prepared.deviations.data(), prepared.usable.data(),
                                 prepared.weights.data()}},
                m, rules);
    return prepared;
}

void prepare_all(const std::vector<SeriesToPrepare>& series, size_t m, const FlatRules& rules,
                 const Cancellation& cancel, size_t threads) {
    if (m == 0) {
        throw std::invalid_argument("windows must hold at least 1 point");
    }
    // Series a task prepares, one after the other with the same scratch: up to 16 of them, and
    // fewer past a million points, so that a few long series (a long recording's shuffles) are
    // prepared side by side too. Each series' statistics are its own, whichever task makes them.
    if (series.empty()) {
        return;
    }
    constexpr size_t most_series = 16;
    constexpr size_t most_points = size_t{1} << 20;
    std::vector<size_t> firsts{0};
    size_t points = 0;
    for (size_t i = 0; i < series.size(); ++i) {
        if (i > firsts.back() && (i - firsts.back() == most_series || points >= most_points)) {
            firsts.push_back(i);
            points = 0;
        }
        points += series[i].n;
    }
    firsts.push_back(series.size());
    // A task's scratch is some 8 arrays as long as the longest series it prepares: no more
    // tasks run at once than keep that within a gigabyte (a recording of 10^7 points: one).
    constexpr size_t scratch_bytes_per_point = 64;
    constexpr size_t scratch_bytes = size_t{1} << 30;
    size_t longest = 1;
    for (const SeriesToPrepare& one : series) {
        longest = std::max(longest, one.n);
    }
    const size_t at_once = std::max<size_t>(1, scratch_bytes / scratch_bytes_per_point / longest);
    parallel_for(firsts.size() - 1, std::min(threads, at_once), cancel,
                 [&](size_t task, const Cancellation& local) {
                     Scratch scratch;
                     for (size_t i = firsts[task]; i < firsts[task + 1]; ++i) {
                         local.count(series[i].n * 40 + 1);
                         prepare(series[i], m, rules, scratch);
                     }
                 });
}

}  // namespace zorp
