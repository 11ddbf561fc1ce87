#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include "motif.h"

namespace zorp {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

Motif recorded(const Word& pattern, const std::vector<std::pair<int, int>>& occurrences) {
    Motif motif(pattern);
    for (const auto& [series, position] : occurrences) {
        motif.record_index(series, position);
    }
    return motif;
}

TEST(MotifRecord, StartsEmpty) {
    const Motif motif("ab");
    EXPECT_EQ(motif.get_pattern(), "ab");
    EXPECT_EQ(motif.get_length(), 0);
    EXPECT_EQ(motif.get_naed(), 0.0);
    EXPECT_TRUE(motif.get_indexes().empty());
    EXPECT_TRUE(motif.get_average_occurrences().empty());
    EXPECT_TRUE(motif.get_representative().empty());
    EXPECT_TRUE(motif.get_best_matches().empty());
}

TEST(MotifRecord, PositionsKeepRecordedOrderAndDuplicates) {
    Motif motif = recorded("a", {{2, 5}, {2, 5}, {0, 3}, {0, 1}});
    motif.record_indexes(0, {7, 7});
    motif.record_indexes(4, {});
    motif.record_index(2, 9);  // back to an earlier series, out of ascending order
    const IndexTable expected{{2, {5, 5, 9}}, {0, {3, 1, 7, 7}}};
    EXPECT_EQ(motif.get_indexes(), expected);
    EXPECT_EQ(motif.support(), 2u);

    // Series recorded in ascending order, then an earlier one again.
    Motif ascending = recorded("b", {{1, 4}, {3, 0}, {5, 2}, {3, 8}, {1, 1}, {4, 6}});
    EXPECT_EQ(ascending.get_indexes(), (IndexTable{{1, {4, 1}}, {3, {0, 8}}, {4, {6}}, {5, {2}}}));
    EXPECT_EQ(ascending.support(), 4u);
}

TEST(MotifRecord, CopiesAreDeep) {
    Motif original = recorded("ab", {{0, 0}});
    original.map({{1, 2, 3, 4}}, 2);
    IndexTable read = original.get_indexes();
    read[9].push_back(1);
    EXPECT_EQ(original.get_indexes().size(), 1u);

    Motif copy = original;
    EXPECT_EQ(copy.get_representative(), original.get_representative());
    copy.record_index(0, 1);
    EXPECT_EQ(original.get_indexes().at(0), std::vector<int>{0});
}

TEST(MotifMap, TwoSeriesWorkedExample) {
    Motif motif = recorded("ab", {{0, 0}, {0, 1}, {1, 0}});
    motif.map({{1, 2, 3, 4, 5, 6}, {0, 0, 1, 1}}, 2);
    EXPECT_EQ(motif.get_length(), 4);
    const std::unordered_map<int, std::vector<double>> averages{{0, {2, 3, 4, 5}},
                                                                {1, {0, 0, 1, 1}}};
    EXPECT_EQ(motif.get_average_occurrences(), averages);
    EXPECT_EQ(motif.get_representative(), (std::vector<double>{1, 1.5, 2.5, 3}));
    EXPECT_EQ(motif.get_best_matches(), (std::unordered_map<int, int>{{0, 0}, {1, 0}}));
    const double expected = (std::sqrt(1.5) + std::sqrt(9.5)) / 8.0;
    EXPECT_NEAR(motif.get_naed(), expected, 1e-12);
    EXPECT_NEAR(motif.get_naed(), 0.53836, 1e-5);
}

TEST(MotifMap, BestMatchIsInPointsAndStrictlyClosest) {
    Motif motif = recorded("a", {{0, 0}, {0, 1}, {0, 2}});
    motif.map({{0, 0, 1, 2, 9, 9}}, 2);
    EXPECT_EQ(motif.get_best_matches().at(0), 2);  // position 1 x seglen 2
    EXPECT_NEAR(motif.get_representative()[0], 10.0 / 3.0, 1e-12);
    EXPECT_NEAR(motif.get_naed(), 1.4337, 1e-4);
}

TEST(MotifMap, PaddingPastTheEndIsSkipped) {
    Motif motif = recorded("a", {{0, 0}, {0, 1}});
    motif.map({{1, 2, 3}}, 2);
    const std::vector<double> occurrence = motif.get_occurrence({1, 2, 3}, 1);
    ASSERT_EQ(occurrence.size(), 2u);
    EXPECT_EQ(occurrence[0], 3.0);
    EXPECT_TRUE(std::isnan(occurrence[1]));
    EXPECT_EQ(motif.get_average_occurrences().at(0), (std::vector<double>{2, 2}));
    EXPECT_EQ(motif.get_representative(), (std::vector<double>{2, 2}));
    // Both distances are 1; the tie goes to the first recorded position.
    EXPECT_EQ(motif.get_best_matches().at(0), 0);
    EXPECT_DOUBLE_EQ(motif.get_naed(), 0.5);
}

TEST(MotifMap, AllNaNSeriesAddsNothing) {
    Motif motif = recorded("a", {{0, 1}, {0, 0}, {1, 0}});
    motif.map({{nan_value, nan_value, nan_value, nan_value}, {1.0, 3.0}}, 2);
    const auto averages = motif.get_average_occurrences();
    EXPECT_TRUE(std::isnan(averages.at(0)[0]) && std::isnan(averages.at(0)[1]));
    EXPECT_EQ(motif.get_representative(), (std::vector<double>{1, 3}));
    // Every distance of the NaN series is 0: its first recorded position wins.
    EXPECT_EQ(motif.get_best_matches().at(0), 2);
    EXPECT_DOUBLE_EQ(motif.get_naed(), 0.0);
}

TEST(MotifMap, DistanceCapAndFarOccurrences) {
    Motif motif = recorded("a", {{0, 1}});
    motif.map({{0.0, 0.0, 5e6, 5e6}, {}}, 2);
    // The only occurrence is its own representative: distance 0.
    EXPECT_EQ(motif.get_best_matches().at(0), 2);

    Motif far = recorded("a", {{0, 0}, {1, 0}});
    far.map({{0.0}, {3e6}}, 1);
    // Both series sit 1.5e6 from the representative, beyond the cap: each adds 1e6, best at 0.
    EXPECT_EQ(far.get_best_matches(), (std::unordered_map<int, int>{{0, 0}, {1, 0}}));
    EXPECT_DOUBLE_EQ(far.get_naed(), 2e6 / 2.0);
}

TEST(MotifMap, NoOccurrenceGivesNaNNaed) {
    Motif motif("ab");
    motif.map({{1, 2, 3}}, 3);
    EXPECT_EQ(motif.get_representative(), std::vector<double>(6, 0.0));
    EXPECT_TRUE(motif.get_best_matches().empty());
    EXPECT_TRUE(std::isnan(motif.get_naed()));
}

TEST(MotifMap, MappingTwiceChangesNothing) {
    Motif motif = recorded("ab", {{0, 0}, {0, 1}, {1, 0}});
    const SeriesSet ts{{1, 2, 3, 4, 5, 6}, {0, 0, 1, 1}};
    motif.map(ts, 2);
    const Motif once = motif;
    motif.map(ts, 2);
    EXPECT_EQ(motif.get_average_occurrences(), once.get_average_occurrences());
    EXPECT_EQ(motif.get_representative(), once.get_representative());
    EXPECT_EQ(motif.get_best_matches(), once.get_best_matches());
    EXPECT_EQ(motif.get_naed(), once.get_naed());
}

TEST(MotifMap, LengthThatDoesNotFitIsRefused) {
    Motif motif = recorded("abc", {{0, 0}});
    EXPECT_THROW(motif.map({{1.0}}, 1 << 30), std::length_error);
    EXPECT_EQ(motif.get_length(), 0);  // refused before anything changed
}

TEST(MotifMap, StatisticsBeyondMemoryAreRefusedBeforeAllocating) {
    Motif motif("a");
    SeriesSet ts(4000, Series{1.0});
    for (int s = 0; s < 4000; ++s) {
        motif.record_index(s, 0);
    }
    // 2**31 - 1 points for each of 4000 series and the representative: tens of terabytes.
    EXPECT_THROW(motif.map(ts, std::numeric_limits<int>::max()), MemoryLimitExceeded);
    EXPECT_TRUE(motif.get_representative().empty());
    EXPECT_EQ(motif.get_length(), 0);
}

// Averages, representative, best matches and naed exactly as one list per occurrence gives
// them. Values come from a small set, so that exact distance ties are common and the early exit
// of the distance search is checked against the first-recorded-wins rule.
TEST(MotifMap, EqualsStraightforwardComputation) {
    std::mt19937 random(5);
    const std::vector<double> values{-1.0, 0.0, 0.5, 1.0, nan_value};
    for (int trial = 0; trial < 300; ++trial) {
        const int seglen = 1 + static_cast<int>(random() % 9);
        const Word pattern(1 + random() % 5, 'a');
        SeriesSet ts(1 + random() % 4);
        Motif motif(pattern);
        for (size_t s = 0; s < ts.size(); ++s) {
            ts[s].resize(random() % 70);
            for (double& value : ts[s]) {
                value = values[random() % values.size()];
            }
            const size_t letters = (ts[s].size() + static_cast<size_t>(seglen) - 1) / seglen;
            for (size_t p = 0; p < letters; ++p) {
                if (random() % 2) {
                    motif.record_index(static_cast<int>(s), static_cast<int>(p));
                }
            }
        }
        motif.map(ts, seglen);
        const auto length = static_cast<size_t>(motif.get_length());
        const std::vector<double> centre = motif.get_representative();
        double naed = 0.0;
        const IndexTable indexes = motif.get_indexes();
        std::map<int, std::vector<int>> by_series(indexes.begin(), indexes.end());
        for (const auto& [s, positions] : by_series) {
            std::vector<double> sums(length, 0.0), counts(length, 0.0);
            double best = 1000000.0;
            int best_position = 0;
            for (int p : positions) {
                const std::vector<double> occurrence = motif.get_occurrence(ts[s], p);
                for (size_t i = 0; i < length; ++i) {
                    if (!std::isnan(occurrence[i])) {
                        sums[i] += occurrence[i];
                        counts[i] += 1.0;
                    }
                }
            }
            const std::vector<double> average = motif.get_average_occurrences().at(s);
            for (size_t i = 0; i < length; ++i) {
                if (counts[i] > 0) {
                    ASSERT_EQ(average[i], sums[i] / counts[i]);
                } else {
                    ASSERT_TRUE(std::isnan(average[i]));
                }
            }
            for (int p : positions) {
                const std::vector<double> occurrence = motif.get_occurrence(ts[s], p);
                double squares = 0.0;
                for (size_t i = 0; i < length; ++i) {
                    if (!std::isnan(occurrence[i])) {
                        squares += (occurrence[i] - centre[i]) * (occurrence[i] - centre[i]);
                    }
                }
                if (std::sqrt(squares) < best) {
                    best = std::sqrt(squares);
                    best_position = p;
                }
            }
            ASSERT_EQ(motif.get_best_matches().at(s), best_position * seglen);
            naed += best;
        }
        naed /= static_cast<double>(motif.get_indexes().size()) * static_cast<double>(length);
        if (std::isnan(naed)) {
            ASSERT_TRUE(std::isnan(motif.get_naed()));
        } else {
            ASSERT_EQ(motif.get_naed(), naed);
        }
    }
}

}  // namespace
}  // namespace zorp
