#include "patterns.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "redundancy.h"
#include "word_index.h"

namespace zorp {

namespace {

size_t byte_of(char symbol) {
    return static_cast<unsigned char>(symbol);
}

// The work of building one pattern of the given length, in the units a Cancellation counts:
// a pattern too long to fit in the string itself takes an allocation.
size_t copy_units(size_t length) {
    return length > 15 ? 128 + length / 8 : 8;
}

bool any_letter(const WordSet& words) {
    return std::any_of(words.begin(), words.end(), [](const Word& word) { return !word.empty(); });
}

}  // namespace

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup),
      min_len(min_len),
      max_len(max_len),
      max_overlap(max_overlap),
      memory_budget(static_cast<double>(memory_budget_bytes())),
      levels(2) {}

void PatternMiner::reset(const Cancellation& cancel) {
    while (levels.size() > 2) {
        cancel.count(levels.back().size() * copy_units(levels.size() - 1));
        levels.pop_back();
    }
    frequent.clear();
    levels.assign(2, {});
    level = 2;
    support_threshold = 0.0;
    table_bytes = 0.0;
}

void PatternMiner::clear(const Cancellation& cancel) {
    reset(cancel);
}

namespace {

// What one table entry takes besides its pattern and occurrences: the map node, the Motif and
// the pattern's copy in its level.
constexpr double entry_bytes = 320.0;

double pattern_bytes(size_t length) {
    // A pattern is held twice (table key and level), on the heap once it outgrows the string.
    return length > 15 ? 2.0 * static_cast<double>(length + 1) : 0.0;
}

}  // namespace

// With a threshold that is not positive every candidate is kept, occurring or not, so level n
// holds every word of n letters over the letters that occur. That count is known before the
// search starts, and a search that could not hold them, or that would take more than a few
// seconds to sift them, is refused at once.
void PatternMiner::refuse_unbounded_growth(const WordSet& words, double threshold) const {
    if (threshold > 0.0) {
        return;
    }
    std::array<bool, 256> occurs{};
    for (const Word& word : words) {
        for (char symbol : word) {
            occurs[byte_of(symbol)] = true;
        }
    }
    const auto letters = static_cast<double>(std::count(occurs.begin(), occurs.end(), true));
    const int longest = max_len > 1 ? max_len : 1;
    const double budget = memory_budget;
    double patterns_at_length = 1.0;
    double needed = 0.0;
    for (int length = 1; length <= longest && needed <= budget; ++length) {
        patterns_at_length *= letters;
        needed += patterns_at_length * (entry_bytes + pattern_bytes(static_cast<size_t>(length)));
        if (patterns_at_length == 0.0) {
            break;
        }
    }
    if (needed > budget) {
        throw std::invalid_argument(
            "support threshold (minsup x number of words) is " + decimal(threshold) +
            ", not positive, so every candidate is kept: " + decimal(letters) + " letters give " +
            decimal(letters) + "^n patterns of each length n up to max_len " +
            std::to_string(max_len) + ", more than the " + gibibytes(budget) +
            " this machine can give the search; give a positive minsup or a smaller max_len");
    }

    // Nor a run whose patterns would take more than a few seconds to build and sift: the pass
    // settles most patterns through the one letter longer, at about a million a second.
    double patterns = 0.0;
    patterns_at_length = 1.0;
    int within = 0;  // the longest max_len whose patterns stay within the budget
    for (int length = 1; length <= longest && patterns <= sifting_budget; ++length) {
        patterns_at_length *= letters;
        patterns += patterns_at_length;
        if (patterns <= sifting_budget) {
            within = length;
        }
        if (patterns_at_length == 0.0) {
            break;
        }
    }
    if (patterns > sifting_budget) {
        // Counts in whole numbers: the loop stops within 256 times the budget.
        auto whole = [](double count) {
            return count >= 0.0 && count < 9e18 ? std::to_string(static_cast<int64_t>(count))
                                                : decimal(count);
        };
        throw std::invalid_argument(
            "support threshold (minsup x number of words) is " + decimal(threshold) +
            ", not positive, so every candidate is kept: " + decimal(letters) + " letters give " +
            whole(patterns) + " patterns of 1 to " + std::to_string(longest) + " letters, and " +
            decimal(patterns * (patterns - 1.0) / 2.0) +
            " pairs of them for the redundancy pass to weigh, more than the " +
            whole(sifting_budget) + " patterns a run may sift in a few seconds; give a " +
            "positive minsup" +
            (within > 0 ? " or a max_len of at most " + std::to_string(within) : std::string()));
    }
}

