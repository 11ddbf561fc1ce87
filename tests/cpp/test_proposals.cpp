#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "proposals.h"
#include "straightforward_proposals.h"

namespace zorp {
namespace {

// Segment means that read as the given letters with alphabet 3 (cut points -0.43 and 0.43), each
// pushed off the letter's centre by nudge so that members of a key differ.
std::vector<double> means_of(const std::string& word, double nudge = 0.0) {
    std::vector<double> means;
    for (char letter : word) {
        means.push_back((letter - 'b') * 1.0 + nudge);
    }
    return means;
}

// A sine of period 8: every window of the proposals' length (8 points) holds a whole period,
// which is not monotone, so its medoid is proposed.
Series bump(size_t points) {
    Series values(points);
    for (size_t i = 0; i < points; ++i) {
        values[i] = std::sin(2.0 * 3.141592653589793 * static_cast<double>(i) / 8.0);
    }
    return values;
}

struct Window {
    int series;
    int start;
    std::string word;
    double nudge;
};

ProposalWindows windows_of(const std::vector<Window>& list) {
    ProposalWindows windows;
    windows.letters = static_cast<int>(list.front().word.size());
    for (const Window& window : list) {
        windows.series.push_back(window.series);
        windows.starts.push_back(window.start);
        const std::vector<double> means = means_of(window.word, window.nudge);
        windows.means.insert(windows.means.end(), means.begin(), means.end());
    }
    return windows;
}

ProposalSettings settings_of(double support, size_t count) {
    ProposalSettings settings;
    settings.length = 8;
    settings.alphabet = 3;
    settings.support = support;
    settings.count = count;
    return settings;
}

TEST(Propose, AWordHeldByEnoughSeriesProposesItsMedoid) {
    const SeriesSet ts(3, bump(60));
    // "abc" in all three series; the middle window of series 1 is closest to their average.
    const ProposalWindows windows = windows_of(
        {{0, 0, "abc", 0.3}, {0, 20, "cca", 0.0}, {1, 4, "abc", 0.0}, {2, 8, "abc", -0.2}});
    const std::vector<Proposal> proposals = propose(ts, windows, settings_of(3.0, 10));
    ASSERT_FALSE(proposals.empty());
    EXPECT_EQ(proposals[0].word, "abc");
    EXPECT_EQ(proposals[0].series, 1);
    EXPECT_EQ(proposals[0].start, 4);
    // The same three windows under every wildcard are the same set: proposed once.
    EXPECT_EQ(proposals.size(), 1u);
}

TEST(Propose, WildcardsJoinWordsThatDifferInOneLetter) {
    const SeriesSet ts(3, bump(60));
    const ProposalWindows windows =
        windows_of({{0, 0, "abc", 0.0}, {1, 3, "bbc", 0.0}, {2, 6, "cbc", 0.0}});
    const std::vector<Proposal> proposals = propose(ts, windows, settings_of(3.0, 10));
    ASSERT_EQ(proposals.size(), 1u);
    EXPECT_EQ(proposals[0].word, ".bc");
    EXPECT_EQ(proposals[0].series, 1);  // "bbc" sits at the average of the three
}

TEST(Propose, KeysThatRepeatWithinASeriesRankBelowKeysThatOccurOnce) {
    const SeriesSet ts(2, bump(60));
    // "aac" four times in each series; "cab" once in each: support 2 for both, but "cab" has
    // one occurrence per series (priority 2) and "aac" four (priority 1).
    std::vector<Window> list;
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 4; ++k) {
            list.push_back({s, 10 * k, "aac", 0.01 * k});
        }
        list.push_back({s, 45, "cab", 0.0});
    }
    const std::vector<Proposal> proposals = propose(ts, windows_of(list), settings_of(2.0, 2));
    ASSERT_EQ(proposals.size(), 2u);
    EXPECT_EQ(proposals[0].word, "cab");
    EXPECT_EQ(proposals[1].word, "aac");
}

TEST(Propose, SkipsMonotoneMedoidsStopsAtCountAndNeedsSupport) {
    Series ramp(40);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<double>(i);
    }
    const SeriesSet ramps(2, ramp);
    const ProposalWindows windows = windows_of({{0, 0, "abc", 0.0}, {1, 0, "abc", 0.0}});
    EXPECT_TRUE(propose(ramps, windows, settings_of(2.0, 5)).empty());
    const SeriesSet bumps(2, bump(60));
    EXPECT_EQ(propose(bumps, windows, settings_of(2.0, 5)).size(), 1u);
    EXPECT_TRUE(propose(bumps, windows, settings_of(2.5, 5)).empty());
    EXPECT_TRUE(propose(bumps, windows, settings_of(2.0, 0)).empty());
}

TEST(Propose, RefusesWindowsThatDoNotFit) {
    const SeriesSet ts(1, bump(10));
    ProposalWindows windows = windows_of({{0, 5, "abc", 0.0}});
    EXPECT_THROW(propose(ts, windows, settings_of(1.0, 1)), std::invalid_argument);
    windows.means.pop_back();
    EXPECT_THROW(propose(ts, windows, settings_of(1.0, 1)), std::invalid_argument);
}

