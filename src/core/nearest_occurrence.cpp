#include "nearest_occurrence.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "occurrences.h"

namespace zorp {

namespace {

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

}  // namespace

NearestOccurrence::NearestOccurrence(const std::vector<double>& centre, int seglen, int length,
                                     size_t letters)
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

std::pair<int, double> NearestOccurrence::in(const Series& series, const int* first,
                                             const int* last, const Cancellation& cancel) {
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

bool NearestOccurrence::bounded(const Series& series, const int* first, const int* last,
                                double& beyond_known) {
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
    const double scale =
        (1.0 - static_cast<double>(length + letters + 16) * 2.3e-16) / static_cast<double>(seglen);
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
    beyond_known = known > 0.0 ? known * (1.0 + 1e-14) : std::numeric_limits<double>::denorm_min();
    const double skip_from = beyond_known / scale;
    candidates.clear();
    for (size_t k = 0; k < count; ++k) {
        if (!(bound_of(first[k], low, high, skip_from) >= skip_from)) {
            candidates.push_back(first[k]);
        }
    }
    return true;
}

double NearestOccurrence::bound_of(int position, size_t low, size_t high, double enough) const {
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

double NearestOccurrence::squares_of(const Series& series, int position) const {
    const int64_t start = static_cast<int64_t>(position) * static_cast<int64_t>(seglen);
    const size_t present = points_present(series, start, static_cast<int>(length));
    double squares = 0.0;
    for (size_t i = 0; i < present; ++i) {
        squares += square_of_point(series[static_cast<size_t>(start) + i], centre[i]);
    }
    return squares;
}

void NearestOccurrence::measure_counted(const Series& series, const int* first, const int* last,
                                        double beyond_known, double& best, int& best_position,
                                        const Cancellation& cancel) const {
    const size_t per_range =
        lanes * std::max<size_t>(1, Cancellation::block / (lanes * std::max<size_t>(1, length)));
    for (const int* from = first; from != last;) {
        const int* to = from + std::min(per_range, static_cast<size_t>(last - from));
        cancel.count(static_cast<size_t>(to - from) * length);
        measure(series, from, to, beyond_known, best, best_position);
        from = to;
    }
}

void NearestOccurrence::measure(const Series& series, const int* first, const int* last,
                                double beyond_known, double& best, int& best_position) const {
    for (const int* batch = first; batch != last;) {
        const size_t used = std::min(lanes, static_cast<size_t>(last - batch));
        const double abandon_at = std::min(best * best * (1.0 + 1e-14), beyond_known);
        std::array<const double*, lanes> values{};
        std::array<size_t, lanes> present{};
        std::array<double, lanes> squares{};
        size_t longest = 0;
        for (size_t lane = 0; lane < used; ++lane) {
            const int64_t start = static_cast<int64_t>(batch[lane]) * static_cast<int64_t>(seglen);
            present[lane] = points_present(series, start, static_cast<int>(length));
            values[lane] = present[lane] ? series.data() + start : nullptr;
            longest = std::max(longest, present[lane]);
        }
        for (size_t from = 0; from < longest; from += block) {
            const size_t to = std::min(longest, from + block);
            if (used == lanes && std::min({present[0], present[1], present[2], present[3]}) >= to) {
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

std::pair<int, double> nearest_occurrence(const Series& series, const int* first, const int* last,
                                          const std::vector<double>& representative, int seglen,
                                          size_t letters, const Cancellation& cancel) {
    NearestOccurrence nearest(representative, seglen, static_cast<int>(representative.size()),
                              letters);
    return nearest.in(series, first, last, cancel);
}

double match_distance(const Series& normalised, int64_t start,
                      const std::vector<double>& representative) {
    const size_t length = representative.size();
    if (length == 0) {
        return 0.0;
    }
    const size_t present = points_present(normalised, start, static_cast<int>(length));
    const double* window = present > 0 ? normalised.data() + start : nullptr;
    const double squares =
        0.0 + pairwise_sum([&](size_t i) { return square_of_point(window[i], representative[i]); },
                           0, present);
    const double distance = std::sqrt(squares);
    return (distance < distance_cap ? distance : distance_cap) / static_cast<double>(length);
}

}  // namespace zorp
