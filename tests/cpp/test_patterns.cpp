#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "level_wise.h"
#include "patterns.h"

namespace zorp {
namespace {

using Words = std::vector<Word>;

Words keys_of(const FrequentTable& table) {
    Words keys;
    for (const auto& entry : table) {
        keys.push_back(entry.first);
    }
    return keys;
}

// Accepted patterns of one level, as a level-by-level run would leave them.
LevelWiseSearch with_level(const WordSet& words, int level_wanted) {
    LevelWiseSearch miner(0.5, 1, level_wanted - 1, 1.0);
    miner.begin_run(words);
    miner.mine_1_patterns(words);
    while (miner.get_level() < level_wanted && miner.mine_next_level(words)) {
    }
    return miner;
}

TEST(SingleLetters, ThresholdAndSupportPerSeries) {
    LevelWiseSearch miner(1.0, 3, 0, 0.9);
    const WordSet words{"ab", "a"};
    miner.begin_run(words);
    EXPECT_EQ(miner.get_support_threshold(), 2.0);
    miner.mine_1_patterns(words);
    const FrequentTable table = miner.get_frequent();
    EXPECT_EQ(keys_of(table), Words{"a"});
    EXPECT_EQ(table.at("a").get_indexes(), (IndexTable{{0, {0}}, {1, {0}}}));
    EXPECT_EQ(miner.get_levels()[1], Words{"a"});
}

TEST(SingleLetters, RepeatsInOneSeriesCountOnce) {
    LevelWiseSearch miner(0.5, 1, 0, 1.0);
    const WordSet words{"babab", "", "", "c"};
    miner.begin_run(words);  // the empty words still count: threshold 2.0
    miner.mine_1_patterns(words);
    EXPECT_TRUE(miner.get_frequent().empty());

    LevelWiseSearch lenient(0.25, 1, 0, 1.0);
    lenient.begin_run(words);
    lenient.mine_1_patterns(words);
    const FrequentTable table = lenient.get_frequent();
    EXPECT_EQ(table.at("b").get_indexes().at(0), (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(table.at("a").support(), 1u);
}

TEST(SingleLetters, EqualSupportSurvivesAndNaNDiscardsNothing) {
    const WordSet four{"a", "a", "b", "c"};
    LevelWiseSearch miner(0.5, 1, 0, 1.0);
    miner.begin_run(four);
    miner.mine_1_patterns(four);
    EXPECT_EQ(keys_of(miner.get_frequent()), Words{"a"});

    LevelWiseSearch nan_miner(std::numeric_limits<double>::quiet_NaN(), 1, 1, 1.0);
    nan_miner.begin_run(four);
    nan_miner.mine_1_patterns(four);
    EXPECT_EQ(keys_of(nan_miner.get_frequent()), (Words{"a", "b", "c"}));
}

TEST(SingleLetters, HighBytesSortBeforeLetters) {
    const WordSet words{"a\xe9\x80z", std::string(1, '\0') + "\xff"};
    PatternMiner miner(0.1, 1, 1, 1.0);
    miner.mine(words);
    EXPECT_EQ(keys_of(miner.get_frequent()),
              (Words{"\x80", "\xe9", "\xff", std::string(1, '\0'), "a", "z"}));
}

TEST(Candidates, JoinOrder) {
    const LevelWiseSearch letters = with_level({"ab"}, 2);
    EXPECT_EQ(letters.get_candidates(), (Words{"aa", "ab", "ba", "bb"}));

    // ab, ba, bb accepted at length 2, in that order.
    const WordSet words{"abba", "bab"};
    const LevelWiseSearch pairs = with_level(words, 3);
    ASSERT_EQ(pairs.get_levels()[2], (Words{"ab", "ba", "bb"}));
    EXPECT_EQ(pairs.get_candidates(), (Words{"aba", "abb", "bab", "bba", "bbb"}));

    EXPECT_TRUE(with_level({""}, 2).get_candidates().empty());
}

// The grouped join must give what the pairwise loop over the level gives, in the same order.
TEST(Candidates, GroupedJoinEqualsPairwiseLoop) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 40; ++trial) {
        WordSet words(6);
        for (Word& word : words) {
            word.resize(random() % 30);
            for (char& symbol : word) {
                symbol = static_cast<char>('a' + random() % 3);
            }
        }
        const int level = 2 + static_cast<int>(random() % 4);
        const LevelWiseSearch miner = with_level(words, level);
        const auto levels = miner.get_levels();
        if (levels.size() < static_cast<size_t>(level)) {
            continue;  // the run ended before this length
        }
        const Words& previous = levels[static_cast<size_t>(level) - 1];
        Words expected;
        for (const Word& a : previous) {
            for (const Word& b : previous) {
                if (a.size() == b.size() && a.substr(1) == b.substr(0, b.size() - 1)) {
                    expected.push_back(a + b.back());
                }
            }
        }
        EXPECT_EQ(miner.get_candidates(), expected);
    }
}

IndexTable occurrences_by_scan(const WordSet& words, const Word& pattern) {
    IndexTable found;
    for (size_t s = 0; s < words.size(); ++s) {
        for (size_t pos = 0; pos + pattern.size() <= words[s].size(); ++pos) {
            if (words[s].compare(pos, pattern.size(), pattern) == 0) {
                found[static_cast<int>(s)].push_back(static_cast<int>(pos));
            }
        }
    }
    return found;
}

TEST(FindCandidate, WindowsAtPrefixOccurrences) {
    const WordSet words{"aaa", "baa", "a"};
    LevelWiseSearch miner = with_level(words, 2);
    for (const Word& candidate : {Word("aa"), Word("ab")}) {
        miner.insert_candidate(candidate);
        miner.find_candidate(candidate, words);
    }
    const FrequentTable table = miner.get_frequent();
    // In "aaa" the window at 2 runs past the end; "a" alone holds no window at all.
    EXPECT_EQ(table.at("aa").get_indexes(), (IndexTable{{0, {0, 1}}, {1, {1}}}));
    EXPECT_TRUE(table.at("ab").get_indexes().empty());
    EXPECT_THROW(miner.find_candidate("zz", words), std::out_of_range);
}

// The level search reads each prefix's occurrences once for all its extensions; it must record
// exactly what locating each candidate on its own records.
TEST(FindCandidate, LevelSearchEqualsOneByOneSearch) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 40; ++trial) {
        WordSet words(5);
        for (Word& word : words) {
            word.resize(random() % 25);
            for (char& symbol : word) {
                symbol = static_cast<char>('a' + random() % 3);
            }
        }
        LevelWiseSearch one_by_one = with_level(words, 2);
        const FrequentTable by_level = with_level(words, 3).get_frequent();
        for (const Word& candidate : one_by_one.get_candidates()) {
            one_by_one.insert_candidate(candidate);
            one_by_one.find_candidate(candidate, words);
        }
        for (const auto& [pattern, motif] : one_by_one.get_frequent()) {
            if (pattern.size() != 2) {
                continue;
            }
            const IndexTable expected = occurrences_by_scan(words, pattern);
            EXPECT_EQ(motif.get_indexes(), expected) << pattern;
            const auto mined = by_level.find(pattern);
            if (mined != by_level.end()) {
                EXPECT_EQ(mined->second.get_indexes(), expected) << pattern;
            } else {
                EXPECT_LT(expected.size(), 2.5) << pattern;  // pruned: support below 0.5 x 5
            }
        }
    }
}

