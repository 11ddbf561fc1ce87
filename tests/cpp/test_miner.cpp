#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "miner.h"
#include "straightforward.h"

namespace zorp {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// A motif whose naed is the given value: one series at distance naed x length from the
// representative cannot be arranged for every value, so build the naed through map directly.
Motif motif_with_naed(double naed) {
    Motif motif("a");
    motif.record_index(0, 0);
    motif.record_index(1, 0);
    // Two one-point occurrences at +-naed around a representative of 0: each is naed away.
    motif.map({{naed}, {-naed}}, 1);
    return motif;
}

std::vector<double> naeds(const std::vector<Motif>& motifs) {
    std::vector<double> values;
    for (const Motif& motif : motifs) {
        values.push_back(motif.get_naed());
    }
    return values;
}

TEST(Ranking, AscendingNaedWithNaNLast) {
    std::vector<Motif> motifs{motif_with_naed(0.4), motif_with_naed(0.1), motif_with_naed(0.25)};
    std::sort(motifs.begin(), motifs.end(), ranks_before);
    EXPECT_EQ(naeds(motifs), (std::vector<double>{0.1, 0.25, 0.4}));

    Motif never_mapped("b");
    never_mapped.map({{1.0}}, 1);  // no occurrence: naed is 0 / 0
    ASSERT_TRUE(std::isnan(never_mapped.get_naed()));
    Motif far("c");
    far.record_index(0, 0);
    far.map({{infinity}}, 1);
    std::vector<Motif> mixed{never_mapped, motif_with_naed(2.0), far, never_mapped,
                             motif_with_naed(0.5)};
    std::sort(mixed.begin(), mixed.end(), ranks_before);
    const std::vector<double> ranked = naeds(mixed);
    EXPECT_EQ(ranked[0], 0.5);
    EXPECT_EQ(ranked[1], 2.0);
    EXPECT_TRUE(std::isnan(ranked[3]) && std::isnan(ranked[4]));
}

TEST(Ranking, TheOrderOfNaedValuesIsTheSortOfTheirMotifs) {
    // Many ties, NaN and infinities, more than std::sort's insertion-sort threshold: the
    // positions sorted by naed alone must come out in the order the motifs do.
    std::mt19937 random(7);
    const std::vector<double> pool{0.5, 0.25, 0.5, infinity, nan_value, 0.0, 0.25, 1.0};
    for (size_t count : {0u, 1u, 5u, 17u, 40u, 200u}) {
        std::vector<Motif> motifs;
        std::vector<double> values;
        for (size_t i = 0; i < count; ++i) {
            const double naed = pool[random() % pool.size()];
            Motif motif = motif_with_naed(naed);
            // Patterns tell the motifs apart after sorting.
            motif = Motif(std::to_string(i), motif.occurrences());
            motif.map({{naed}, {-naed}}, 1);
            motifs.push_back(motif);
            values.push_back(motif.get_naed());
        }
        const std::vector<size_t> order = ranking_order(values);
        std::sort(motifs.begin(), motifs.end(), ranks_before);
        ASSERT_EQ(order.size(), motifs.size());
        for (size_t r = 0; r < order.size(); ++r) {
            EXPECT_EQ(motifs[r].get_pattern(), std::to_string(order[r])) << count << " " << r;
        }
    }
}

TEST(Ranking, IsAStrictWeakOrder) {
    const std::vector<double> values{nan_value, -infinity, 0.0, -0.0, 1.0, infinity, nan_value};
    for (double x : values) {
        for (double y : values) {
            const Motif a = motif_with_naed(std::abs(x));
            const Motif b = motif_with_naed(std::abs(y));
            EXPECT_FALSE(ranks_before(a, b) && ranks_before(b, a));
        }
        EXPECT_FALSE(ranks_before(motif_with_naed(std::abs(x)), motif_with_naed(std::abs(x))));
    }
}

SeriesSet random_walks(int count, int points, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    SeriesSet ts(static_cast<size_t>(count));
    for (Series& series : ts) {
        double level = 0.0;
        series.resize(static_cast<size_t>(points));
        for (double& value : series) {
            level += step(random);
            value = level;
        }
    }
    return ts;
}

TEST(MinerPipeline, NormalisesInPlaceAndKeepsTheWholeRankedList) {
    SeriesSet ts = random_walks(8, 200, 1);
    Miner miner(0.5, 4, 4, 3, 0, 0.9, 2);
    const std::vector<Motif> best = miner.mine(ts);
    for (const Series& series : ts) {
        double sum = 0.0, squares = 0.0;
        for (double value : series) {
            sum += value;
            squares += value * value;
        }
        EXPECT_NEAR(sum / 200.0, 0.0, 1e-12);
        EXPECT_NEAR(squares / 200.0, 1.0, 1e-12);
    }
    const std::vector<Motif> all = miner.get_motifs();
    ASSERT_GT(all.size(), 2u);
    ASSERT_EQ(best.size(), 2u);
    EXPECT_EQ(best[0].get_pattern(), all[0].get_pattern());
    EXPECT_EQ(best[1].get_pattern(), all[1].get_pattern());
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), ranks_before));
}

