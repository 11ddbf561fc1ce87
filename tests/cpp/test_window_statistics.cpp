#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
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

// The proposal windows: every stride-th usable window, the stride widened so that a series
// gives at most windows_per_series of them; rows of z-normalised segment means; a series shorter
// than the windows gives none, and the series keep their places; any thread count, the same.
TEST(WindowWords, StridesOwnersAndThreads) {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<Series> series(40);
    for (size_t i = 0; i < series.size(); ++i) {
        series[i].resize(i == 1 ? 5 : 300 + 97 * i);
        double level = 0.0;
        for (double& value : series[i]) {
            level += normal(rng);
            value = level * 1e6;
        }
    }
    std::vector<SeriesView> views;
    for (const Series& one : series) {
        views.push_back({one.data(), one.size(), std::nan("")});
    }
    const WordRules word_rules{10, 3, 100, rules};
    const WindowWords words = window_words(views, word_rules);
    ASSERT_EQ(words.letters, 3u);
    ASSERT_EQ(words.means.size(), 3 * words.owners.size());
    size_t row = 0;
    for (size_t i = 0; i < series.size(); ++i) {
        const size_t windows = series[i].size() >= 10 ? series[i].size() - 9 : 0;
        const size_t stride = std::max<size_t>(1, (windows + 99) / 100);
        for (size_t start = 0; start < windows; start += stride, ++row) {
            ASSERT_EQ(words.owners[row], static_cast<int64_t>(i));
            ASSERT_EQ(words.starts[row], static_cast<int64_t>(start));
            // Segments of 3 points of a z-normalised window: their means lie within sqrt(10/3).
            for (size_t letter = 0; letter < 3; ++letter) {
                EXPECT_LE(std::abs(words.means[3 * row + letter]), std::sqrt(10.0 / 3.0) + 1e-9);
            }
        }
    }
    EXPECT_EQ(row, words.owners.size());
    for (size_t threads : {2u, 3u, 8u}) {
        const WindowWords many = window_words(views, word_rules, Cancellation(), threads);
        EXPECT_EQ(many.owners, words.owners);
        EXPECT_EQ(many.starts, words.starts);
        EXPECT_EQ(many.means, words.means);
    }
    EXPECT_THROW(window_words(views, WordRules{10, 0, 100, rules}), std::invalid_argument);
    // More letters than points: one point per letter.
    EXPECT_EQ(window_words(views, WordRules{2, 5, 100, rules}).letters, 2u);
}

}  // namespace
}  // namespace zorp
