#include "sliding.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "parallel.h"

namespace zorp {

namespace {

// Shapes are matched four at a time, over blocks of windows whose four rows of dot products
// stay in the first-level cache: every value read serves four shapes and four windows.
constexpr size_t lanes = 4;
constexpr size_t block = 256;

using Dots = std::array<std::array<double, block>, lanes>;

// Four doubles: the dot products of one shape with four neighbouring windows, held in registers
// while they are summed.
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));

// Sets, for each of count windows starting at values[0 .. count), the dot products with the four
// shape rows (each of m values, one after the other in shapes). Windows are taken four at a
// time, their sixteen sums held in registers over the whole shape; each sum takes its terms in
// point order, from 0, whether it is computed four at a time or alone.
template <typename Tag>
inline __attribute__((always_inline)) void add_dots_with(const double* __restrict values,
                                                         size_t count,
                                                         const double* __restrict shapes, size_t m,
                                                         Dots& __restrict dots) {
    const double* q0 = shapes;
    const double* q1 = shapes + m;
    const double* q2 = shapes + 2 * m;
    const double* q3 = shapes + 3 * m;
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        Quad a0 = {0.0, 0.0, 0.0, 0.0};
        Quad a1 = a0;
        Quad a2 = a0;
        Quad a3 = a0;
        const double* x = values + j;
        for (size_t k = 0; k < m; ++k) {
            Quad v;
            std::memcpy(&v, x + k, sizeof v);
            a0 += q0[k] * v;
            a1 += q1[k] * v;
            a2 += q2[k] * v;
            a3 += q3[k] * v;
        }
        for (size_t t = 0; t < 4; ++t) {
            dots[0][j + t] = a0[t];
            dots[1][j + t] = a1[t];
            dots[2][j + t] = a2[t];
            dots[3][j + t] = a3[t];
        }
    }
    for (; j < count; ++j) {
        double s0 = 0.0;
        double s1 = 0.0;
        double s2 = 0.0;
        double s3 = 0.0;
        for (size_t k = 0; k < m; ++k) {
            s0 += q0[k] * values[j + k];
            s1 += q1[k] * values[j + k];
            s2 += q2[k] * values[j + k];
            s3 += q3[k] * values[j + k];
        }
        dots[0][j] = s0;
        dots[1][j] = s1;
        dots[2][j] = s2;
        dots[3][j] = s3;
    }
}

// The best of a block of count windows starting at window from, for each of the four shapes:
// their correlations dots × weight, but for windows whose barrier is -infinity (weight 0:
// never to match). Updates top and at where the block holds a larger correlation, the first
// window among equals, as a scan window by window would: the block's maximum is taken on
// vectors (adding a barrier of 0 can only turn -0.0 into 0.0, which compare equal), and the
// correlation kept is the product itself.
template <typename Tag>
inline __attribute__((always_inline)) void keep_best_with(
    const Dots& dots, const double* __restrict weight, const double* __restrict barrier,
    size_t count, size_t from, std::array<double, lanes>& top, std::array<int64_t, lanes>& at) {
    const double none = -std::numeric_limits<double>::infinity();
    std::array<double, block> scores;
    for (size_t lane = 0; lane < lanes; ++lane) {
        const double* dot = dots[lane].data();
        Quad most = {none, none, none, none};
        size_t j = 0;
        for (; j + 4 <= count; j += 4) {
            Quad d;
            Quad w;
            Quad b;
            std::memcpy(&d, dot + j, sizeof d);
            std::memcpy(&w, weight + j, sizeof w);
            std::memcpy(&b, barrier + j, sizeof b);
            const Quad score = d * w + b;
            std::memcpy(scores.data() + j, &score, sizeof score);
            most = score > most ? score : most;
        }
        double best = none;
        for (size_t t = 0; t < 4; ++t) {
            best = most[t] > best ? most[t] : best;
        }
        for (; j < count; ++j) {
            scores[j] = dot[j] * weight[j] + barrier[j];
            best = scores[j] > best ? scores[j] : best;
        }
        if (best > top[lane]) {
            size_t first = 0;
            while (!(scores[first] == best)) {
                ++first;
            }
            top[lane] = dot[first] * weight[first];
            at[lane] = static_cast<int64_t>(from + first);
        }
    }
}

