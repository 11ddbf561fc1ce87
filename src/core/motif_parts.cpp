#include "motif_parts.h"

#include <algorithm>
#include <utility>

#include "motif.h"
#include "nearest_occurrence.h"

namespace zorp {

namespace {

// The (motif, group) pairs of each series of the part. The part is read a series at a time,
// so that only that series is held normalised besides the part itself.
std::vector<std::vector<std::pair<size_t, size_t>>> groups_of_series(
    size_t series_count, const std::vector<PartOccurrences>& motifs) {
    std::vector<std::vector<std::pair<size_t, size_t>>> groups(series_count);
    for (size_t k = 0; k < motifs.size(); ++k) {
        for (size_t group = 0; group < motifs[k].series.size(); ++group) {
            groups[static_cast<size_t>(motifs[k].series[group])].emplace_back(k, group);
        }
    }
    return groups;
}

}  // namespace

std::vector<std::vector<double>> part_averages(const SeriesSet& part,
                                               const std::vector<PartOccurrences>& motifs,
                                               int seglen, const Cancellation& cancel) {
    std::vector<std::vector<double>> averages(motifs.size());
    for (size_t k = 0; k < motifs.size(); ++k) {
        averages[k].resize(motifs[k].series.size() * static_cast<size_t>(motifs[k].length));
    }
    const auto groups = groups_of_series(part.size(), motifs);
    Series normalised;
    for (size_t s = 0; s < part.size(); ++s) {
        if (groups[s].empty()) {
            continue;
        }
        normalised = part[s];
        znorm(normalised, Summation::running, cancel);
        for (const auto& [k, group] : groups[s]) {
            const PartOccurrences& motif = motifs[k];
            const std::vector<double> average =
                average_occurrence(normalised, motif.begin_of(group), motif.end_of(group), seglen,
                                   motif.length, motif.letters, cancel);
            std::copy(average.begin(), average.end(),
                      averages[k].begin() + static_cast<std::ptrdiff_t>(group * average.size()));
        }
    }
    return averages;
}

std::vector<PartMatches> part_best_matches(const SeriesSet& part,
                                           const std::vector<PartOccurrences>& motifs,
                                           const SeriesSet& representatives, int seglen,
                                           const Cancellation& cancel) {
    std::vector<PartMatches> matches(motifs.size());
    std::vector<NearestOccurrence> nearest;
    nearest.reserve(motifs.size());
    for (size_t k = 0; k < motifs.size(); ++k) {
        const size_t groups = motifs[k].series.size();
        matches[k].starts.resize(groups);
        matches[k].naed_terms.resize(groups);
        matches[k].distances.resize(groups);
        nearest.emplace_back(representatives[k], seglen, motifs[k].length, motifs[k].letters);
    }
    const auto groups = groups_of_series(part.size(), motifs);
    Series normalised;
    Series measured;
    for (size_t s = 0; s < part.size(); ++s) {
        if (groups[s].empty()) {
            continue;
        }
        normalised = part[s];
        znorm(normalised, Summation::running, cancel);
        measured = part[s];
        znorm(measured, Summation::pairwise, cancel);
        for (const auto& [k, group] : groups[s]) {
            const PartOccurrences& motif = motifs[k];
            const auto [position, distance] =
                nearest[k].in(normalised, motif.begin_of(group), motif.end_of(group), cancel);
            // A position inside the series' word, so the start fits in 32 bits.
            const int64_t start = static_cast<int64_t>(position) * seglen;
            matches[k].starts[group] = start;
            matches[k].naed_terms[group] = distance;
            matches[k].distances[group] = match_distance(measured, start, representatives[k]);
        }
    }
    return matches;
}

}  // namespace zorp
