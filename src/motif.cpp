#include "motif.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include <unistd.h>

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

// Adds the values that are points (not NaN) into sums and counts them. A NaN adds +0.0, which
// leaves a sum unchanged: a sum that starts at +0.0 can never be -0.0. Without a branch the loop
// runs on vectors, each sum still taking its terms in order (it is kept out of line, where the
// compiler can rely on the arrays not overlapping).
__attribute__((noinline)) void add_points(const double* __restrict values, size_t count,
                                          double* __restrict sums, double* __restrict counts) {
    for (size_t i = 0; i < count; ++i) {
        const double value = values[i];
        const bool is_point = value == value;
        sums[i] += is_point ? value : 0.0;
        counts[i] += is_point ? 1.0 : 0.0;
    }
}

__attribute__((noinline)) void add_values(const double* __restrict values, size_t count,
                                          double* __restrict sums) {
    for (size_t i = 0; i < count; ++i) {
        sums[i] += values[i];
    }
}

// The squared gap of a point to the representative; a NaN point (none there) adds nothing.
inline double square_of_point(double value, double centre) {
    const double gap = value - centre;
    return value == value ? gap * gap : 0.0;
}

// Four sums of squares advanced in step: each still adds its terms in order, but the four
// chains of additions overlap.
void add_squares_4(const std::array<const double*, 4>& values, const double* centre, size_t from,
                   size_t to, std::array<double, 4>& squares) {
    double a = squares[0], b = squares[1], c = squares[2], d = squares[3];
    for (size_t i = from; i < to; ++i) {
        a += square_of_point(values[0][i], centre[i]);
        b += square_of_point(values[1][i], centre[i]);
        c += square_of_point(values[2][i], centre[i]);
        d += square_of_point(values[3][i], centre[i]);
    }
    squares = {a, b, c, d};
}

// Grows a vector's capacity geometrically ahead of a push_back, so that the push_back itself
// cannot fail.
template <typename T>
void room_for_one_more(std::vector<T>& values) {
    if (values.size() == values.capacity()) {
        values.reserve(std::max<size_t>(4, 2 * values.size()));
    }
}

int checked_int(int64_t value, const char* what) {
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        throw std::length_error(std::string(what) + " of " + std::to_string(value) +
                                " points does not fit in a 32-bit integer");
    }
    return static_cast<int>(value);
}

}  // namespace

void Occurrences::add(int series_index, const std::vector<int>& more) {
    append(series_index, more.data(), more.data() + more.size());
}

void Occurrences::assign_groups(const std::vector<int>& group_series,
                                const std::vector<size_t>& starts,
                                const std::vector<int>& group_positions) {
    std::vector<size_t> group_ends(starts.size());
    for (size_t group = 0; group < starts.size(); ++group) {
        group_ends[group] = group + 1 < starts.size() ? starts[group + 1] : group_positions.size();
    }
    std::vector<int> copied_series(group_series);
    std::vector<int> copied_positions(group_positions);
    series.swap(copied_series);
    positions.swap(copied_positions);
    ends.swap(group_ends);
    ascending = std::is_sorted(series.begin(), series.end()) &&
                std::adjacent_find(series.begin(), series.end()) == series.end();
}

size_t Occurrences::group_of(int wanted) const {
    if (ascending) {
        const auto found = std::lower_bound(series.begin(), series.end(), wanted);
        return found != series.end() && *found == wanted
                   ? static_cast<size_t>(found - series.begin())
                   : series.size();
    }
    return static_cast<size_t>(std::find(series.begin(), series.end(), wanted) - series.begin());
}

// Everything that can fail to allocate happens before the record changes, so a failure leaves
// it as it was.
void Occurrences::append(int series_index, const int* first, const int* last) {
    if (first == last) {
        return;
    }
    const auto count = static_cast<size_t>(last - first);
    if (!series.empty() && series.back() == series_index) {
        positions.insert(positions.end(), first, last);
        ends.back() = positions.size();
        return;
    }
    const bool after_last = series.empty() || (ascending && series_index > series.back());
    const size_t group = after_last ? series.size() : group_of(series_index);
    if (group == series.size()) {
        room_for_one_more(series);
        room_for_one_more(ends);
        positions.insert(positions.end(), first, last);
        if (!after_last) {
            ascending = false;
        }
        series.push_back(series_index);
        ends.push_back(positions.size());
        return;
    }
    positions.insert(positions.begin() + static_cast<std::ptrdiff_t>(ends[group]), first, last);
    for (size_t later = group; later < ends.size(); ++later) {
        ends[later] += count;
    }
}

