#include "motif.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "nearest_occurrence.h"

namespace zorp {

namespace {

constexpr double no_point = std::numeric_limits<double>::quiet_NaN();

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

int checked_int(int64_t value, const char* what) {
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        throw std::length_error(std::string(what) + " of " + std::to_string(value) +
                                " points does not fit in a 32-bit integer");
    }
    return static_cast<int>(value);
}

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

int motif_length(int seglen, size_t letters) {
    return checked_int(static_cast<int64_t>(seglen) * static_cast<int64_t>(letters),
                       "motif length");
}

double statistics_bytes(double points, double series) {
    return sizeof(double) * std::max(points, 0.0) * (series + 1.0) + 96.0 * series;
}

void refuse_statistics_beyond_budget(size_t motifs, double bytes) {
    const auto budget = static_cast<double>(memory_budget_bytes());
    if (bytes > budget) {
        throw MemoryLimitExceeded("the statistics of the motifs found (" + std::to_string(motifs) +
                                  ") would need " + gibibytes(bytes) + ", more than the " +
                                  gibibytes(budget) +
                                  " this machine can give them; use a smaller seglen or raise "
                                  "minsup or min_len");
    }
}

double Motif::statistics_bytes(int seglen) const {
    return zorp::statistics_bytes(static_cast<double>(seglen) * static_cast<double>(pattern.size()),
                                  static_cast<double>(indexes.series_count()));
}

int Motif::length_for(int seglen) const {
    return motif_length(seglen, pattern.size());
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