TEST(Lcs, Examples) {
    EXPECT_EQ(lcs("abcd", "acbd"), 3.0);
    EXPECT_EQ(lcs("ab", "ba"), 1.0);
    EXPECT_EQ(lcs("abc", ""), 0.0);
    EXPECT_EQ(lcs("", ""), 0.0);
    EXPECT_EQ(lcs("\xff\x80", "\x80\xff\x80"), 2.0);
}

int lcs_table(const Word& a, const Word& b) {
    std::vector<std::vector<int>> cell(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            cell[i][j] = a[i - 1] == b[j - 1] ? cell[i - 1][j - 1] + 1
                                              : std::max(cell[i][j - 1], cell[i - 1][j]);
        }
    }
    return cell[a.size()][b.size()];
}

// Lengths around 64 and 128 cross the machine-word boundaries of the bit-vector form.
TEST(Lcs, EqualsTheDynamicProgramme) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 600; ++trial) {
        Word a(random() % 200, 'a');
        Word b(random() % 200, 'a');
        const int letters = 1 + static_cast<int>(random() % 4);
        for (char& symbol : a)
            symbol = static_cast<char>('a' + random() % letters);
        for (char& symbol : b)
            symbol = static_cast<char>('a' + random() % letters);
        ASSERT_EQ(lcs(a, b), lcs_table(a, b)) << a << " / " << b;
        ASSERT_EQ(lcs(b, a), lcs(a, b));
    }
}

