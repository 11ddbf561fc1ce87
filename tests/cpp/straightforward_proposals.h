#pragma once

// The proposals of frequent words made in one pass over every window, the straightforward way:
// the kernels of src/core/proposals.h (count_keys, ranked_keys, sum_members, nearest_members) put
// together in one process, to hold the robust search's proposals over parts against.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "proposals.h"

namespace zorp {

// Above this share of its variance explained by a monotone curve, a shape is trivial.
constexpr double monotone_limit = 0.9;

// One proposed shape: the window chosen to stand for a frequent word, and the word ('.' for the
// letter left out of it).
struct Proposal {
    int series = 0;
    int start = 0;
    std::string word;
};

// What a run of propose looks for.
struct ProposalSettings {
    int length = 0;        // window length in points, at least 1
    int alphabet = 4;      // letters per position of the words, 2 to 10
    double support = 1.0;  // series a key must occur in to propose a shape, finite
    size_t count = 0;      // proposals wanted at most
};

// The average of a key's members: its sums over count windows, in segment-mean units.
inline std::vector<double> member_average(const int64_t* sums, size_t letters, int64_t count) {
    std::vector<double> average(letters);
    for (size_t j = 0; j < letters; ++j) {
        average[j] = static_cast<double>(sums[j]) * member_sum_unit / static_cast<double>(count);
    }
    return average;
}

// Shapes proposed by words that many series share. Each window's means become letters (SAX cut
// points of the alphabet). A window counts under its whole word and, tolerantly, under each of
// its one-letter wildcards; every such key held by at least settings.support series is ranked
// by support / sqrt(occurrences per series), highest first (keys that occur once in many series
// come first), ties by the position left out (none first) and then by the key's letters. In that
// order, each key whose set of windows was not proposed before proposes its medoid: the window
// whose means are closest to the average of the key's windows (the first of them on a tie; see
// sum_members for how windows are told apart and summed).
// Medoids whose shape a monotone curve explains (monotone_share above 0.9) are skipped as
// trivial. Stops at settings.count proposals. ts are the series the windows were taken from;
// every window must lie inside its series (std::invalid_argument otherwise, before any work).
// Nothing depends on the order of the series but the choice between windows at exactly equal
// distances from an average.
// The steps above count a unit per letter of a window they read on cancel.
inline std::vector<Proposal> propose(const SeriesSet& ts, const ProposalWindows& windows,
                                     const ProposalSettings& settings,
                                     const Cancellation& cancel = Cancellation()) {
    check_windows(windows, settings.alphabet);
    if (settings.length < 1) {
        throw std::invalid_argument("proposals need a window length of at least 1 point, got " +
                                    std::to_string(settings.length));
    }
    const size_t m = static_cast<size_t>(settings.length);
    for (size_t w = 0; w < windows.series.size(); ++w) {
        const auto owner = static_cast<size_t>(windows.series[w]);
        if (owner >= ts.size() || static_cast<size_t>(windows.starts[w]) + m > ts[owner].size()) {
            throw std::invalid_argument("a proposal window runs past the end of series " +
                                        std::to_string(owner));
        }
    }
    const size_t width = static_cast<size_t>(windows.letters);
    const std::vector<ProposalKey> ranked =
        ranked_keys(count_keys(windows, settings.alphabet, cancel), settings.support);
    std::vector<Proposal> proposals;
    std::set<std::tuple<int64_t, uint64_t, uint64_t>> seen;
    // Keys are taken a batch at a time: each batch costs one pass over the windows.
    const size_t batch = std::max<size_t>(64, 2 * std::min(settings.count, ranked.size()));
    for (size_t from = 0; from < ranked.size() && proposals.size() < settings.count;
         from += batch) {
        const std::vector<ProposalKey> keys(
            ranked.begin() + static_cast<ptrdiff_t>(from),
            ranked.begin() + static_cast<ptrdiff_t>(std::min(ranked.size(), from + batch)));
        const MemberSums sums = sum_members(windows, settings.alphabet, keys, cancel);
        std::vector<double> averages;
        averages.reserve(keys.size() * width);
        for (size_t e = 0; e < keys.size(); ++e) {
            const std::vector<double> average =
                member_average(sums.sums.data() + e * width, width, sums.counts[e]);
            averages.insert(averages.end(), average.begin(), average.end());
        }
        const NearestMembers nearest =
            nearest_members(windows, settings.alphabet, keys, averages, cancel);
        for (size_t e = 0; e < keys.size() && proposals.size() < settings.count; ++e) {
            if (!seen.emplace(sums.counts[e], sums.fingerprints[2 * e],
                              sums.fingerprints[2 * e + 1])
                     .second) {
                continue;
            }
            const auto closest = static_cast<size_t>(nearest.windows[e]);
            const size_t owner = static_cast<size_t>(windows.series[closest]);
            const size_t start = static_cast<size_t>(windows.starts[closest]);
            const std::vector<double> medoid(ts[owner].begin() + static_cast<ptrdiff_t>(start),
                                             ts[owner].begin() + static_cast<ptrdiff_t>(start + m));
            if (monotone_share(znormalised(medoid)) > monotone_limit) {
                continue;
            }
            proposals.push_back({static_cast<int>(owner), static_cast<int>(start),
                                 word_of(windows, closest, settings.alphabet, keys[e].projection)});
        }
    }
    return proposals;
}

}  // namespace zorp
