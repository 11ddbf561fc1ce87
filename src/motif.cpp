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

// Worked out in 64 bits: where size_t has 32, half of a machine of 8 GiB or more would wrap
// around to any size, none included. A process of 32-bit pointers addresses 4 GiB at most
// whatever the machine holds, so its budget is half of that at most.
size_t memory_budget_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    const uint64_t half_the_machine =
        pages > 0 && page_size > 0
            ? static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(page_size)
            : uint64_t{8} << 30;
    const uint64_t half_the_address_space = std::numeric_limits<size_t>::max() / 2;
    return static_cast<size_t>(std::min(half_the_machine, half_the_address_space));
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

namespace {

// Runs of consecutive positions this long or longer are summed as sliding sums; shorter ones
// occurrence by occurrence. The sliding sums pay off from a handful of occurrences on, but a
// series whose runs are all shorter keeps sums that are bit for bit those of adding its
// occurrences one by one, and these runs hold little of the work.
constexpr size_t window_run_length = 64;
// Nor for patterns this short, which cover few points beyond the run itself.
constexpr size_t window_pattern_letters = 4;

size_t window_run_for(size_t letters) {
    return letters >= window_pattern_letters ? window_run_length : size_t{0};
}

// Whether a position is the one after another; the sum is taken wider than int, since nothing
// follows 2^31 - 1.
bool follows(int before, int position) {
    return int64_t{before} + 1 == position;
}

// Sums the points of one series' occurrences at each offset, with buffers reused from series to
// series.
class OccurrenceSummer {
  public:
    OccurrenceSummer(int seglen, int length, size_t window_run)
        : seglen(static_cast<size_t>(std::max(seglen, 1))),
          length(static_cast<size_t>(std::max(length, 0))),
          window_run(window_run),
          sums(this->length),
          counts(this->length),
          reaching(this->length + 1) {}

    // Fills sums and counts for the occurrences at positions first to last.
    void sum(const Series& series, const int* first, const int* last, const Cancellation& cancel) {
        if (!has_long_run(first, last)) {
            sum_one_by_one(series, first, last, cancel);
            return;
        }
        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(counts.begin(), counts.end(), 0.0);
        for (const int* run = first; run != last;) {
            const int* end = run + 1;
            while (end != last && follows(end[-1], *end)) {
                ++end;
            }
            cancel.count(static_cast<size_t>(end - run) * length);
            if (static_cast<size_t>(end - run) >= window_run) {
                add_run(series, *run, static_cast<size_t>(end - run));
            } else {
                for (const int* at = run; at != end; ++at) {
                    const int64_t start = static_cast<int64_t>(*at) * static_cast<int64_t>(seglen);
                    const size_t present = points_present(series, start, static_cast<int>(length));
                    if (present > 0) {
                        add_points(series.data() + start, present, sums.data(), counts.data());
                    }
                }
            }
            run = end;
        }
    }

    const std::vector<double>& get_sums() const { return sums; }
    const std::vector<double>& get_counts() const { return counts; }

  private:
    bool has_long_run(const int* first, const int* last) const {
        if (window_run == 0 || static_cast<size_t>(last - first) < window_run) {
            return false;
        }
        size_t run = 1;
        for (const int* at = first + 1; at < last; ++at) {
            run = follows(at[-1], *at) ? run + 1 : 1;
            if (run >= window_run) {
                return true;
            }
        }
        return window_run <= 1;
    }

