#pragma once

#include <vector>

#include "cancel.h"
#include "motif.h"
#include "sax.h"

namespace zorp {

// The whole discovery pipeline: normalise, discretise, mine, map, rank, cut to k.
class Miner {
  public:
    Miner(double minsup, int seglen, int alphabet, int min_len, int max_len, double max_overlap,
          int k);

    // Normalises ts in place and returns copies of the best k motifs (all when k is 0). Every
    // run starts from an empty motif list; the whole ranked list stays readable afterwards.
    // Every step checks cancel as it goes (see Cancellation); a cancelled run leaves the list
    // as a failed one does: the motifs found so far, mapped or not.
    std::vector<Motif> mine(SeriesSet& ts, const Cancellation& cancel = Cancellation());

    void mine_patterns(const WordSet& words, const Cancellation& cancel = Cancellation());
    void map_patterns(const SeriesSet& ts, const Cancellation& cancel = Cancellation());
    void sort_patterns();

    std::vector<Motif> get_motifs() const { return motifs; }

  private:
    double minsup;
    int seglen;
    int alphabet;
    int min_len;
    int max_len;
    double max_overlap;
    int k;
    std::vector<Motif> motifs;
};

// Ranking order: ascending naed, with NaN after every number (infinity included), so that the
// relation stays a strict weak order.
bool ranks_before(const Motif& a, const Motif& b);
// The same order on the naed values themselves.
bool naed_ranks_before(double x, double y);

// The order in which sort_patterns leaves motifs whose naed values, in list order, are naeds:
// entry r is the list position of the motif ranked r. std::sort takes the same steps whatever
// it sorts, as they follow from the comparisons' answers alone, so sorting positions by
// naed_ranks_before gives the permutation sort_patterns makes, ties included.
std::vector<size_t> ranking_order(const std::vector<double>& naeds);

}  // namespace zorp
