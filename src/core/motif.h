#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "cancel.h"
#include "memory_budget.h"
#include "occurrences.h"
#include "sax.h"

namespace zorp {

// Sums, at each offset of an occurrence, the points of one series' occurrences at the given
// positions (letter positions, each covering length points from position x seglen on), and
// counts them; NaN and points past the series' end are skipped. Occurrences are added in the
// order given. A run of at least window_run consecutive positions (each one more than the one
// before) is summed at once, as sliding sums over the points it covers, in time proportional to
// those points rather than to its occurrences x length; its sums may then differ from adding
// its occurrences one by one in the last bits (by no more than the rounding of either order).
// Without such a run the sums are exactly those of adding the occurrences one by one.
struct OccurrenceSums {
    std::vector<double> sums;
    std::vector<double> counts;
};
OccurrenceSums sum_occurrences(const Series& series, const std::vector<int>& positions, int seglen,
                               int length, size_t window_run);

// The steps of mapping a motif that each read one series, and the sums that gather the series'
// averages into the representative, callable on their own: a caller that holds the series in
// parts computes its parts of a mapping with them, and gets what Motif::map gets when it hands
// the sums on from part to part in ascending series order. Motif::map runs these same steps (the
// best match of a series is nearest_occurrence's, in nearest_occurrence.h).
//
// The pointwise mean of one series' occurrences at the letter positions first to last (in the
// order given) of a pattern of the given letters, each covering length points from position x
// seglen on; NaN where no occurrence has a point. As Motif::map averages them. Counts its work
// on cancel.
std::vector<double> average_occurrence(const Series& series, const int* first, const int* last,
                                       int seglen, int length, size_t letters,
                                       const Cancellation& cancel = Cancellation());
// Adds one series' average into the representative's sums and counts (its NaN add nothing).
void add_to_representative(const std::vector<double>& average, std::vector<double>& sums,
                           std::vector<double>& counts);
// The representative from the sums and counts of every series' average: NaN where no series
// has a point.
std::vector<double> representative_from(const std::vector<double>& sums,
                                        const std::vector<double>& counts);

// Points one occurrence of a pattern of the given letters covers, seglen points per letter; a
// length error when that does not fit in 32 bits.
int motif_length(int seglen, size_t letters);
// Bytes the statistics of a motif of the given points over the given series take once mapped:
// the representative and one average per series, plus the maps' own entries.
double statistics_bytes(double points, double series);
// Refuses (MemoryLimitExceeded) the statistics of the given motifs, which together need the
// given bytes, when they would not fit in the memory budget: before any of them is computed.
void refuse_statistics_beyond_budget(size_t motifs, double bytes);

// What mapping a motif computes. A mapped motif holds it through a shared pointer: copies of the
// motif share one block, and mapping again replaces the block rather than changing it, so a
// copy never sees another copy's mapping.
struct MotifStatistics {
    int seglen = 0;
    int length = 0;
    std::unordered_map<int, std::vector<double>> average_occurrences;
    std::vector<double> representative;
    std::unordered_map<int, int> best_matches;
    double naed = 0.0;
};

// One frequent pattern: where it occurs and, once mapped onto the numeric series, the statistics
// of those occurrences.
class Motif {
  public:
    explicit Motif(Word pattern);
    Motif(Word pattern, Occurrences indexes);

    // Appends a start position to the list of a series, creating the list on first use.
    void record_index(int series, int position);
    // The same as record_index for every position in turn.
    void record_indexes(int series, const std::vector<int>& positions);

    // Computes every statistic of the motif over the series set the words were made from.
    // Refuses, before allocating, statistics that would not fit in memory. A cancelled mapping
    // leaves the motif as it was.
    void map(const SeriesSet& ts, int seglen, const Cancellation& cancel = Cancellation());
    // Points one occurrence covers with the given seglen; a length error when that does not fit
    // in 32 bits.
    int length_for(int seglen) const;
    // Bytes the statistics of this motif take once mapped with the given seglen.
    double statistics_bytes(int seglen) const;
    std::vector<double> get_occurrence(const Series& series, int position) const;

    const Word& get_pattern() const { return pattern; }
    IndexTable get_indexes() const { return indexes.to_table(); }
    std::unordered_map<int, std::vector<double>> get_average_occurrences() const {
        return statistics ? statistics->average_occurrences
                          : std::unordered_map<int, std::vector<double>>();
    }
    std::vector<double> get_representative() const {
        return statistics ? statistics->representative : std::vector<double>();
    }
    std::unordered_map<int, int> get_best_matches() const {
        return statistics ? statistics->best_matches : std::unordered_map<int, int>();
    }
    int get_length() const { return statistics ? statistics->length : 0; }
    double get_naed() const { return statistics ? statistics->naed : 0.0; }

    // Number of series the pattern occurs in.
    size_t support() const { return indexes.series_count(); }
    // The occurrences without a copy, for the miner's inner loops.
    const Occurrences& occurrences() const { return indexes; }
    // The statistics block of the last mapping (null before the first), shared by every copy.
    const MotifStatistics* shared_statistics() const { return statistics.get(); }

  private:
    // The steps of map, in order, each filling its part of the block being built.
    void set_average_occurrences(const SeriesSet& ts, MotifStatistics& built,
                                 const Cancellation& cancel) const;
    void set_representative(MotifStatistics& built) const;
    void set_best_matches_and_naed(const SeriesSet& ts, MotifStatistics& built,
                                   const Cancellation& cancel) const;

    Word pattern;
    Occurrences indexes;
    std::shared_ptr<const MotifStatistics> statistics;
};

}  // namespace zorp
