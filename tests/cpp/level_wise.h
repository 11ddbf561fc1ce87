#pragma once

// The level-wise search that PatternMiner::mine is held against: patterns grown one byte per
// level from the frequent single letters, every accepted pattern's occurrences recorded at
// every level, then the min_len filter and the redundancy pass. mine finds the same patterns on
// a suffix array of the words and must leave the same levels, table and occurrences.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "memory_budget.h"
#include "patterns.h"

namespace zorp {

class LevelWiseSearch {
  public:
    LevelWiseSearch(double minsup, int min_len, int max_len, double max_overlap)
        : minsup(minsup),
          min_len(min_len),
          max_len(max_len),
          max_overlap(max_overlap),
          memory_budget(static_cast<double>(memory_budget_bytes())),
          levels(2) {}

    // The steps of a run: begin_run, mine_1_patterns, mine_next_level until it returns false,
    // remove_redundant. begin_run resets the search, sets the support threshold and refuses
    // what mine refuses before any work.
    void begin_run(const WordSet& words) {
        frequent.clear();
        levels.assign(2, {});
        level = 2;
        table_bytes = 0.0;
        support_threshold = rules(memory_budget).run_threshold(words);
    }

    // Positions are gathered per letter within one word and recorded with one lookup per
    // letter, which records exactly what one record_index per position would.
    void mine_1_patterns(const WordSet& words) {
        std::array<Motif*, 256> motif_of{};
        std::array<std::vector<int>, 256> positions;
        std::vector<size_t> seen;
        for (size_t i = 0; i < words.size(); ++i) {
            const Word& word = words[i];
            for (size_t j = 0; j < word.size(); ++j) {
                std::vector<int>& list = positions[byte_of(word[j])];
                if (list.empty()) {
                    seen.push_back(byte_of(word[j]));
                }
                list.push_back(static_cast<int>(j));
            }
            for (size_t symbol : seen) {
                if (motif_of[symbol] == nullptr) {
                    const Word pattern(1, static_cast<char>(symbol));
                    motif_of[symbol] = &frequent.try_emplace(pattern, pattern).first->second;
                }
                motif_of[symbol]->record_indexes(static_cast<int>(i), positions[symbol]);
                positions[symbol].clear();
            }
            seen.clear();
        }
        std::vector<Word> keys;
        for (const auto& entry : frequent) {
            keys.push_back(entry.first);
        }
        for (const Word& key : keys) {
            prune_infrequent(key);
        }
        for (const auto& entry : frequent) {
            count_table_entry(entry.first.size(), entry.second.occurrences());
        }
    }

    // Mines the candidates of length level, in candidate order: for each accepted pattern a of
    // the previous length, in acceptance order, a extended by the last byte of every pattern
    // that joins it. The search ends when there is nothing to extend, when max_len (if not 0)
    // is passed, or when a level comes out empty.
    bool mine_next_level(const WordSet& words) {
        const auto previous = static_cast<size_t>(level) - 1;
        if (previous >= levels.size() || levels[previous].empty()) {
            return false;
        }
        if (max_len != 0 && max_len < level) {
            return false;
        }
        levels.emplace_back();
        const std::vector<Word>& accepted = levels[previous];
        const HeadIndex heads(accepted);
        std::vector<char> extensions;
        std::vector<Matches> matches;
        for (const Word& a : accepted) {
            const std::vector<size_t>* joined = heads.joining(a);
            if (joined == nullptr) {
                continue;
            }
            extensions.clear();
            for (size_t b : *joined) {
                extensions.push_back(accepted[b].back());
            }
            extend_prefix(a, extensions, words, matches);
        }
        ++level;
        return !levels[static_cast<size_t>(level) - 1].empty();
    }

    void prune_infrequent(const Word& pattern) {
        auto found = frequent.find(pattern);
        if (found == frequent.end()) {
            throw std::out_of_range("map::at");
        }
        if (!meets_support(found->second.support())) {
            frequent.erase(found);
            return;
        }
        if (levels.size() <= pattern.size()) {
            levels.resize(pattern.size() + 1);
        }
        levels[pattern.size()].push_back(pattern);
    }

