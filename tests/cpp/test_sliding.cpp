#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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

// The window-by-window scan the kernel's blocks must equal bit for bit: each dot product summed
// in point order, times the weight, windows of weight 0 skipped, the first of equals kept.
void expect_scan(const SeriesSet& values, const SeriesSet& weights, const SeriesSet& shapes,
                 const BestMatches& best) {
    const size_t m = shapes.front().size();
    for (size_t c = 0; c < shapes.size(); ++c) {
        for (size_t i = 0; i < values.size(); ++i) {
            double top = minus_infinity;
            int64_t at = 0;
            for (size_t j = 0; j < weights[i].size(); ++j) {
                if (weights[i][j] > 0.0) {
                    double dot = 0.0;
                    for (size_t k = 0; k < m; ++k) {
                        dot += shapes[c][k] * values[i][j + k];
                    }
                    const double r = dot * weights[i][j];
                    if (r > top) {
                        top = r;
                        at = static_cast<int64_t>(j);
                    }
                }
            }
            const size_t entry = c * values.size() + i;
            ASSERT_EQ(best.starts[entry], at) << "shape " << c << ", series " << i;
            ASSERT_EQ(std::signbit(best.correlations[entry]), std::signbit(top));
            ASSERT_EQ(best.correlations[entry], top) << "shape " << c << ", series " << i;
        }
    }
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

// The kernel equals the scan with ties and zeros. Long shapes skip the windows their bounds
// rule out: a random walk with the shapes planted in it
// (most windows then skipped) and more windows than one chunk of bounds.
class BestCorrelationsBitForBit : public ::testing::TestWithParam<size_t> {};

TEST_P(BestCorrelationsBitForBit, EqualAScanWindowByWindowWithTiesAndZeros) {
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> small(-2, 2);
    std::normal_distribution<double> step(0.0, 1.0);
    const size_t m = GetParam();
    SeriesSet values;
    SeriesSet weights;
    for (size_t points : {600u, 7u, 300u, 1030u, 2600u}) {
        // Small whole numbers repeat: many windows tie exactly, many dot products are 0.
        Series row(points);
        for (double& value : row) {
            value = small(rng) * 0.5;
        }
        if (points > 2000) {
            double level = 0.0;
            for (double& value : row) {
                level += step(rng);
                value = level;
            }
        }
        Series weight(points < m ? 0 : points - m + 1);
        for (size_t j = 0; j < weight.size(); ++j) {
            weight[j] = j % 7 == 2 ? 0.0 : (j % 3 == 0 ? 0.25 : 0.125);
        }
        values.push_back(row);
        weights.push_back(weight);
    }
    SeriesSet shapes;
    for (size_t c = 0; c < 6; ++c) {
        Series shape(m);
        for (double& value : shape) {
            value = small(rng);
        }
        shapes.push_back(shape);
    }
    shapes.push_back(Series(m, 0.0));  // every product 0
    Series spike(m, 0.0);
    spike[0] = -1.0;
    shapes.push_back(spike);
    // Two shapes planted into the walk, one twice (two windows tie exactly), at full weight; and
    // into the noise of 1,030 points, where the shapes' segment means say little of them.
    for (size_t c : {0u, 1u}) {
        for (size_t at : {c == 0 ? 100u : 900u, c == 0 ? 1500u : 2200u}) {
            std::copy(shapes[c].begin(), shapes[c].end(), values.back().begin() + at);
            weights.back()[at] = 0.25;
        }
        if (m < 1030) {
            std::copy(shapes[c].begin(), shapes[c].end(), values[3].begin() + 500 * c);
        }
    }
    expect_scan(values, weights, shapes, best_correlations(values, weights, shapes));
    // A group of one shape (a search by example, a set's last shape) is matched on its own path.
    for (const size_t count : {1u, 5u}) {
        const SeriesSet some(shapes.begin(), shapes.begin() + static_cast<ptrdiff_t>(count));
        expect_scan(values, weights, some, best_correlations(values, weights, some));
    }
}

INSTANTIATE_TEST_SUITE_P(ShapeLengths, BestCorrelationsBitForBit,
                         ::testing::Values(6u, 8u, 37u, 64u, 100u, 128u, 200u, 256u));

// Many series: each task matches a batch of groups of shapes, making a chunk's bounds once for
// them all. In white noise the bounds stop paying within a chunk and the group's windows are
// then matched whole, in order: a copy planted after the first chunk, or a tie with a window
// of the first chunk, is still found, and first. Any thread count gives the same tables.
class BestCorrelationsInBatches : public ::testing::TestWithParam<size_t> {};

TEST_P(BestCorrelationsInBatches, EqualTheScanWhetherTheBoundsPayOrNot) {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    const size_t m = GetParam();
    SeriesSet values;
    SeriesSet weights;
    for (size_t i = 0; i < 18; ++i) {
        Series row = random_series(rng, 3000 + 97 * i);
        if (i % 2 == 1) {  // a walk
            for (size_t t = 1; t < row.size(); ++t) {
                row[t] += row[t - 1];
            }
        }
        values.push_back(row);
    }
    SeriesSet shapes;
    for (size_t c = 0; c < 37; ++c) {  // ten groups: a batch of eight and one of two
        shapes.push_back(znormalised(random_series(rng, m)));
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const Series& shape = shapes[(3 * i) % shapes.size()];
        for (size_t at : {1500 + 11 * i, 2500 + 5 * i}) {  // past the first chunk; twice: a tie
            std::copy(shape.begin(), shape.end(), values[i].begin() + static_cast<ptrdiff_t>(at));
        }
        weights.push_back(weights_of(values[i], m));
    }
    const Cancellation none;
    const BestMatches one = best_correlations(values, weights, shapes, none, 1);
    expect_scan(values, weights, shapes, one);
    for (size_t threads : {2u, 3u, 8u}) {
        const BestMatches many = best_correlations(values, weights, shapes, none, threads);
        EXPECT_EQ(many.starts, one.starts) << threads << " threads";
        EXPECT_EQ(many.correlations, one.correlations) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(ShapeLengths, BestCorrelationsInBatches,
                         ::testing::Values(64u, 100u, 160u));

// The bounds are taken eight windows at a time and compared with a bar a block of 32 at a time:
// a copy among a series' last windows, past the last whole eight or the last whole block, or
// the very last window, is found where the walk around it is ruled out.
TEST(BestCorrelationsEdges, ACopyAmongTheLastWindowsIsFound) {
    std::mt19937_64 rng(17);
    const size_t m = 100;
    Series walk = random_series(rng, m);  // a walk's shape: the bounds rule out most windows
    for (size_t k = 1; k < m; ++k) {
        walk[k] += walk[k - 1];
    }
    const Series shape = znormalised(walk);
    for (const size_t tail : {1u, 5u, 8u, 13u, 31u, 33u}) {
        for (const size_t back : {0u, 3u, 7u}) {
            if (back >= tail) {
                continue;
            }
            Series values = random_series(rng, 2048 + tail + m - 1);
            for (size_t t = 1; t < values.size(); ++t) {
                values[t] += values[t - 1];
            }
            const size_t at = 2048 + tail - 1 - back;
            std::copy(shape.begin(), shape.end(), values.begin() + static_cast<ptrdiff_t>(at));
            const Series weights = weights_of(values, m);
            const BestMatches best = best_correlations({values}, {weights}, {shape, shape});
            expect_scan({values}, {weights}, {shape, shape}, best);
            EXPECT_EQ(best.starts[0], static_cast<int64_t>(at)) << tail << " " << back;
        }
    }
}

// A near copy of the shape ahead of the copy itself raises the bar to just below the copy's
// correlation: a bound that falls short of a correlation by a fraction of it, or by rounding,
// skips the copy. Noise shapes (their segment means say little) and walk shapes.
TEST(BestCorrelationsEdges, ANearCopyAheadDoesNotHideTheCopy) {
    std::mt19937_64 rng(11);
    for (const size_t m : {128u, 200u}) {
        for (const bool walk : {false, true}) {
            Series shape = random_series(rng, m);
            if (walk) {
                for (size_t k = 1; k < m; ++k) {
                    shape[k] += shape[k - 1];
                }
            }
            shape = znormalised(shape);
            for (const double nudge : {1e-3, 1e-9}) {
                Series values = random_series(rng, 3000);
                Series near = shape;
                near[m / 2] += nudge;
                std::copy(near.begin(), near.end(), values.begin() + 300);
                std::copy(shape.begin(), shape.end(), values.begin() + 2000);
                const Series weights = weights_of(values, m);
                const BestMatches best = best_correlations({values}, {weights}, {shape});
                double top = minus_infinity;
                int64_t at = 0;
                for (size_t j = 0; j < weights.size(); ++j) {
                    double dot = 0.0;
                    for (size_t k = 0; k < m; ++k) {
                        dot += shape[k] * values[j + k];
                    }
                    if (weights[j] > 0.0 && dot * weights[j] > top) {
                        top = dot * weights[j];
                        at = static_cast<int64_t>(j);
                    }
                }
                EXPECT_EQ(best.starts[0], at) << m << " points, nudge " << nudge;
                EXPECT_EQ(best.correlations[0], top) << m << " points, nudge " << nudge;
            }
        }
    }
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

// The realignment sums of one group, window by window: each window z-normalised by znormalised
// after scaling its row by the row's largest magnitude, clipped, scaled and rounded.
std::vector<double> plain_sums(const SeriesSet& rows, size_t m, size_t first, size_t step,
                               double bound, double scale) {
    const size_t starts = (rows.front().size() - m - first) / step + 1;
    std::vector<double> sums(starts * m, 0.0);
    for (const Series& row : rows) {
        double peak = 0.0;
        for (const double value : row) {
            peak = std::max(peak, std::abs(value));
        }
        for (size_t j = 0; j < starts; ++j) {
            Series window;
            for (size_t k = 0; k < m; ++k) {
                window.push_back(row[first + j * step + k] / peak);
            }
            const Series shape = znormalised(window);
            for (size_t k = 0; k < m; ++k) {
                sums[j * m + k] +=
                    std::nearbyint(std::min(std::max(shape[k], -bound), bound) * scale);
            }
        }
    }
    return sums;
}

class RealignmentSumsOf : public ::testing::TestWithParam<size_t> {};

TEST_P(RealignmentSumsOf, EqualTheWindowByWindowSumsOfEachGroup) {
    const size_t m = GetParam();
    const size_t step = std::max<size_t>(1, m / 32);
    const size_t first = (m / 2) % step;
    std::mt19937_64 rng(m);
    const std::vector<size_t> members = {3, 1, 5};
    const std::vector<double> scales = {0x1p20, 0x1p30, 0x1p12};
    const double bound = std::sqrt(static_cast<double>(m));
    SeriesSet rows;
    for (size_t r = 0; r < 9; ++r) {
        rows.push_back(random_series(rng, m + 2 * (m / 2)));
    }
    const RealignmentSums sums = realignment_sums(rows, members, scales, m, first, step, bound);
    ASSERT_EQ(sums.starts, 2 * ((m / 2) / step) + 1);
    ASSERT_EQ(sums.sums.size(), members.size() * sums.starts * m);
    size_t row = 0;
    for (size_t g = 0; g < members.size(); ++g) {
        const SeriesSet group(rows.begin() + static_cast<ptrdiff_t>(row),
                              rows.begin() + static_cast<ptrdiff_t>(row + members[g]));
        row += members[g];
        const std::vector<double> expected = plain_sums(group, m, first, step, bound, scales[g]);
        for (size_t at = 0; at < expected.size(); ++at) {
            // Sums in another order may round a point the other way: one unit per member.
            EXPECT_NEAR(static_cast<double>(sums.sums[g * expected.size() + at]), expected[at],
                        static_cast<double>(members[g]))
                << "group " << g << ", entry " << at;
        }
        for (size_t j = 0; j < sums.starts; ++j) {
            EXPECT_EQ(sums.usable[g * sums.starts + j], 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, RealignmentSumsOf,
                         ::testing::Values(size_t{4}, size_t{9}, size_t{33}, size_t{64},
                                           size_t{150}, size_t{300}));

TEST(RealignmentSums, TinyAndHugeRowsKeepTheirShape) {
    std::mt19937_64 rng(7);
    const SeriesSet rows = {random_series(rng, 48), random_series(rng, 48)};
    const RealignmentSums plain = realignment_sums(rows, {2}, {0x1p30}, 32, 0, 1, 4.0);
    for (const int exponent : {-1000, -900, 900, 1000}) {
        SeriesSet scaled = rows;
        for (Series& row : scaled) {
            for (double& value : row) {
                value = std::ldexp(value, exponent);  // exact: no sum of them is taken
            }
        }
        EXPECT_EQ(realignment_sums(scaled, {2}, {0x1p30}, 32, 0, 1, 4.0).sums, plain.sums)
            << "values times 2^" << exponent;
    }
}

TEST(RealignmentSums, RoundHalfToEvenAndClip) {
    // Windows of two points are -1 and 1 once z-normalised.
    const SeriesSet rows = {{0.0, 1.0, 0.0}};
    EXPECT_EQ(realignment_sums(rows, {1}, {2.5}, 2, 0, 1, 10.0).sums,
              (std::vector<int64_t>{-2, 2, 2, -2}));
    EXPECT_EQ(realignment_sums(rows, {1}, {3.5}, 2, 0, 1, 10.0).sums,
              (std::vector<int64_t>{-4, 4, 4, -4}));
    EXPECT_EQ(realignment_sums(rows, {1}, {8.0}, 2, 0, 1, 0.25).sums,
              (std::vector<int64_t>{-2, 2, 2, -2}));
    // Windows of four or more points go four points at a time where |bound x scale| < 2^51,
    // one by one beyond: the same roundings and clips both ways.
    const SeriesSet fours = {{0.0, 1.0, 0.0, 1.0, 0.0, 1.0}};  // -1, 1, -1, 1, ...
    EXPECT_EQ(realignment_sums(fours, {1}, {2.5}, 4, 0, 2, 10.0).sums,
              (std::vector<int64_t>{-2, 2, -2, 2, -2, 2, -2, 2}));
    EXPECT_EQ(realignment_sums(fours, {1}, {3.5}, 4, 0, 2, 10.0).sums,
              (std::vector<int64_t>{-4, 4, -4, 4, -4, 4, -4, 4}));
    EXPECT_EQ(realignment_sums(fours, {1}, {8.0}, 4, 0, 2, 0.25).sums,
              (std::vector<int64_t>{-2, 2, -2, 2, -2, 2, -2, 2}));
    const int64_t huge = int64_t{1} << 52;
    EXPECT_EQ(realignment_sums(fours, {1}, {0x1p52}, 4, 0, 2, 4.0).sums,
              (std::vector<int64_t>{-huge, huge, -huge, huge, -huge, huge, -huge, huge}));
}

TEST(RealignmentSums, WindowsWithANanOrWithoutAShapeAreNotUsableAndAddNoShape) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const SeriesSet rows = {{1.0, nan, 3.0, 4.0, 6.0, 6.0, 6.0},
                            {2.0, 1.0, 7.0, 3.0, 5.0, 0.0, 2.0}};
    const RealignmentSums sums = realignment_sums(rows, {1, 1}, {16.0, 16.0}, 3, 0, 1, 2.0);
    ASSERT_EQ(sums.starts, 5u);
    // Group 0: the NaN is in windows 0 and 1, and window 4 is flat.
    EXPECT_EQ(sums.usable, (std::vector<uint8_t>{0, 0, 1, 1, 0, 1, 1, 1, 1, 1}));
    for (const size_t j : {0, 1, 4}) {
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(sums.sums[j * 3 + k], 0) << "window " << j;
        }
    }
    const RealignmentSums endless =
        realignment_sums({{1.0, infinity, 3.0, 4.0}}, {1}, {16.0}, 2, 0, 1, 2.0);
    EXPECT_EQ(endless.usable, (std::vector<uint8_t>{0, 0, 1}));
    // Windows of four points or more, summed four points at a time.
    const RealignmentSums gap =
        realignment_sums({{0.0, 1.0, nan, 1.0, 0.0, 1.0}}, {1}, {16.0}, 4, 0, 1, 2.0);
    EXPECT_EQ(gap.usable, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(gap.sums, std::vector<int64_t>(12, 0));
}

TEST(RealignmentSums, RefusesWhatDoesNotFit) {
    const SeriesSet rows = {Series(8, 1.0), Series(8, 2.0)};
    EXPECT_THROW(realignment_sums(rows, {2}, {1.0}, 0, 0, 1, 1.0), std::invalid_argument);
    EXPECT_THROW(realignment_sums(rows, {2}, {1.0}, 4, 0, 0, 1.0), std::invalid_argument);
    EXPECT_THROW(realignment_sums(rows, {1}, {1.0}, 4, 0, 1, 1.0), std::invalid_argument);
    EXPECT_THROW(realignment_sums(rows, {2}, {1.0, 1.0}, 4, 0, 1, 1.0), std::invalid_argument);
    EXPECT_THROW(realignment_sums(rows, {2}, {0x1p62}, 4, 0, 1, 1.0), std::invalid_argument);
    EXPECT_THROW(realignment_sums({Series(8, 1.0), Series(7, 1.0)}, {2}, {1.0}, 4, 0, 1, 1.0),
                 std::invalid_argument);
    // Rows shorter than a window have none.
    EXPECT_EQ(realignment_sums(rows, {2}, {1.0}, 9, 0, 1, 1.0).starts, 0u);
}

}  // namespace
}  // namespace zorp
