#pragma once

#include <unordered_map>
#include <vector>

#include "sax.h"

namespace zorp {

// Series index -> letter positions at which a pattern starts, in the order recorded.
using IndexTable = std::unordered_map<int, std::vector<int>>;

// One frequent pattern: where it occurs and, once mapped onto the numeric series, the statistics
// of those occurrences.
class Motif {
  public:
    explicit Motif(Word pattern);

    // Appends a start position to the list of a series, creating the list on first use.
    void record_index(int series, int position);
    // The same as record_index for every position in turn, with one table lookup.
    void record_indexes(int series, const std::vector<int>& positions);

    // Computes every statistic of the motif over the series set the words were made from.
    void map(const SeriesSet& ts, int seglen);
    std::vector<double> get_occurrence(const Series& series, int position) const;
    void set_average_occurrences(const SeriesSet& ts);
    void set_representative();
    void set_best_matches_and_naed(const SeriesSet& ts);

    const Word& get_pattern() const { return pattern; }
    IndexTable get_indexes() const { return indexes; }
    std::unordered_map<int, std::vector<double>> get_average_occurrences() const {
        return average_occurrences;
    }
    std::vector<double> get_representative() const { return representative; }
    std::unordered_map<int, int> get_best_matches() const { return best_matches; }
    int get_length() const { return length; }
    double get_naed() const { return naed; }

    // Number of series the pattern occurs in, without copying the index table.
    size_t support() const { return indexes.size(); }
    // Read-only view of the index table for the miner's inner loops, which must not copy it.
    const IndexTable& view_indexes() const { return indexes; }

  private:
    Word pattern;
    int seglen = 0;
    int length = 0;
    IndexTable indexes;
    std::unordered_map<int, std::vector<double>> average_occurrences;
    std::vector<double> representative;
    std::unordered_map<int, int> best_matches;
    double naed = 0.0;
};

}  // namespace zorp