// The redundancy rule as stated, pair by pair: each pattern q, in list order and not removed
// itself, removes every pattern p not longer than q whose lcs with q, over p's length, exceeds
// max_overlap.
std::vector<char> removed_pair_by_pair(const Words& kept, double max_overlap) {
    // The dynamic programme of lcs_table, a row at a time.
    std::vector<int> above;
    std::vector<int> row;
    auto lcs_of = [&](const Word& a, const Word& b) {
        above.assign(b.size() + 1, 0);
        row.assign(b.size() + 1, 0);
        for (size_t i = 1; i <= a.size(); ++i) {
            for (size_t j = 1; j <= b.size(); ++j) {
                row[j] = a[i - 1] == b[j - 1] ? above[j - 1] + 1 : std::max(row[j - 1], above[j]);
            }
            std::swap(above, row);
        }
        return above[b.size()];
    };
    std::vector<char> removed(kept.size(), 0);
    for (size_t q = 0; q < kept.size(); ++q) {
        if (removed[q]) {
            continue;
        }
        for (size_t p = 0; p < kept.size(); ++p) {
            if (kept[q].size() < kept[p].size() || p == q || removed[p]) {
                continue;
            }
            const double ratio =
                static_cast<double>(lcs_of(kept[q], kept[p])) / static_cast<double>(kept[p].size());
            if (ratio > max_overlap) {
                removed[p] = 1;
            }
        }
    }
    return removed;
}

// A list as the miner hands it over: distinct patterns, longest first; each length in ascending
// order, as the miner accepts them, or shuffled.
Words longest_first(const std::set<Word, SymbolLess>& patterns, bool shuffled,
                    std::mt19937& random) {
    Words kept(patterns.begin(), patterns.end());
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Word& a, const Word& b) { return a.size() > b.size(); });
    if (shuffled) {
        for (auto first = kept.begin(); first != kept.end();) {
            auto last = std::find_if(first, kept.end(),
                                     [&](const Word& w) { return w.size() != first->size(); });
            std::shuffle(first, last, random);
            first = last;
        }
    }
    return kept;
}

Word random_word(size_t length, const std::string& letters, std::mt19937& random) {
    Word word(length, '\0');
    for (char& symbol : word) {
        symbol = letters[random() % letters.size()];
    }
    return word;
}

// Three kinds of lists: the substrings of a few words, from min_len up (as a positive threshold
// accepts them, each pattern's extensions listed too); every word over a few letters from
// min_len to max_len (as a threshold that is not positive accepts them); and patterns drawn
// independently, some past the 64 and 128 letters of the bit-vector blocks.
std::set<Word, SymbolLess> random_patterns(std::mt19937& random) {
    const std::string alphabets[] = {"ab", "abc", "abcd", "abcdefghij", "a\xff\x80\x01"};
    const std::string& letters = alphabets[random() % 5];
    std::set<Word, SymbolLess> patterns;
    const size_t kind = random() % 3;
    if (kind == 0) {
        const size_t shortest = 1 + random() % 4;
        for (size_t w = 0, words = 1 + random() % 2; w < words; ++w) {
            const Word word = random_word(random() % 24, letters, random);
            for (size_t at = 0; at < word.size(); ++at) {
                for (size_t length = shortest; at + length <= word.size(); ++length) {
                    patterns.insert(word.substr(at, length));
                }
            }
        }
    } else if (kind == 1) {
        const std::string few = letters.substr(0, 2 + random() % 2);
        const size_t longest = 1 + random() % (few.size() == 2 ? 6 : 4);
        const size_t shortest = 1 + random() % longest;
        std::vector<Word> level{""};
        for (size_t length = 1; length <= longest; ++length) {
            std::vector<Word> next;
            for (const Word& prefix : level) {
                for (char symbol : few) {
                    next.push_back(prefix + symbol);
                }
            }
            level = next;
            if (length >= shortest) {
                patterns.insert(level.begin(), level.end());
            }
        }
    } else {
        for (size_t count = random() % 60; patterns.size() < count;) {
            const size_t length = random() % 4 == 0 ? 40 + random() % 120 : 1 + random() % 12;
            patterns.insert(random_word(length, letters, random));
        }
    }
    return patterns;
}

