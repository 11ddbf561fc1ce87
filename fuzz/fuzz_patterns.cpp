// Fuzzes zorp::PatternMiner::mine. Input: minsup byte (fuzz::minsups), min_len byte ([-2, 6],
// 255/254 = INT_MIN/INT_MAX), max_len byte ([-2, 6]), max_overlap byte (fuzz::overlaps), then
// up to 8 words: a count byte, then per word a length byte (up to 24) and its letters. A letter
// byte below 0xE0 gives 'a' to 'd'; 0xE0 and above pass the next byte through unchanged.

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "fuzz_input.h"
#include "patterns.h"

namespace {

zorp::WordSet read_words(fuzz::Input& in) {
    zorp::WordSet words(in.byte() % 9);
    for (zorp::Word& word : words) {
        word.resize(in.byte() % 25);
        for (char& letter : word) {
            const uint8_t b = in.byte();
            letter = static_cast<char>(b < 0xE0 ? 'a' + b % 4 : in.byte());
        }
    }
    return words;
}

// Every start position of pattern in word, ascending.
std::vector<int> positions_of(const zorp::Word& pattern, const zorp::Word& word) {
    std::vector<int> found;
    for (size_t at = word.find(pattern); at != zorp::Word::npos; at = word.find(pattern, at + 1)) {
        found.push_back(static_cast<int>(at));
    }
    return found;
}

// The number of words in which each substring of a length in [shortest, longest] occurs.
std::map<zorp::Word, size_t> substring_support(const zorp::WordSet& words, size_t shortest,
                                               size_t longest) {
    std::map<zorp::Word, size_t> support;
    for (const zorp::Word& word : words) {
        std::set<zorp::Word> seen;
        for (size_t at = 0; at < word.size(); ++at) {
            for (size_t length = shortest; length <= longest && at + length <= word.size();
                 ++length) {
                seen.insert(word.substr(at, length));
            }
        }
        for (const zorp::Word& substring : seen) {
            ++support[substring];
        }
    }
    return support;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const double minsup = in.pick(fuzz::minsups);
    const int min_len = in.in_range_or_extreme(-2, 6);
    int max_len = in.in_range(-2, 6);
    const double max_overlap = in.pick(fuzz::overlaps);
    const zorp::WordSet words = read_words(in);

    const double threshold = minsup * static_cast<double>(words.size());
    std::array<bool, 256> occurs{};
    for (const zorp::Word& word : words) {
        for (char letter : word) {
            occurs[static_cast<unsigned char>(letter)] = true;
        }
    }
    max_len =
        fuzz::bounded_max_len(max_len, threshold, std::count(occurs.begin(), occurs.end(), true));

    zorp::PatternMiner miner(minsup, min_len, max_len, max_overlap);
    try {
        miner.mine(words);
    } catch (const std::invalid_argument&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    } catch (const zorp::MemoryLimitExceeded&) {
        return 0;
    }

    const zorp::FrequentTable table = miner.get_frequent();
    const zorp::Word* previous = nullptr;
    for (const auto& [pattern, motif] : table) {
        FUZZ_CHECK(!pattern.empty());
        FUZZ_CHECK(previous == nullptr || zorp::SymbolLess()(*previous, pattern));
        previous = &pattern;
        FUZZ_CHECK(motif.get_pattern() == pattern);
        FUZZ_CHECK(static_cast<int64_t>(pattern.size()) >= min_len);
        FUZZ_CHECK(max_len <= 0 || pattern.size() <= static_cast<size_t>(max_len));
        FUZZ_CHECK(!(threshold > 0.0) || static_cast<double>(motif.support()) >= threshold);
        // The record holds exactly the pattern's occurrences: every start in every word.
        const zorp::IndexTable indexes = motif.get_indexes();
        FUZZ_CHECK(indexes.size() == motif.support());
        for (const auto& entry : indexes) {
            FUZZ_CHECK(entry.first >= 0 && static_cast<size_t>(entry.first) < words.size());
        }
        for (size_t w = 0; w < words.size(); ++w) {
            const std::vector<int> expected = positions_of(pattern, words[w]);
            const auto found = indexes.find(static_cast<int>(w));
            FUZZ_CHECK(expected.empty() ? found == indexes.end()
                                        : found != indexes.end() && found->second == expected);
        }
    }

    // Without redundancy removal (an overlap ratio never exceeds 1), with a positive threshold
    // and a max_len of 0 (no limit) or more, the table is exactly the substrings of the allowed
    // lengths that occur in enough words.
    if (threshold > 0.0 && !(max_overlap < 1.0) && max_len >= 0) {
        const size_t shortest = min_len > 1 ? static_cast<size_t>(min_len) : 1;
        const size_t longest = max_len > 0 ? static_cast<size_t>(max_len) : 24;
        size_t expected = 0;
        for (const auto& [pattern, support] : substring_support(words, shortest, longest)) {
            if (static_cast<double>(support) >= threshold) {
                FUZZ_CHECK(table.count(pattern) == 1);
                ++expected;
            }
        }
        FUZZ_CHECK(table.size() == expected);
    }
    return 0;
}