// The dot products of a block of windows with four shapes, then the best of them.
template <typename Tag>
inline __attribute__((always_inline)) void match_block_with(
    const double* values, size_t count, const double* shapes, size_t m, const double* weight,
    const double* barrier, size_t from, Dots& dots, std::array<double, lanes>& top,
    std::array<int64_t, lanes>& at) {
    add_dots_with<Tag>(values, count, shapes, m, dots);
    keep_best_with<Tag>(dots, weight, barrier, count, from, top, at);
}

struct Baseline {};

__attribute__((noinline)) void match_block_baseline(const double* values, size_t count,
                                                    const double* shapes, size_t m,
                                                    const double* weight, const double* barrier,
                                                    size_t from, Dots& dots,
                                                    std::array<double, lanes>& top,
                                                    std::array<int64_t, lanes>& at) {
    match_block_with<Baseline>(values, count, shapes, m, weight, barrier, from, dots, top, at);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loop on the wider vectors of processors that have them. Without fused multiply-add
// (not enabled here), every product and sum is rounded as in the baseline build: the results
// are the same bit for bit on every processor.
struct Wide {};

__attribute__((noinline, target("avx2"))) void match_block_wide(
    const double* values, size_t count, const double* shapes, size_t m, const double* weight,
    const double* barrier, size_t from, Dots& dots, std::array<double, lanes>& top,
    std::array<int64_t, lanes>& at) {
    match_block_with<Wide>(values, count, shapes, m, weight, barrier, from, dots, top, at);
}

using MatchBlock = void (*)(const double*, size_t, const double*, size_t, const double*,
                            const double*, size_t, Dots&, std::array<double, lanes>&,
                            std::array<int64_t, lanes>&);

MatchBlock match_block_for_this_processor() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? match_block_wide : match_block_baseline;
}
#else
using MatchBlock = void (*)(const double*, size_t, const double*, size_t, const double*,
                            const double*, size_t, Dots&, std::array<double, lanes>&,
                            std::array<int64_t, lanes>&);

MatchBlock match_block_for_this_processor() {
    return match_block_baseline;
}
#endif

}  // namespace

BestMatches best_correlations(const SeriesSet& values, const SeriesSet& weights,
                              const SeriesSet& shapes, const Cancellation& cancel, size_t threads) {
    const size_t series = values.size();
    if (weights.size() != series) {
        throw std::invalid_argument(
            "weights must hold one row per series: " + std::to_string(weights.size()) +
            " rows for " + std::to_string(series) + " series");
    }
    BestMatches best;
    if (shapes.empty()) {
        return best;
    }
    const size_t m = shapes.front().size();
    for (const Series& shape : shapes) {
        if (shape.size() != m) {
            throw std::invalid_argument(
                "shapes must all have the same length: " + std::to_string(shape.size()) +
                " points after " + std::to_string(m));
        }
    }
    for (size_t i = 0; i < series; ++i) {
        const size_t windows = values[i].size() >= m ? values[i].size() - m + 1 : 0;
        if (weights[i].size() != windows) {
            throw std::invalid_argument("series " + std::to_string(i) + " has " +
                                        std::to_string(windows) + " windows of " +
                                        std::to_string(m) + " points but " +
                                        std::to_string(weights[i].size()) + " weights");
        }
    }
    best.starts.assign(shapes.size() * series, 0);
    best.correlations.assign(shapes.size() * series, -std::numeric_limits<double>::infinity());
    // The shapes one after the other, padded with zero rows to a whole number of lanes.
    const size_t groups = (shapes.size() + lanes - 1) / lanes;
    std::vector<double> rows(groups * lanes * m, 0.0);
    for (size_t c = 0; c < shapes.size(); ++c) {
        std::copy(shapes[c].begin(), shapes[c].end(), rows.begin() + static_cast<ptrdiff_t>(c * m));
    }
    const MatchBlock match_block = match_block_for_this_processor();
    // -infinity for the windows that never match (weight 0), 0 for the others: added to their
    // correlations, it keeps them out of the maximum.
    SeriesSet barriers(series);
    for (size_t i = 0; i < series; ++i) {
        barriers[i].resize(weights[i].size());
        for (size_t j = 0; j < weights[i].size(); ++j) {
            barriers[i][j] = weights[i][j] > 0.0 ? 0.0 : -std::numeric_limits<double>::infinity();
        }
    }
    // One task per series and group of shapes: each writes its own entries of the tables.
    parallel_for(series * groups, threads, cancel, [&](size_t task, const Cancellation& local) {
        const size_t i = task / groups;
        const size_t group = task % groups;
        const size_t windows = weights[i].size();
        Dots dots;
        std::array<double, lanes> top;
        top.fill(-std::numeric_limits<double>::infinity());
        std::array<int64_t, lanes> at{};
        for (size_t from = 0; from < windows; from += block) {
            const size_t count = std::min(block, windows - from);
            local.count(count * lanes * m);
            match_block(values[i].data() + from, count, rows.data() + group * lanes * m, m,
                        weights[i].data() + from, barriers[i].data() + from, from, dots, top, at);
        }
        for (size_t lane = 0; lane < lanes; ++lane) {
            const size_t c = group * lanes + lane;
            if (c < shapes.size()) {
                best.starts[c * series + i] = at[lane];
                best.correlations[c * series + i] = top[lane];
            }
        }
    });
    return best;
}