    // Joins a with b when a without its first byte equals b without its last, in the order of
    // the pairwise loop over the level.
    std::vector<Word> get_candidates() const {
        std::vector<Word> candidates;
        const size_t previous = static_cast<size_t>(level) - 1;
        if (level < 2 || previous >= levels.size()) {
            return candidates;
        }
        const std::vector<Word>& accepted = levels[previous];
        const HeadIndex heads(accepted);
        for (const Word& a : accepted) {
            if (const std::vector<size_t>* joined = heads.joining(a)) {
                for (size_t b : *joined) {
                    candidates.push_back(a + accepted[b].back());
                }
            }
        }
        return candidates;
    }

    // Enters a candidate into the table with an empty record; a pattern already there is kept.
    void insert_candidate(const Word& candidate) { frequent.try_emplace(candidate, candidate); }

    // Records the windows of the candidate's length at its prefix's occurrences that hold it.
    void find_candidate(const Word& candidate, const WordSet& words) {
        const Motif& prefix =
            frequent.at(candidate.substr(0, candidate.empty() ? 0 : candidate.size() - 1));
        Motif& target = frequent.at(candidate);
        const auto window = static_cast<size_t>(level);
        const Occurrences& found = prefix.occurrences();
        for (size_t group = 0; group < found.series_count(); ++group) {
            const int series = found.series_at(group);
            const Word& word = words.at(static_cast<size_t>(series));
            for (const int* position = found.begin_of(group); position != found.end_of(group);
                 ++position) {
                const auto start = static_cast<size_t>(*position);
                if (start + window <= word.size() && word.compare(start, window, candidate) == 0) {
                    target.record_index(series, *position);
                }
            }
        }
    }

    // Erases the patterns shorter than min_len from the table; the others, longest first, each
    // length in acceptance order.
    std::vector<Word> remove_short() {
        for (size_t i = 1; i < levels.size() && static_cast<int64_t>(i) < min_len; ++i) {
            for (const Word& pattern : levels[i]) {
                frequent.erase(pattern);
            }
        }
        std::vector<Word> kept;
        for (size_t i = levels.size(); i-- > 1 && static_cast<int64_t>(i) >= min_len;) {
            kept.insert(kept.end(), levels[i].begin(), levels[i].end());
        }
        return kept;
    }

    // The redundancy pass is mine's own (its rule is tested on its own), over what the budget
    // leaves after the table.
    void remove_redundant() {
        const std::vector<Word> kept = remove_short();
        const std::vector<char> removed = rules(memory_budget - table_bytes).redundant_among(kept);
        for (size_t p = 0; p < kept.size(); ++p) {
            if (removed[p]) {
                frequent.erase(kept[p]);
            }
        }
    }

    void set_memory_budget(double bytes) { memory_budget = bytes; }
    const FrequentTable& get_frequent() const { return frequent; }
    const std::vector<std::vector<Word>>& get_levels() const { return levels; }
    int get_level() const { return level; }
    double get_support_threshold() const { return support_threshold; }

  private:
    // The accepted patterns of one length grouped by their head (all but the last byte), each
    // group in list order: joining a with b needs a without its first byte to be b's head.
    class HeadIndex {
      public:
        explicit HeadIndex(const std::vector<Word>& accepted) {
            for (size_t i = 0; i < accepted.size(); ++i) {
                const Word& b = accepted[i];
                if (!b.empty()) {
                    by_head[std::string_view(b).substr(0, b.size() - 1)].push_back(i);
                }
            }
        }

        // Positions in the list of the patterns that join a, in list order.
        const std::vector<size_t>* joining(const Word& a) const {
            if (a.empty()) {
                return nullptr;
            }
            const auto found = by_head.find(std::string_view(a).substr(1));
            return found == by_head.end() ? nullptr : &found->second;
        }

      private:
        std::unordered_map<std::string_view, std::vector<size_t>> by_head;
    };

    // Where the windows of one prefix's occurrences matched one candidate: the series in the
    // prefix's order, where each series' positions start, and the positions.
    struct Matches {
        std::vector<int> series;
        std::vector<size_t> starts;
        std::vector<int> positions;
        size_t last_group = static_cast<size_t>(-1);
        void clear() {
            series.clear();
            starts.clear();
            positions.clear();
            last_group = static_cast<size_t>(-1);
        }
    };

