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

// Longest common subsequence against one fixed word, computed a machine word of the fixed word
// at a time (the bit-vector form of the dynamic programme): bit i of the state is cleared once
// position i of the fixed word is the end of a longest match, so the zero bits count the lcs.
class LcsAgainst {
  public:
    LcsAgainst() = default;
    explicit LcsAgainst(std::string_view fixed) { assign(fixed); }

    // Fixes another word, clearing only the masks of the bytes of the one before.
    void assign(std::string_view fixed) {
        const size_t needed = (fixed.size() + 63) / 64;
        if (needed != blocks) {
            blocks = needed;
            masks.assign(256 * blocks, 0);
            state.resize(blocks);
        } else {
            for (char symbol : word) {
                std::fill_n(&masks[byte_of(symbol) * blocks], blocks, 0);
            }
        }
        word.assign(fixed);
        bits = fixed.size();
        for (size_t i = 0; i < bits; ++i) {
            masks[byte_of(fixed[i]) * blocks + i / 64] |= uint64_t{1} << (i % 64);
        }
    }

    size_t length_with(std::string_view other) const {
        if (blocks == 0) {
            return 0;
        }
        if (blocks == 1) {
            uint64_t row = ~uint64_t{0};
            for (char symbol : other) {
                const uint64_t match = masks[byte_of(symbol)];
                const uint64_t kept = row & match;
                row = (row + kept) | (row & ~match);
            }
            return bits - popcount(row & low_bits(bits));
        }
        std::fill(state.begin(), state.end(), ~uint64_t{0});
        for (char symbol : other) {
            const uint64_t* match = &masks[byte_of(symbol) * blocks];
            uint64_t carry = 0;
            for (size_t w = 0; w < blocks; ++w) {
                const uint64_t row = state[w];
                const uint64_t kept = row & match[w];
                const uint64_t partial = row + kept;
                const uint64_t sum = partial + carry;
                carry = (partial < row || sum < partial) ? 1 : 0;
                state[w] = sum | (row & ~match[w]);
            }
        }
        size_t zeros = 0;
        for (size_t w = 0; w < blocks; ++w) {
            const size_t used = std::min<size_t>(64, bits - 64 * w);
            zeros += used - popcount(state[w] & low_bits(used));
        }
        return zeros;
    }

    // The work of one length_with, in units of one step per machine word.
    size_t cost_with(std::string_view other) const {
        return other.size() * std::max<size_t>(blocks, 1);
    }

  private:
    static uint64_t low_bits(size_t count) {
        return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    }
    static size_t popcount(uint64_t value) {
        return static_cast<size_t>(__builtin_popcountll(value));
    }

    Word word;
    size_t bits = 0;
    size_t blocks = 0;
    std::vector<uint64_t> masks;
    mutable std::vector<uint64_t> state;
};

// Per-pattern byte counts over the bytes that occur in a pattern list. The count of common
// bytes bounds the lcs from above, which settles most pairs without computing it.
class ByteCounts {
  public:
    // The table, a count per pattern and distinct byte, is refused before it is allocated when
    // it would take more than the budget: the size is weighed in floating point, since in a
    // 32-bit size_t 2^24 patterns over 256 bytes would come out as none.
    ByteCounts(const std::vector<std::string_view>& patterns, double memory_budget,
               const Cancellation& cancel) {
        ids.fill(-1);
        for (std::string_view pattern : patterns) {
            cancel.count(pattern.size() + 1);
            for (char symbol : pattern) {
                if (ids[byte_of(symbol)] < 0) {
                    ids[byte_of(symbol)] = static_cast<int>(distinct++);
                }
            }
        }
        const double needed =
            static_cast<double>(patterns.size()) * static_cast<double>(distinct) * sizeof(uint32_t);
        if (needed > memory_budget) {
            throw MemoryLimitExceeded(
                "weighing the " + std::to_string(patterns.size()) +
                " patterns found for redundancy would need " + gibibytes(needed) +
                " for their counts of " + std::to_string(distinct) + " letters, more than the " +
                gibibytes(std::max(memory_budget, 0.0)) +
                " this machine can give the search; raise minsup or set a max_len");
        }
        counts.assign(patterns.size() * distinct, 0);
        for (size_t p = 0; p < patterns.size(); ++p) {
            cancel.count(patterns[p].size() + distinct);
            for (char symbol : patterns[p]) {
                ++counts[p * distinct + static_cast<size_t>(ids[byte_of(symbol)])];
            }
        }
    }

