#include "window_statistics.h"

#include <algorithm>
#include <cmath>
#include <functional>
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
    // Each block's sum runs alone, point after point, so four blocks run side by side: the
    // same sums, without waiting on each addition in turn.
    partial.resize(blocks * (m + 1));
    constexpr size_t side_by_side = 4;
    const size_t full_blocks = n / m;  // blocks that lie wholly within the series
    size_t c = 0;
    for (; c + side_by_side <= full_blocks; c += side_by_side) {
        double* rows[side_by_side];
        const double* points[side_by_side];
        double running[side_by_side];
        for (size_t q = 0; q < side_by_side; ++q) {
            rows[q] = partial.data() + (c + q) * (m + 1);
            points[q] = values + (c + q) * m;
            rows[q][0] = 0.0;
            running[q] = points[q][0];  // numpy's cumsum starts at the value
            rows[q][1] = running[q];
        }
        for (size_t k = 1; k < m; ++k) {
            for (size_t q = 0; q < side_by_side; ++q) {
                running[q] += points[q][k];
                rows[q][k + 1] = running[q];
            }
        }
    }
    for (; c < blocks; ++c) {
        double* row = partial.data() + c * (m + 1);
        row[0] = 0.0;
        double running = 0.0;
        for (size_t k = 0; k < m; ++k) {
            const size_t at = c * m + k;
            const double value = at < n ? values[at] : 0.0;
            running = k == 0 ? value : running + value;
            row[k + 1] = running;
        }
    }
    // Window j = c m + r: (P[c][m] - P[c][r]) + P[c + 1][r].
    const size_t windows = n - m + 1;
    sums.resize(windows);
    for (size_t first = 0, block = 0; first < windows; first += m, ++block) {
        const double* row = partial.data() + block * (m + 1);
        const double* next = row + (m + 1);
        const double whole = row[m];
        const size_t count = std::min(m, windows - first);
        double* out = sums.data() + first;
        for (size_t r = 0; r < count; ++r) {
            out[r] = (whole - row[r]) + next[r];
        }
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

// The largest magnitude of the finite values, 0 when none is; with `infinite_too`, of every value
// (none is NaN). Four running maxima side by side, so that no comparison waits on the one before.
double largest_finite_magnitude(const double* values, size_t n, bool infinite_too = false) {
    double largest[4] = {0.0, 0.0, 0.0, 0.0};
    const auto take = [infinite_too](double& slot, double value) {
        const double magnitude = std::abs(value);
        const bool counted = infinite_too || std::isfinite(magnitude);
        slot = counted && magnitude > slot ? magnitude : slot;
    };
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (size_t q = 0; q < 4; ++q) {
            take(largest[q], values[i + q]);
        }
    }
    for (; i < n; ++i) {
        take(largest[0], values[i]);
    }
    return std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
}

// Scratch reused from series to series by one task.
struct Scratch {
    Series finite_points;
    Series centred;
    Series squares;
    Series partial;
    Series sums;
    Series mean;
    Series kept;
    // window_words' own tables
    Series unit_values;
    Series prepared;
    Series deviations;
    std::vector<uint8_t> usable;
    Series means;
    Series running;
};

// The centre a series' values were moved by and the scale they were then divided by.
struct Centring {
    double centre = 0.0;
    double scale = 1.0;
};