TEST(ProposalKeys, TheKeySpaceIsCheckedNotWrapped) {
    EXPECT_EQ(most_key_letters(2), 63);
    EXPECT_EQ(most_key_letters(3), 40);
    EXPECT_EQ(most_key_letters(4), 31);
    EXPECT_EQ(most_key_letters(8), 21);
    EXPECT_EQ(most_key_letters(10), 19);
    EXPECT_THROW(most_key_letters(1), std::invalid_argument);
    EXPECT_THROW(most_key_letters(11), std::invalid_argument);
    // Every letter the last of alphabet 4 ('d', above the cut point 0.67): the largest key.
    ProposalWindows windows;
    windows.series = {0};
    windows.starts = {0};
    windows.letters = 31;
    windows.means.assign(31, 2.0);
    const std::vector<KeyCounts> counts = count_keys(windows, 4);
    ASSERT_EQ(counts.size(), 32u);
    EXPECT_EQ(counts[0].keys, std::vector<uint64_t>{(uint64_t{1} << 62) - 1});
    EXPECT_EQ(counts[1].keys, std::vector<uint64_t>{(uint64_t{1} << 60) - 1});
    // 4^32 keys do not fit in 64 bits: refused, for every step, not wrapped to 0.
    windows.letters = 32;
    windows.means.assign(32, 2.0);
    EXPECT_THROW(count_keys(windows, 4), std::invalid_argument);
    EXPECT_THROW(sum_members(windows, 4, {{0, 0}}), std::invalid_argument);
    EXPECT_THROW(nearest_members(windows, 4, {{0, 0}}, std::vector<double>(32)),
                 std::invalid_argument);
    ProposalSettings settings = settings_of(1.0, 1);
    settings.alphabet = 4;
    EXPECT_THROW(propose(SeriesSet(1, bump(60)), windows, settings), std::invalid_argument);
}

TEST(ProposalKeys, MalformedWindowsAndCountsAreRefused) {
    ProposalWindows windows = windows_of({{1, 0, "abc", 0.0}, {0, 3, "abc", 0.0}});
    EXPECT_THROW(count_keys(windows, 3), std::invalid_argument);  // series out of order
    windows = windows_of({{0, -1, "abc", 0.0}});
    EXPECT_THROW(count_keys(windows, 3), std::invalid_argument);  // a negative start
    windows = windows_of({{0, 0, "abc", 0.0}});
    windows.means[1] = std::nan("");
    EXPECT_THROW(count_keys(windows, 3), std::invalid_argument);
    windows.means[1] = max_segment_mean;
    EXPECT_THROW(sum_members(windows, 3, {{0, 0}}), std::invalid_argument);
    windows.means[1] = 0.0;
    ProposalSettings settings = settings_of(1.0, 1);
    settings.length = 0;
    EXPECT_THROW(propose(SeriesSet(1, bump(60)), windows, settings), std::invalid_argument);
    // Counts that would rank by NaN: no series, or fewer windows than series.
    KeyCounts counts;
    counts.keys = {5};
    counts.windows = {1};
    counts.series = {0};
    EXPECT_THROW(ranked_keys({counts}, 0.0), std::invalid_argument);
    counts.series = {2};
    EXPECT_THROW(ranked_keys({counts}, 0.0), std::invalid_argument);
    counts.windows = {2};
    EXPECT_EQ(ranked_keys({counts}, 0.0).size(), 1u);
}

TEST(MonotoneShare, SeparatesTrivialShapes) {
    Series ramp(64);
    Series step(64);
    Series saw(64);
    for (size_t i = 0; i < 64; ++i) {
        ramp[i] = static_cast<double>(i);
        step[i] = i < 32 ? 0.0 : 1.0;
        saw[i] = static_cast<double>(i % 16);
    }
    EXPECT_NEAR(monotone_share(ramp), 1.0, 1e-12);
    EXPECT_NEAR(monotone_share(step), 1.0, 1e-12);
    EXPECT_EQ(monotone_share(Series(64, 2.0)), 1.0);
    EXPECT_EQ(monotone_share({}), 1.0);
    EXPECT_LT(monotone_share(bump(64)), 0.9);
    EXPECT_LT(monotone_share(saw), 0.9);
    // A falling ramp is as monotone as a rising one.
    Series falling(ramp.rbegin(), ramp.rend());
    EXPECT_NEAR(monotone_share(falling), 1.0, 1e-12);
    // Fewer points than blocks: one block per point.
    EXPECT_NEAR(monotone_share({0.0, 1.0, 0.0}, 32), 0.25, 1e-12);
}

TEST(Znormalised, GivesMeanZeroDeviationOneAndZerosWhenFlat) {
    const Series out = znormalised({1e-300, 3e-300, 2e-300});
    EXPECT_NEAR(out[0], -std::sqrt(1.5), 1e-12);
    EXPECT_NEAR(out[1], std::sqrt(1.5), 1e-12);
    EXPECT_NEAR(out[2], 0.0, 1e-12);
    EXPECT_EQ(znormalised({4.0, 4.0}), (Series{0.0, 0.0}));
    EXPECT_TRUE(znormalised({}).empty());
}

}  // namespace
}  // namespace zorp
