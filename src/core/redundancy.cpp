#include "redundancy.h"

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

#include "patterns.h"

namespace zorp {

namespace {

size_t byte_of(char symbol) {
    return static_cast<unsigned char>(symbol);
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

}  // namespace

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

double lcs(const Word& a, const Word& b) {
    return static_cast<double>(LcsAgainst(a).length_with(b));
}

}  // namespace zorp
