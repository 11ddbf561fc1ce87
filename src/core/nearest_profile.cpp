#include "nearest_profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "parallel.h"
#include "vector_clones.h"

namespace zorp {

namespace {

// Diagonals walked side by side by one task: independent chains of additions the processor
// overlaps, and neighbouring columns read and written together.
constexpr size_t lanes = 32;
// Rows after which a diagonal's co-deviation is computed afresh (the cost of one cell in 1 /
// refresh of m products).
constexpr size_t refresh = 2048;

// Four doubles side by side: one register where the processor has 256-bit vectors, two of 128
// bits elsewhere; each lane computes what scalar code would, operation for operation (no fused
// multiply-add), so that every build gives the same bits.
using Quad = double __attribute__((vector_size(4 * sizeof(double))));

// No Quad crosses a call out of this file, whose passing would differ between the builds of the
// walk (the compiler warns of that for the inline helpers, to the end of the file).
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

inline Quad splat(double x) {
    return Quad{x, x, x, x};
}
inline Quad load(const double* at) {
    Quad out;
    std::memcpy(&out, at, sizeof(out));
    return out;
}
inline void store(double* at, const Quad& value) {
    std::memcpy(at, &value, sizeof(value));
}
// x where x > y, else y (y where x is NaN), lane by lane.
inline Quad higher(const Quad& x, const Quad& y) {
    return x > y ? x : y;
}

// What a step along the diagonals reads: per window, the half change of the point leaving for
// the one entering, the deviations of both from their windows' means, and the scales of a
// co-deviation into a correlation (r = co x a_i x b_j).
struct Steps {
    const double* change;
    const double* deviation;
    const double* a;
    const double* b;
};

// Rows top to stop - 1 of the `lanes` diagonals from d0 (every one with a cell on each of those
// rows), from their co-deviations at row top (co, updated to row stop - 1): each cell's
// correlation raises the best of both its windows (column).
ZORP_VECTOR_CLONES
void walk_rows(const Steps& steps, size_t d0, size_t top, size_t stop, double* co_values,
               double* column) {
    constexpr size_t quads = lanes / 4;
    Quad co[quads];
    for (size_t q = 0; q < quads; ++q) {
        co[q] = load(co_values + 4 * q);
    }
    for (size_t i = top; i < stop; ++i) {
        const size_t j0 = i + d0;
        if (i > top) {
            const Quad c = splat(steps.change[i - 1]);
            const Quad g = splat(steps.deviation[i - 1]);
            for (size_t q = 0; q < quads; ++q) {
                co[q] += c * load(steps.deviation + j0 - 1 + 4 * q) +
                         load(steps.change + j0 - 1 + 4 * q) * g;
            }
        }
        const Quad a = splat(steps.a[i]);
        Quad row = splat(-std::numeric_limits<double>::infinity());
        for (size_t q = 0; q < quads; ++q) {
            const Quad r = co[q] * a * load(steps.b + j0 + 4 * q);
            row = higher(r, row);
            store(column + j0 + 4 * q, higher(r, load(column + j0 + 4 * q)));
        }
        double best = column[i];
        for (size_t k = 0; k < 4; ++k) {
            best = row[k] > best ? row[k] : best;
        }
        column[i] = best;
    }
    for (size_t q = 0; q < quads; ++q) {
        store(co_values + 4 * q, co[q]);
    }
}

// The co-deviations sum((a - mean_a)(b - mean_b)) over m points of window i (a) with count
// windows from j0 on (b), into co: four windows at a time, each sum in point order from 0 as
// one pair alone would take it.
ZORP_VECTOR_CLONES
void co_deviations(const double* values, const double* means, size_t i, size_t j0, size_t count,
                   size_t m, double* co) {
    const double* a = values + i;
    const double mean_a = means[i];
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const double* b = values + j0 + k;
        const Quad mean_low = load(means + j0 + k);
        const Quad mean_high = load(means + j0 + k + 4);
        Quad low = splat(0.0);
        Quad high = splat(0.0);
        for (size_t t = 0; t < m; ++t) {
            const Quad deviation_a = splat(a[t] - mean_a);
            low += deviation_a * (load(b + t) - mean_low);
            high += deviation_a * (load(b + t + 4) - mean_high);
        }
        store(co + k, low);
        store(co + k + 4, high);
    }
    for (; k < count; ++k) {
        const double* b = values + j0 + k;
        const double mean_b = means[j0 + k];
        double sum = 0.0;
        for (size_t t = 0; t < m; ++t) {
            sum += (a[t] - mean_a) * (b[t] - mean_b);
        }
        co[k] = sum;
    }
}

}  // namespace

