// Fuzzes zorp::Miner::mine. Input: seglen byte ([-2, 8]), alphabet byte ([-1, 11]), minsup byte
// (fuzz::minsups), min_len byte ([-2, 6], 255/254 = INT_MIN/INT_MAX), max_len byte ([-2, 6]),
// max_overlap byte (fuzz::overlaps), k byte ([-2, 6]), then a series set (see fuzz_input.h) of
// up to 16 * seglen points per series (16 for a seglen below 1, 64 at most).

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "fuzz_input.h"
#include "miner.h"

namespace {

// Checks the whole ranked list against the series the run was given (before normalisation).
void check_ranked(const std::vector<zorp::Motif>& motifs, const zorp::SeriesSet& ts, int seglen) {
    for (size_t m = 0; m < motifs.size(); ++m) {
        const zorp::Motif& motif = motifs[m];
        FUZZ_CHECK(seglen > 0);
        FUZZ_CHECK(m == 0 || !zorp::ranks_before(motif, motifs[m - 1]));
        // The same order stated independently: ascending naed, NaN only after NaN.
        const double naed = motif.get_naed();
        const double before = m == 0 ? -fuzz::inf : motifs[m - 1].get_naed();
        FUZZ_CHECK(std::isnan(naed) || (!std::isnan(before) && before <= naed));
        FUZZ_CHECK(static_cast<int64_t>(motif.get_length()) ==
                   static_cast<int64_t>(seglen) * static_cast<int64_t>(motif.get_pattern().size()));
        FUZZ_CHECK(motif.get_representative().size() == static_cast<size_t>(motif.get_length()));
        FUZZ_CHECK(!(naed < 0.0));
        // One best match per series the pattern occurs in, at one of its occurrences, or at 0
        // where no occurrence comes closer than the distance cap (all its distances NaN, say).
        const zorp::IndexTable indexes = motif.get_indexes();
        const auto best_matches = motif.get_best_matches();
        FUZZ_CHECK(best_matches.size() == indexes.size());
        for (const auto& [series, start] : best_matches) {
            FUZZ_CHECK(series >= 0 && static_cast<size_t>(series) < ts.size());
            FUZZ_CHECK(start >= 0 && static_cast<size_t>(start) < ts[series].size());
            FUZZ_CHECK(start % seglen == 0);
            const auto found = indexes.find(series);
            FUZZ_CHECK(found != indexes.end());
            FUZZ_CHECK(start == 0 ||
                       std::count(found->second.begin(), found->second.end(), start / seglen) > 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int seglen = in.in_range(-2, 8);
    const int alphabet = in.in_range(-1, 11);
    const double minsup = in.pick(fuzz::minsups);
    const int min_len = in.in_range_or_extreme(-2, 6);
    int max_len = in.in_range(-2, 6);
    const double max_overlap = in.pick(fuzz::overlaps);
    const int k = in.in_range(-2, 6);
    // At most 16 letters per series: the patterns, each mapped, grow as the square of that.
    const zorp::SeriesSet ts = in.series_set(16 * static_cast<size_t>(std::clamp(seglen, 1, 4)));

    const size_t letters = static_cast<size_t>(std::clamp(alphabet, 1, zorp::max_alphabet));
    max_len = fuzz::bounded_max_len(max_len, minsup * static_cast<double>(ts.size()), letters);

    zorp::Miner miner(minsup, seglen, alphabet, min_len, max_len, max_overlap, k);
    zorp::SeriesSet copy = ts;
    try {
        const std::vector<zorp::Motif> best = miner.mine(copy);
        const std::vector<zorp::Motif> all = miner.get_motifs();
        FUZZ_CHECK(k >= 0);
        FUZZ_CHECK(best.size() == (k == 0 ? all.size() : std::min(all.size(), size_t(k))));
        for (size_t m = 0; m < best.size(); ++m) {
            FUZZ_CHECK(best[m].get_pattern() == all[m].get_pattern());
        }
        check_ranked(all, ts, seglen);
    } catch (const std::invalid_argument&) {
    } catch (const std::length_error&) {
        // A negative k fails only once the whole list is ranked, and the list stays readable.
        if (k < 0) {
            check_ranked(miner.get_motifs(), ts, seglen);
        }
    } catch (const zorp::MemoryLimitExceeded&) {
    }
    return 0;
}
