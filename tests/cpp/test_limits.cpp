// Limits that differ where size_t and pointers are 32 bits (the i686 musl build): lengths near
// 2^31 and 2^32, and the memory budget. The same tests run in every build; the few that only
// mean something in a 32-bit address space skip elsewhere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "motif.h"
#include "patterns.h"

namespace zorp {
namespace {

constexpr int int_max = std::numeric_limits<int>::max();
constexpr bool small_address_space = sizeof(void*) == 4;

// Half the machine's memory, as a process that can address it all would take, but never more
// than half of what this process can address: a larger figure is no budget it could keep, and
// taken modulo 2^32 it would come out as any size, none at all included.
TEST(MemoryBudget, HalfThePhysicalMemoryWithinHalfTheAddressSpace) {
    const auto pages = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES));
    const auto page_size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    ASSERT_GT(pages, 0u);
    const uint64_t half_the_machine = pages * page_size / 2;
    const uint64_t half_the_address_space = uint64_t{std::numeric_limits<size_t>::max()} / 2;
    const auto budget = static_cast<uint64_t>(memory_budget_bytes());
    EXPECT_LE(budget, half_the_address_space);
    EXPECT_LE(budget, half_the_machine);
    EXPECT_GE(budget + page_size, std::min(half_the_machine, half_the_address_space));
}

// Lengths of seglen x letters up to 2^31 - 1 points are kept whole; beyond they are refused,
// also where the product taken modulo 2^32 would be small (65537 x 65536 = 2^32 + 2^16).
TEST(Lengths, MotifLengthsUpTo2To31PointsAndNoFurther) {
    EXPECT_EQ(Motif("a").length_for(int_max), int_max);
    EXPECT_EQ(Motif(Word(2, 'a')).length_for((1 << 30) - 1), int_max - 1);
    EXPECT_EQ(Motif(Word(65535, 'a')).length_for(32768), 2147450880);
    for (const auto& [letters, seglen] : std::vector<std::pair<size_t, int>>{
             {2, 1 << 30}, {65536, 32768}, {65537, 65536}, {131072, 32768}, {4, int_max}}) {
        EXPECT_THROW(Motif(Word(letters, 'a')).length_for(seglen), std::length_error)
            << letters << " letters of " << seglen;
    }
}

// A best match whose start in points passes 2^31 - 1 is refused, wherever it lies modulo 2^32.
TEST(Lengths, BestMatchStartsPast2To31AreRefused) {
    const SeriesSet ts{{1.0, 2.0, 3.0}};
    for (int position : {32768, 65537, 1 << 20}) {
        Motif motif("a");
        motif.record_index(0, position);  // past the series' end: no points, distance 0
        try {
            motif.map(ts, 65536);
            FAIL() << "position " << position << " mapped";
        } catch (const std::length_error& error) {
            EXPECT_NE(std::string(error.what()).find("best match start"), std::string::npos);
        }
        EXPECT_EQ(motif.get_length(), 0);
    }
    Motif within("a");
    within.record_index(0, 32767);
    within.map(ts, 65536);
    EXPECT_EQ(within.get_best_matches().at(0), 32767 * 65536);
}

// Occurrences whose start in points lies at or past 2^31 or 2^32 hold no points of the series.
TEST(Lengths, OccurrencesStartingPast2To31HoldNoPoints) {
    const Series series{1.0, 2.0, 3.0, 4.0};
    Motif motif("aa");
    motif.record_index(0, 0);
    motif.map({series}, 2);
    const std::vector<double> last = motif.get_occurrence(series, 1);
    ASSERT_EQ(last.size(), 4u);
    EXPECT_EQ(last[0], 3.0);
    EXPECT_EQ(last[1], 4.0);
    EXPECT_TRUE(std::isnan(last[2]) && std::isnan(last[3]));
    for (int position : {1 << 30, (1 << 30) + 1, int_max}) {
        const std::vector<double> occurrence = motif.get_occurrence(series, position);
        ASSERT_EQ(occurrence.size(), 4u);
        EXPECT_TRUE(std::all_of(occurrence.begin(), occurrence.end(), [](double value) {
            return std::isnan(value);
        })) << position;
    }
}