    static size_t byte_of(char symbol) { return static_cast<unsigned char>(symbol); }

    // The miner whose rules the search shares: the threshold's refusals and the redundancy pass.
    PatternMiner rules(double budget) const {
        PatternMiner miner(minsup, min_len, max_len, max_overlap);
        miner.set_memory_budget(budget);
        return miner;
    }

    // An ordered comparison: a support equal to the threshold survives, and a threshold that is
    // not a number discards nothing.
    bool meets_support(size_t support) const {
        return !(support_threshold > static_cast<double>(support));
    }

    // Counts a pattern entering the table, as mine counts it, and refuses the run once the table
    // outgrows the memory budget.
    void count_table_entry(size_t pattern_length, const Occurrences& occurrences) {
        const double pattern_bytes =
            pattern_length > 15 ? 2.0 * static_cast<double>(pattern_length + 1) : 0.0;
        table_bytes +=
            320.0 + pattern_bytes +
            sizeof(int) * static_cast<double>(occurrences.position_count()) +
            (sizeof(int) + sizeof(size_t)) * static_cast<double>(occurrences.series_count());
        if (table_bytes > memory_budget) {
            throw MemoryLimitExceeded("the frequent patterns found up to length " +
                                      std::to_string(pattern_length) + " already need " +
                                      gibibytes(table_bytes) + ", more than the budget");
        }
    }

    // Locates and prunes the candidates that extend one accepted pattern (the prefix) by each of
    // the given bytes, in that order. Every recorded position of the prefix is an occurrence of
    // it, so a window matches a candidate exactly when its last byte does: one pass over the
    // prefix's occurrences sorts them into the candidates they extend to, series by series.
    // Each candidate thus gets what find_candidate records. Only the candidates that meet the
    // threshold enter the table, in candidate order.
    void extend_prefix(const Word& prefix, const std::vector<char>& extensions,
                       const WordSet& words, std::vector<Matches>& matches) {
        const size_t candidates = extensions.size();
        const size_t no_candidate = candidates;  // sorted like a candidate, never kept
        std::array<uint16_t, 256> slot_of;
        slot_of.fill(static_cast<uint16_t>(no_candidate));
        for (size_t k = 0; k < candidates; ++k) {
            slot_of[byte_of(extensions[k])] = static_cast<uint16_t>(k);
        }
        if (matches.size() < candidates + 1) {
            matches.resize(candidates + 1);
        }
        for (size_t k = 0; k <= candidates; ++k) {
            matches[k].clear();
        }
        const Occurrences& found = frequent.at(prefix).occurrences();
        const auto window = static_cast<size_t>(level);
        for (size_t group = 0; group < found.series_count(); ++group) {
            const int series = found.series_at(group);
            const Word& word = words.at(static_cast<size_t>(series));
            for (const int* at = found.begin_of(group); at != found.end_of(group); ++at) {
                const size_t end = static_cast<size_t>(*at) + window;
                Matches& out =
                    matches[end <= word.size() ? slot_of[byte_of(word[end - 1])] : no_candidate];
                if (out.last_group != group) {
                    out.last_group = group;
                    out.series.push_back(series);
                    out.starts.push_back(out.positions.size());
                }
                out.positions.push_back(*at);
            }
        }
        std::vector<Word>& accepted = levels[prefix.size() + 1];
        for (size_t k = 0; k < candidates; ++k) {
            const Matches& found_k = matches[k];
            if (!meets_support(found_k.series.size())) {
                continue;
            }
            Word candidate = prefix + extensions[k];
            Occurrences recorded;
            recorded.assign_groups(found_k.series, found_k.starts, found_k.positions);
            count_table_entry(candidate.size(), recorded);
            frequent.try_emplace(candidate, candidate, std::move(recorded));
            accepted.push_back(std::move(candidate));
        }
    }

    double minsup;
    int min_len;
    int max_len;
    double max_overlap;
    double memory_budget;
    FrequentTable frequent;
    double support_threshold = 0.0;
    int level = 2;
    double table_bytes = 0.0;
    // Entry n lists the accepted patterns of length n, in acceptance order.
    std::vector<std::vector<Word>> levels;
};

}  // namespace zorp