    size_t common(size_t a, size_t b) const {
        const uint32_t* x = &counts[a * distinct];
        const uint32_t* y = &counts[b * distinct];
        size_t shared = 0;
        for (size_t d = 0; d < distinct; ++d) {
            shared += std::min(x[d], y[d]);
        }
        return shared;
    }

    // Bytes counted per pattern: the work of one common.
    size_t letters() const { return distinct; }
    // The number of a byte among them, from 0 in order of first appearance.
    size_t id_of(char symbol) const { return static_cast<size_t>(ids[byte_of(symbol)]); }

  private:
    std::array<int, 256> ids;
    size_t distinct = 0;
    std::vector<uint32_t> counts;
};

// The patterns of a list that extend a given one by a letter at either end, found through
// hashes of the patterns and of their heads (all but the last byte) and tails (all but the
// first), filed in buckets by hash; a candidate whose hash matches is compared byte by byte.
class Extensions {
  public:
    Extensions(const std::vector<std::string_view>& patterns, const Cancellation& cancel)
        : patterns(patterns), hashes(patterns.size()) {
        std::vector<Link> unfiled;
        unfiled.reserve(2 * patterns.size());
        for (size_t j = 0; j < patterns.size(); ++j) {
            const std::string_view pattern = patterns[j];
            cancel.count(pattern.size() + 8);
            uint64_t hash = 0;
            uint64_t head = 0;
            uint64_t first_power = 1;  // the weight of the first byte
            for (size_t i = 0; i < pattern.size(); ++i) {
                head = hash;
                hash = hash * base + digit(pattern[i]);
                first_power = i > 0 ? first_power * base : 1;
            }
            hashes[j] = mixed(hash);
            if (pattern.size() >= 2) {
                const uint64_t tail = hash - digit(pattern[0]) * first_power;
                unfiled.push_back({mixed(head), j, true});
                unfiled.push_back({mixed(tail), j, false});
            }
        }
        size_t buckets = 1;
        shift = 64;
        while (buckets < unfiled.size()) {
            buckets *= 2;
            --shift;
        }
        cancel.count(4 * buckets);
        starts.assign(buckets + 1, 0);
        in_blocks(unfiled.size(), 16, cancel, [&](size_t first, size_t last) {
            for (size_t i = first; i < last; ++i) {
                ++starts[bucket_of(unfiled[i].hash) + 1];
            }
        });
        in_blocks(buckets, 2, cancel, [&](size_t first, size_t last) {
            for (size_t b = first; b < last; ++b) {
                starts[b + 1] += starts[b];
            }
        });
        cancel.count(4 * buckets + 2 * unfiled.size());
        links.resize(unfiled.size());
        std::vector<size_t> next(starts.begin(), starts.end() - 1);
        in_blocks(unfiled.size(), 16, cancel, [&](size_t first, size_t last) {
            for (size_t i = first; i < last; ++i) {
                const Link& link = unfiled[i];
                links[next[bucket_of(link.hash)]++] = link;
            }
        });
    }

    // Calls visit(j) for every pattern j of the list that is the pattern at p with one more
    // letter at its end or at its start.
    template <typename Visit>
    void each(size_t p, Visit&& visit) const {
        const std::string_view pattern = patterns[p];
        const uint64_t hash = hashes[p];
        const size_t bucket = bucket_of(hash);
        for (size_t i = starts[bucket]; i < starts[bucket + 1]; ++i) {
            const Link& link = links[i];
            const std::string_view longer = patterns[link.pattern];
            if (link.hash == hash && longer.size() == pattern.size() + 1 &&
                longer.compare(link.by_head ? 0 : 1, pattern.size(), pattern) == 0) {
                visit(link.pattern);
            }
        }
    }

