#pragma once

// A motif's statistics computed the straightforward way, to hold the library's against: one
// list per occurrence, every sum added in recorded order, every occurrence measured.

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "motif.h"

namespace zorp {

struct Straightforward {
    // Per series: the average at each offset, the number of its terms and the sum of their
    // magnitudes.
    std::map<int, std::vector<double>> averages;
    std::map<int, std::vector<double>> counts;
    std::map<int, std::vector<double>> magnitudes;
    std::vector<double> representative;
    std::map<int, int> best_matches;
    double naed = 0.0;
};

inline std::vector<double> occurrence_at(const Series& series, int position, int seglen,
                                         size_t length) {
    std::vector<double> values(length, std::numeric_limits<double>::quiet_NaN());
    const size_t start = static_cast<size_t>(position) * static_cast<size_t>(seglen);
    for (size_t i = 0; i < length && start + i < series.size(); ++i) {
        values[i] = series[start + i];
    }
    return values;
}

// Best matches and naed measured against the given representative.
inline void measure_straightforwardly(const IndexTable& indexes, const SeriesSet& ts, int seglen,
                                      size_t length, const std::vector<double>& representative,
                                      Straightforward& result) {
    const std::map<int, std::vector<int>> by_series(indexes.begin(), indexes.end());
    result.best_matches.clear();
    result.naed = 0.0;
    for (const auto& [s, positions] : by_series) {
        double best = 1000000.0;
        int best_position = 0;
        for (int p : positions) {
            const std::vector<double> values = occurrence_at(ts[s], p, seglen, length);
            double squares = 0.0;
            for (size_t i = 0; i < length; ++i) {
                if (!std::isnan(values[i])) {
                    squares += (values[i] - representative[i]) * (values[i] - representative[i]);
                }
            }
            if (std::sqrt(squares) < best) {
                best = std::sqrt(squares);
                best_position = p;
            }
        }
        result.best_matches[s] = best_position * seglen;
        result.naed += best;
    }
    result.naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}

inline Straightforward straightforward_statistics(const Motif& motif, const SeriesSet& ts,
                                                  int seglen) {
    const size_t length = motif.get_pattern().size() * static_cast<size_t>(seglen);
    const IndexTable indexes = motif.get_indexes();
    const std::map<int, std::vector<int>> by_series(indexes.begin(), indexes.end());
    Straightforward result;
    std::vector<double> sums(length, 0.0);
    std::vector<double> counts(length, 0.0);
    for (const auto& [s, positions] : by_series) {
        std::vector<double> series_sums(length, 0.0);
        std::vector<double>& series_counts = result.counts[s];
        series_counts.assign(length, 0.0);
        std::vector<double>& magnitudes = result.magnitudes[s];
        magnitudes.assign(length, 0.0);
        for (int p : positions) {
            const std::vector<double> values = occurrence_at(ts[s], p, seglen, length);
            for (size_t i = 0; i < length; ++i) {
                if (!std::isnan(values[i])) {
                    series_sums[i] += values[i];
                    series_counts[i] += 1.0;
                    magnitudes[i] += std::fabs(values[i]);
                }
            }
        }
        std::vector<double>& average = result.averages[s];
        average.resize(length);
        for (size_t i = 0; i < length; ++i) {
            average[i] = series_counts[i] > 0.0 ? series_sums[i] / series_counts[i]
                                                : std::numeric_limits<double>::quiet_NaN();
            if (!std::isnan(average[i])) {
                sums[i] += average[i];
                counts[i] += 1.0;
            }
        }
    }
    result.representative.assign(length, 0.0);
    if (!by_series.empty()) {
        for (size_t i = 0; i < length; ++i) {
            result.representative[i] =
                counts[i] > 0.0 ? sums[i] / counts[i] : std::numeric_limits<double>::quiet_NaN();
        }
    }
    measure_straightforwardly(indexes, ts, seglen, length, result.representative, result);
    return result;
}

}  // namespace zorp
