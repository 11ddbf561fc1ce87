#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include "motif.h"
#include "nearest_occurrence.h"
#include "straightforward.h"

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

// Sums that come out the same, NaN for NaN, bit for bit otherwise.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Letter positions with long runs of consecutive ones among scattered ones.
std::vector<int> runs_of_positions(std::mt19937& random, size_t letters) {
    std::vector<int> positions;
    for (size_t p = 0; p < letters;) {
        if (random() % 3 == 0) {
            const size_t run = 1 + random() % 200;
            for (size_t k = 0; k < run && p < letters; ++k) {
                positions.push_back(static_cast<int>(p++));
            }
        } else {
            p += 1 + random() % 30;
            if (p < letters) {
                positions.push_back(static_cast<int>(p++));
            }
        }
    }
    return positions;
}

// A random walk, with some NaN and now and then an infinity.
Series walk_with_gaps(std::mt19937& random, size_t points) {
    std::normal_distribution<double> step(0.0, 1.0);
    Series series(points);
    double level = 0.0;
    const bool gaps = random() % 3 == 0;
    for (double& value : series) {
        level += step(random);
        value = level;
        if (gaps && random() % 150 == 0) {
            value = random() % 10 == 0 ? std::numeric_limits<double>::infinity() : nan_value;
        }
    }
    return series;
}

TEST(OccurrenceSums, SlidingSumsOfRunsStayWithinRounding) {
    std::mt19937 random(41);
    for (int trial = 0; trial < 300; ++trial) {
        const int seglen = 1 + static_cast<int>(random() % 6);
        const int length = seglen * (1 + static_cast<int>(random() % 40));
        const Series series = walk_with_gaps(random, random() % 2000);
        const size_t letters = (series.size() + static_cast<size_t>(seglen) - 1) / seglen;
        const std::vector<int> positions = runs_of_positions(random, letters);
        std::vector<double> magnitudes(static_cast<size_t>(length), 0.0);
        for (int p : positions) {
            for (size_t i = 0; i < magnitudes.size(); ++i) {
                const size_t t = static_cast<size_t>(p) * seglen + i;
                if (t < series.size() && !std::isnan(series[t])) {
                    magnitudes[i] += std::fabs(series[t]);
                }
            }
        }
        const OccurrenceSums one_by_one = sum_occurrences(series, positions, seglen, length, 0);
        for (size_t window_run : {1, 2, 7, 64}) {
            const OccurrenceSums sliding =
                sum_occurrences(series, positions, seglen, length, window_run);
            ASSERT_EQ(sliding.counts, one_by_one.counts);
            for (size_t i = 0; i < magnitudes.size(); ++i) {
                const double expected = one_by_one.sums[i];
                const double got = sliding.sums[i];
                if (std::isnan(expected) || std::isinf(expected)) {
                    ASSERT_TRUE(same_bits({expected}, {got})) << expected << " / " << got;
                } else {
                    ASSERT_LE(std::fabs(got - expected), 1e-12 * magnitudes[i])
                        << "trial " << trial << ", run " << window_run << ", offset " << i;
                }
            }
        }
        // Without a run that long, every sum is the one-by-one sum exactly.
        EXPECT_TRUE(same_bits(sum_occurrences(series, positions, seglen, length, 100000).sums,
                              one_by_one.sums));
    }
}

// A series that repeats one stretch of its own: occurrences a period apart are equal, so their
// distances tie exactly and the first must win.
Series periodic(std::mt19937& random, size_t points, size_t period) {
    std::normal_distribution<double> value(0.0, 1.0);
    Series series(points);
    for (size_t t = 0; t < points; ++t) {
        series[t] = t < period ? value(random) : series[t - period];
    }
    return series;
}