  private:
    // A hash of a pattern's head or tail, the pattern, and which of the two it is.
    struct Link {
        uint64_t hash;
        size_t pattern;
        bool by_head;
    };

    // Bytes count from 1, so that a leading zero byte still changes the hash.
    static uint64_t digit(char symbol) { return byte_of(symbol) + 1; }
    // Spreads the polynomial hash over all 64 bits (the finaliser of splitmix64), since the
    // buckets are taken from the top bits.
    static uint64_t mixed(uint64_t hash) {
        hash = (hash ^ (hash >> 30)) * 0xBF58476D1CE4E5B9u;
        hash = (hash ^ (hash >> 27)) * 0x94D049BB133111EBu;
        return hash ^ (hash >> 31);
    }
    size_t bucket_of(uint64_t hash) const { return shift >= 64 ? 0 : hash >> shift; }
    static constexpr uint64_t base = 0x9E3779B97F4A7C15u;

    const std::vector<std::string_view>& patterns;
    std::vector<uint64_t> hashes;
    std::vector<Link> links;
    std::vector<size_t> starts;  // where each bucket's links start, then their end
    unsigned shift = 64;
};

// The number of ways to pick k of length letters, C(length, k), as a double (it may be huge).
double picks(size_t length, size_t k) {
    if (k > length) {
        return 0.0;
    }
    k = std::min(k, length - k);
    double ways = 1.0;
    for (size_t i = 1; i <= k; ++i) {
        ways = ways * static_cast<double>(length - k + i) / static_cast<double>(i);
    }
    return ways;
}

// The subsequences of k letters of a set of patterns, each packed into a 64-bit key (a letter
// takes as many bits as numbering the list's distinct bytes needs, so k of them must fit in 64
// bits) and kept with the first pattern added that holds it: a pattern shares a common
// subsequence of k letters with one of the set exactly when one of its own subsequences of k
// letters is a key. A pattern of n letters costs C(n, k) picks to add or to test, whatever the
// size of the set.
class CommonSubsequences {
  public:
    static constexpr size_t none = static_cast<size_t>(-1);

    // The bits a letter takes among the given number of distinct bytes.
    static unsigned bits_per_letter(size_t distinct) {
        unsigned bits = 0;
        while ((size_t{1} << bits) < distinct) {
            ++bits;
        }
        return bits;
    }

    // Whether picks of k letters among the given number of distinct bytes fit in a key.
    static bool fits(size_t k, size_t distinct) { return k * bits_per_letter(distinct) <= 64; }

    CommonSubsequences(size_t k, const ByteCounts& letters)
        : k(k), letters(letters), bits(bits_per_letter(letters.letters())) {}

    size_t pick_length() const { return k; }

    void add(std::string_view pattern, size_t id) {
        each_pick(pattern, k, 0, 0, [&](uint64_t key) {
            holder.try_emplace(key, id);
            return false;
        });
    }

    // The id of a pattern of the set that shares k letters with this one, or none.
    size_t sharing(std::string_view pattern) const {
        size_t found = none;
        each_pick(pattern, k, 0, 0, [&](uint64_t key) {
            const auto at = holder.find(key);
            found = at == holder.end() ? none : at->second;
            return found != none;
        });
        return found;
    }

  private:
    // Calls found(key) for every pick of `left` more letters from position `from` on, the picks
    // so far packed in key, until it returns true; tells whether it did.
    template <typename Found>
    bool each_pick(std::string_view pattern, size_t left, size_t from, uint64_t key,
                   const Found& found) const {
        if (left == 0) {
            return found(key);
        }
        for (size_t i = from; i + left <= pattern.size(); ++i) {
            const uint64_t longer = key << bits | letters.id_of(pattern[i]);
            if (each_pick(pattern, left - 1, i + 1, longer, found)) {
                return true;
            }
        }
        return false;
    }

    size_t k;
    const ByteCounts& letters;
    unsigned bits;
    std::unordered_map<uint64_t, size_t> holder;
};