void PatternMiner::mine(const WordSet& words, const Cancellation& cancel) {
    reset(cancel);
    PatternMiner run(minsup, min_len, max_len, max_overlap);
    run.memory_budget = memory_budget;
    run.sifting_budget = sifting_budget;
    run.mine_afresh(words, cancel);
    *this = std::move(run);
}

void PatternMiner::mine_afresh(const WordSet& words, const Cancellation& cancel) {
    reset();
    support_threshold = run_threshold(words);
    refuse_oversized_index(words);
    WordIndex index(words, cancel);
    if (support_threshold > 0.0) {
        fill_levels(index, walk_frequent(index, cancel), cancel);
    } else {
        accept_every_candidate(words, cancel);
    }
    index.keep_only_lookup();
    enter_survivors(index, cancel);
}

double PatternMiner::run_threshold(const WordSet& words) const {
    const double threshold = minsup * static_cast<double>(words.size());
    if (!(threshold > 0.0) && max_len == 0 && any_letter(words)) {
        throw std::invalid_argument(
            "support threshold (minsup x number of words) is " + decimal(threshold) +
            ", not positive, and max_len is 0: every candidate would be accepted and the pattern "
            "search would never end; give a positive minsup or a positive max_len");
    }
    refuse_unbounded_growth(words, threshold);
    return threshold;
}

// An ordered comparison: a support equal to the threshold survives, and a threshold that is
// not a number discards nothing.
bool PatternMiner::meets_support(size_t support) const {
    return !(support_threshold > static_cast<double>(support));
}

// The longest pattern a run may accept: max_len, where it bounds the search; a max_len of 1 or
// less (but not 0) stops the search at the single letters.
int PatternMiner::longest_allowed() const {
    if (max_len == 0) {
        return std::numeric_limits<int>::max();
    }
    return max_len < 2 ? 1 : max_len;
}

namespace {

// The bytes of std::string's own heap buffers for one pattern of each length from shortest to
// longest: none while a pattern fits in the string itself (15 bytes with the standard library
// in use), its length plus the terminator once it does not.
double heap_bytes_of_lengths(size_t shortest, size_t longest) {
    const size_t low = std::max<size_t>(shortest, 16);
    if (low > longest) {
        return 0.0;
    }
    const auto count = static_cast<double>(longest - low + 1);
    return count * (static_cast<double>(low + longest) / 2.0 + 1.0);
}

}  // namespace

// Each accepted pattern is held in its level, and counted a second time for what the redundancy
// pass holds per pattern (its view of the pattern, byte counts, hashes and links), which this
// count covers.
void PatternMiner::count_accepted(size_t shortest, size_t longest) {
    const auto patterns = static_cast<double>(longest - shortest + 1);
    table_bytes += 2.0 * (patterns * static_cast<double>(sizeof(Word)) +
                          heap_bytes_of_lengths(shortest, longest));
    if (table_bytes > memory_budget) {
        throw MemoryLimitExceeded("the frequent patterns would need " + gibibytes(table_bytes) +
                                  ", more than the " + gibibytes(memory_budget) +
                                  " this machine can give the search; raise minsup or set a "
                                  "max_len");
    }
}

void PatternMiner::refuse_oversized_index(const WordSet& words) const {
    double letters = 1.0;
    for (const Word& word : words) {
        letters += static_cast<double>(word.size()) + 1.0;
    }
    const double needed = letters * WordIndex::bytes_per_letter;
    if (needed > memory_budget) {
        throw MemoryLimitExceeded("indexing the " + std::to_string(static_cast<size_t>(letters)) +
                                  " letters of the words would need " + gibibytes(needed) +
                                  ", more than the " + gibibytes(memory_budget) +
                                  " this machine can give the search");
    }
}

