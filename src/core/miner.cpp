#include "miner.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "patterns.h"

namespace zorp {

Miner::Miner(double minsup, int seglen, int alphabet, int min_len, int max_len, double max_overlap,
             int k)
    : minsup(minsup),
      seglen(seglen),
      alphabet(alphabet),
      min_len(min_len),
      max_len(max_len),
      max_overlap(max_overlap),
      k(k) {}

std::vector<Motif> Miner::mine(SeriesSet& ts, const Cancellation& cancel) {
    // A later run never maps an earlier run's motifs over series they do not belong to.
    motifs.clear();
    znorm(ts, cancel);
    const WordSet words = sax(ts, seglen, alphabet, cancel);
    mine_patterns(words, cancel);
    map_patterns(ts, cancel);
    sort_patterns();
    if (k < 0) {
        // The ranked list is stored whole before the cut fails.
        throw std::length_error("cannot create std::vector larger than max_size()");
    }
    const size_t count = k == 0 ? motifs.size() : std::min(motifs.size(), static_cast<size_t>(k));
    return std::vector<Motif>(motifs.begin(), motifs.begin() + static_cast<std::ptrdiff_t>(count));
}

void Miner::mine_patterns(const WordSet& words, const Cancellation& cancel) {
    PatternMiner miner(minsup, min_len, max_len, max_overlap);
    miner.mine(words, cancel);
    // The local miner is discarded, so its table is moved rather than copied, and the rest of
    // its state is freed between checks.
    FrequentTable table = miner.take_frequent();
    miner.clear(cancel);
    motifs.reserve(motifs.size() + table.size());
    for (auto& entry : table) {
        motifs.push_back(std::move(entry.second));
    }
}

// All the statistics are held at once, so their total is checked before any is computed; a
// length that does not fit is refused first, whatever the machine's memory.
//
// The list is held aside while it is mapped and put back however the mapping ends. The check
// of cancel may run the caller's code (a signal handler), which may read this Miner's list or
// even start a new run on it: it then finds an empty list, and its run cannot pull a motif from
// under the mapping.
void Miner::map_patterns(const SeriesSet& ts, const Cancellation& cancel) {
    double needed = 0.0;
    for (const Motif& motif : motifs) {
        motif.length_for(seglen);
        needed += motif.statistics_bytes(seglen);
    }
    refuse_statistics_beyond_budget(motifs.size(), needed);
    struct PutBack {
        std::vector<Motif>& list;
        std::vector<Motif> aside;
        ~PutBack() { list = std::move(aside); }
    } held{motifs, std::move(motifs)};
    motifs.clear();
    for (Motif& motif : held.aside) {
        motif.map(ts, seglen, cancel);
    }
}

void Miner::sort_patterns() {
    std::sort(motifs.begin(), motifs.end(), ranks_before);
}

bool ranks_before(const Motif& a, const Motif& b) {
    return naed_ranks_before(a.get_naed(), b.get_naed());
}

bool naed_ranks_before(double x, double y) {
    if (std::isnan(x)) {
        return false;
    }
    return std::isnan(y) || x < y;
}

std::vector<size_t> ranking_order(const std::vector<double>& naeds) {
    std::vector<size_t> order(naeds.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&naeds](size_t a, size_t b) { return naed_ranks_before(naeds[a], naeds[b]); });
    return order;
}

}  // namespace zorp