TEST(Redundancy, OnePassEqualsThePairwiseRule) {
    const double nan_value = std::numeric_limits<double>::quiet_NaN();
    const double overlaps[] = {-0.5, 0.0, 0.25, 0.5,  0.6,  2.0 / 3.0, 0.75,
                               0.8,  0.9, 0.9,  0.95, 0.99, 1.0,       nan_value};
    std::mt19937 random(13);
    for (int trial = 0; trial < 1000; ++trial) {
        const std::set<Word, SymbolLess> patterns = random_patterns(random);
        const Words kept = longest_first(patterns, random() % 2 == 0, random);
        const double max_overlap = overlaps[random() % 14];
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ": " << kept.size()
                                          << " patterns, max_overlap " << max_overlap);
        const PatternMiner miner(1.0, 1, 0, max_overlap);
        ASSERT_EQ(miner.redundant_among(kept), removed_pair_by_pair(kept, max_overlap));
    }
}

// Every word of 4 to 6 letters over three letters, or of 4 and 5 over four, as a threshold
// that is not positive accepts them: lengths with hundreds of patterns and, at the lower
// thresholds, dozens of survivors, past which the pass indexes the survivors' subsequences
// rather than comparing them one by one.
TEST(Redundancy, OnePassEqualsThePairwiseRuleOnWholeLevels) {
    for (const std::string& letters : {std::string("abc"), std::string("abcd")}) {
        const size_t shortest = 4;
        const size_t longest = letters.size() == 3 ? 6 : 5;
        std::set<Word, SymbolLess> patterns;
        std::vector<Word> level{""};
        for (size_t length = 1; length <= longest; ++length) {
            std::vector<Word> next;
            for (const Word& prefix : level) {
                for (char symbol : letters) {
                    next.push_back(prefix + symbol);
                }
            }
            level = next;
            if (length >= shortest) {
                patterns.insert(level.begin(), level.end());
            }
        }
        std::mt19937 random(5);
        for (double max_overlap : {0.2, 0.34, 0.5, 0.6, 0.7, 0.8, 0.9}) {
            for (bool shuffled : {false, true}) {
                const Words kept = longest_first(patterns, shuffled, random);
                SCOPED_TRACE(::testing::Message() << letters << ", max_overlap " << max_overlap
                                                  << (shuffled ? ", shuffled" : ""));
                ASSERT_EQ(PatternMiner(1.0, 1, 0, max_overlap).redundant_among(kept),
                          removed_pair_by_pair(kept, max_overlap));
            }
        }
    }
}

// An lcs of exactly max_overlap x the length does not remove; one more letter does.
TEST(Redundancy, RatioEqualToTheThresholdKeepsThePattern) {
    const Words kept{"abcdefghij", "abcdefghix", "abcdeyyyyy", "abcdezzzzz"};
    EXPECT_EQ(PatternMiner(1.0, 1, 0, 0.9).redundant_among(kept), (std::vector<char>{0, 0, 0, 0}));
    EXPECT_EQ(PatternMiner(1.0, 1, 0, 0.89).redundant_among(kept), (std::vector<char>{0, 1, 0, 0}));
    EXPECT_EQ(PatternMiner(1.0, 1, 0, 0.5).redundant_among(kept), (std::vector<char>{0, 1, 0, 0}));
    EXPECT_EQ(PatternMiner(1.0, 1, 0, 0.49).redundant_among(kept), (std::vector<char>{0, 1, 1, 1}));
}

TEST(IsPInVec, ExactMatchOnly) {
    EXPECT_FALSE(is_p_in_vec("a", {}));
    EXPECT_TRUE(is_p_in_vec("ab", {"a", "ab"}));
    EXPECT_FALSE(is_p_in_vec("ab", {"abc", "b"}));
}

