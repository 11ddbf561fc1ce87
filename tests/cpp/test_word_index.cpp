#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "patterns.h"
#include "word_index.h"

namespace zorp {
namespace {

// Texts over few symbols with runs and repeated blocks: the cases where induced sorting recurses
// and where neighbouring suffixes share long prefixes.
std::vector<int32_t> random_text(std::mt19937& random, size_t length, int32_t alphabet) {
    std::vector<int32_t> text;
    while (text.size() < length) {
        const int32_t symbol = 1 + static_cast<int32_t>(random() % (alphabet - 1));
        const size_t kind = random() % 3;
        if (kind == 0 && !text.empty()) {
            const size_t from = random() % text.size();
            const size_t count = std::min(text.size() - from, 1 + random() % 12);
            for (size_t k = 0; k < count; ++k) {
                text.push_back(text[from + k]);
            }
        } else {
            text.insert(text.end(), kind == 1 ? 1 + random() % 9 : 1, symbol);
        }
    }
    text.resize(length);
    text.push_back(0);
    return text;
}

TEST(SuffixArray, SortsEverySuffix) {
    std::mt19937 random(17);
    for (int trial = 0; trial < 300; ++trial) {
        const auto alphabet = static_cast<int32_t>(2 + random() % 4);
        const std::vector<int32_t> text = random_text(random, random() % 120, alphabet);
        std::vector<int32_t> expected(text.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) {
            return std::lexicographical_compare(text.begin() + a, text.end(), text.begin() + b,
                                                text.end());
        });
        ASSERT_EQ(suffix_array(text, alphabet), expected) << "trial " << trial;
    }
    EXPECT_EQ(suffix_array({0}, 1), std::vector<int32_t>{0});
    EXPECT_TRUE(suffix_array({}, 1).empty());
}

WordSet random_words(std::mt19937& random, size_t count, size_t longest,
                     const std::string& letters) {
    WordSet words(count);
    for (Word& word : words) {
        const size_t length = random() % (longest + 1);
        while (word.size() < length) {
            const char letter = letters[random() % letters.size()];
            word.append(random() % 3 == 0 ? 1 + random() % 10 : 1, letter);
        }
        word.resize(length);
    }
    return words;
}

TEST(WordIndex, SuffixesInPatternOrderWithinTheirWords) {
    std::mt19937 random(23);
    for (int trial = 0; trial < 200; ++trial) {
        const WordSet words = random_words(random, random() % 6, 30, "ab\x80\xff");
        const WordIndex index(words);
        size_t letters = 0;
        for (const Word& word : words) {
            letters += word.size();
        }
        ASSERT_EQ(index.size(), letters);
        ASSERT_EQ(index.word_count(), words.size());
        Word previous;
        for (size_t i = 0; i < index.size(); ++i) {
            const auto series = static_cast<size_t>(index.series_at(i));
            const auto left = static_cast<size_t>(index.letters_left_at(i));
            ASSERT_LT(series, words.size());
            ASSERT_LE(left, words[series].size());
            const Word suffix = words[series].substr(words[series].size() - left);
            ASSERT_EQ(index.pattern_at(index.offset_at(i), left), suffix);
            if (i > 0) {
                ASSERT_FALSE(SymbolLess()(suffix, previous)) << previous << " / " << suffix;
                size_t shared = 0;
                while (shared < suffix.size() && shared < previous.size() &&
                       suffix[shared] == previous[shared]) {
                    ++shared;
                }
                ASSERT_EQ(static_cast<size_t>(index.common_prefix_at(i)), shared);
            } else {
                ASSERT_EQ(index.common_prefix_at(i), 0);
            }
            previous = suffix;
        }
    }
}

TEST(WordIndex, RangesAndOccurrencesOfPatterns) {
    std::mt19937 random(29);
    for (int trial = 0; trial < 200; ++trial) {
        const WordSet words = random_words(random, 1 + random() % 5, 25, "abc");
        const WordIndex index(words);
        for (const Word& pattern : {Word("a"), Word("ab"), Word("aaa"), Word("cab"), Word("d"),
                                    Word("abcabc"), Word("\xff")}) {
            IndexTable expected;
            for (size_t s = 0; s < words.size(); ++s) {
                for (size_t at = words[s].find(pattern); at != Word::npos;
                     at = words[s].find(pattern, at + 1)) {
                    expected[static_cast<int>(s)].push_back(static_cast<int>(at));
                }
            }
            const auto range = index.range_of(pattern);
            const Occurrences found = index.occurrences_of(range);
            ASSERT_EQ(found.to_table(), expected) << pattern;
            // Series ascending, as the level-wise search records them.
            for (size_t group = 1; group < found.series_count(); ++group) {
                ASSERT_LT(found.series_at(group - 1), found.series_at(group));
            }
        }
    }
}

TEST(WordIndex, EmptyWordsAndEmptySet) {
    const WordIndex none(WordSet{});
    EXPECT_EQ(none.size(), 0u);
    const WordIndex blanks(WordSet{"", "a", ""});
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks.series_at(0), 1);
    EXPECT_EQ(blanks.occurrences_of(blanks.range_of("a")).to_table(), (IndexTable{{1, {0}}}));
}

}  // namespace
}  // namespace zorp