// One pass over the sorted suffixes visits the ranges of suffixes that share a prefix
// bottom-up, keeping the ranges still open on a stack. A range whose suffixes share d letters,
// inside a range whose suffixes share e, holds the patterns of lengths e + 1 to d, all with
// the range's occurrences; a suffix on its own holds those from one past the longer prefix it
// shares with a neighbour up to its word's end, with support 1.
//
// A range's support is its size less its suffixes whose series has an earlier suffix in the
// range: each suffix is paired with the previous suffix of its series, the pair is counted at
// the innermost range that holds both, and a range passes its count on to the range around
// it when it closes.
//
// A level's patterns are disjoint ranges, and the ranges close from left to right, so every
// length receives its patterns in ascending order: the order in which the level-wise search
// accepts them. When the threshold is positive that search accepts exactly the patterns that
// occur in enough series, since a pattern's support never exceeds that of its parts.
std::vector<PatternMiner::AcceptedRun> PatternMiner::walk_frequent(const WordIndex& index,
                                                                   const Cancellation& cancel) {
    struct Range {
        int32_t depth;
        size_t first;
        size_t repeats;
    };
    std::vector<AcceptedRun> runs;
    const size_t count = index.size();
    if (count == 0) {
        return runs;
    }
    const int64_t longest = longest_allowed();
    auto accept = [&](size_t first, size_t support, int32_t shortest, int32_t deepest) {
        const auto upto = static_cast<int32_t>(std::min<int64_t>(deepest, longest));
        if (shortest > upto || !meets_support(support)) {
            return;
        }
        count_accepted(static_cast<size_t>(shortest), static_cast<size_t>(upto));
        runs.push_back({index.offset_at(first), shortest, upto});
    };
    std::vector<Range> open{{0, 0, 0}};
    constexpr size_t none = static_cast<size_t>(-1);
    std::vector<size_t> last_seen(index.word_count(), none);
    last_seen[static_cast<size_t>(index.series_at(0))] = 0;
    for (size_t i = 1; i <= count; ++i) {
        cancel.count_step(i);
        const int32_t depth = i < count ? index.common_prefix_at(i) : 0;
        const int32_t shared = std::max(index.common_prefix_at(i - 1), depth);
        accept(i - 1, 1, shared + 1, index.letters_left_at(i - 1));

        size_t first = i - 1;
        size_t inherited = 0;
        while (depth < open.back().depth) {
            const Range closed = open.back();
            open.pop_back();
            const int32_t outer = std::max(depth, open.back().depth);
            accept(closed.first, i - closed.first - closed.repeats, outer + 1, closed.depth);
            first = closed.first;
            if (depth <= open.back().depth) {
                open.back().repeats += closed.repeats;
            } else {
                inherited = closed.repeats;
            }
        }
        if (depth > open.back().depth) {
            open.push_back({depth, first, inherited});
        }

        if (i < count) {
            const auto series = static_cast<size_t>(index.series_at(i));
            const size_t before = last_seen[series];
            last_seen[series] = i;
            if (before != none) {
                // Every open range holds i; the innermost one that starts by `before` holds both.
                const auto holds_both = std::upper_bound(
                    open.begin(), open.end(), before,
                    [](size_t at, const Range& range) { return at < range.first; });
                ++std::prev(holds_both)->repeats;
            }
        }
    }
    return runs;
}

// Sizes the levels as the level-wise search leaves them: it mines one length past the longest
// accepted pattern, which comes out empty, unless max_len stops it first.
void PatternMiner::fill_levels(const WordIndex& index, const std::vector<AcceptedRun>& runs,
                               const Cancellation& cancel) {
    int32_t longest_accepted = 0;
    for (const AcceptedRun& run : runs) {
        longest_accepted = std::max(longest_accepted, run.longest);
    }
    const int longest = longest_allowed();
    size_t last = 1;
    if (longest_accepted > 0 && longest > 1) {
        last = longest_accepted < longest ? static_cast<size_t>(longest_accepted) + 1
                                          : static_cast<size_t>(longest);
    }
    level = static_cast<int>(last) + 1;
    levels.assign(last + 1, {});

    std::vector<size_t> per_length(last + 2, 0);
    for (const AcceptedRun& run : runs) {
        ++per_length[static_cast<size_t>(run.shortest)];
        --per_length[static_cast<size_t>(run.longest) + 1];
    }
    size_t patterns = 0;
    for (size_t length = 1; length <= last; ++length) {
        patterns += per_length[length];
        levels[length].reserve(patterns);
    }
    for (const AcceptedRun& run : runs) {
        const auto shortest = static_cast<size_t>(run.shortest);
        const auto longest_length = static_cast<size_t>(run.longest);
        cancel.count((longest_length - shortest + 1) * copy_units(longest_length));
        const Word longest_pattern = index.pattern_at(run.offset, longest_length);
        for (size_t length = shortest; length <= longest_length; ++length) {
            levels[length].emplace_back(longest_pattern, 0, length);
        }
    }
}