TEST(Mine, ThreeEqualWords) {
    const WordSet words{"abc", "abc", "abc"};
    PatternMiner miner(1.0, 3, 0, 0.9);
    miner.mine(words);
    EXPECT_EQ(miner.get_level(), 5);
    const FrequentTable table = miner.get_frequent();
    EXPECT_EQ(keys_of(table), Words{"abc"});
    EXPECT_EQ(table.at("abc").get_indexes(), (IndexTable{{0, {0}}, {1, {0}}, {2, {0}}}));

    PatternMiner short_kept(1.0, 1, 0, 0.9);
    short_kept.mine(words);
    EXPECT_EQ(keys_of(short_kept.get_frequent()), Words{"abc"});

    PatternMiner nothing_removed(1.0, 1, 0, 1.0);
    nothing_removed.mine(words);
    EXPECT_EQ(keys_of(nothing_removed.get_frequent()), (Words{"a", "ab", "abc", "b", "bc", "c"}));
}

TEST(Mine, EarlierPatternWinsAmongEqualLengths) {
    const WordSet words{"ab", "bc"};
    PatternMiner strict(0.5, 2, 0, 0.4);
    strict.mine(words);
    EXPECT_EQ(strict.get_level(), 4);
    const FrequentTable table = strict.get_frequent();
    EXPECT_EQ(keys_of(table), Words{"ab"});
    EXPECT_EQ(table.at("ab").get_indexes(), (IndexTable{{0, {0}}}));

    PatternMiner equal_ratio(0.5, 2, 0, 0.5);
    equal_ratio.mine(words);
    EXPECT_EQ(keys_of(equal_ratio.get_frequent()), (Words{"ab", "bc"}));
}

TEST(Mine, RemoveShortListsLongestFirst) {
    const WordSet words{"abcd", "abcd"};
    LevelWiseSearch miner(1.0, 2, 0, 1.0);
    miner.begin_run(words);
    miner.mine_1_patterns(words);
    while (miner.mine_next_level(words)) {
    }
    EXPECT_EQ(miner.remove_short(), (Words{"abcd", "abc", "bcd", "ab", "bc", "cd"}));
    EXPECT_EQ(keys_of(miner.get_frequent()), (Words{"ab", "abc", "abcd", "bc", "bcd", "cd"}));
}

// A removed pattern removes nothing: "ba" goes (ratio 1 against "aba"), and so cannot take
// "ab" or "bb" with it.
TEST(Mine, RemovedPatternsRemoveNothing) {
    const WordSet words{"aba", "bb"};
    PatternMiner miner(0.5, 2, 0, 0.6);
    miner.mine(words);
    EXPECT_EQ(keys_of(miner.get_frequent()), (Words{"aba", "bb"}));
}

TEST(Mine, NegativeOverlapLetsTheFirstPatternRemoveAll) {
    const WordSet words{"abcab", "cab"};
    PatternMiner miner(1.0, 1, 0, -0.5);
    miner.mine(words);
    EXPECT_EQ(keys_of(miner.get_frequent()), Words{"cab"});
}

TEST(Mine, MaxLenExitStillFiltersTheLastLevel) {
    const WordSet words{"abcd", "abcd"};
    PatternMiner pairs(1.0, 3, 2, 0.9);
    pairs.mine(words);
    EXPECT_EQ(pairs.get_level(), 3);
    EXPECT_TRUE(pairs.get_frequent().empty());  // no pattern reaches min_len 3

    PatternMiner letters(1.0, 2, 1, 0.9);
    letters.mine(words);
    EXPECT_TRUE(letters.get_frequent().empty());

    // Within the bound, the redundancy pass covers the last level too: "abc" removes "ab".
    PatternMiner three(1.0, 2, 3, 0.9);
    three.mine(words);
    EXPECT_EQ(keys_of(three.get_frequent()), (Words{"abc", "bcd"}));

    PatternMiner negative(1.0, 1, -4, 1.0);
    negative.mine(words);
    EXPECT_EQ(negative.get_level(), 2);
    EXPECT_EQ(keys_of(negative.get_frequent()), (Words{"a", "b", "c", "d"}));
}

