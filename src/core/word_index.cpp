#include "word_index.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "memory_budget.h"

namespace zorp {

namespace {

constexpr int32_t end_of_text = 0;
constexpr int32_t end_of_word = 1;
constexpr int32_t first_letter = 2;
constexpr int32_t alphabet_size = first_letter + 256;

// Letters keep the order of signed bytes: 0x80 maps to the first letter, 0x7F to the last.
int32_t symbol_of(char byte) {
    return first_letter + static_cast<int32_t>(static_cast<signed char>(byte)) + 128;
}

char byte_of_symbol(int32_t symbol) {
    return static_cast<char>(static_cast<signed char>(symbol - first_letter - 128));
}

// One level of induced sorting. A suffix is S-type when it is smaller than the suffix after
// it, L-type otherwise; an S-type suffix that follows an L-type one is leftmost-S (LMS). Once
// the LMS suffixes sit in order at the ends of their buckets, one pass from the left places
// every L-type suffix and one pass from the right every S-type suffix.
class InducedSort {
  public:
    InducedSort(const std::vector<int32_t>& text, int32_t alphabet, const Cancellation& cancel)
        : text(text),
          cancel(cancel),
          n(text.size()),
          s_type(n, 0),
          counts(static_cast<size_t>(alphabet), 0),
          bucket(static_cast<size_t>(alphabet)) {
        s_type[n - 1] = 1;
        for (size_t i = n - 1; i-- > 0;) {
            s_type[i] = text[i] < text[i + 1] || (text[i] == text[i + 1] && s_type[i + 1]);
        }
        for (int32_t symbol : text) {
            ++counts[static_cast<size_t>(symbol)];
        }
        cancel.count(2 * n);
    }

    std::vector<int32_t> run() {
        std::vector<int32_t> order(n, -1);
        if (n == 1) {
            order[0] = 0;
            return order;
        }
        // First pass: the LMS suffixes in text order give their LMS substrings in order.
        to_bucket_ends();
        for (size_t i = 1; i < n; ++i) {
            if (is_lms(i)) {
                order[static_cast<size_t>(--bucket[symbol_at(i)])] = static_cast<int32_t>(i);
            }
        }
        cancel.count(n);
        induce(order);

        // Name the LMS substrings in sorted order; equal substrings share a name.
        size_t lms_count = 0;
        for (size_t j = 0; j < n; ++j) {
            if (is_lms(static_cast<size_t>(order[j]))) {
                order[lms_count++] = order[j];
            }
        }
        std::vector<int32_t> name_of_half(n / 2 + 1, -1);  // LMS positions are 2 apart or more
        int32_t names = 0;
        size_t previous = n;
        for (size_t j = 0; j < lms_count; ++j) {
            cancel.count_step(j);
            const auto position = static_cast<size_t>(order[j]);
            if (previous == n || !same_lms_substring(previous, position)) {
                ++names;
                previous = position;
            }
            name_of_half[position / 2] = names - 1;
        }
        std::vector<int32_t> positions;
        std::vector<int32_t> reduced;
        positions.reserve(lms_count);
        reduced.reserve(lms_count);
        for (size_t i = 1; i < n; ++i) {
            if (is_lms(i)) {
                positions.push_back(static_cast<int32_t>(i));
                reduced.push_back(name_of_half[i / 2]);
            }
        }
        name_of_half = std::vector<int32_t>();
        cancel.count(2 * n);

        // The order of the LMS suffixes: from the names alone when they are all different,
        // otherwise from the suffix array of the string of names.
        std::vector<int32_t> reduced_order;
        if (static_cast<size_t>(names) < lms_count) {
            reduced_order = InducedSort(reduced, names, cancel).run();
        } else {
            reduced_order.resize(lms_count);
            for (size_t i = 0; i < lms_count; ++i) {
                reduced_order[static_cast<size_t>(reduced[i])] = static_cast<int32_t>(i);
            }
        }
        reduced = std::vector<int32_t>();

        // Second pass: the LMS suffixes in their true order, the rest induced from them.
        std::fill(order.begin(), order.end(), -1);
        to_bucket_ends();
        for (size_t j = lms_count; j-- > 0;) {
            const auto position =
                static_cast<size_t>(positions[static_cast<size_t>(reduced_order[j])]);
            order[static_cast<size_t>(--bucket[symbol_at(position)])] =
                static_cast<int32_t>(position);
        }
        cancel.count(n + lms_count);
        induce(order);
        return order;
    }

  private:
    size_t symbol_at(size_t i) const { return static_cast<size_t>(text[i]); }
    bool is_lms(size_t i) const { return i > 0 && i < n && s_type[i] && !s_type[i - 1]; }

    void to_bucket_starts() {
        int32_t sum = 0;
        for (size_t c = 0; c < counts.size(); ++c) {
            bucket[c] = sum;
            sum += counts[c];
        }
    }
    void to_bucket_ends() {
        int32_t sum = 0;
        for (size_t c = 0; c < counts.size(); ++c) {
            sum += counts[c];
            bucket[c] = sum;
        }
    }

    void induce(std::vector<int32_t>& order) {
        to_bucket_starts();
        for (size_t j = 0; j < n; ++j) {
            cancel.count_step(j);
            if (order[j] > 0) {
                const auto before = static_cast<size_t>(order[j]) - 1;
                if (!s_type[before]) {
                    order[static_cast<size_t>(bucket[symbol_at(before)]++)] =
                        static_cast<int32_t>(before);
                }
            }
        }
        to_bucket_ends();
        for (size_t j = n; j-- > 0;) {
            cancel.count_step(j);
            if (order[j] > 0) {
                const auto before = static_cast<size_t>(order[j]) - 1;
                if (s_type[before]) {
                    order[static_cast<size_t>(--bucket[symbol_at(before)])] =
                        static_cast<int32_t>(before);
                }
            }
        }
    }