// Heavily overlapping occurrences, where most are set aside by their bounds: the best matches
// and naed must be those of measuring every occurrence against the same representative, and
// the averages those of adding the occurrences one by one, within rounding.
TEST(MotifMap, RunsOfOccurrencesGiveTheStraightforwardStatistics) {
    std::mt19937 random(43);
    for (int trial = 0; trial < 120; ++trial) {
        const int seglen = 1 + static_cast<int>(random() % 8);
        const Word pattern(4 + random() % 30, 'a');
        SeriesSet ts(1 + random() % 5);
        Motif motif(pattern);
        for (size_t s = 0; s < ts.size(); ++s) {
            const size_t points = 200 + random() % 3000;
            const size_t kind = random() % 3;
            ts[s] = kind == 0   ? periodic(random, points, seglen * (1 + random() % 6))
                    : kind == 1 ? walk_with_gaps(random, points)
                                : Series(points, 0.25);
            const size_t letters = (points + static_cast<size_t>(seglen) - 1) / seglen;
            motif.record_indexes(static_cast<int>(s), runs_of_positions(random, letters));
        }
        motif.map(ts, seglen);
        const Straightforward expected = straightforward_statistics(motif, ts, seglen);

        const auto averages = motif.get_average_occurrences();
        for (const auto& [s, average] : expected.averages) {
            const std::vector<double>& got = averages.at(s);
            for (size_t i = 0; i < average.size(); ++i) {
                if (std::isnan(average[i]) || std::isinf(average[i])) {
                    ASSERT_TRUE(same_bits({average[i]}, {got[i]}));
                } else {
                    ASSERT_LE(std::fabs(got[i] - average[i]),
                              1e-12 * expected.magnitudes.at(s)[i] / expected.counts.at(s)[i] +
                                  4e-16 * std::fabs(average[i]));
                }
            }
        }
        Straightforward measured;
        measure_straightforwardly(motif.get_indexes(), ts, seglen,
                                  static_cast<size_t>(motif.get_length()),
                                  motif.get_representative(), measured);
        const auto best_matches = motif.get_best_matches();
        const std::map<int, int> ordered(best_matches.begin(), best_matches.end());
        ASSERT_EQ(ordered, measured.best_matches) << "trial " << trial;
        ASSERT_TRUE(same_bits({motif.get_naed()}, {measured.naed}))
            << motif.get_naed() << " " << measured.naed << " trial " << trial;
    }
}

TEST(MotifRecord, CopiesShareTheStatisticsOfAMapping) {
    Motif motif = recorded("ab", {{0, 0}, {0, 1}, {1, 0}});
    const SeriesSet ts{{1, 2, 3, 4, 5, 6}, {0, 0, 1, 1}};
    EXPECT_EQ(motif.shared_statistics(), nullptr);
    motif.map(ts, 2);
    const Motif copy = motif;
    EXPECT_EQ(copy.shared_statistics(), motif.shared_statistics());
    // Mapping again gives the motif a block of its own; the copy keeps what it had.
    const std::vector<double> before = copy.get_representative();
    motif.map({{6, 5, 4, 3, 2, 1}, {1, 1, 0, 0}}, 2);
    EXPECT_NE(copy.shared_statistics(), motif.shared_statistics());
    EXPECT_EQ(copy.get_representative(), before);
    EXPECT_NE(motif.get_representative(), before);
}

TEST(MotifParts, ThePerSeriesStepsGiveWhatMapGives) {
    // Long runs of consecutive positions (sliding sums, bounded nearest search), short runs,
    // repeats, NaN and occurrences past the end, over series of different lengths.
    std::mt19937 random(11);
    std::normal_distribution<double> noise;
    SeriesSet ts(7);
    for (size_t s = 0; s < ts.size(); ++s) {
        ts[s].resize(300 + 40 * s);
        for (double& value : ts[s]) {
            value = noise(random);
        }
    }
    ts[2][17] = nan_value;
    const int seglen = 3;
    for (const Word& pattern : {Word("abcde"), Word("ab")}) {
        Motif motif(pattern);
        for (int s : {5, 0, 2, 6}) {
            std::vector<int> positions;
            for (int p = 0; p < 90; ++p) {
                positions.push_back(s == 2 ? (p * 7) % 110 : p);
            }
            positions.push_back(140);  // past the end of the shorter series' letters
            positions.push_back(3);
            motif.record_indexes(s, positions);
        }
        motif.map(ts, seglen);
        const int length = motif.get_length();
        const Occurrences& occurrences = motif.occurrences();
        std::vector<double> sums(static_cast<size_t>(length), 0.0);
        std::vector<double> counts(static_cast<size_t>(length), 0.0);
        double naed = 0.0;
        std::vector<size_t> groups = occurrences.groups_by_series();
        for (size_t group : groups) {
            const Series& series = ts[static_cast<size_t>(occurrences.series_at(group))];
            const std::vector<double> average =
                average_occurrence(series, occurrences.begin_of(group), occurrences.end_of(group),
                                   seglen, length, pattern.size());
            EXPECT_TRUE(same_bits(
                average, motif.get_average_occurrences().at(occurrences.series_at(group))));
            add_to_representative(average, sums, counts);
        }
        const std::vector<double> representative = representative_from(sums, counts);
        EXPECT_TRUE(same_bits(representative, motif.get_representative()));
        for (size_t group : groups) {
            const int series = occurrences.series_at(group);
            const auto [position, distance] = nearest_occurrence(
                ts[static_cast<size_t>(series)], occurrences.begin_of(group),
                occurrences.end_of(group), representative, seglen, pattern.size());
            EXPECT_EQ(position * seglen, motif.get_best_matches().at(series));
            naed += distance;
        }
        naed /= static_cast<double>(groups.size()) * static_cast<double>(length);
        EXPECT_TRUE(same_bits({naed}, {motif.get_naed()}));
    }
}

}  // namespace
}  // namespace zorp
