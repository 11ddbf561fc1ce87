#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "discords.h"
#include "nearest_profile.h"

namespace zorp {
namespace {

struct Prepared {
    std::vector<double> values;
    std::vector<double> weights;  // 1 / (m x deviation), 0 for a window with a missing point
};

// A random walk (or white noise) with a few missing points (set to 0, their windows weighted 0).
Prepared walk(uint32_t seed, size_t n, size_t m, bool noise = false) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> step;
    Prepared series;
    double at = 0.0;
    std::vector<char> missing(n, 0);
    for (size_t i = 0; i < n; ++i) {
        at = noise ? step(random) : at + step(random);
        series.values.push_back(at);
    }
    for (int gap = 0; gap < 3; ++gap) {
        const size_t where = random() % n;
        missing[where] = 1;
        series.values[where] = 0.0;
    }
    for (size_t x = 0; x + m <= n; ++x) {
        double mean = 0.0;
        bool whole = true;
        for (size_t k = 0; k < m; ++k) {
            mean += series.values[x + k];
            whole = whole && !missing[x + k];
        }
        mean /= static_cast<double>(m);
        double variance = 0.0;
        for (size_t k = 0; k < m; ++k) {
            variance += (series.values[x + k] - mean) * (series.values[x + k] - mean);
        }
        const double deviation = std::sqrt(variance / static_cast<double>(m));
        series.weights.push_back(
            whole && deviation > 0.0 ? 1.0 / (static_cast<double>(m) * deviation) : 0.0);
    }
    return series;
}

// Every window's nearest neighbour beyond the zone, window by window; -1 where it has none.
std::vector<double> nearest_all(const Prepared& series, size_t m, size_t exclusion) {
    const size_t windows = series.weights.size();
    std::vector<double> nearest(windows, -1.0);
    for (size_t j = 0; j < windows; ++j) {
        if (!(series.weights[j] > 0.0)) {
            continue;
        }
        double best = std::numeric_limits<double>::infinity();
        for (size_t x = 0; x < windows; ++x) {
            const size_t apart = x > j ? x - j : j - x;
            if (apart <= exclusion || !(series.weights[x] > 0.0)) {
                continue;
            }
            double mj = 0.0, mx = 0.0;
            for (size_t k = 0; k < m; ++k) {
                mj += series.values[j + k];
                mx += series.values[x + k];
            }
            mj /= static_cast<double>(m);
            mx /= static_cast<double>(m);
            double dot = 0.0;
            for (size_t k = 0; k < m; ++k) {
                dot += (series.values[j + k] - mj) * (series.values[x + k] - mx);
            }
            const double r = std::clamp(
                dot * series.weights[j] * series.weights[x] * static_cast<double>(m), -1.0, 1.0);
            best = std::min(best, std::sqrt(2.0 * (1.0 - r)));
        }
        nearest[j] = std::isinf(best) ? -1.0 : best;
    }
    return nearest;
}

// Walks (searched window by window) and white noise (where the search foretells its cost too
// high and reads the profile instead).
TEST(Discords, AreTheWindowsFarthestFromTheirNearestNeighbourWhateverTheThreads) {
    for (uint32_t seed = 0; seed < 24; ++seed) {
        const size_t m = 4 + seed % 13, n = 150 + 37 * (seed % 12), exclusion = (m + 3) / 4;
        const size_t top = 3;
        const Prepared series = walk(seed, n, m, seed >= 12);
        std::vector<double> nearest = nearest_all(series, m, exclusion);
        std::vector<int64_t> expected;
        while (expected.size() < top) {
            const auto at = std::max_element(nearest.begin(), nearest.end()) - nearest.begin();
            if (nearest[static_cast<size_t>(at)] < 0.0) {
                break;
            }
            expected.push_back(at);
            for (int64_t x = std::max<int64_t>(0, at - static_cast<int64_t>(m) + 1);
                 x < std::min<int64_t>(static_cast<int64_t>(nearest.size()),
                                       at + static_cast<int64_t>(m));
                 ++x) {
                nearest[static_cast<size_t>(x)] = -1.0;
            }
        }
        const double unlimited = std::numeric_limits<double>::infinity();
        const Discords searched = *pruned_discords(series.values, series.weights, m, exclusion, top,
                                                   Cancellation(), 1, unlimited);
        for (size_t threads : {1, 2, 8}) {
            // The search window by window, the profile, and the choice between them.
            const Discords profiled = discords_from_profile(
                series.values, series.weights, m, exclusion, top, Cancellation(), threads);
            EXPECT_EQ(profiled.starts, searched.starts) << "seed " << seed;
            EXPECT_EQ(profiled.neighbours, searched.neighbours) << "seed " << seed;
            // Both take the distances from the same products, on vectors or one by one: the
            // same bits.
            EXPECT_EQ(profiled.distances, searched.distances) << "seed " << seed;
            const Discords found = within_discords(series.values, series.weights, m, exclusion, top,
                                                   Cancellation(), threads);
            EXPECT_EQ(found.starts, expected) << "seed " << seed << ", threads " << threads;
            ASSERT_EQ(found.neighbours.size(), found.starts.size());
            for (size_t k = 0; k < found.starts.size(); ++k) {
                const int64_t apart = std::abs(found.neighbours[k] - found.starts[k]);
                EXPECT_GT(apart, static_cast<int64_t>(exclusion));
            }
        }
    }
}

TEST(Discords, TheSearchGivesUpPastItsBudget) {
    const Prepared series = walk(4, 300, 16, true);
    EXPECT_FALSE(pruned_discords(series.values, series.weights, 16, 4, 3, Cancellation(), 1, 0.0));
    EXPECT_TRUE(pruned_discords(series.values, series.weights, 16, 4, 3, Cancellation(), 1,
                                std::numeric_limits<double>::infinity()));
}

// White noise prunes little: the search foretells that from its first windows and gives up long
// before its budget is spent (the budget within_discords gives it, the profile's cost). A walk
// that prunes most windows, costing well under that budget, still finishes within it, as it does
// with none. (Measured on 10^5 points: noise gives up after 0.16 to 0.27 of the budget; walks
// with missing points finish after 0.39 to 0.89, this one 0.39.)
TEST(Discords, TheSearchForetellsItsCostAndGivesUpEarlyOnNoise) {
    const size_t m = 100, exclusion = 25, n = 100000;
    const double budget = 0.45 * nearest_profile_cells(n - m + 1, exclusion);
    for (uint32_t seed = 0; seed < 2; ++seed) {
        const Prepared noise = walk(seed, n, m, true);
        double spent = 0.0;
        EXPECT_FALSE(pruned_discords(noise.values, noise.weights, m, exclusion, 3, Cancellation(),
                                     2, budget, &spent));
        EXPECT_LT(spent, budget / 2) << "seed " << seed;
    }
    const Prepared steps = walk(15, n, m);
    double unlimited_spent = 0.0;
    const auto unlimited =
        pruned_discords(steps.values, steps.weights, m, exclusion, 3, Cancellation(), 2,
                        std::numeric_limits<double>::infinity(), &unlimited_spent);
    ASSERT_TRUE(unlimited);
    if (!(unlimited_spent < budget / 2)) {
        GTEST_SKIP() << "this walk costs " << unlimited_spent / budget << " of the budget here";
    }
    double spent = 0.0;
    const auto found = pruned_discords(steps.values, steps.weights, m, exclusion, 3, Cancellation(),
                                       2, budget, &spent);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->starts, unlimited->starts);
    EXPECT_EQ(spent, unlimited_spent);
}

