#include "realignment.h"

#include <algorithm>
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

// Four doubles, and four 64-bit integers: a window's points four at a time.
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
typedef int64_t Longs __attribute__((vector_size(4 * sizeof(int64_t))));

}  // namespace

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
template <typename Tag>
inline __attribute__((always_inline)) void add_row_windows_with(
    const Series& row, size_t m, size_t first, size_t step, double bound, double scale,
    size_t starts, int64_t* sums, uint8_t* usable, std::vector<double>& scaled,
    std::vector<double>& centred, std::vector<double>& squares, const Cancellation& cancel) {
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
#if FLT_EVAL_METHOD == 0
    const bool vectors = std::abs(bound * scale) < 0x1p51;
    int64_t shift_bit_pattern = 0;
    const double shift_value = 0x1.8p52;
    std::memcpy(&shift_bit_pattern, &shift_value, sizeof shift_value);
    Longs shift_bits = {0, 0, 0, 0};
    shift_bits += shift_bit_pattern;
#endif
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
        size_t k = 0;
#if FLT_EVAL_METHOD == 0
        if (vectors) {
            // Four points at a time, each as below: a NaN becomes 0 and an infinity the bound
            // (as the largest double would, once clamped); |z x scale| < 2^51, where adding
            // 1.5 x 2^52 rounds it to the nearest integer, ties to even, as nearest_integer,
            // and leaves that integer in the low bits.
            const Quad zero = {0.0, 0.0, 0.0, 0.0};
            const Quad high = zero + bound;
            const Quad low = zero - bound;
            const Quad times = zero + scale;
            const Quad shift = zero + 0x1.8p52;
            for (; k + 4 <= m; k += 4) {
                Quad z;
                std::memcpy(&z, centred.data() + k, sizeof z);
                z = z / divisor;
                z = z == z ? z : zero;
                z = z < low ? low : z;
                z = high < z ? high : z;
                const Quad shifted = z * times + shift;
                Longs whole;
                std::memcpy(&whole, &shifted, sizeof whole);
                Longs sum;
                std::memcpy(&sum, total + k, sizeof sum);
                sum += whole - shift_bits;
                std::memcpy(total + k, &sum, sizeof sum);
            }
        }
#endif
        for (; k < m; ++k) {
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

using AddRowWindows = void (*)(const Series&, size_t, size_t, size_t, double, double, size_t,
                               int64_t*, uint8_t*, std::vector<double>&, std::vector<double>&,
                               std::vector<double>&, const Cancellation&);

struct Baseline {};

__attribute__((noinline)) void add_row_windows_baseline(
    const Series& row, size_t m, size_t first, size_t step, double bound, double scale,
    size_t starts, int64_t* sums, uint8_t* usable, std::vector<double>& scaled,
    std::vector<double>& centred, std::vector<double>& squares, const Cancellation& cancel) {
    add_row_windows_with<Baseline>(row, m, first, step, bound, scale, starts, sums, usable, scaled,
                                   centred, squares, cancel);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loop on the wider vectors of processors that have them, where comparisons and clips
// stay on vectors (the baseline's take the values apart). Without fused multiply-add (not
// enabled here) every value is rounded as in the baseline: the same sums on every processor.
struct Wide {};

__attribute__((noinline, target("avx2"))) void add_row_windows_wide(
    const Series& row, size_t m, size_t first, size_t step, double bound, double scale,
    size_t starts, int64_t* sums, uint8_t* usable, std::vector<double>& scaled,
    std::vector<double>& centred, std::vector<double>& squares, const Cancellation& cancel) {
    add_row_windows_with<Wide>(row, m, first, step, bound, scale, starts, sums, usable, scaled,
                               centred, squares, cancel);
}

AddRowWindows add_row_windows_for_this_processor() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? add_row_windows_wide : add_row_windows_baseline;
}
#else
AddRowWindows add_row_windows_for_this_processor() {
    return add_row_windows_baseline;
}
#endif

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
    const AddRowWindows add_row_windows = add_row_windows_for_this_processor();
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