// The least lcs by which a pattern of the given length is removed: the smallest k from 0 to the
// length for which k / length, as the ratio is computed, exceeds max_overlap; length + 1 when no
// k does. Division is monotone, so an lcs removes the pattern exactly when it reaches this.
size_t least_removing_lcs(size_t length, double max_overlap) {
    const auto letters = static_cast<double>(length);
    size_t low = 0;
    size_t high = length + 1;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (static_cast<double>(middle) / letters > max_overlap) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The redundancy rule as stated: each pattern q, in list order and not removed itself, removes
// every pattern p not longer than q that it overlaps by more than max_overlap. A pattern is
// removed only by one before it in the list: a longer one, or one of its length that comes
// first (when both survive to meet, the first meets the second first, and the overlap is
// symmetric between patterns of one length). So the rule is settled in one pass down the list:
// a pattern is removed exactly when one of the survivors before it overlaps it by enough, that
// is shares a common subsequence of least_removing_lcs(its length) letters with it.
//
// Most pairs need no look. A pattern that a survivor removes is usually removed by one that
// contains it, and the pattern one letter longer that extends it, whose fate is already known,
// leads to one: that pattern itself if it survived, else the survivor that removed it (its
// witness). Only when no witness of an extension overlaps it by enough are the survivors
// searched: one by one, those of its own length skipped when only a containing pattern would
// do (two distinct patterns of one length never contain each other), and the lcs computed only
// for survivors whose byte counts leave room for enough common letters; or, where the patterns
// are short enough for that to cost less, through an index of the survivors' subsequences.
class RedundancyPass {
  public:
    RedundancyPass(const std::vector<std::string_view>& kept, double max_overlap,
                   double memory_budget, const Cancellation& cancel)
        : kept(kept),
          max_overlap(max_overlap),
          cancel(cancel),
          counts(kept, memory_budget, cancel),
          extensions(kept, cancel),
          witness(kept.size()),
          removed(kept.size(), 0) {}

    std::vector<char> run() {
        for (size_t p = 0; p < kept.size(); ++p) {
            if (p == 0 || kept[p].size() != kept[p - 1].size()) {
                start_length(p);
            }
            // Looking up the extensions, most patterns' only step, takes a few cache misses.
            work = 256 + kept[p].size();
            fixed = false;
            const Removal removal = removal_of(p);
            if (removal.by == none) {
                survivors.push_back(p);
                witness[p] = {p, kept[p].size()};
                if (index) {
                    index->add(kept[p], p);
                    work += static_cast<size_t>(picks(kept[p].size(), least));
                }
            } else {
                removed[p] = 1;
                witness[p] = removal;
            }
            cancel.count(work);
        }
        return std::move(removed);
    }

  private:
    static constexpr size_t none = static_cast<size_t>(-1);

    // The survivor that removes a pattern (none while it survives), and how many letters the
    // two are known to have in common at least. A survivor is its own witness, sharing all.
    struct Removal {
        size_t by;
        size_t shared;
    };

    void start_length(size_t first) {
        const size_t length = kept[first].size();
        least = least_removing_lcs(length, max_overlap);
        longer_survivors = survivors.size();
        group_end = first;
        while (group_end < kept.size() && kept[group_end].size() == length) {
            ++group_end;
        }
        if (index && index->pick_length() != least) {
            index.reset();
        }
        searches = 0;
        search_units = 0.0;
    }

    Removal removal_of(size_t p) {
        const std::string_view pattern = kept[p];
        if (least == 0) {
            return {survivors.empty() ? none : survivors.front(), 0};
        }
        if (least > pattern.size()) {
            return {none, 0};
        }
        // The pattern lies in each of its extensions, so it shares with an extension's witness
        // all its letters when the extension lies in the witness, and otherwise at least one
        // fewer than the extension is known to share.
        Removal found{none, 0};
        extensions.each(p, [&](size_t j) {
            if (found.by != none) {
                return;
            }
            const Removal& of_extension = witness[j];
            size_t shared = of_extension.shared == kept[j].size() ? pattern.size()
                            : of_extension.shared > 0             ? of_extension.shared - 1
                                                                  : 0;
            if (shared < least) {
                shared = common_letters(of_extension.by, p);
            }
            if (shared >= least) {
                found = {of_extension.by, shared};
            }
        });
        if (found.by != none) {
            return found;
        }
        consider_index(p);
        if (index) {
            work += static_cast<size_t>(picks(pattern.size(), least));
            return {index->sharing(pattern), least};
        }
        const size_t before = work;
        const Removal found_by_search = first_overlapping(p);
        search_units += static_cast<double>(work - before);
        ++searches;
        return found_by_search;
    }

    // The first survivor, in list order, that overlaps the pattern at p by enough.
    Removal first_overlapping(size_t p) {
        const size_t searched = least == kept[p].size() ? longer_survivors : survivors.size();
        for (size_t s = 0; s < searched; ++s) {
            const size_t shared = common_letters(survivors[s], p);
            if (shared >= least) {
                return {survivors[s], shared};
            }
        }
        return {none, 0};
    }

    // Searches the survivors go one by one until they have cost more per pattern than an index
    // of the survivors' subsequences would (adding and testing every pick of the pattern's
    // letters), by enough over the patterns left of this length to pay for indexing the
    // survivors so far; then the index takes over, and takes in every later survivor. Most
    // searches end at one of a few survivors, so the index is seldom worth its picks.
    void consider_index(size_t p) {
        if (index || searches == 0 || searches % searches_between_reviews != 0 ||
            !CommonSubsequences::fits(least, counts.letters())) {
            return;
        }
        const double one_by_one = search_units / static_cast<double>(searches);
        const double indexed = index_weight * 2.0 * picks(kept[p].size(), least);
        const double saved = static_cast<double>(group_end - p) * (one_by_one - indexed);
        double building = 0.0;
        for (size_t q : survivors) {
            building += index_weight * picks(kept[q].size(), least);
            if (!(building < saved)) {
                return;
            }
        }
        index.emplace(least, counts);
        for (size_t q : survivors) {
            index->add(kept[q], q);
        }
        work += static_cast<size_t>(building);
    }

    // The lcs of the patterns at q and p where their byte counts leave room for least common
    // letters, else a number below least.
    size_t common_letters(size_t q, size_t p) {
        work += counts.letters();
        if (counts.common(q, p) < least) {
            return 0;
        }
        if (!fixed) {
            against_p.assign(kept[p]);
            fixed = true;
        }
        work += against_p.cost_with(kept[q]);
        return against_p.length_with(kept[q]);
    }

    // What adding or testing one pick costs against comparing the byte counts of one pair.
    static constexpr double index_weight = 8.0;
    static constexpr size_t searches_between_reviews = 64;

    const std::vector<std::string_view>& kept;
    double max_overlap;
    const Cancellation& cancel;
    const ByteCounts counts;
    const Extensions extensions;
    std::vector<Removal> witness;
    std::vector<char> removed;
    std::vector<size_t> survivors;  // in list order, so longest first
    // The current length's least removing lcs, the survivors longer than it, where it ends, and
    // what searching its patterns has cost.
    size_t least = 0;
    size_t longer_survivors = 0;
    size_t group_end = 0;
    size_t searches = 0;        // of the survivors one by one, at this length
    double search_units = 0.0;  // the work they took
    std::optional<CommonSubsequences> index;
    LcsAgainst against_p;
    bool fixed = false;  // whether against_p holds the current pattern
    size_t work = 0;     // counted for the current pattern
};

// Which patterns of a list of distinct patterns, longest first, the redundancy rule removes;
// memory_budget is what the pass's byte counts may take.
std::vector<char> redundancy_removals(const std::vector<std::string_view>& kept, double max_overlap,
                                      double memory_budget, const Cancellation& cancel) {
    // An overlap ratio never exceeds 1, so such a threshold (or NaN) removes nothing.
    if (kept.empty() || !(max_overlap < 1.0)) {
        return std::vector<char>(kept.size(), 0);
    }
    return RedundancyPass(kept, max_overlap, memory_budget, cancel).run();
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

double lcs(const Word& a, const Word& b) {
    return static_cast<double>(LcsAgainst(a).length_with(b));
}

bool is_p_in_vec(const Word& pattern, const std::vector<Word>& patterns) {
    return std::find(patterns.begin(), patterns.end(), pattern) != patterns.end();
}

}  // namespace zorp