    // Occurrences are read in place rather than copied out: points past the series end are NaN
    // and every average skips NaN, so they are simply not visited. Most series hold no NaN at
    // all: their values are summed without the NaN test and each count is the number of
    // occurrences that reach that far. A sum that comes out NaN reveals a NaN (or opposite
    // infinities) among its terms, and the series is summed again with NaN skipped.
    void sum_one_by_one(const Series& series, const int* first, const int* last,
                        const Cancellation& cancel) {
        // Calls visit(values, present) with the points of each occurrence that lie in the series.
        auto each_occurrence = [&](auto&& visit) {
            const auto count = static_cast<size_t>(last - first);
            in_blocks(count, length, cancel, [&](size_t from, size_t to) {
                for (const int* at = first + from; at != first + to; ++at) {
                    const int64_t start = static_cast<int64_t>(*at) * static_cast<int64_t>(seglen);
                    const size_t present = points_present(series, start, static_cast<int>(length));
                    visit(present > 0 ? series.data() + start : nullptr, present);
                }
            });
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
        for (size_t i = length; i-- > 0;) {
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
    }

    // A run of occurrences at positions first, first + 1, ... covers one span of points, and
    // the terms of the sum at offset i are its points i, i + seglen, ..., one per occurrence: a
    // chain with a step of seglen. Cut into blocks of (occurrences x seglen) points, every
    // chain is the tail of its chain in one block plus the head of its chain in the next, and
    // one pass over each block from the right (tails) and one from the left (heads) gives them
    // all. Each sum thus adds only its own terms, in a different order than one by one.
    void add_run(const Series& series, int first, size_t occurrences) {
        const size_t span = (occurrences - 1) * seglen + length;
        const int64_t start = static_cast<int64_t>(first) * static_cast<int64_t>(seglen);
        const size_t present =
            points_present(series, start, static_cast<int>(std::min(span, size_t{INT32_MAX})));
        const double* values = series.data() + (present > 0 ? start : 0);
        const size_t block = occurrences * seglen;
        tails.assign(span, 0.0);
        tail_counts.assign(span, 0.0);
        heads.assign(span, 0.0);
        head_counts.assign(span, 0.0);
        for (size_t block_start = 0; block_start < span; block_start += block) {
            const size_t block_end = std::min(span, block_start + block);
            for (size_t t = block_end; t-- > block_start;) {
                const bool is_point = t < present && values[t] == values[t];
                const double term = is_point ? values[t] : 0.0;
                const double count = is_point ? 1.0 : 0.0;
                const bool more = t + seglen < block_end;
                tails[t] = term + (more ? tails[t + seglen] : 0.0);
                tail_counts[t] = count + (more ? tail_counts[t + seglen] : 0.0);
            }
            for (size_t t = block_start; t < block_end; ++t) {
                const bool is_point = t < present && values[t] == values[t];
                const double term = is_point ? values[t] : 0.0;
                const double count = is_point ? 1.0 : 0.0;
                const bool more = t >= block_start + seglen;
                heads[t] = (more ? heads[t - seglen] : 0.0) + term;
                head_counts[t] = (more ? head_counts[t - seglen] : 0.0) + count;
            }
        }
        const size_t chain = (occurrences - 1) * seglen;
        for (size_t i = 0; i < length; ++i) {
            double sum = tails[i];
            double count = tail_counts[i];
            if (i % block >= seglen) {
                sum += heads[i + chain];
                count += head_counts[i + chain];
            }
            sums[i] += sum;
            counts[i] += count;
        }
    }

    size_t seglen;
    size_t length;
    size_t window_run;
    std::vector<double> sums;
    std::vector<double> counts;
    std::vector<size_t> reaching;
    std::vector<double> tails;
    std::vector<double> tail_counts;
    std::vector<double> heads;
    std::vector<double> head_counts;
};

}  // namespace

OccurrenceSums sum_occurrences(const Series& series, const std::vector<int>& positions, int seglen,
                               int length, size_t window_run) {
    OccurrenceSummer summer(seglen, length, window_run);
    summer.sum(series, positions.data(), positions.data() + positions.size(), Cancellation());
    return {summer.get_sums(), summer.get_counts()};
}

namespace {

// The average at each offset of an occurrence: the sum over the points counted there, NaN where
// there are none.
void fill_average(const std::vector<double>& sums, const std::vector<double>& counts, size_t points,
                  std::vector<double>& average) {
    average.resize(points);
    for (size_t i = 0; i < points; ++i) {
        average[i] = counts[i] > 0.0 ? sums[i] / counts[i] : no_point;
    }
}

}  // namespace

std::vector<double> average_occurrence(const Series& series, const int* first, const int* last,
                                       int seglen, int length, size_t letters,
                                       const Cancellation& cancel) {
    OccurrenceSummer summer(seglen, length, window_run_for(letters));
    summer.sum(series, first, last, cancel);
    std::vector<double> average;
    fill_average(summer.get_sums(), summer.get_counts(), static_cast<size_t>(std::max(length, 0)),
                 average);
    return average;
}

void add_to_representative(const std::vector<double>& average, std::vector<double>& sums,
                           std::vector<double>& counts) {
    const size_t points = std::min({sums.size(), counts.size(), average.size()});
    add_points(average.data(), points, sums.data(), counts.data());
}

std::vector<double> representative_from(const std::vector<double>& sums,
                                        const std::vector<double>& counts) {
    std::vector<double> representative;
    fill_average(sums, counts, std::min(sums.size(), counts.size()), representative);
    return representative;
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

// The statistics are built in a block of their own and take the place of the old block only
// once complete, so the copies that share the old block keep it.
void Motif::map(const SeriesSet& ts, int seglen, const Cancellation& cancel) {
    const int new_length = length_for(seglen);
    const double needed = statistics_bytes(seglen);
    if (needed > static_cast<double>(memory_budget_bytes())) {
        throw MemoryLimitExceeded("the statistics of a motif of " + std::to_string(new_length) +
                                  " points over " + std::to_string(indexes.series_count()) +
                                  " series would need " + gibibytes(needed) + ", more than the " +
                                  gibibytes(static_cast<double>(memory_budget_bytes())) +
                                  " this machine can give them; use a smaller seglen");
    }
    MotifStatistics built;
    built.seglen = seglen;
    built.length = new_length;
    built.representative.assign(static_cast<size_t>(std::max(new_length, 0)), 0.0);
    built.naed = 0.0;
    set_average_occurrences(ts, built, cancel);
    set_representative(built);
    set_best_matches_and_naed(ts, built, cancel);
    statistics = std::make_shared<const MotifStatistics>(std::move(built));
}

std::vector<double> Motif::get_occurrence(const Series& series, int position) const {
    const int seglen = statistics ? statistics->seglen : 0;
    const int length = get_length();
    const int64_t start = static_cast<int64_t>(position) * seglen;
    const size_t present = points_present(series, start, length);
    std::vector<double> occurrence(static_cast<size_t>(std::max(length, 0)), no_point);
    std::copy_n(series.begin() + static_cast<std::ptrdiff_t>(present ? start : 0), present,
                occurrence.begin());
    return occurrence;
}

// Sums run over the occurrences in recorded order, as one list per occurrence would give, but
// for long runs of consecutive occurrences (see sum_occurrences).
void Motif::set_average_occurrences(const SeriesSet& ts, MotifStatistics& built,
                                    const Cancellation& cancel) const {
    const auto points = static_cast<size_t>(std::max(built.length, 0));
    OccurrenceSummer summer(built.seglen, built.length, window_run_for(pattern.size()));
    for (size_t group = 0; group < indexes.series_count(); ++group) {
        const int series_index = indexes.series_at(group);
        summer.sum(ts.at(static_cast<size_t>(series_index)), indexes.begin_of(group),
                   indexes.end_of(group), cancel);
        fill_average(summer.get_sums(), summer.get_counts(), points,
                     built.average_occurrences[series_index]);
    }
}

// Every series weighs the same, whatever its number of occurrences. Series are added in
// ascending index order, so the rounding does not depend on the hash map's layout.
void Motif::set_representative(MotifStatistics& built) const {
    if (built.average_occurrences.empty()) {
        return;
    }
    std::vector<int> order;
    order.reserve(built.average_occurrences.size());
    for (const auto& entry : built.average_occurrences) {
        order.push_back(entry.first);
    }
    std::sort(order.begin(), order.end());
    const size_t points = built.representative.size();
    std::vector<double> sums(points, 0.0);
    std::vector<double> counts(points, 0.0);
    for (int series_index : order) {
        add_to_representative(built.average_occurrences.at(series_index), sums, counts);
    }
    built.representative = representative_from(sums, counts);
}

namespace {

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
    NearestOccurrence(const std::vector<double>& centre, int seglen, int length, size_t letters)
        : centre(centre),
          seglen(static_cast<size_t>(std::max(seglen, 1))),
          length(static_cast<size_t>(std::max(length, 0))),
          letters(letters) {
        bounds_usable = this->length == this->seglen * letters && letters > 0;
        for (double value : centre) {
            bounds_usable = bounds_usable && std::fabs(value) < finite_limit;
        }
        if (bounds_usable) {
            centre_sums.assign(letters, 0.0);
            centre_magnitudes.assign(letters, 0.0);
            for (size_t i = 0; i < this->length; ++i) {
                centre_sums[i / this->seglen] += centre[i];
                centre_magnitudes[i / this->seglen] += std::fabs(centre[i]);
            }
        }
    }

    // The best match among the occurrences at first to last: its position and its distance.
    std::pair<int, double> in(const Series& series, const int* first, const int* last,
                              const Cancellation& cancel) {
        double best = distance_cap;
        int best_position = 0;
        double beyond_known = std::numeric_limits<double>::infinity();
        cancel.count(static_cast<size_t>(last - first) * letters);
        if (bounded(series, first, last, beyond_known)) {
            measure_counted(series, candidates.data(), candidates.data() + candidates.size(),
                            beyond_known, best, best_position, cancel);
        } else {
            measure_counted(series, first, last, beyond_known, best, best_position, cancel);
        }
        return {best_position, best};
    }

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
    bool bounded(const Series& series, const int* first, const int* last, double& beyond_known) {
        const auto count = static_cast<size_t>(last - first);
        if (!bounds_usable || count < 2 * lanes) {
            return false;
        }
        const auto [lowest, highest] = std::minmax_element(first, last);
        if (*lowest < 0) {
            return false;
        }
        const auto low = static_cast<size_t>(*lowest);
        const size_t complete = series.size() / seglen;  // letters with all their points
        const size_t high = std::min(static_cast<size_t>(*highest) + letters, complete);
        if (high <= low || (high - low) * overlap_for_bounds > count * letters) {
            return false;
        }
        segment_sums.assign(high - low, 0.0);
        segment_magnitudes.assign(high - low, 0.0);
        for (size_t letter = low; letter < high; ++letter) {
            const double* values = series.data() + letter * seglen;
            double sum = 0.0;
            double magnitude = 0.0;
            for (size_t k = 0; k < seglen; ++k) {
                sum += values[k];
                magnitude += std::fabs(values[k]);
            }
            // Also false for NaN.
            if (!(magnitude < finite_limit)) {
                return false;
            }
            segment_sums[letter - low] = sum;
            segment_magnitudes[letter - low] = magnitude;
        }

        // The bound and the measured squares each carry rounding: a sum of non-negative terms
        // loses at most a unit in the last place per term, whatever its order.
        const double scale = (1.0 - static_cast<double>(length + letters + 16) * 2.3e-16) /
                             static_cast<double>(seglen);
        // A seed measured first: the occurrence with the smallest bound among a sample.
        size_t seed = 0;
        double seed_bound = std::numeric_limits<double>::infinity();
        const size_t stride = std::max<size_t>(1, count / sample_size);
        for (size_t k = 0; k < count; k += stride) {
            const double bound = bound_of(first[k], low, high, seed_bound);
            if (bound < seed_bound) {
                seed_bound = bound;
                seed = k;
            }
        }
        const double known = squares_of(series, first[seed]);
        if (!(known < std::numeric_limits<double>::infinity())) {
            return false;
        }
        // The squares of an occurrence that reach this value exceed the seed's: it can neither
        // win nor tie.
        beyond_known =
            known > 0.0 ? known * (1.0 + 1e-14) : std::numeric_limits<double>::denorm_min();
        const double skip_from = beyond_known / scale;
        candidates.clear();
        for (size_t k = 0; k < count; ++k) {
            if (!(bound_of(first[k], low, high, skip_from) >= skip_from)) {
                candidates.push_back(first[k]);
            }
        }
        return true;
    }

    // The sum over the letters of an occurrence that lie whole in the series (low to high are
    // the segments summed) of the squared summed gap, less a margin several times the rounding
    // of the sums and their difference; it stops early once past enough.
    double bound_of(int position, size_t low, size_t high, double enough) const {
        const auto at = static_cast<size_t>(position);
        if (at >= high) {
            return 0.0;
        }
        const size_t whole = std::min(letters, high - at);
        const double* sums = segment_sums.data() + (at - low);
        const double* magnitudes = segment_magnitudes.data() + (at - low);
        const double margin = static_cast<double>(seglen + 2) * 2.3e-16;
        std::array<double, 4> parts{};
        double bound = 0.0;
        for (size_t from = 0; from < whole; from += bound_chunk) {
            const size_t to = std::min(whole, from + bound_chunk);
            for (size_t j = from; j < to; ++j) {
                const double gap = std::fabs(sums[j] - centre_sums[j]);
                const double doubt = margin * (magnitudes[j] + centre_magnitudes[j] + gap);
                const double sure = std::max(0.0, gap - doubt);
                parts[j % 4] += sure * sure;
            }
            bound = (parts[0] + parts[1]) + (parts[2] + parts[3]);
            if (bound >= enough) {
                break;
            }
        }
        return bound;
    }

    // The squared distance of one occurrence, added up exactly as measure adds it.
    double squares_of(const Series& series, int position) const {
        const int64_t start = static_cast<int64_t>(position) * static_cast<int64_t>(seglen);
        const size_t present = points_present(series, start, static_cast<int>(length));
        double squares = 0.0;
        for (size_t i = 0; i < present; ++i) {
            squares += square_of_point(series[static_cast<size_t>(start) + i], centre[i]);
        }
        return squares;
    }

    // measure over ranges of a few thousand points each, counted before each range. The ranges
    // hold whole batches of lanes, so the batches, and the result, are those of one call.
    void measure_counted(const Series& series, const int* first, const int* last,
                         double beyond_known, double& best, int& best_position,
                         const Cancellation& cancel) const {
        const size_t per_range =
            lanes *
            std::max<size_t>(1, Cancellation::block / (lanes * std::max<size_t>(1, length)));
        for (const int* from = first; from != last;) {
            const int* to = from + std::min(per_range, static_cast<size_t>(last - from));
            cancel.count(static_cast<size_t>(to - from) * length);
            measure(series, from, to, beyond_known, best, best_position);
            from = to;
        }
    }

    void measure(const Series& series, const int* first, const int* last, double beyond_known,
                 double& best, int& best_position) const {
        for (const int* batch = first; batch != last;) {
            const size_t used = std::min(lanes, static_cast<size_t>(last - batch));
            const double abandon_at = std::min(best * best * (1.0 + 1e-14), beyond_known);
            std::array<const double*, lanes> values{};
            std::array<size_t, lanes> present{};
            std::array<double, lanes> squares{};
            size_t longest = 0;
            for (size_t lane = 0; lane < used; ++lane) {
                const int64_t start =
                    static_cast<int64_t>(batch[lane]) * static_cast<int64_t>(seglen);
                present[lane] = points_present(series, start, static_cast<int>(length));
                values[lane] = present[lane] ? series.data() + start : nullptr;
                longest = std::max(longest, present[lane]);
            }
            for (size_t from = 0; from < longest; from += block) {
                const size_t to = std::min(longest, from + block);
                if (used == lanes &&
                    std::min({present[0], present[1], present[2], present[3]}) >= to) {
                    add_squares_4(values, centre.data(), from, to, squares);
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
    }

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

}  // namespace

std::pair<int, double> nearest_occurrence(const Series& series, const int* first, const int* last,
                                          const std::vector<double>& representative, int seglen,
                                          size_t letters, const Cancellation& cancel) {
    NearestOccurrence nearest(representative, seglen, static_cast<int>(representative.size()),
                              letters);
    return nearest.in(series, first, last, cancel);
}

// naed adds the series in ascending index order.
void Motif::set_best_matches_and_naed(const SeriesSet& ts, MotifStatistics& built,
                                      const Cancellation& cancel) const {
    NearestOccurrence nearest(built.representative, built.seglen, built.length, pattern.size());
    for (size_t group : indexes.groups_by_series()) {
        const int series_index = indexes.series_at(group);
        const auto [best_position, best] =
            nearest.in(ts.at(static_cast<size_t>(series_index)), indexes.begin_of(group),
                       indexes.end_of(group), cancel);
        built.best_matches[series_index] =
            checked_int(static_cast<int64_t>(best_position) * built.seglen, "best match start");
        built.naed += best;
    }
    built.naed /= static_cast<double>(indexes.series_count()) * static_cast<double>(built.length);
}

}  // namespace zorp