IndexTable Occurrences::to_table() const {
    IndexTable table;
    table.reserve(series.size());
    for (size_t group = 0; group < series.size(); ++group) {
        table.emplace(series[group], std::vector<int>(begin_of(group), end_of(group)));
    }
    return table;
}

std::vector<size_t> Occurrences::groups_by_series() const {
    std::vector<size_t> order(series.size());
    for (size_t group = 0; group < order.size(); ++group) {
        order[group] = group;
    }
    if (!ascending) {
        std::sort(order.begin(), order.end(),
                  [this](size_t a, size_t b) { return series[a] < series[b]; });
    }
    return order;
}

size_t memory_budget_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) {
        return size_t{8} << 30;
    }
    return static_cast<size_t>(pages) / 2 * static_cast<size_t>(page_size);
}

namespace {

std::string formatted(const char* format, double value) {
    std::array<char, 64> text{};
    const int written = std::snprintf(text.data(), text.size(), format, value);
    return written > 0 ? std::string(text.data()) : std::string();
}

}  // namespace

std::string gibibytes(double bytes) {
    return formatted("%.1f", bytes / double(size_t{1} << 30)) + " GiB";
}

std::string decimal(double value) {
    return formatted("%g", value);
}

Motif::Motif(Word pattern) : pattern(std::move(pattern)) {}

Motif::Motif(Word pattern, Occurrences indexes)
    : pattern(std::move(pattern)), indexes(std::move(indexes)) {}

void Motif::record_index(int series, int position) {
    indexes.add(series, position);
}

void Motif::record_indexes(int series, const std::vector<int>& positions) {
    indexes.add(series, positions);
}

double Motif::statistics_bytes(int seglen) const {
    const double points = static_cast<double>(seglen) * static_cast<double>(pattern.size());
    const double series = static_cast<double>(indexes.series_count());
    // The representative and one average per series, plus the maps' own entries.
    return sizeof(double) * std::max(points, 0.0) * (series + 1.0) + 96.0 * series;
}

int Motif::length_for(int seglen) const {
    return checked_int(static_cast<int64_t>(seglen) * static_cast<int64_t>(pattern.size()),
                       "motif length");
}