// A threshold that is not positive accepts every candidate, occurring or not: level n holds
// every word of n letters over the letters that occur, in ascending order, up to max_len
// (run_threshold has refused the run when max_len does not bound it, or bounds it too late).
void PatternMiner::accept_every_candidate(const WordSet& words, const Cancellation& cancel) {
    std::array<bool, 256> occurs{};
    for (const Word& word : words) {
        for (char symbol : word) {
            occurs[byte_of(symbol)] = true;
        }
    }
    std::vector<char> letters;
    for (int value = -128; value < 128; ++value) {
        const auto symbol = static_cast<char>(static_cast<signed char>(value));
        if (occurs[byte_of(symbol)]) {
            letters.push_back(symbol);
        }
    }
    levels.assign(2, {});
    level = 2;
    for (char symbol : letters) {
        count_accepted(1, 1);
        levels[1].emplace_back(1, symbol);
    }
    if (letters.empty() || longest_allowed() == 1) {
        return;
    }
    for (int length = 2; length <= max_len; ++length) {
        const std::vector<Word>& shorter = levels.back();
        std::vector<Word> accepted;
        accepted.reserve(shorter.size() * letters.size());
        for (const Word& prefix : shorter) {
            cancel.count(letters.size() * copy_units(static_cast<size_t>(length)));
            for (char symbol : letters) {
                count_accepted(static_cast<size_t>(length), static_cast<size_t>(length));
                accepted.push_back(prefix + symbol);
            }
        }
        levels.push_back(std::move(accepted));
        level = length + 1;
    }
}

// Applies the min_len filter and the redundancy pass to the accepted patterns, then enters the
// survivors into the table with their occurrences, read off the index. The occurrences are
// counted against the memory budget before any is built.
void PatternMiner::enter_survivors(const WordIndex& index, const Cancellation& cancel) {
    std::vector<std::string_view> listed;  // as long_enough lists them, without copies
    for (size_t i = levels.size(); i-- > 1 && static_cast<int64_t>(i) >= min_len;) {
        cancel.count(levels[i].size());
        listed.insert(listed.end(), levels[i].begin(), levels[i].end());
    }
    const std::vector<char> removed =
        redundancy_removals(listed, max_overlap, memory_budget - table_bytes, cancel);
    std::vector<Word> survivors;
    for (size_t p = 0; p < listed.size(); ++p) {
        cancel.count_step(p);
        if (!removed[p]) {
            survivors.emplace_back(listed[p]);
        }
    }
    std::sort(survivors.begin(), survivors.end(), SymbolLess());

    std::vector<std::pair<size_t, size_t>> ranges;
    ranges.reserve(survivors.size());
    const auto words = static_cast<double>(index.word_count());
    for (const Word& pattern : survivors) {
        cancel.count(pattern.size() * 32);
        ranges.push_back(index.range_of(pattern));
        const auto positions = static_cast<double>(ranges.back().second - ranges.back().first);
        table_bytes += entry_bytes + pattern_bytes(pattern.size()) + sizeof(int) * positions +
                       (sizeof(int) + sizeof(size_t)) * std::min(positions, words);
    }
    if (table_bytes > memory_budget) {
        throw MemoryLimitExceeded("the occurrences of the " + std::to_string(survivors.size()) +
                                  " patterns found would need " + gibibytes(table_bytes) +
                                  ", more than the " + gibibytes(memory_budget) +
                                  " this machine can give the search; raise minsup or min_len");
    }
    for (size_t s = 0; s < survivors.size(); ++s) {
        cancel.count(ranges[s].second - ranges[s].first + 16);
        frequent.emplace_hint(frequent.end(), survivors[s],
                              Motif(survivors[s], index.occurrences_of(ranges[s])));
    }
}

std::vector<char> PatternMiner::redundant_among(const std::vector<Word>& kept,
                                                const Cancellation& cancel) const {
    return redundancy_removals(std::vector<std::string_view>(kept.begin(), kept.end()), max_overlap,
                               memory_budget - table_bytes, cancel);
}

FrequentTable PatternMiner::take_frequent() {
    FrequentTable taken = std::move(frequent);
    frequent.clear();
    return taken;
}

bool is_p_in_vec(const Word& pattern, const std::vector<Word>& patterns) {
    return std::find(patterns.begin(), patterns.end(), pattern) != patterns.end();
}

}  // namespace zorp
