#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

// Both the starting distance of every series' search for its best match and a cap on what a
// series adds to naed.
constexpr double distance_cap = 1000000.0;

// Finds, in one series, the occurrence nearest to a motif's representative: the first in
// recorded order of those at the smallest distance, or start 0 when none comes closer than the
// cap. The distance is not divided by the number of terms, and points past the series end add
// nothing.
//
// Occurrences are measured a few at a time, their sums of squares interleaved so that the
// additions of one (which must run in order) overlap those of the others. A sum of squares only
// grows, so an occurrence is abandoned once its partial sum reaches the square of the best
// distance found so far (or of any distance known to be reached), padded by a few ulps: its
// full distance then exceeds that one, which the best can only undercut, so it could neither
// win nor tie. The survivors of a batch are compared with the best in recorded order.
//
// Where a series' occurrences overlap heavily (long runs of consecutive positions), most are
// set aside without reading their points. Within one segment of seglen points, the sum of
// squared gaps is at least the square of the summed gap over seglen (Cauchy-Schwarz), so the
// segment sums of the series and of the representative bound each occurrence's squared
// distance from below in one term per letter. The occurrence with the smallest bound is
// measured first, and every occurrence whose bound exceeds its squared distance by more than
// every rounding involved is skipped: it could neither win nor tie. The others are measured
// as above, in recorded order, so the result is the one measuring all of them gives.
class NearestOccurrence {
  public:
    NearestOccurrence(const std::vector<double>& centre, int seglen, int length, size_t letters);

    // The best match among the occurrences at first to last: its position and its distance.
    std::pair<int, double> in(const Series& series, const int* first, const int* last,
                              const Cancellation& cancel);

  private:
    // Values beyond this are not bounded: their squares could overflow.
    static constexpr double finite_limit = 1e150;
    static constexpr size_t lanes = 4;
    static constexpr size_t block = 16;
    // Bounds pay off only where occurrences overlap this many times over on average.
    static constexpr size_t overlap_for_bounds = 4;
    // The seed is picked from about this many occurrences, and bounds are checked against the
    // limit after this many letters.
    static constexpr size_t sample_size = 16;
    static constexpr size_t bound_chunk = 8;

    // Fills candidates with the occurrences that may win, in recorded order, and beyond_known
    // with a value that the squared distance of one of them stays below; false when the bounds are
    // not worth it or not safe here (a NaN or a huge value among the points), and every occurrence
    // must be measured.
    bool bounded(const Series& series, const int* first, const int* last, double& beyond_known);

    // The sum over the letters of an occurrence that lie whole in the series (low to high are
    // the segments summed) of the squared summed gap, less a margin several times the rounding
    // of the sums and their difference; it stops early once past enough.
    double bound_of(int position, size_t low, size_t high, double enough) const;

    // The squared distance of one occurrence, added up exactly as measure adds it.
    double squares_of(const Series& series, int position) const;

    // measure over ranges of a few thousand points each, counted before each range. The ranges
    // hold whole batches of lanes, so the batches, and the result, are those of one call.
    void measure_counted(const Series& series, const int* first, const int* last,
                         double beyond_known, double& best, int& best_position,
                         const Cancellation& cancel) const;

    void measure(const Series& series, const int* first, const int* last, double beyond_known,
                 double& best, int& best_position) const;

    const std::vector<double>& centre;
    size_t seglen;
    size_t length;
    size_t letters;
    bool bounds_usable = false;
    std::vector<double> centre_sums;
    std::vector<double> centre_magnitudes;
    std::vector<double> segment_sums;
    std::vector<double> segment_magnitudes;
    std::vector<int> candidates;
};

// The occurrence of one series nearest to the representative, among those at first to last:
// its letter position (the first in the order given of those at the smallest distance, 0 when
// none comes closer than the cap) and its Euclidean distance (the cap when none does), as
// Motif::map finds the best match and adds the distance to naed.
std::pair<int, double> nearest_occurrence(const Series& series, const int* first, const int* last,
                                          const std::vector<double>& representative, int seglen,
                                          size_t letters,
                                          const Cancellation& cancel = Cancellation());

// The distance a result reports for a best match: the Euclidean distance of the window of
// representative.size() points at start to the representative, divided by that length, in the
// series z-normalised with pairwise sums (znorm with Summation::pairwise), its squares added
// pairwise, as the results have always measured it. Points past the series' end and missing
// points add nothing; a distance of the cap or more, or NaN (a representative point no
// occurrence reaches), counts as the cap, as in naed. 0 for an empty representative.
double match_distance(const Series& normalised, int64_t start,
                      const std::vector<double>& representative);

}  // namespace zorp