    // Two LMS substrings (from an LMS position to the next one, both included) are equal when
    // their symbols and types are. The last symbol of the text is unique, so no comparison
    // runs past it.
    bool same_lms_substring(size_t a, size_t b) const {
        for (size_t k = 0;; ++k) {
            if (text[a + k] != text[b + k] || s_type[a + k] != s_type[b + k]) {
                return false;
            }
            if (k > 0 && (is_lms(a + k) || is_lms(b + k))) {
                return is_lms(a + k) && is_lms(b + k);
            }
        }
    }

    const std::vector<int32_t>& text;
    const Cancellation& cancel;
    size_t n;
    std::vector<uint8_t> s_type;
    std::vector<int32_t> counts;
    std::vector<int32_t> bucket;
};

}  // namespace

std::vector<int32_t> suffix_array(const std::vector<int32_t>& text, int32_t alphabet,
                                  const Cancellation& cancel) {
    if (text.empty()) {
        return {};
    }
    return InducedSort(text, alphabet, cancel).run();
}

WordIndex::WordIndex(const WordSet& words, const Cancellation& cancel) {
    size_t length = 1;
    for (const Word& word : words) {
        length += word.size() + 1;
    }
    if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        throw MemoryLimitExceeded("the words hold " + std::to_string(length) +
                                  " letters, more than the pattern search can index");
    }
    text.reserve(length);
    word_starts.reserve(words.size() + 1);
    for (const Word& word : words) {
        word_starts.push_back(static_cast<int32_t>(text.size()));
        for (char byte : word) {
            text.push_back(symbol_of(byte));
        }
        text.push_back(end_of_word);
    }
    word_starts.push_back(static_cast<int32_t>(text.size()));
    text.push_back(end_of_text);
    cancel.count(length);

    std::vector<int32_t> order = suffix_array(text, alphabet_size, cancel);
    // The end of the text and the ends of the words sort first; the letters follow.
    const size_t skipped = words.size() + 1;
    const size_t letters = order.size() - skipped;

    // Common prefixes by the method of Kasai et al., in text order: the common prefix of a
    // suffix and the one before it in the order shrinks by at most one from one offset to the
    // next. A comparison stops at the end of a word, so no prefix reaches into the next word.
    std::vector<int32_t> rank(order.size());
    for (size_t j = 0; j < order.size(); ++j) {
        rank[static_cast<size_t>(order[j])] = static_cast<int32_t>(j);
    }
    cancel.count(order.size());
    common_prefix.assign(letters, 0);
    series.assign(letters, 0);
    size_t shared = 0;
    int32_t word = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        cancel.count_step(i);
        if (text[i] == end_of_word) {
            ++word;
            shared = 0;
            continue;
        }
        const auto j = static_cast<size_t>(rank[i]);
        series[j - skipped] = word;
        if (j == skipped) {
            shared = 0;
            continue;
        }
        const auto before = static_cast<size_t>(order[j - 1]);
        while (text[i + shared] >= first_letter && text[i + shared] == text[before + shared]) {
            ++shared;
        }
        common_prefix[j - skipped] = static_cast<int32_t>(shared);
        if (shared > 0) {
            --shared;
        }
    }
    rank = std::vector<int32_t>();
    order.erase(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(skipped));
    suffixes = std::move(order);
}

Word WordIndex::pattern_at(int32_t offset, size_t length) const {
    Word pattern(length, '\0');
    for (size_t k = 0; k < length; ++k) {
        pattern[k] = byte_of_symbol(text[static_cast<size_t>(offset) + k]);
    }
    return pattern;
}

std::pair<size_t, size_t> WordIndex::range_of(const Word& pattern) const {
    // -1, 0 or 1 as the suffix at sorted position i, cut to the pattern's length, sorts
    // before, equal to or after the pattern. The end of a word sorts before any letter.
    auto compare = [&](size_t i) {
        const auto start = static_cast<size_t>(suffixes[i]);
        for (size_t k = 0; k < pattern.size(); ++k) {
            const int32_t have = text[start + k];
            const int32_t want = symbol_of(pattern[k]);
            if (have != want) {
                return have < want ? -1 : 1;
            }
        }
        return 0;
    };
    size_t low = 0;
    size_t high = suffixes.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (compare(middle) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    const size_t first = low;
    high = suffixes.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (compare(middle) <= 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return {first, low};
}

// Offsets ascend in series order and, within a series, in position order, so sorting them
// gives the occurrences in the order the miner records them.
Occurrences WordIndex::occurrences_of(std::pair<size_t, size_t> range) const {
    std::vector<int32_t> offsets(suffixes.begin() + static_cast<std::ptrdiff_t>(range.first),
                                 suffixes.begin() + static_cast<std::ptrdiff_t>(range.second));
    std::sort(offsets.begin(), offsets.end());
    std::vector<int> group_series;
    std::vector<size_t> group_starts;
    std::vector<int> positions(offsets.size());
    size_t word = 0;
    for (size_t k = 0; k < offsets.size(); ++k) {
        const int32_t offset = offsets[k];
        if (k == 0 || offset >= word_starts[word + 1]) {
            word = static_cast<size_t>(
                       std::upper_bound(word_starts.begin(), word_starts.end(), offset) -
                       word_starts.begin()) -
                   1;
            group_series.push_back(static_cast<int>(word));
            group_starts.push_back(k);
        }
        positions[k] = offset - word_starts[word];
    }
    Occurrences found;
    found.assign_groups(group_series, group_starts, positions);
    return found;
}

void WordIndex::keep_only_lookup() {
    series = std::vector<int32_t>();
    common_prefix = std::vector<int32_t>();
}

}  // namespace zorp
