#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

// Mapping motifs over a set held in parts: the steps of Motif::map that read the series, over
// one part (whole series) at a time. Each series is read on its own, so a part's results do not
// depend on the other parts; adding the averages into the representative's sums part after part
// (add_to_representative), and the best matches' distances into naed, in ascending series order
// gives what Motif::map gives over the whole set.

// The occurrences of one motif in one part of the set: its letters and length (points), the
// series of each group (indexes into the part, each at most once), where each group ends in
// positions, and the letter positions, in the order Motif::map reads them.
struct PartOccurrences {
    size_t letters = 0;
    int length = 0;
    std::vector<int32_t> series;
    std::vector<int64_t> ends;
    std::vector<int32_t> positions;

    const int* begin_of(size_t group) const {
        return positions.data() + (group == 0 ? 0 : ends[group - 1]);
    }
    const int* end_of(size_t group) const { return positions.data() + ends[group]; }
};

// Each motif's average occurrence (average_occurrence) in the series of each of its groups,
// the series z-normalised as the miner normalises them: one block per motif of a row of length
// points per group, in group order.
std::vector<std::vector<double>> part_averages(const SeriesSet& part,
                                               const std::vector<PartOccurrences>& motifs,
                                               int seglen,
                                               const Cancellation& cancel = Cancellation());

// One motif's best matches in a part, one entry per group: the start in points, the distance
// naed adds (nearest_occurrence's) and the distance a result reports (match_distance's).
struct PartMatches {
    std::vector<int64_t> starts;
    std::vector<double> naed_terms;
    std::vector<double> distances;
};

// Each motif's best match in the series of each of its groups, against its representative
// (length points each).
std::vector<PartMatches> part_best_matches(const SeriesSet& part,
                                           const std::vector<PartOccurrences>& motifs,
                                           const SeriesSet& representatives, int seglen,
                                           const Cancellation& cancel = Cancellation());

}  // namespace zorp