namespace {

// The sum of n values as numpy's reductions of float64 add them: one by one under 8 values,
// eight partial sums up to 128, and beyond that the two halves (cut at a multiple of 8) apart.
double pairwise_sum(const double* values, size_t n) {
    if (n < 8) {
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) {
            sum += values[i];
        }
        return sum;
    }
    if (n <= 128) {
        std::array<double, 8> partial;
        std::copy(values, values + 8, partial.begin());
        size_t i = 8;
        for (; i < n - n % 8; i += 8) {
            for (size_t lane = 0; lane < 8; ++lane) {
                partial[lane] += values[i + lane];
            }
        }
        double sum = ((partial[0] + partial[1]) + (partial[2] + partial[3])) +
                     ((partial[4] + partial[5]) + (partial[6] + partial[7]));
        for (; i < n; ++i) {
            sum += values[i];
        }
        return sum;
    }
    size_t half = n / 2;
    half -= half % 8;
    return pairwise_sum(values, half) + pairwise_sum(values + half, n - half);
}

// rint(x) in the default rounding mode (to nearest, ties to even), as numpy's rint gives it,
// without a call into the C library: adding and taking away 2^52 leaves no fraction.
double nearest_integer(double x) {
#if FLT_EVAL_METHOD != 0
    return std::nearbyint(x);  // sums kept in a wider type would not drop the fraction
#else
    const double magnitude = std::abs(x);
    if (!(magnitude < 0x1p52)) {
        return x;  // already whole (or not finite)
    }
    return std::copysign((magnitude + 0x1p52) - 0x1p52, x);
#endif
}

