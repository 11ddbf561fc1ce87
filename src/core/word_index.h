#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cancel.h"
#include "occurrences.h"
#include "sax.h"

namespace zorp {

// A generalised suffix array over a word set: every letter position of every word, sorted by
// the rest of its word (bytes compared as signed values, as patterns are; the end of a word
// before any byte), with the length of the common prefix of each neighbouring pair, counted
// within their words. A pattern's occurrences are one range of the sorted positions, and the
// ranges of the patterns that share a start form a tree that one pass over the prefix lengths
// visits, which lets the miner find every frequent pattern without listing its occurrences.
class WordIndex {
  public:
    // Bytes the index may take while it is built, per letter of the word set, counting the
    // words' ends.
    static constexpr double bytes_per_letter = 64.0;

    explicit WordIndex(const WordSet& words, const Cancellation& cancel = Cancellation());

    // Number of letter positions, that is of sorted suffixes.
    size_t size() const { return suffixes.size(); }
    size_t word_count() const { return word_starts.size() - 1; }

    // Position i of the sorted order: the suffix's offset in the text (the words laid end to
    // end in series order, each followed by one separator), its series, and how many letters
    // of its word it holds.
    int32_t offset_at(size_t i) const { return suffixes[i]; }
    int32_t series_at(size_t i) const { return series[i]; }
    int32_t letters_left_at(size_t i) const {
        return word_starts[static_cast<size_t>(series[i]) + 1] - 1 - suffixes[i];
    }
    // The common prefix of the suffixes at i - 1 and i, within their words; 0 at i = 0.
    int32_t common_prefix_at(size_t i) const { return common_prefix[i]; }

    // length bytes of the text from offset: a pattern, as the miner writes it.
    Word pattern_at(int32_t offset, size_t length) const;

    // The range [first, last) of sorted positions at which the pattern starts.
    std::pair<size_t, size_t> range_of(const Word& pattern) const;

    // The occurrences of a range, series ascending and positions ascending within each.
    Occurrences occurrences_of(std::pair<size_t, size_t> range) const;

    // Drops what only the walk over the prefix lengths needs (series and prefix lengths);
    // range_of and occurrences_of still work.
    void keep_only_lookup();

  private:
    std::vector<int32_t> text;         // letters as 2 + (signed byte + 128), 1 ends a word, 0 last
    std::vector<int32_t> word_starts;  // offset of each word, then one past the text's last word
    std::vector<int32_t> suffixes;
    std::vector<int32_t> series;
    std::vector<int32_t> common_prefix;
};

// The suffix array of text: the offsets of its suffixes in ascending order. The text's last
// symbol must be 0 and occur nowhere else; every symbol lies in [0, alphabet). Linear in the
// length of the text (induced sorting).
std::vector<int32_t> suffix_array(const std::vector<int32_t>& text, int32_t alphabet,
                                  const Cancellation& cancel = Cancellation());

}  // namespace zorp