// One series prepared in place (see prepared_series); with `means`, every window's mean in the
// series' own units too (the mean in the scale, times the scale, plus the centre).
Centring prepare(const SeriesToPrepare& one, size_t m, const FlatRules& rules, Scratch& scratch,
                 double* means = nullptr) {
    const double* series = one.points;
    const size_t n = one.n;
    if (n < m) {
        // No window: the values as they are, but for the points that are not finite.
        for (size_t i = 0; i < n; ++i) {
            one.values[i] = std::isfinite(series[i]) ? series[i] : 0.0;
        }
        return {};
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
    centred.resize(n);
    for (size_t i = 0; i < n; ++i) {
        centred[i] = std::isfinite(series[i]) ? series[i] - centre : 0.0;
    }
    double scale = largest_finite_magnitude(centred.data(), n, true);
    if (!(scale > 0.0 && std::isfinite(scale))) {
        scale = 1.0;
    }
    // The values: the centred series over its scale (0 where a point is not finite).
    const size_t windows = n - m + 1;
    Series& squares = scratch.squares;
    squares.resize(n);
    for (size_t i = 0; i < n; ++i) {
        centred[i] /= scale;
        one.values[i] = centred[i];
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
    if (means != nullptr) {
        for (size_t j = 0; j < windows; ++j) {
            means[j] = mean[j] * scale + centre;
        }
    }
    window_sums(squares.data(), n, m, scratch.partial, sums);
    double* deviation = one.deviations;
    for (size_t j = 0; j < windows; ++j) {
        deviation[j] = std::sqrt(std::max(sums[j] / points - mean[j] * mean[j], 0.0));
    }
    // Windows without a missing point (numpy sums the missing points' indicators, exactly: a sum
    // below 0.5 is none): the first missing point from the window's start lies past its end...
    uint8_t* usable = one.usable;
    size_t next_missing = n;
    for (size_t i = n; i-- > 0;) {
        if (!std::isfinite(series[i])) {
            next_missing = i;
        }
        if (i < windows) {
            usable[i] = next_missing >= i + m;
        }
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
    }
    if (one.weights != nullptr) {
        for (size_t j = 0; j < windows; ++j) {
            one.weights[j] = usable[j] ? 1.0 / (points * deviation[j]) : 0.0;
        }
    }
    return {centre, scale};
}

// Groups of consecutive series a task handles one after the other with one scratch: up to 16
// series, and fewer past a million points, so that a few long series are handled side by side
// too. The first series of each group, then the count of series.
std::vector<size_t> task_firsts(size_t count, const std::function<size_t(size_t)>& points_of) {
    constexpr size_t most_series = 16;
    constexpr size_t most_points = size_t{1} << 20;
    std::vector<size_t> firsts{0};
    size_t points = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i > firsts.back() && (i - firsts.back() == most_series || points >= most_points)) {
            firsts.push_back(i);
            points = 0;
        }
        points += points_of(i);
    }
    firsts.push_back(count);
    return firsts;
}

// What a task's scratch holds per point of the longest series it handles: prepare's 7 arrays of
// doubles, and window_words' 6 more.
constexpr size_t prepare_bytes_per_point = 56;
constexpr size_t words_bytes_per_point = 104;

// How many tasks may run at once when each holds bytes_per_point of scratch per point of the
// longest series: no more than keep that within a gigabyte (a recording of 10^7 points: one).
size_t tasks_at_once(size_t longest, size_t bytes_per_point) {
    constexpr size_t scratch_bytes = size_t{1} << 30;
    return std::max<size_t>(1, scratch_bytes / bytes_per_point / std::max<size_t>(1, longest));
}

// The stride between the proposal windows of a series of n points (at least m).
size_t word_stride(size_t n, const WordRules& rules) {
    const size_t windows = n - rules.m + 1;
    return std::max({size_t{1}, rules.m / 16,
                     (windows + rules.windows_per_series - 1) / rules.windows_per_series});
}

// At most how many proposal windows a series of n points gives.
size_t most_words(size_t n, const WordRules& rules) {
    return n < rules.m ? 0 : (n - rules.m) / word_stride(n, rules) + 1;
}