TEST(Mine, SecondRunStartsFresh) {
    PatternMiner miner(1.0, 1, 0, 0.9);
    miner.mine({"abc", "abc"});
    miner.mine({"xy", "xy", "x"});
    PatternMiner fresh(1.0, 1, 0, 0.9);
    fresh.mine({"xy", "xy", "x"});
    EXPECT_EQ(keys_of(miner.get_frequent()), keys_of(fresh.get_frequent()));
    EXPECT_EQ(miner.get_frequent().at("x").get_indexes(),
              fresh.get_frequent().at("x").get_indexes());
    EXPECT_EQ(miner.get_levels(), fresh.get_levels());
}

TEST(Mine, EndlessSearchIsRefusedUpFront) {
    for (double minsup : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        PatternMiner miner(minsup, 3, 0, 0.9);
        EXPECT_THROW(miner.mine({"ab", "ba"}), std::invalid_argument) << minsup;
        EXPECT_TRUE(miner.get_frequent().empty());
        // Nothing to extend: the search ends by itself.
        miner.mine({"", ""});
        miner.mine({});
        EXPECT_TRUE(miner.get_frequent().empty());
    }
    // A length bound keeps the run finite: every pair is accepted, occurring or not.
    PatternMiner bounded(0.0, 2, 2, 1.0);
    bounded.mine({"ab"});
    EXPECT_EQ(keys_of(bounded.get_frequent()), (Words{"aa", "ab", "ba", "bb"}));
    EXPECT_TRUE(bounded.get_frequent().at("aa").get_indexes().empty());
}

TEST(Mine, KeepingEveryCandidateBeyondMemoryIsRefusedUpFront) {
    PatternMiner miner(0.0, 1, 1 << 20, 1.0);
    EXPECT_THROW(miner.mine({"ab"}), std::invalid_argument);
    EXPECT_TRUE(miner.get_frequent().empty());
    // Within memory the same search runs: 2 + 4 + 8 patterns.
    PatternMiner small(0.0, 1, 3, 1.0);
    small.mine({"ab"});
    EXPECT_EQ(small.get_frequent().size(), 14u);
}

// Every candidate kept over two letters up to length 3: 2 + 4 + 8 = 14 patterns, 91 pairs.
TEST(Mine, SiftingEveryCandidateBeyondAFewSecondsIsRefusedUpFront) {
    PatternMiner at_budget(0.0, 1, 3, 0.9);
    at_budget.set_sifting_budget(14.0);
    at_budget.mine({"ab"});
    EXPECT_EQ(at_budget.get_levels().at(3).size(), 8u);

    PatternMiner beyond(0.0, 1, 3, 0.9);
    beyond.set_sifting_budget(13.0);
    try {
        beyond.mine({"ab"});
        FAIL() << "not refused";
    } catch (const std::invalid_argument& error) {
        const std::string message = error.what();
        for (const char* part : {"2 letters give 14 patterns of 1 to 3 letters", "91 pairs",
                                 "more than the 13 patterns", "a max_len of at most 2"}) {
            EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
        }
    }
    EXPECT_TRUE(beyond.get_frequent().empty());

    // By default four million: every binary word up to 20 letters is sifted (2^21 - 2 of
    // them), up to 21 is refused; so are words of 7 letters over ten.
    try {
        PatternMiner(-1.0, 3, 21, 0.9).mine({"ab"});
        FAIL() << "not refused";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find("4194302 patterns of 1 to 21 letters"),
                  std::string::npos);
        EXPECT_NE(std::string(error.what()).find("max_len of at most 20"), std::string::npos);
    }
    EXPECT_THROW(PatternMiner(0.0, 3, 7, 0.9).mine({"abcdefghij"}), std::invalid_argument);

    // A positive threshold is never refused for time.
    PatternMiner positive(0.5, 1, 0, 0.9);
    positive.set_sifting_budget(0.0);
    positive.mine({"abab", "ab"});
    EXPECT_EQ(keys_of(positive.get_frequent()), Words{"abab"});
}

TEST(Mine, TableBytesCountEveryAcceptedPatternOfTheRun) {
    PatternMiner miner(0.5, 1, 0, 1.0);
    miner.mine({"abab", "abba"});
    const double first = miner.get_table_bytes();
    EXPECT_GT(first, 0.0);
    miner.mine({"abab", "abba"});
    EXPECT_EQ(miner.get_table_bytes(), first);  // a new run counts afresh
    PatternMiner more(0.5, 1, 0, 1.0);
    more.mine({"ababab", "abbaab"});
    EXPECT_GT(more.get_table_bytes(), first);
}

