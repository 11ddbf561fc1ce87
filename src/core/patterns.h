#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "cancel.h"
#include "motif.h"
#include "sax.h"

namespace zorp {

class WordIndex;

// Pattern -> its Motif, in symbol order; a pattern sorts before all of its extensions.
using FrequentTable = std::map<Word, Motif, SymbolLess>;

// Finds the contiguous patterns that occur in enough words, as if growing them one byte per
// level from the frequent single letters, then drops the short and the redundant ones.
class PatternMiner {
  public:
    PatternMiner(double minsup, int min_len, int max_len, double max_overlap);

    // One whole mining run; every run starts from a fresh state. Refuses, before doing any work,
    // a run that could never end: a threshold that is not positive accepts every candidate,
    // so without a max_len bound the levels would grow until memory runs out; with one, the run
    // is refused when those patterns would not fit in memory or would take more than a few
    // seconds to sift (set_sifting_budget).
    //
    // The run leaves the table, the levels and the level exactly as growing the patterns level
    // by level would (the search the tests hold it against), but finds the frequent patterns on
    // a suffix array of the words, in time near-linear in the letters, and builds occurrence
    // lists only for the patterns that survive the min_len filter and the redundancy pass.
    //
    // The run builds its state apart and puts it in place once complete: until then, and after
    // a run that fails or is cancelled, the miner holds the empty state a run starts from. The
    // check of cancel may run the caller's code, which thus never sees a half-built table.
    void mine(const WordSet& words, const Cancellation& cancel = Cancellation());

    // The support threshold of a run over words, minsup x their number. Refuses, as mine does
    // before any work, a run that could never end or whose every-candidate levels would not fit
    // in the memory budget or take more than the sifting budget (std::invalid_argument).
    double run_threshold(const WordSet& words) const;
    // Which patterns of a list (distinct patterns, longest first) the redundancy rule removes:
    // each pattern q, in list order and not removed itself, removes every pattern p not longer
    // than q that it overlaps by more than max_overlap. Refuses a list whose table of letter
    // counts (4 bytes per pattern and distinct letter) would not fit in what the budget leaves.
    std::vector<char> redundant_among(const std::vector<Word>& kept,
                                      const Cancellation& cancel = Cancellation()) const;

    // Drops the last run's state, as a run starts: the table, and the levels a length at a
    // time between checks (a large run holds millions of patterns there, and freeing them takes
    // a noticeable time of its own).
    void clear(const Cancellation& cancel = Cancellation());

    FrequentTable get_frequent() const { return frequent; }
    // Hands the table over without copying it; the miner is left with an empty table.
    FrequentTable take_frequent();

    double get_support_threshold() const { return support_threshold; }
    // What the table and the levels hold, as counted against the memory budget.
    double get_table_bytes() const { return table_bytes; }
    // The memory a run may plan to hold: memory_budget_bytes() unless set.
    void set_memory_budget(double bytes) { memory_budget = bytes; }
    // The patterns a run whose threshold is not positive may plan to build and sift: four
    // million unless set, a few seconds' work.
    void set_sifting_budget(double patterns) { sifting_budget = patterns; }
    int get_level() const { return level; }
    std::vector<std::vector<Word>> get_levels() const { return levels; }

  private:
    // Patterns accepted by mine that share one start in the suffix order: lengths shortest to
    // longest from the suffix at offset, all with the same occurrences.
    struct AcceptedRun {
        int32_t offset;
        int32_t shortest;
        int32_t longest;
    };

    void reset(const Cancellation& cancel = Cancellation());
    // The steps of mine, on a miner of the run's own.
    void mine_afresh(const WordSet& words, const Cancellation& cancel);
    bool meets_support(size_t support) const;
    void refuse_oversized_index(const WordSet& words) const;
    std::vector<AcceptedRun> walk_frequent(const WordIndex& index, const Cancellation& cancel);
    void count_accepted(size_t shortest, size_t longest);
    void fill_levels(const WordIndex& index, const std::vector<AcceptedRun>& runs,
                     const Cancellation& cancel);
    void accept_every_candidate(const WordSet& words, const Cancellation& cancel);
    void enter_survivors(const WordIndex& index, const Cancellation& cancel);
    int longest_allowed() const;
    void refuse_unbounded_growth(const WordSet& words, double threshold) const;

    double minsup;
    int min_len;
    int max_len;
    double max_overlap;
    FrequentTable frequent;
    double support_threshold = 0.0;
    int level = 2;
    double table_bytes = 0.0;
    double memory_budget;
    double sifting_budget = 4e6;
    // Entry n lists the accepted patterns of length n, in acceptance order.
    std::vector<std::vector<Word>> levels;
};

// Length of the longest common subsequence of two words (not of the longest common substring).
double lcs(const Word& a, const Word& b);

bool is_p_in_vec(const Word& pattern, const std::vector<Word>& patterns);

}  // namespace zorp