// Adds a row's windows (see realignment_sums) to a group's sums.
// Counts a unit per point of each window on cancel, window by window: a row of long windows can
// take a while.
void add_row_windows(const Series& row, size_t m, size_t first, size_t step, double bound,
                     double scale, size_t starts, int64_t* sums, uint8_t* usable,
                     std::vector<double>& scaled, std::vector<double>& centred,
                     std::vector<double>& squares, const Cancellation& cancel) {
    double peak = 0.0;
    for (const double value : row) {
        if (std::isfinite(value)) {
            peak = std::max(peak, std::abs(value));
        }
    }
    const double unit = peak > 0.0 && std::isfinite(peak) ? peak : 1.0;
    for (size_t i = 0; i < row.size(); ++i) {
        scaled[i] = row[i] / unit;
    }
    const double points = static_cast<double>(m);
    const double most = std::numeric_limits<double>::max();
    for (size_t j = 0; j < starts; ++j) {
        cancel.count(m);
        const double* window = scaled.data() + first + j * step;
        // The additions to 0.0 are numpy's: a reduction starts from its identity.
        const double mean = (0.0 + pairwise_sum(window, m)) / points;
        for (size_t k = 0; k < m; ++k) {
            centred[k] = window[k] - mean;
            squares[k] = centred[k] * centred[k];
        }
        const double deviation = std::sqrt((0.0 + pairwise_sum(squares.data(), m)) / points);
        const bool fine = std::isfinite(deviation) && deviation > 0.0;
        const double divisor = fine ? deviation : 1.0;
        usable[j] &= static_cast<uint8_t>(fine);
        int64_t* total = sums + j * m;
        for (size_t k = 0; k < m; ++k) {
            double z = centred[k] / divisor;
            if (std::isnan(z)) {
                z = 0.0;
            } else if (std::isinf(z)) {
                z = z > 0.0 ? most : -most;
            }
            z = std::min(std::max(z, -bound), bound);
            total[k] += static_cast<int64_t>(nearest_integer(z * scale));
        }
    }
}

}  // namespace

RealignmentSums realignment_sums(const SeriesSet& rows, const std::vector<size_t>& members,
                                 const std::vector<double>& scales, size_t m, size_t first,
                                 size_t step, double bound, const Cancellation& cancel,
                                 size_t threads) {
    if (m == 0 || step == 0) {
        throw std::invalid_argument("windows of " + std::to_string(m) + " points every " +
                                    std::to_string(step) + ": both must be at least 1");
    }
    const size_t width = rows.empty() ? 0 : rows.front().size();
    for (const Series& row : rows) {
        if (row.size() != width) {
            throw std::invalid_argument(
                "rows must all have the same width: " + std::to_string(row.size()) +
                " points after " + std::to_string(width));
        }
    }
    if (scales.size() != members.size()) {
        throw std::invalid_argument(
            "scales must hold one scale per group: " + std::to_string(scales.size()) + " for " +
            std::to_string(members.size()) + " groups");
    }
    size_t total_rows = 0;
    for (size_t g = 0; g < members.size(); ++g) {
        if (members[g] > rows.size() - total_rows) {
            throw std::invalid_argument("members must add up to the rows: more than " +
                                        std::to_string(rows.size()) + " rows by group " +
                                        std::to_string(g));
        }
        total_rows += members[g];
        const double largest = std::abs(bound * scales[g]) * static_cast<double>(members[g]);
        if (!(largest < 0x1p62)) {
            throw std::invalid_argument("bound x scale x members must stay below 2^62, not " +
                                        std::to_string(largest) + " in group " + std::to_string(g));
        }
    }
    if (total_rows != rows.size()) {
        throw std::invalid_argument(
            "members must add up to the rows: " + std::to_string(total_rows) + " for " +
            std::to_string(rows.size()) + " rows");
    }
    RealignmentSums out;
    out.starts = width >= m + first ? (width - m - first) / step + 1 : 0;
    out.sums.assign(members.size() * out.starts * m, 0);
    out.usable.assign(members.size() * out.starts, 1);
    if (out.starts == 0) {
        return out;  // no window: m may be far longer than the rows, and nothing is allocated for
                     // it
    }
    // One task per group: each adds up its own members' windows into its own sums.
    std::vector<size_t> first_rows(members.size() + 1, 0);
    for (size_t g = 0; g < members.size(); ++g) {
        first_rows[g + 1] = first_rows[g] + members[g];
    }
    parallel_for(members.size(), threads, cancel, [&](size_t g, const Cancellation& local) {
        std::vector<double> scaled(width);
        std::vector<double> centred(m);
        std::vector<double> squares(m);
        for (size_t row = first_rows[g]; row < first_rows[g + 1]; ++row) {
            local.count(width);
            add_row_windows(rows[row], m, first, step, bound, scales[g], out.starts,
                            out.sums.data() + g * out.starts * m,
                            out.usable.data() + g * out.starts, scaled, centred, squares, local);
        }
    });
    return out;
}

}  // namespace zorp
