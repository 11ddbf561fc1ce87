#include "sliding.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

namespace zorp {

namespace {

// Shapes are matched four at a time, over blocks of windows whose four rows of dot products
// stay in the first-level cache: every value read serves four shapes.
constexpr size_t lanes = 4;
constexpr size_t block = 256;

using Dots = std::array<std::array<double, block>, lanes>;

// Adds, for each of count windows starting at values[0 .. count), the dot products with the four
// shape rows (each of m values, one after the other in shapes). Each sum takes its terms in
// point order; the loop over windows runs on vectors.
__attribute__((noinline)) void add_dots(const double* __restrict values, size_t count,
                                        const double* __restrict shapes, size_t m,
                                        Dots& __restrict dots) {
    for (auto& row : dots) {
        std::fill_n(row.begin(), count, 0.0);
    }
    double* __restrict d0 = dots[0].data();
    double* __restrict d1 = dots[1].data();
    double* __restrict d2 = dots[2].data();
    double* __restrict d3 = dots[3].data();
    for (size_t k = 0; k < m; ++k) {
        const double q0 = shapes[k];
        const double q1 = shapes[m + k];
        const double q2 = shapes[2 * m + k];
        const double q3 = shapes[3 * m + k];
        const double* __restrict x = values + k;
        for (size_t j = 0; j < count; ++j) {
            d0[j] += q0 * x[j];
            d1[j] += q1 * x[j];
            d2[j] += q2 * x[j];
            d3[j] += q3 * x[j];
        }
    }
}

}  // namespace

BestMatches best_correlations(const SeriesSet& values, const SeriesSet& weights,
                              const SeriesSet& shapes) {
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
    Dots dots{};
    for (size_t i = 0; i < series; ++i) {
        const size_t windows = weights[i].size();
        const double* weight = weights[i].data();
        for (size_t group = 0; group < groups; ++group) {
            std::array<double, lanes> top;
            top.fill(-std::numeric_limits<double>::infinity());
            std::array<int64_t, lanes> at{};
            for (size_t from = 0; from < windows; from += block) {
                const size_t count = std::min(block, windows - from);
                add_dots(values[i].data() + from, count, rows.data() + group * lanes * m, m, dots);
                for (size_t lane = 0; lane < lanes; ++lane) {
                    for (size_t j = 0; j < count; ++j) {
                        if (weight[from + j] > 0.0) {
                            const double r = dots[lane][j] * weight[from + j];
                            if (r > top[lane]) {
                                top[lane] = r;
                                at[lane] = static_cast<int64_t>(from + j);
                            }
                        }
                    }
                }
            }
            for (size_t lane = 0; lane < lanes; ++lane) {
                const size_t c = group * lanes + lane;
                if (c < shapes.size()) {
                    best.starts[c * series + i] = at[lane];
                    best.correlations[c * series + i] = top[lane];
                }
            }
        }
    }
    return best;
}

}  // namespace zorp