// The proposal windows of one series (see window_words), appended to words.
void add_words(const SeriesView& one, int64_t owner, const WordRules& rules, Scratch& scratch,
               WindowWords& words) {
    const size_t n = one.n;
    const size_t m = rules.m;
    if (n < m) {
        return;
    }
    // The series divided by its largest finite magnitude (as it is when that is 0 or not finite).
    const double peak = largest_finite_magnitude(one.points, n);
    const double unit = peak > 0.0 && std::isfinite(peak) ? peak : 1.0;
    Series& values = scratch.unit_values;
    values.resize(n);
    for (size_t i = 0; i < n; ++i) {
        values[i] = one.points[i] / unit;
    }
    const size_t windows = n - m + 1;
    scratch.prepared.resize(n);
    scratch.deviations.resize(windows);
    scratch.usable.resize(windows);
    scratch.means.resize(windows);
    const Centring centring = prepare({values.data(), n, one.step / unit, scratch.prepared.data(),
                                       scratch.deviations.data(), scratch.usable.data(), nullptr},
                                      m, rules.flat, scratch, scratch.means.data());
    // The running sum of the finite values, from 0 (numpy's cumulative sum, in order).
    Series& sums = scratch.running;
    sums.resize(n + 1);
    sums[0] = 0.0;
    double running = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double value = std::isfinite(values[i]) ? values[i] : 0.0;
        running = i == 0 ? value : running + value;
        sums[i + 1] = running;
    }
    const size_t letters = std::min(rules.letters, m);
    const size_t seglen = m / letters;
    const size_t stride = word_stride(n, rules);
    const auto segment_points = static_cast<double>(seglen);
    for (size_t start = 0; start < windows; start += stride) {
        if (!scratch.usable[start]) {
            continue;
        }
        const double mean = scratch.means[start];
        const double deviation = scratch.deviations[start] * centring.scale;
        for (size_t letter = 0; letter < letters; ++letter) {
            const size_t from = start + letter * seglen;
            const double segment_mean = (sums[from + seglen] - sums[from]) / segment_points;
            words.means.push_back((segment_mean - mean) / deviation);
        }
        words.owners.push_back(owner);
        words.starts.push_back(static_cast<int64_t>(start));
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
    if (series.empty()) {
        return;
    }
    const std::vector<size_t> firsts =
        task_firsts(series.size(), [&](size_t i) { return series[i].n; });
    size_t longest = 1;
    for (const SeriesToPrepare& one : series) {
        longest = std::max(longest, one.n);
    }
    const size_t at_once = tasks_at_once(longest, prepare_bytes_per_point);
    parallel_for(firsts.size() - 1, std::min(threads, at_once), cancel,
                 [&](size_t task, const Cancellation& local) {
                     Scratch scratch;
                     for (size_t i = firsts[task]; i < firsts[task + 1]; ++i) {
                         local.count(series[i].n * 40 + 1);
                         prepare(series[i], m, rules, scratch);
                     }
                 });
}

WindowWords window_words(const std::vector<SeriesView>& series, const WordRules& rules,
                         const Cancellation& cancel, size_t threads) {
    if (rules.m == 0 || rules.letters == 0 || rules.windows_per_series == 0) {
        throw std::invalid_argument(
            "windows, their letters and the windows per series must each be at least 1");
    }
    WindowWords words;
    words.letters = std::min(rules.letters, rules.m);
    if (series.empty()) {
        return words;
    }
    const std::vector<size_t> firsts =
        task_firsts(series.size(), [&](size_t i) { return series[i].n; });
    size_t longest = 1;
    for (const SeriesView& one : series) {
        longest = std::max(longest, one.n);
    }
    // Each task's windows apart, joined in the series' order: the same for any thread count.
    std::vector<WindowWords> parts(firsts.size() - 1);
    parallel_for(parts.size(), std::min(threads, tasks_at_once(longest, words_bytes_per_point)),
                 cancel, [&](size_t task, const Cancellation& local) {
                     Scratch scratch;
                     size_t most = 0;
                     for (size_t i = firsts[task]; i < firsts[task + 1]; ++i) {
                         most += most_words(series[i].n, rules);
                     }
                     parts[task].owners.reserve(most);
                     parts[task].starts.reserve(most);
                     parts[task].means.reserve(most * words.letters);
                     for (size_t i = firsts[task]; i < firsts[task + 1]; ++i) {
                         local.count(series[i].n * 48 + 1);
                         add_words(series[i], static_cast<int64_t>(i), rules, scratch, parts[task]);
                     }
                 });
    size_t total = 0;
    for (const WindowWords& part : parts) {
        total += part.owners.size();
    }
    words.owners.reserve(total);
    words.starts.reserve(total);
    words.means.reserve(total * words.letters);
    for (WindowWords& part : parts) {
        words.owners.insert(words.owners.end(), part.owners.begin(), part.owners.end());
        words.starts.insert(words.starts.end(), part.starts.begin(), part.starts.end());
        words.means.insert(words.means.end(), part.means.begin(), part.means.end());
        part = WindowWords();  // each part let go once copied
    }
    return words;
}

}  // namespace zorp