TEST(MinerPipeline, ReturnedMotifsShareTheStoredStatistics) {
    SeriesSet ts = random_walks(8, 200, 7);
    Miner miner(0.5, 4, 4, 3, 0, 0.9, 0);
    const std::vector<Motif> returned = miner.mine(ts);
    const std::vector<Motif> stored = miner.get_motifs();
    ASSERT_FALSE(returned.empty());
    ASSERT_EQ(returned.size(), stored.size());
    for (size_t m = 0; m < returned.size(); ++m) {
        ASSERT_NE(returned[m].shared_statistics(), nullptr);
        EXPECT_EQ(returned[m].shared_statistics(), stored[m].shared_statistics());
    }
}

TEST(MinerPipeline, KCut) {
    const SeriesSet input = random_walks(6, 120, 2);
    SeriesSet ts = input;
    const size_t total = Miner(0.5, 4, 4, 3, 0, 0.9, 0).mine(ts).size();
    ASSERT_GT(total, 0u);
    for (int k : {0, 1, static_cast<int>(total), static_cast<int>(total) + 5}) {
        SeriesSet copy = input;
        const size_t expected = k == 0 ? total : std::min<size_t>(total, static_cast<size_t>(k));
        EXPECT_EQ(Miner(0.5, 4, 4, 3, 0, 0.9, k).mine(copy).size(), expected) << k;
    }
}

TEST(MinerPipeline, NegativeKFailsAfterStoringTheRankedList) {
    SeriesSet ts = random_walks(6, 120, 3);
    Miner miner(0.5, 4, 4, 3, 0, 0.9, -1);
    try {
        miner.mine(ts);
        FAIL();
    } catch (const std::length_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot create std::vector larger than max_size()");
    }
    const std::vector<Motif> stored = miner.get_motifs();
    EXPECT_FALSE(stored.empty());
    EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end(), ranks_before));
    for (const Motif& motif : stored) {
        EXPECT_GT(motif.get_length(), 0);  // mapped
    }
}

TEST(MinerPipeline, SecondRunEqualsAFreshMiner) {
    SeriesSet first = random_walks(6, 150, 4);
    SeriesSet second = random_walks(5, 90, 5);
    SeriesSet second_copy = second;
    Miner reused(0.5, 3, 5, 3, 0, 0.9, 0);
    reused.mine(first);
    const std::vector<Motif> again = reused.mine(second);
    const std::vector<Motif> fresh = Miner(0.5, 3, 5, 3, 0, 0.9, 0).mine(second_copy);
    ASSERT_EQ(again.size(), fresh.size());
    ASSERT_EQ(reused.get_motifs().size(), fresh.size());
    for (size_t i = 0; i < fresh.size(); ++i) {
        EXPECT_EQ(again[i].get_naed(), fresh[i].get_naed());
        EXPECT_EQ(again[i].get_best_matches(), fresh[i].get_best_matches());
    }
}

TEST(MinerPipeline, NothingFrequentLeavesAnEmptyList) {
    SeriesSet ts{{1, 2, 3}, {}};
    Miner miner(2.0, 1, 4, 3, 0, 0.9, 0);
    EXPECT_TRUE(miner.mine(ts).empty());
    EXPECT_TRUE(miner.get_motifs().empty());
    EXPECT_TRUE(Miner(0.5, 1, 4, 3, 0, 0.9, 0).get_motifs().empty());
}

