#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "proposals.h"
#include "sliding.h"

namespace zorp {
namespace {

constexpr double minus_infinity = -std::numeric_limits<double>::infinity();

// The weights the package gives a series: 1 / (m × population deviation) for every window,
// 0 for a flat one.
Series weights_of(const Series& values, size_t m) {
    Series weights;
    for (size_t j = 0; j + m <= values.size(); ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < m; ++k) {
            sum += values[j + k];
        }
        const double mean = sum / static_cast<double>(m);
        double squares = 0.0;
        for (size_t k = 0; k < m; ++k) {
            squares += (values[j + k] - mean) * (values[j + k] - mean);
        }
        const double deviation = std::sqrt(squares / static_cast<double>(m));
        weights.push_back(deviation > 1e-9 ? 1.0 / (static_cast<double>(m) * deviation) : 0.0);
    }
    return weights;
}

// Pearson correlation of a z-normalised shape with one window, window by window.
double correlation(const Series& shape, const Series& values, size_t start) {
    const Series window(values.begin() + static_cast<ptrdiff_t>(start),
                        values.begin() + static_cast<ptrdiff_t>(start + shape.size()));
    const Series normalised = znormalised(window);
    double dot = 0.0;
    for (size_t k = 0; k < shape.size(); ++k) {
        dot += shape[k] * normalised[k];
    }
    return dot / static_cast<double>(shape.size());
}

Series random_series(std::mt19937_64& rng, size_t points) {
    std::normal_distribution<double> normal(0.0, 1.0);
    Series values(points);
    for (double& value : values) {
        value = normal(rng);
    }
    return values;
}

// Shape counts around the four lanes, and series longer than one block of windows.
class BestCorrelations : public ::testing::TestWithParam<int> {};

TEST_P(BestCorrelations, EqualTheWindowByWindowMaximum) {
    std::mt19937_64 rng(static_cast<uint64_t>(GetParam()));
    const size_t m = 12;
    SeriesSet values;
    SeriesSet weights;
    for (size_t points : {700u, 40u, 12u, 300u}) {
        values.push_back(random_series(rng, points));
        weights.push_back(weights_of(values.back(), m));
    }
    SeriesSet shapes;
    for (int c = 0; c < GetParam(); ++c) {
        shapes.push_back(znormalised(random_series(rng, m)));
    }
    const BestMatches best = best_correlations(values, weights, shapes);
    ASSERT_EQ(best.starts.size(), shapes.size() * values.size());
    for (size_t c = 0; c < shapes.size(); ++c) {
        for (size_t i = 0; i < values.size(); ++i) {
            double top = minus_infinity;
            for (size_t j = 0; j + m <= values[i].size(); ++j) {
                top = std::max(top, correlation(shapes[c], values[i], j));
            }
            const size_t at = c * values.size() + i;
            EXPECT_NEAR(best.correlations[at], top, 1e-12) << "shape " << c << ", series " << i;
            EXPECT_NEAR(correlation(shapes[c], values[i], static_cast<size_t>(best.starts[at])),
                        top, 1e-12);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ShapeCounts, BestCorrelations, ::testing::Values(1, 3, 4, 5, 9));

TEST(BestCorrelationsEdges, WindowsOfWeightZeroNeverMatchAndShortSeriesHaveNone) {
    const Series shape = znormalised({0.0, 1.0, 0.0, -1.0});
    const Series values = {0.0, 1.0, 0.0, -1.0, 0.0, 1.0, 0.0, -1.0, 5.0};
    Series weights = weights_of(values, 4);
    const BestMatches all = best_correlations({values, {1.0, 2.0}}, {weights, {}}, {shape});
    // The first of two perfect windows wins.
    EXPECT_EQ(all.starts[0], 0);
    EXPECT_NEAR(all.correlations[0], 1.0, 1e-12);
    // A series shorter than the shape: no window, start 0, -infinity.
    EXPECT_EQ(all.starts[1], 0);
    EXPECT_EQ(all.correlations[1], minus_infinity);
    weights[0] = 0.0;
    const BestMatches masked = best_correlations({values}, {weights}, {shape});
    EXPECT_EQ(masked.starts[0], 4);
    const BestMatches none =
        best_correlations({values}, {Series(weights.size(), 0.0)}, {shape, shape});
    EXPECT_EQ(none.correlations, (Series{minus_infinity, minus_infinity}));
}

TEST(BestCorrelationsEdges, RefusesTablesThatDoNotFit) {
    const Series values(10, 1.0);
    EXPECT_THROW(best_correlations({values}, {}, {Series(4, 0.0)}), std::invalid_argument);
    EXPECT_THROW(best_correlations({values}, {Series(6, 1.0)}, {Series(4, 0.0)}),
                 std::invalid_argument);
    EXPECT_THROW(best_correlations({values}, {Series(7, 1.0)}, {Series(4, 0.0), Series(3, 0.0)}),
                 std::invalid_argument);
    EXPECT_TRUE(best_correlations({values}, {Series(7, 1.0)}, {}).starts.empty());
}

}  // namespace
}  // namespace zorp