TEST(Mine, TakeFrequentHandsOverTheTable) {
    PatternMiner miner(1.0, 1, 0, 0.9);
    miner.mine({"ab", "ab"});
    const FrequentTable taken = miner.take_frequent();
    EXPECT_EQ(keys_of(taken), Words{"ab"});
    EXPECT_TRUE(miner.get_frequent().empty());
}

// The search on the suffix array against the level-wise steps it replaces in mine: the same
// levels, the same table, the same occurrences in the same order.

LevelWiseSearch level_wise(const WordSet& words, double minsup, int min_len, int max_len,
                           double max_overlap) {
    LevelWiseSearch miner(minsup, min_len, max_len, max_overlap);
    miner.begin_run(words);
    miner.mine_1_patterns(words);
    while (miner.mine_next_level(words)) {
    }
    miner.remove_redundant();
    return miner;
}

// Each series with its positions, in the record's own order.
std::vector<std::pair<int, std::vector<int>>> groups_of(const Occurrences& found) {
    std::vector<std::pair<int, std::vector<int>>> groups;
    for (size_t group = 0; group < found.series_count(); ++group) {
        groups.emplace_back(found.series_at(group),
                            std::vector<int>(found.begin_of(group), found.end_of(group)));
    }
    return groups;
}

void expect_same_run(const WordSet& words, double minsup, int min_len, int max_len,
                     double max_overlap) {
    PatternMiner fast(minsup, min_len, max_len, max_overlap);
    fast.mine(words);
    const LevelWiseSearch plain = level_wise(words, minsup, min_len, max_len, max_overlap);
    ASSERT_EQ(fast.get_levels(), plain.get_levels());
    ASSERT_EQ(fast.get_level(), plain.get_level());
    const FrequentTable found = fast.get_frequent();
    const FrequentTable expected = plain.get_frequent();
    ASSERT_EQ(keys_of(found), keys_of(expected));
    for (const auto& [pattern, motif] : expected) {
        ASSERT_EQ(groups_of(found.at(pattern).occurrences()), groups_of(motif.occurrences()))
            << pattern;
        ASSERT_EQ(found.at(pattern).get_pattern(), pattern);
    }
}

// Words built from runs of one letter, copies of stretches seen before (in any word, so that
// they recur across series) and single letters, over few letters and some high bytes.
WordSet words_with_runs_and_repeats(std::mt19937& random) {
    const std::string alphabets[] = {"a", "ab", "abc", "ab\x80", "a\xff\x7f\x01"};
    const std::string& letters = alphabets[random() % 5];
    WordSet words(random() % 8);
    for (size_t w = 0; w < words.size(); ++w) {
        const size_t length = random() % 40;
        Word& word = words[w];
        while (word.size() < length) {
            const size_t kind = random() % 3;
            const Word& source = words[random() % (w + 1)];
            if (kind == 0 && !source.empty()) {
                const size_t from = random() % source.size();
                word += source.substr(from, 1 + random() % 15);
            } else {
                word.append(kind == 1 ? 1 + random() % 12 : 1, letters[random() % letters.size()]);
            }
        }
        word.resize(length);
    }
    return words;
}