// Found by fuzzing. The squared deviations of [1e-300, 0, 0] underflow to 0, so the series
// normalises to [inf, -inf, -inf]; every distance of "a" to its representative (-inf) is then
// NaN, none comes closer than the cap, and the series reports start 0 and adds the cap.
TEST(MinerPipeline, SeriesWithNoDistanceBelowTheCapReportsStartZero) {
    SeriesSet ts{{1e-300, 0.0, 0.0}};
    Miner miner(1.0, 1, 2, 1, 0, 1.0, 0);
    const std::vector<Motif> motifs = miner.mine(ts);
    EXPECT_TRUE(std::isinf(ts[0][0]) && std::isinf(ts[0][1]));
    const auto a = std::find_if(motifs.begin(), motifs.end(),
                                [](const Motif& m) { return m.get_pattern() == "a"; });
    ASSERT_NE(a, motifs.end());
    EXPECT_EQ(a->get_indexes(), (IndexTable{{0, {1, 2}}}));
    EXPECT_EQ(a->get_best_matches(), (std::unordered_map<int, int>{{0, 0}}));
    EXPECT_EQ(a->get_naed(), 1000000.0);
}

TEST(MinerPipeline, StatisticsIgnoreShiftAndScale) {
    const SeriesSet input = random_walks(6, 160, 6);
    SeriesSet moved = input;
    for (Series& series : moved) {
        for (double& value : series) {
            value = 3.5 * value - 40.0;
        }
    }
    SeriesSet original = input;
    const std::vector<Motif> a = Miner(0.5, 4, 5, 3, 0, 0.9, 0).mine(original);
    const std::vector<Motif> b = Miner(0.5, 4, 5, 3, 0, 0.9, 0).mine(moved);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].get_pattern(), b[i].get_pattern());
        EXPECT_NEAR(a[i].get_naed(), b[i].get_naed(), 1e-9);
        EXPECT_EQ(a[i].get_best_matches(), b[i].get_best_matches());
    }
}

// The benchmark's random walks (bench_phases draws them so, from seed 42), fewer of them:
// series of 1000 letters, with runs of one letter long enough to be summed as sliding sums.
// The averages differ from adding the occurrences one by one only within rounding; the
// patterns, the best matches and the ranking do not differ at all.
TEST(MinerPipeline, BenchmarkWalksKeepPatternsBestMatchesAndRanking) {
    std::mt19937_64 engine(42);
    std::normal_distribution<double> step(0.0, 1.0);
    SeriesSet ts(200);
    for (Series& series : ts) {
        series.resize(10000);
        double level = 0.0;
        for (double& value : series) {
            level += step(engine);
            value = level;
        }
    }
    Miner miner(0.5, 10, 6, 3, 0, 0.9, 0);
    const std::vector<Motif> ranked = miner.mine(ts);  // ts is normalised in place
    ASSERT_GT(ranked.size(), 20u);

    std::vector<std::pair<Word, double>> table;  // pattern order, naed of one-by-one sums
    size_t longest_run = 0;
    for (const Motif& motif : ranked) {
        const Straightforward expected = straightforward_statistics(motif, ts, 10);
        const auto best_matches = motif.get_best_matches();
        const std::map<int, int> ordered(best_matches.begin(), best_matches.end());
        ASSERT_EQ(ordered, expected.best_matches) << motif.get_pattern();
        const auto averages = motif.get_average_occurrences();
        for (const auto& [s, average] : expected.averages) {
            for (size_t i = 0; i < average.size(); ++i) {
                ASSERT_LE(std::fabs(averages.at(s)[i] - average[i]),
                          1e-12 * expected.magnitudes.at(s)[i] / expected.counts.at(s)[i] +
                              4e-16 * std::fabs(average[i]));
            }
        }
        table.emplace_back(motif.get_pattern(), expected.naed);
        for (const auto& [s, positions] : motif.get_indexes()) {
            size_t run = 1;
            for (size_t k = 1; k < positions.size(); ++k) {
                run = positions[k] == positions[k - 1] + 1 ? run + 1 : 1;
                longest_run = std::max(longest_run, run);
            }
        }
    }
    EXPECT_GE(longest_run, 64u);  // the sliding sums were used

    // The ranking the one-by-one sums give: the same sort over the table in pattern order.
    std::sort(table.begin(), table.end(),
              [](const auto& a, const auto& b) { return SymbolLess()(a.first, b.first); });
    std::sort(table.begin(), table.end(), [](const auto& a, const auto& b) {
        return !std::isnan(a.second) && (std::isnan(b.second) || a.second < b.second);
    });
    for (size_t m = 0; m < ranked.size(); ++m) {
        ASSERT_EQ(ranked[m].get_pattern(), table[m].first) << "rank " << m;
    }
}

}  // namespace
}  // namespace zorp