void Motif::map(const SeriesSet& ts, int seglen) {
    const int new_length = length_for(seglen);
    const double needed = statistics_bytes(seglen);
    if (needed > static_cast<double>(memory_budget_bytes())) {
        throw MemoryLimitExceeded("the statistics of a motif of " + std::to_string(new_length) +
                                  " points over " + std::to_string(indexes.series_count()) +
                                  " series would need " + gibibytes(needed) + ", more than the " +
                                  gibibytes(static_cast<double>(memory_budget_bytes())) +
                                  " this machine can give them; use a smaller seglen");
    }
    this->seglen = seglen;
    length = new_length;
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
// recorded order, as one list per occurrence would give. Most series hold no NaN at all: their
// values are summed without the NaN test and each count is the number of occurrences that reach
// that far. A sum that comes out NaN reveals a NaN (or opposite infinities) among its terms, and
// the series is summed again with NaN skipped.
void Motif::set_average_occurrences(const SeriesSet& ts) {
    const auto points = static_cast<size_t>(std::max(length, 0));
    std::vector<double> sums(points);
    std::vector<double> counts(points);
    std::vector<size_t> reaching(points + 1);
    for (size_t group = 0; group < indexes.series_count(); ++group) {
        const int series_index = indexes.series_at(group);
        const Series& series = ts.at(static_cast<size_t>(series_index));
        // Calls visit(values, present) with the points of each occurrence that lie in the series.
        auto each_occurrence = [&](auto&& visit) {
            for (const int* at = indexes.begin_of(group); at != indexes.end_of(group); ++at) {
                const int64_t start = static_cast<int64_t>(*at) * seglen;
                const size_t present = points_present(series, start, length);
                visit(present > 0 ? series.data() + start : nullptr, present);
            }
        };

        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(reaching.begin(), reaching.end(), 0);
        each_occurrence([&](const double* values, size_t present) {
            if (present > 0) {
                add_values(values, present, sums.data());
            }
            ++reaching[present];
        });
        size_t covering = 0;
        for (size_t i = points; i-- > 0;) {
            covering += reaching[i + 1];
            counts[i] = static_cast<double>(covering);
        }
        if (std::any_of(sums.begin(), sums.end(), [](double sum) { return std::isnan(sum); })) {
            std::fill(sums.begin(), sums.end(), 0.0);
            std::fill(counts.begin(), counts.end(), 0.0);
            each_occurrence([&](const double* values, size_t present) {
                if (present > 0) {
                    add_points(values, present, sums.data(), counts.data());
                }
            });
        }
        std::vector<double>& average = average_occurrences[series_index];
        average.resize(points);
        for (size_t i = 0; i < points; ++i) {
            average[i] = counts[i] > 0.0 ? sums[i] / counts[i] : no_point;
        }
    }
}

// Every series weighs the same, whatever its number of occurrences. Series are added in
// ascending index order, so the rounding does not depend on the hash map's layout.
void Motif::set_representative() {
    if (average_occurrences.empty()) {
        return;
    }
    std::vector<int> order;
    order.reserve(average_occurrences.size());
    for (const auto& entry : average_occurrences) {
        order.push_back(entry.first);
    }
    std::sort(order.begin(), order.end());
    const size_t points = representative.size();
    std::vector<double> sums(points, 0.0);
    std::vector<double> counts(points, 0.0);
    for (int series_index : order) {
        const std::vector<double>& average = average_occurrences.at(series_index);
        add_points(average.data(), std::min(points, average.size()), sums.data(), counts.data());
    }
    for (size_t i = 0; i < points; ++i) {
        representative[i] = counts[i] > 0.0 ? sums[i] / counts[i] : no_point;
    }
}

// The distance is not divided by the number of terms, and points past the series end add
// nothing. Only a strictly smaller distance replaces the best, so the earliest occurrence wins
// ties; naed adds the series in ascending index order.
//
// Occurrences are measured a few at a time, their sums of squares interleaved so that the
// additions of one (which must run in order) overlap those of the others. A sum of squares only
// grows, so an occurrence is abandoned once its partial sum reaches the square of the best
// distance found before its batch, padded by a few ulps: its full distance then exceeds that
// best, and so every later best, and it could neither win nor tie. The survivors of a batch
// are compared with the best in recorded order.
void Motif::set_best_matches_and_naed(const SeriesSet& ts) {
    constexpr size_t lanes = 4;
    constexpr size_t block = 16;
    const double* centre = representative.data();
    for (size_t group : indexes.groups_by_series()) {
        const int series_index = indexes.series_at(group);
        const Series& series = ts.at(static_cast<size_t>(series_index));
        double best = distance_cap;
        int best_position = 0;
        for (const int* batch = indexes.begin_of(group); batch != indexes.end_of(group);) {
            const size_t used = std::min(lanes, static_cast<size_t>(indexes.end_of(group) - batch));
            const double abandon_at = best * best * (1.0 + 1e-14);
            std::array<const double*, lanes> values{};
            std::array<size_t, lanes> present{};
            std::array<double, lanes> squares{};
            size_t longest = 0;
            for (size_t lane = 0; lane < used; ++lane) {
                const int64_t start = static_cast<int64_t>(batch[lane]) * seglen;
                present[lane] = points_present(series, start, length);
                values[lane] = present[lane] ? series.data() + start : nullptr;
                longest = std::max(longest, present[lane]);
            }
            for (size_t from = 0; from < longest; from += block) {
                const size_t to = std::min(longest, from + block);
                if (used == lanes &&
                    std::min({present[0], present[1], present[2], present[3]}) >= to) {
                    add_squares_4(values, centre, from, to, squares);
                } else {
                    for (size_t lane = 0; lane < used; ++lane) {
                        const size_t stop = std::min(to, present[lane]);
                        for (size_t i = from; i < stop; ++i) {
                            squares[lane] += square_of_point(values[lane][i], centre[i]);
                        }
                    }
                }
                bool all_abandoned = true;
                for (size_t lane = 0; lane < used; ++lane) {
                    all_abandoned = all_abandoned && squares[lane] >= abandon_at;
                }
                if (all_abandoned) {
                    break;
                }
            }
            for (size_t lane = 0; lane < used; ++lane) {
                if (squares[lane] >= abandon_at) {
                    continue;
                }
                const double distance = std::sqrt(squares[lane]);
                if (distance < best) {
                    best = distance;
                    best_position = batch[lane];
                }
            }
            batch += used;
        }
        best_matches[series_index] =
            checked_int(static_cast<int64_t>(best_position) * seglen, "best match start");
        naed += best;
    }
    naed /= static_cast<double>(indexes.series_count()) * static_cast<double>(length);
}

}  // namespace zorp
