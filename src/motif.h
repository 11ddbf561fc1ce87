#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

// A run refused because it would need more memory than the machine can give it. Thrown before
// the memory is taken, so the caller gets an error instead of a machine out of memory.
class MemoryLimitExceeded : public std::runtime_error {
  public:
    explicit MemoryLimitExceeded(const std::string& message) : std::runtime_error(message) {}
};

// The memory one run may plan to hold: half the machine's physical memory, and no more than half
// of what the process can address (2 GiB where pointers are 32 bits).
size_t memory_budget_bytes();

// "12.3 GiB", for messages.
std::string gibibytes(double bytes);

// A number as a message shows it: six significant digits, as printf's %g ("0.5", "1e+20",
// "nan"). Messages are formatted without iostreams: the wheel carries its own copy of the C++
// runtime, and when another copy is loaded in the same process (by any other C++ extension) the
// two share the locale's facet ids, which leaves a stream of this copy unable to format numbers.
std::string decimal(double value);

// Series index -> letter positions at which a pattern starts, in the order recorded.
using IndexTable = std::unordered_map<int, std::vector<int>>;

// Where a pattern occurs: start positions grouped by series. Groups keep the order in which
// their series was first recorded, positions the order in which they were recorded. One flat
// list for all series keeps a pattern's record at three allocations however many series it
// occurs in; the miner records series in ascending order, which finds a series' group in
// constant time.
class Occurrences {
  public:
    void add(int series_index, int position) {
        // The common case, another position of the series recorded last, stays inline.
        if (!series.empty() && series.back() == series_index) {
            positions.push_back(position);
            ends.back() = positions.size();
            return;
        }
        append(series_index, &position, &position + 1);
    }
    void add(int series, const std::vector<int>& positions);
    // Replaces the record with the given groups: series in order, the offset in positions where
    // each series' positions start, and the positions.
    void assign_groups(const std::vector<int>& series, const std::vector<size_t>& starts,
                       const std::vector<int>& positions);

    size_t series_count() const { return series.size(); }
    size_t position_count() const { return positions.size(); }
    int series_at(size_t group) const { return series[group]; }
    const int* begin_of(size_t group) const { return positions.data() + start_of(group); }
    const int* end_of(size_t group) const { return positions.data() + ends[group]; }

    IndexTable to_table() const;
    // Group numbers in ascending series order.
    std::vector<size_t> groups_by_series() const;

  private:
    size_t start_of(size_t group) const { return group == 0 ? 0 : ends[group - 1]; }
    size_t group_of(int wanted) const;
    void append(int series, const int* first, const int* last);

    std::vector<int> series;
    std::vector<size_t> ends;  // one past each group's last position in positions
    std::vector<int> positions;
    bool ascending = true;
};

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
// the sums on from part to part in ascending series order. Motif::map runs these same steps.
//
// The pointwise mean of one series' occurrences at the letter positions first to last (in the
// order given) of a pattern of the given letters, each covering length points from position x
// seglen on; NaN where no occurrence has a point. As Motif::map averages them. Both steps count
// their work on cancel.
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
// The occurrence of one series nearest to the representative, among those at first to last:
// its letter position (the first in the order given of those at the smallest distance, 0 when
// none comes closer than the cap) and its Euclidean distance (the cap when none does), as
// Motif::map finds the best match and adds the distance to naed.
std::pair<int, double> nearest_occurrence(const Series& series, const int* first, const int* last,
                                          const std::vector<double>& representative, int seglen,
                                          size_t letters,
                                          const Cancellation& cancel = Cancellation());

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