double nearest_profile_cells(size_t windows, size_t exclusion) {
    if (windows <= exclusion + 1) {
        return 0.0;
    }
    const double count = static_cast<double>(windows - exclusion - 1);  // diagonals
    return count * (count + 1.0) / 2.0;
}

NearestProfile nearest_profile(const std::vector<double>& values,
                               const std::vector<double>& weights, size_t m, size_t exclusion,
                               const Cancellation& cancel, size_t threads) {
    NearestProfile out;
    if (m == 0 || values.size() < m || weights.size() != values.size() - m + 1) {
        return out;
    }
    const size_t windows = weights.size();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Window means (summed directly: a running sum would carry its rounding along the series),
    // and what each step along a diagonal adds: the point entering less the point leaving, and
    // both points' deviations from their windows' means.
    std::vector<double> means(windows);
    for (size_t i = 0; i < windows; ++i) {
        double sum = 0.0;
        for (size_t k = 0; k < m; ++k) {
            sum += values[i + k];
        }
        means[i] = sum / static_cast<double>(m);
    }
    std::vector<double> half_change(windows, 0.0);
    std::vector<double> deviations(windows, 0.0);
    for (size_t i = 0; i + 1 < windows; ++i) {
        half_change[i] = (values[i + m] - values[i]) / 2.0;
        deviations[i] = (values[i + m] - means[i + 1]) + (values[i] - means[i]);
    }
    // r = co-deviation x (m w_a) x w_b; NaN for a window that never matches, so that no
    // comparison takes it.
    std::vector<double> scale_a(windows), scale_b(windows);
    for (size_t i = 0; i < windows; ++i) {
        const bool usable = weights[i] > 0.0;
        scale_a[i] = usable ? static_cast<double>(m) * weights[i] : nan;
        scale_b[i] = usable ? weights[i] : nan;
    }
    const size_t first_diagonal = exclusion + 1;
    const size_t diagonals = windows > first_diagonal ? windows - first_diagonal : 0;
    const size_t groups = (diagonals + lanes - 1) / lanes;
    const size_t stripes = std::max<size_t>(1, std::min(threads, groups));
    const double lowest = -std::numeric_limits<double>::infinity();
    // Each stripe keeps its own best correlation per window (the highest is the same whichever
    // stripe saw it); where the best is, is found afterwards for the windows that need it.
    std::vector<std::vector<double>> each(stripes);
    parallel_for(stripes, threads, cancel, [&](size_t stripe, const Cancellation& local) {
        std::vector<double> best(windows, lowest);
        const double* b = scale_b.data();
        double* column = best.data();
        const Steps steps{half_change.data(), deviations.data(), scale_a.data(), b};
        double co[lanes];
        for (size_t group = stripe; group < groups; group += stripes) {
            const size_t d0 = first_diagonal + group * lanes;
            const size_t width = std::min(lanes, windows - d0);  // diagonals in this group
            const size_t rows = windows - d0;                    // rows of its first diagonal
            // Rows where every diagonal of the group has a cell: the walk proper.
            const size_t full = width == lanes ? rows - (lanes - 1) : 0;
            for (size_t top = 0; top < full; top += refresh) {
                const size_t stop = std::min(full, top + refresh);
                co_deviations(values.data(), means.data(), top, top + d0, lanes, m, co);
                local.count(lanes * m + (stop - top) * lanes);
                walk_rows(steps, d0, top, stop, co, column);
            }
            // The last rows, where the group's diagonals end one after another: each cell alone.
            for (size_t i = full; i < rows; ++i) {
                const size_t count = std::min(width, windows - (i + d0));
                co_deviations(values.data(), means.data(), i, i + d0, count, m, co);
                for (size_t k = 0; k < count; ++k) {
                    const size_t j = i + d0 + k;
                    const double r = co[k] * scale_a[i] * b[j];
                    column[i] = r > column[i] ? r : column[i];
                    column[j] = r > column[j] ? r : column[j];
                }
                local.count(width * m);
            }
        }
        each[stripe] = std::move(best);
    });
    out.correlations.assign(windows, nan);
    for (size_t i = 0; i < windows; ++i) {
        double r = lowest;
        for (const std::vector<double>& one : each) {
            r = one[i] > r ? one[i] : r;
        }
        if (r > lowest) {
            out.correlations[i] = r;
        }
    }
    return out;
}

}  // namespace zorp
