#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cancel.h"
#include "miner.h"
#include "patterns.h"
#include "sax.h"

namespace zorp {
namespace {

struct Stopped : std::runtime_error {
    Stopped() : std::runtime_error("stopped") {}
};

// A check that throws on its n-th call, counting its calls.
struct StopAtCall {
    int stop_at;
    int calls = 0;
    Cancellation cancellation() {
        return Cancellation([this] {
            if (++calls == stop_at) {
                throw Stopped();
            }
        });
    }
};

TEST(Cancellation, ChecksOncePerPeriodOfCountedWork) {
    int calls = 0;
    const Cancellation cancel([&] { ++calls; });
    cancel.count(Cancellation::period - 1);
    EXPECT_EQ(calls, 0);
    cancel.count(1);
    EXPECT_EQ(calls, 1);
    cancel.count(3 * Cancellation::period);  // a large count still checks once
    EXPECT_EQ(calls, 2);
    for (size_t step = 0; step < Cancellation::period; ++step) {
        cancel.count_step(step);  // a block at every multiple of the block
    }
    EXPECT_EQ(calls, 3);
    cancel.poll();
    EXPECT_EQ(calls, 4);
    Cancellation().count(10 * Cancellation::period);  // never stops
}

TEST(Cancellation, BlocksCoverEveryStepOnce) {
    int calls = 0;
    const Cancellation cancel([&] { ++calls; });
    std::vector<int> seen(10000, 0);
    in_blocks(seen.size(), 100, cancel, [&](size_t first, size_t last) {
        ASSERT_LT(first, last);
        for (size_t i = first; i < last; ++i) {
            ++seen[i];
        }
    });
    EXPECT_EQ(seen, std::vector<int>(10000, 1));
    EXPECT_EQ(calls, static_cast<int>(10000 * 100 / Cancellation::period));
    in_blocks(0, 1, cancel, [&](size_t, size_t) { FAIL(); });
}

SeriesSet random_walks(size_t series, size_t points, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    SeriesSet ts(series, Series(points));
    for (Series& walk : ts) {
        double level = 0.0;
        for (double& value : walk) {
            level += step(random);
            value = level;
        }
    }
    return ts;
}

std::map<Word, IndexTable> table_of(const FrequentTable& table) {
    std::map<Word, IndexTable> plain;
    for (const auto& [pattern, motif] : table) {
        plain.emplace(pattern, motif.get_indexes());
    }
    return plain;
}

// Stops a run at each of its checks in turn: the stop leaves the call as the check's exception,
// the miner holds the empty state of a fresh one, and a later run equals a fresh miner's.
TEST(Cancellation, StopsPatternMinerAtEveryCheck) {
    SeriesSet ts = random_walks(20, 2000, 3);
    znorm(ts);
    const WordSet words = sax(ts, 2, 6);
    PatternMiner fresh(0.2, 1, 0, 0.9);
    fresh.mine(words);
    const std::map<Word, IndexTable> expected = table_of(fresh.get_frequent());

    int checks = 0;
    for (int stop_at = 1;; ++stop_at) {
        SCOPED_TRACE("stopped at check " + std::to_string(stop_at));
        PatternMiner miner(0.2, 1, 0, 0.9);
        miner.mine({"abc", "abd"});
        StopAtCall stop{stop_at};
        try {
            miner.mine(words, stop.cancellation());
            checks = stop.calls;
            break;
        } catch (const Stopped&) {
        }
        EXPECT_TRUE(miner.get_frequent().empty());
        EXPECT_EQ(miner.get_levels(), (std::vector<std::vector<Word>>(2)));
        EXPECT_EQ(miner.get_level(), 2);
        miner.mine(words);
        ASSERT_EQ(table_of(miner.get_frequent()), expected);
    }
    EXPECT_GT(checks, 3);
}

// Stopped at each check, a Miner keeps what a failed run keeps, readable; a later run equals a
// fresh Miner's.
TEST(Cancellation, StopsMinerAtEveryCheck) {
    const SeriesSet ts = random_walks(16, 1500, 5);
    SeriesSet copy = ts;
    const std::vector<Motif> expected = Miner(0.3, 2, 5, 3, 0, 0.9, 0).mine(copy);
    ASSERT_FALSE(expected.empty());

    int checks = 0;
    for (int stop_at = 1;; ++stop_at) {
        SCOPED_TRACE("stopped at check " + std::to_string(stop_at));
        Miner miner(0.3, 2, 5, 3, 0, 0.9, 0);
        StopAtCall stop{stop_at};
        copy = ts;
        try {
            miner.mine(copy, stop.cancellation());
            checks = stop.calls;
            break;
        } catch (const Stopped&) {
        }
        for (const Motif& motif : miner.get_motifs()) {
            EXPECT_EQ(motif.get_average_occurrences().size(),
                      motif.shared_statistics() ? motif.support() : 0u);
        }
        copy = ts;
        const std::vector<Motif> again = miner.mine(copy);
        ASSERT_EQ(again.size(), expected.size());
        for (size_t m = 0; m < again.size(); ++m) {
            ASSERT_EQ(again[m].get_pattern(), expected[m].get_pattern());
            ASSERT_EQ(again[m].get_best_matches(), expected[m].get_best_matches());
            ASSERT_EQ(again[m].get_naed(), expected[m].get_naed());
        }
    }
    EXPECT_GT(checks, 3);
}

TEST(Cancellation, StopsSaxWithinOneLongSeries) {
    const SeriesSet ts{Series(3 * Cancellation::period, 1.0)};
    StopAtCall stop{2};
    EXPECT_THROW(sax(ts, 1, 4, stop.cancellation()), Stopped);
    SeriesSet normalised = ts;
    StopAtCall stop_normalising{2};
    EXPECT_THROW(znorm(normalised, stop_normalising.cancellation()), Stopped);
    EXPECT_EQ(sax(ts, 1, 4), WordSet{Word(ts[0].size(), 'd')});
}

}  // namespace
}  // namespace zorp