TEST(Search, EqualsTheLevelWiseSearchOnRunsAndRepeats) {
    const double nan_value = std::numeric_limits<double>::quiet_NaN();
    const double minsups[] = {0.1, 0.2, 1.0 / 3.0, 0.5, 0.75, 1.0, 1.5, 0.0, -1.0, nan_value};
    const int min_lens[] = {-1, 0, 1, 2, 3, 5};
    const int max_lens[] = {0, 0, 0, -1, 1, 2, 3, 6};
    const double overlaps[] = {-0.5, 0.0, 0.5, 0.75, 0.9, 0.9, 1.0, nan_value};
    std::mt19937 random(31);
    for (int trial = 0; trial < 600; ++trial) {
        const WordSet words = words_with_runs_and_repeats(random);
        const double minsup = minsups[random() % 10];
        const int min_len = min_lens[random() % 6];
        int max_len = max_lens[random() % 8];
        const double max_overlap = overlaps[random() % 8];
        if (!(minsup > 0.0) && max_len > 3) {
            max_len = 3;  // every word of every length is accepted: keep the levels small
        }
        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << ": minsup " << minsup << ", min_len " << min_len
                     << ", max_len " << max_len << ", max_overlap " << max_overlap);
        bool refused = false;
        try {
            level_wise(words, minsup, min_len, max_len, max_overlap);
        } catch (const std::invalid_argument&) {
            refused = true;
        }
        if (refused) {
            PatternMiner fast(minsup, min_len, max_len, max_overlap);
            EXPECT_THROW(fast.mine(words), std::invalid_argument);
            EXPECT_TRUE(fast.get_frequent().empty());
            continue;
        }
        expect_same_run(words, minsup, min_len, max_len, max_overlap);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// A run of R equal letters holds R - k + 1 overlapping occurrences of each of its k-letter
// stretches; periodic words hold as many of every stretch of their period.
TEST(Search, EqualsTheLevelWiseSearchOnLongRunsAndOverlaps) {
    const Word a(500, 'a');
    const Word b(300, 'b');
    auto repeat = [](const Word& part, size_t times) {
        Word word;
        for (size_t k = 0; k < times; ++k) {
            word += part;
        }
        return word;
    };
    const std::vector<WordSet> sets{
        {a + b, b + a.substr(0, 200), a.substr(0, 350) + "c" + b},
        {a, a.substr(0, 499), a.substr(0, 10)},
        {repeat("ab", 150), repeat("ab", 149) + "b", repeat("ba", 100)},
        {repeat("abc", 100), repeat("abcabd", 40), repeat("cab", 80) + a.substr(0, 90)},
        {repeat("aab", 60), repeat("aaab", 40), repeat("ab", 90)},
    };
    for (const WordSet& words : sets) {
        for (double max_overlap : {0.9, 1.0}) {
            for (int min_len : {1, 3}) {
                expect_same_run(words, 0.5, min_len, 0, max_overlap);
                expect_same_run(words, 1.0, min_len, 0, max_overlap);
            }
        }
        expect_same_run(words, 0.5, 3, 40, 0.9);
    }
}

TEST(Search, PatternsBeyondTheBudgetAreRefusedBeforeTheyAreBuilt) {
    // One word of 2000 letters a: 2000 accepted patterns holding 2 million positions.
    const WordSet words{Word(2000, 'a')};
    PatternMiner generous(1.0, 1, 0, 1.0);
    generous.mine(words);
    EXPECT_EQ(generous.get_frequent().size(), 2000u);

    PatternMiner few_patterns(1.0, 1, 0, 1.0);
    few_patterns.set_memory_budget(1e6);
    try {
        few_patterns.mine(words);
        FAIL() << "not refused";
    } catch (const MemoryLimitExceeded& error) {
        EXPECT_NE(std::string(error.what()).find("frequent patterns"), std::string::npos);
    }
    EXPECT_TRUE(few_patterns.get_frequent().empty());

    // Room for the patterns, not for their occurrences.
    PatternMiner few_occurrences(1.0, 1, 0, 1.0);
    few_occurrences.set_memory_budget(8e6);
    try {
        few_occurrences.mine(words);
        FAIL() << "not refused";
    } catch (const MemoryLimitExceeded& error) {
        EXPECT_NE(std::string(error.what()).find("occurrences"), std::string::npos);
    }
    EXPECT_TRUE(few_occurrences.get_frequent().empty());

    // Nor is the index built when the words alone would outgrow the budget.
    PatternMiner no_index(1.0, 1, 0, 1.0);
    no_index.set_memory_budget(1e4);
    EXPECT_THROW(no_index.mine(words), MemoryLimitExceeded);

    // The level-wise steps count against the same budget.
    LevelWiseSearch steps(1.0, 1, 0, 1.0);
    steps.set_memory_budget(1e6);
    steps.begin_run(words);
    steps.mine_1_patterns(words);
    EXPECT_THROW(while (steps.mine_next_level(words)){}, MemoryLimitExceeded);
}

}  // namespace
}  // namespace zorp