// The profile walks diagonals in groups, starting each afresh every few thousand rows: series
// long enough for both, walks (whose windows' levels differ widely) and white noise, each with
// missing points, against every window's nearest neighbour found one by one.
TEST(NearestProfile, IsEveryWindowsNearestNeighbourWhateverTheThreads) {
    for (uint32_t seed = 0; seed < 4; ++seed) {
        const size_t m = 4 + 5 * seed, n = seed % 2 ? 2300 : 400, exclusion = seed;
        const Prepared series = walk(seed, n, m, seed >= 2);
        const std::vector<double> nearest = nearest_all(series, m, exclusion);
        const NearestProfile one =
            nearest_profile(series.values, series.weights, m, exclusion, Cancellation(), 1);
        ASSERT_EQ(one.correlations.size(), nearest.size());
        for (size_t j = 0; j < nearest.size(); ++j) {
            if (nearest[j] < 0.0) {
                EXPECT_TRUE(std::isnan(one.correlations[j])) << "window " << j;
                continue;
            }
            const double r = std::clamp(one.correlations[j], -1.0, 1.0);
            EXPECT_NEAR(std::sqrt(2.0 * (1.0 - r)), nearest[j], 1e-9)
                << "seed " << seed << ", window " << j;
        }
        for (size_t threads : {2, 3, 8}) {
            const NearestProfile many = nearest_profile(series.values, series.weights, m, exclusion,
                                                        Cancellation(), threads);
            for (size_t j = 0; j < nearest.size(); ++j) {
                // NaN equals NaN here: compared as bits.
                EXPECT_EQ(std::memcmp(&many.correlations[j], &one.correlations[j], sizeof(double)),
                          0)
                    << "seed " << seed << ", threads " << threads << ", window " << j;
            }
        }
    }
}

TEST(NearestProfile, NoneForASeriesTooShortForTheZone) {
    const Prepared series = walk(5, 20, 12);  // 9 windows, every one within 8 of every other
    const NearestProfile profile =
        nearest_profile(series.values, series.weights, 12, 8, Cancellation(), 2);
    ASSERT_EQ(profile.correlations.size(), 9u);
    for (const double r : profile.correlations) {
        EXPECT_TRUE(std::isnan(r));
    }
}

TEST(Discords, NoneWhereNoWindowHasANeighbour) {
    const Prepared series = walk(3, 20, 12);  // every window within 8 points of every other
    const Discords found =
        within_discords(series.values, series.weights, 12, 11, 5, Cancellation(), 1);
    EXPECT_TRUE(found.starts.empty());
}

}  // namespace
}  // namespace zorp