// Positions up to 2^31 - 1 are letter positions like any other: the runs of consecutive
// positions end there, without an int overflowing into the next position.
TEST(Lengths, RunsOfPositionsEndAt2To31) {
    const Series series{1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
    const std::vector<int> positions{int_max - 2, int_max - 1, int_max, 0, 1, 2, int_max};
    const OccurrenceSums one_by_one = sum_occurrences(series, positions, 2, 4, 0);
    EXPECT_EQ(one_by_one.sums, (std::vector<double>{9.0, 12.0, 8.0, 10.0}));
    EXPECT_EQ(one_by_one.counts, (std::vector<double>{3.0, 3.0, 2.0, 2.0}));
    for (size_t window_run : {1, 2, 3}) {
        const OccurrenceSums runs = sum_occurrences(series, positions, 2, 4, window_run);
        EXPECT_EQ(runs.sums, one_by_one.sums) << window_run;
        EXPECT_EQ(runs.counts, one_by_one.counts) << window_run;
    }
}

// The redundancy pass holds a count per pattern and distinct letter: 256 patterns over 256
// letters take 262,144 bytes. Beyond the budget they are refused before they are allocated,
// weighed where no size_t wraps around (2^24 patterns would need 2^32 counts).
TEST(MemoryBudget, TheRedundancyPassRefusesLetterCountsBeyondTheBudget) {
    Word every_byte;
    std::vector<Word> patterns;
    for (int byte = 0; byte < 256; ++byte) {
        every_byte.push_back(static_cast<char>(byte));
        patterns.emplace_back(1, static_cast<char>(byte));
    }
    PatternMiner exact(1.0, 1, 1, 0.9);
    exact.set_memory_budget(262144.0);
    EXPECT_EQ(exact.redundant_among(patterns), std::vector<char>(256, 0));
    PatternMiner short_by_a_byte(1.0, 1, 1, 0.9);
    short_by_a_byte.set_memory_budget(262143.0);
    EXPECT_THROW(short_by_a_byte.redundant_among(patterns), MemoryLimitExceeded);

    // A run: its patterns, their index and their occurrences fit in 110,000 bytes, the counts
    // of its redundancy pass do not.
    PatternMiner run(1.0, 1, 1, 0.9);
    run.set_memory_budget(110000.0);
    try {
        run.mine({every_byte});
        FAIL() << "not refused";
    } catch (const MemoryLimitExceeded& error) {
        EXPECT_NE(std::string(error.what()).find("for redundancy"), std::string::npos)
            << error.what();
    }
    PatternMiner without_the_pass(1.0, 1, 1, 1.0);
    without_the_pass.set_memory_budget(110000.0);
    without_the_pass.mine({every_byte});
    EXPECT_EQ(without_the_pass.get_frequent().size(), 256u);
}

// In a 32-bit process no run may plan on more than 2 GiB: what would need more is refused
// before it is built, with the refusal that names what to change, never attempted until an
// allocation fails. The figures below lie between 2 GiB and 4 GiB.
TEST(MemoryBudget, RunsBeyondA32BitAddressSpaceAreRefusedUpFront) {
    if (!small_address_space) {
        GTEST_SKIP() << "only a 32-bit process is bounded by its address space here";
    }
    // The statistics of a motif of 187,500,000 points in one series: its average and the
    // representative, 3 GB.
    Motif motif("a");
    motif.record_index(0, 0);
    EXPECT_THROW(motif.map({{1.0, 2.0}}, 187500000), MemoryLimitExceeded);
    EXPECT_EQ(motif.get_length(), 0);

    // The index of 40 million letters, at 64 bytes each: 2.6 GB.
    PatternMiner miner(1.0, 1, 0, 1.0);
    try {
        miner.mine({Word(40000000, 'a')});
        FAIL() << "not refused";
    } catch (const MemoryLimitExceeded& error) {
        EXPECT_NE(std::string(error.what()).find("indexing"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(miner.get_frequent().empty());
}

}  // namespace
}  // namespace zorp
