#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "window_statistics.h"

namespace zorp {
namespace {

const FlatRules rules{1e-3, 1e-6, 16.0};

// Windows holding a point that is not finite, or one value throughout, never match; the others
// are weighted 1 / (m × deviation) in the series' own scale (centred, divided by its largest
// deviation from its mean, here 2).
TEST(PreparedSeries, GapsAndFlatRunsAreNotUsableAndTheRestWeighted) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Series series{1.0, 1.0, 1.0, 3.0, -1.0, nan, 1.0, 1.0};
    const PreparedSeries prepared = prepared_series(series, 2, 0.0, rules);
    EXPECT_EQ(prepared.usable, (std::vector<uint8_t>{0, 0, 1, 1, 0, 0, 0}));
    // centre 1 (the finite points' mean), scale 2
    EXPECT_EQ(prepared.values, (Series{0.0, 0.0, 0.0, 1.0, -1.0, 0.0, 0.0, 0.0}));
    EXPECT_DOUBLE_EQ(prepared.deviations[2], 0.5);
    EXPECT_DOUBLE_EQ(prepared.weights[3], 1.0 / (2.0 * 1.0));
    EXPECT_EQ(prepared.weights[0], 0.0);
    EXPECT_EQ(prepared.deviations[0], 1.0);  // 1 where not usable
    // Shorter than the windows: the values alone.
    const PreparedSeries short_one = prepared_series(Series{2.0, nan}, 3, nan, rules);
    EXPECT_EQ(short_one.values, (Series{2.0, 0.0}));
    EXPECT_TRUE(short_one.weights.empty());
}

TEST(PreparedSeries, AnyThreadCountGivesTheSameTables) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<Series> series;
    // A series of a million points first, which a task prepares alone (the tasks are cut past
    // a million points), then short ones, sixteen to a task.
    for (size_t i = 0; i < 41; ++i) {
        Series one(i == 0 ? size_t{1} << 20 : i * 37 % 500);
        double level = 0.0;
        for (double& value : one) {
            level += normal(rng);
            value = i % 3 == 0 ? std::round(level) : level;
        }
        if (one.size() > 10) {
            one[one.size() / 2] = std::numeric_limits<double>::infinity();
        }
        series.push_back(one);
    }
    const auto prepared_with = [&](size_t threads) {
        std::vector<PreparedSeries> all(series.size());
        std::vector<SeriesToPrepare> work;
        for (size_t i = 0; i < series.size(); ++i) {
            const size_t windows = series[i].size() >= 16 ? series[i].size() - 15 : 0;
            all[i].values.resize(series[i].size());
            all[i].deviations.resize(windows);
            all[i].usable.resize(windows);
            all[i].weights.resize(windows);
            work.push_back({series[i].data(), series[i].size(), std::nan(""), all[i].values.data(),
                            all[i].deviations.data(), all[i].usable.data(), all[i].weights.data()});
        }
        prepare_all(work, 16, rules, Cancellation(), threads);
        return all;
    };
    const std::vector<PreparedSeries> one = prepared_with(1);
    for (size_t threads : {2u, 3u, 8u}) {
        const std::vector<PreparedSeries> many = prepared_with(threads);
        for (size_t i = 0; i < series.size(); ++i) {
            EXPECT_EQ(many[i].values, one[i].values) << i;
            EXPECT_EQ(many[i].deviations, one[i].deviations) << i;
            EXPECT_EQ(many[i].usable, one[i].usable) << i;
            EXPECT_EQ(many[i].weights, one[i].weights) << i;
        }
    }
    for (size_t i = 0; i < series.size(); ++i) {
        EXPECT_EQ(prepared_series(series[i], 16, std::nan(""), rules).weights, one[i].weights);
    }
}

}  // namespace
}  // namespace zorp
