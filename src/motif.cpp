#include "motif.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace zorp {

namespace {

constexpr double no_point = std::numeric_limits<double>::quiet_NaN();
// Both the starting distance of every series' search and a cap on what a series adds to naed.
constexpr double distance_cap = 1000000.0;

// Points of an occurrence that exist in the series: a start past the end covers none.
size_t points_present(const Series& series, int64_t start, int length) {
    if (start < 0 || static_cast<uint64_t>(start) >= series.size()) {
        return 0;
    }
    const size_t left = series.size() - static_cast<size_t>(start);
    return std::min(left, static_cast<size_t>(std::max(length, 0)));
}

int checked_int(int64_t value, const char* what) {
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        throw std::length_error(std::string(what) + " of " + std::to_string(value) +
                                " points does not fit in a 32-bit integer");
    }
    return static_cast<int>(value);
}

}  // namespace

Motif::Motif(Word pattern) : pattern(std::move(pattern)) {}

void Motif::record_index(int series, int position) {
    auto found = indexes.find(series);
    if (found != indexes.end()) {
        found->second.push_back(position);
        return;
    }
    // Build the list before the entry, so a failed allocation leaves no empty entry behind.
    std::vector<int> positions{position};
    indexes.emplace(series, std::move(positions));
}

void Motif::record_indexes(int series, const std::vector<int>& positions) {
    if (positions.empty()) {
        return;
    }
    auto found = indexes.find(series);
    if (found != indexes.end()) {
        found->second.insert(found->second.end(), positions.begin(), positions.end());
        return;
    }
    indexes.emplace(series, positions);
}

void Motif::map(const SeriesSet& ts, int seglen) {
    this->seglen = seglen;
    length = checked_int(static_cast<int64_t>(seglen) * static_cast<int64_t>(pattern.size()),
                         "motif length");
    representative.assign(static_cast<size_t>(std::max(length, 0)), 0.0);
    naed = 0.0;
    set_average_occurrences(ts);
    set_representative();
    set_best_matches_and_naed(ts);
}

std::vector<double> Motif::get_occurrence(const Series& series, int position) const {
    const int64_t start = static_cast<int64_t>(position) * seglen;
    const size_t present = points_present(series, start, length);
    std::vector<double> occurrence(static_cast<size_t>(std::max(length, 0)), no_point);
    std::copy_n(series.begin() + static_cast<std::ptrdiff_t>(present ? start : 0), present,
                occurrence.begin());
    return occurrence;
}

// Occurrences are read in place rather than copied out: points past the series end are NaN
// and every average skips NaN, so they are simply not visited. Sums run over the occurrences in
// recorded order, as one list per occurrence would give.
void Motif::set_average_occurrences(const SeriesSet& ts) {
    const auto points = static_cast<size_t>(std::max(length, 0));
    std::vector<double> sums(points);
    std::vector<double> counts(points);
    for (const auto& [series_index, positions] : indexes) {
        const Series& series = ts.at(static_cast<size_t>(series_index));
        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(counts.begin(), counts.end(), 0.0);
        for (int position : positions) {
            const int64_t start = static_cast<int64_t>(position) * seglen;
            const size_t present = points_present(series, start, length);
            const double* values = present ? series.data() + start : nullptr;
            for (size_t i = 0; i < present; ++i) {
                if (!std::isnan(values[i])) {
                    sums[i] += values[i];
                    counts[i] += 1.0;
                }
            }
        }
        std::vector<double>& average = average_occurrences[series_index];
        average.resize(points);
        for (size_t i = 0; i < points; ++i) {
            average[i] = counts[i] > 0.0 ? sums[i] / counts[i] : no_point;
        }
    }
}

// Every series weighs the same, whatever its number of occurrences.
void Motif::set_representative() {
    if (average_occurrences.empty()) {
        return;
    }
    const size_t points = representative.size();
    std::vector<double> sums(points, 0.0);
    std::vector<double> counts(points, 0.0);
    for (const auto& entry : average_occurrences) {
        const std::vector<double>& average = entry.second;
        for (size_t i = 0; i < points && i < average.size(); ++i) {
            if (!std::isnan(average[i])) {
                sums[i] += average[i];
                counts[i] += 1.0;
            }
        }
    }
    for (size_t i = 0; i < points; ++i) {
        representative[i] = counts[i] > 0.0 ? sums[i] / counts[i] : no_point;
    }
}

// The distance is not divided by the number of terms, and points past the series end add
// nothing. Only a strictly smaller distance replaces the best, so the earliest occurrence wins
// ties. A sum of squares grows monotonically, so a candidate is abandoned once its partial sum
// is already at least best squared; the bound is padded by a few ulps so that no candidate
// whose full distance would round below best is ever cut short.
void Motif::set_best_matches_and_naed(const SeriesSet& ts) {
    const double* centre = representative.data();
    for (const auto& [series_index, positions] : indexes) {
        const Series& series = ts.at(static_cast<size_t>(series_index));
        double best = distance_cap;
        int best_position = 0;
        for (int position : positions) {
            const int64_t start = static_cast<int64_t>(position) * seglen;
            const size_t present = points_present(series, start, length);
            const double* values = present ? series.data() + start : nullptr;
            const double abandon_at = best * best * (1.0 + 1e-14);
            double squares = 0.0;
            bool abandoned = false;
            for (size_t i = 0; i < present; ++i) {
                if (!std::isnan(values[i])) {
                    const double gap = values[i] - centre[i];
                    squares += gap * gap;
                    if (squares >= abandon_at) {
                        abandoned = true;
                        break;
                    }
                }
            }
            if (abandoned) {
                continue;
            }
            const double distance = std::sqrt(squares);
            if (distance < best) {
                best = distance;
                best_position = position;
            }
        }
        best_matches[series_index] =
            checked_int(static_cast<int64_t>(best_position) * seglen, "best match start");
        naed += best;
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}

}  // namespace zorp
