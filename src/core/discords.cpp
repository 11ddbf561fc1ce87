#include "discords.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "dot_products.h"
#include "nearest_profile.h"
#include "parallel.h"
#include "vector_clones.h"

namespace zorp {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// The first block searched on each side of a window, in windows: FIRST_BLOCK lengths, at least
// SMALLEST_BLOCK windows; blocks of PARALLEL_BLOCK windows and more are shared among threads.
constexpr size_t first_block = 4;
constexpr size_t smallest_block = 64;
constexpr size_t parallel_block = size_t{1} << 15;
// A cell of the profile walked along its diagonals takes about the time of this many products
// of the search window by window (measured on 10^5 points: 5 x 10^9 cells in 0.8 s on two cores,
// the search's products at 2.8 x 10^9 a second). Measured when the search took its products one
// window at a time; on vectors they now run several times as fast (a walk of 10^5 points: 0.15 s
// from 0.81 s), so each search spends less time than this share says before the profile takes
// over. Kept: every series goes the way it went before, the walks searched, white noise profiled.
constexpr double profile_cell = 0.45;
// The search window by window gives up for the profile once it has cost what the profile would:
// it prunes most windows of a series with a few far ones quickly (a random walk of 10^5 points
// takes a third of the profile), and little of white noise, where it would take ten times the
// profile; at worst a search then takes twice the profile's time.
constexpr double pruned_share = 1.0;
// The first pass (the farthest discord) searches every window, and what its first windows cost
// foretells the rest: the median cost of its steps so far (each 1 / COST_STEPS of the windows),
// which the rare windows that raise the farthest distance found (each searched in full) do not
// sway. The first steps cost more than the later ones, while that distance settles, so the
// search gives up early only when the steps left at that rate would cost FORETOLD_FACTOR times
// its budget: white noise after a fifth of the budget or so (a hundredth of its windows), where
// it would take ten times it. Walks and noisy sines of 3 x 10^4 to 3 x 10^5 points (48 series)
// finish or give up as they did without the forecast.
constexpr size_t cost_steps = 4096;
constexpr size_t steps_before_foretelling = 32;
constexpr double foretold_factor = 8.0;

// The dot products of shape (m points) with count consecutive windows of values, window x's
// point k at values[x + k], into dots: each sum in point order from 0, as one window alone would
// take it (add_one_shape_dots, on vectors).
ZORP_VECTOR_CLONES
void window_dots(const double* values, const double* shape, size_t m, size_t count, double* dots) {
    matching::add_one_shape_dots(values, count, shape, m, dots,
                                 [](size_t, const matching::Quad&, size_t) {});
}

// The first pass's cost foretold from its steps so far.
class Forecast {
  public:
    explicit Forecast(size_t windows)
        : windows(windows), step(std::max<size_t>(1, windows / cost_steps)) {}

    // Whether the pass, at window j with `work` done, would go past `budget` at the median cost
    // of its steps so far.
    bool passes(size_t j, double work, double budget) {
        if (j == 0 || j % step != 0) {
            return false;
        }
        costs.push_back(work - step_began);
        step_began = work;
        if (costs.size() < steps_before_foretelling) {
            return false;
        }
        std::vector<double> sorted = costs;
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), middle, sorted.end());
        const double steps_left = static_cast<double>(windows - j) / static_cast<double>(step);
        return work + *middle * steps_left > foretold_factor * budget;
    }

  private:
    size_t windows;
    size_t step;
    std::vector<double> costs;  // of each step done
    double step_began = 0.0;
};

class Search {
  public:
    Search(const std::vector<double>& values, const std::vector<double>& weights, size_t m,
           size_t exclusion, const Cancellation& cancel, size_t threads)
        : values(values),
          weights(weights),
          m(m),
          exclusion(exclusion),
          cancel(cancel),
          threads(threads),
          windows(weights.size()),
          bound(windows, infinity),
          shape(m) {}

    // The z-normalised window at j, into shape.
    void take_shape(size_t j) {
        double mean = 0.0;
        for (size_t k = 0; k < m; ++k) {
            mean += values[j + k];
        }
        mean /= static_cast<double>(m);
        const double scale = static_cast<double>(m) * weights[j];  // 1 / deviation
        for (size_t k = 0; k < m; ++k) {
            shape[k] = (values[j + k] - mean) * scale;
        }
    }

    // The distance of the shape to window x (+inf when x never matches).
    double distance(size_t x) const {
        double dot = 0.0;
        const double* window = values.data() + x;
        for (size_t k = 0; k < m; ++k) {
            dot += shape[k] * window[k];
        }
        return distance_of(x, dot);
    }

    // The distance to window x of a shape whose dot product with it is dot.
    double distance_of(size_t x, double dot) const {
        if (!(weights[x] > 0.0)) {
            return infinity;
        }
        const double r = std::clamp(dot * weights[x], -1.0, 1.0);
        return std::sqrt(2.0 * (1.0 - r));
    }

    // Thrown once the search has done more work than `budget` (in products).
    struct OverBudget {};

    struct Closest {
        double distance = infinity;
        size_t at = 0;
    };

    // The shape's distances to windows first..last (inclusive), each lowering the window's
    // bound; the closest, the first of equals.
    Closest block(size_t first, size_t last) {
        const size_t count = last - first + 1;
        work += static_cast<double>(count) * static_cast<double>(m);
        if (work > budget) {
            throw OverBudget{};
        }
        const size_t tasks =
            count >= parallel_block ? std::min(threads, count / (parallel_block / 4)) : 1;
        std::vector<Closest> each(std::max<size_t>(1, tasks));
        parallel_for(each.size(), threads, cancel, [&](size_t task, const Cancellation& local) {
            const size_t begin = first + count * task / each.size();
            const size_t end = first + count * (task + 1) / each.size();
            Closest closest;
            // The products of a stretch of windows at once, then their distances in order.
            constexpr size_t stretch = 512;
            std::array<double, stretch> dots;
            for (size_t from = begin; from < end; from += stretch) {
                const size_t count = std::min(stretch, end - from);
                window_dots(values.data() + from, shape.data(), m, count, dots.data());
                for (size_t c = 0; c < count; ++c) {
                    const size_t x = from + c;
                    const double d = distance_of(x, dots[c]);
                    bound[x] = std::min(bound[x], d);
                    if (d < closest.distance) {
                        closest = {d, x};
                    }
                }
            }
            local.count((end - begin) * m);
            each[task] = closest;
        });
        Closest closest;
        for (const Closest& one : each) {
            if (one.distance < closest.distance) {
                closest = one;
            }
        }
        return closest;
    }

    // Window j's nearest neighbour beyond the zone, trying `hint` first; searching stops once a
    // window comes within best (then `exact` is false).
    struct Found {
        Closest closest;
        bool exact = false;
    };
    Found nearest(size_t j, double best, int64_t hint) {
        take_shape(j);
        Found found;
        Closest& closest = found.closest;
        if (hint >= 0 && static_cast<size_t>(hint) < windows &&
            (static_cast<size_t>(hint) > j + exclusion ||
             static_cast<size_t>(hint) + exclusion < j)) {
            const double d = distance(static_cast<size_t>(hint));
            bound[static_cast<size_t>(hint)] = std::min(bound[static_cast<size_t>(hint)], d);
            closest = {d, static_cast<size_t>(hint)};
            if (d <= best) {
                bound[j] = std::min(bound[j], d);
                return found;
            }
        }
        // The next windows to search: right from j + exclusion + 1, left down from
        // j - exclusion - 1 (none when that is below 0).
        size_t right = j + exclusion + 1;
        const bool any_left = j > exclusion;
        size_t left_end = any_left ? j - exclusion - 1 : 0;  // inclusive
        bool left_open = any_left;
        size_t size = std::max(smallest_block, first_block * m);
        while (right < windows || left_open) {
            if (right < windows) {
                const size_t last = std::min(windows - 1, right + size - 1);
                const Closest got = block(right, last);
                if (got.distance < closest.distance ||
                    (got.distance == closest.distance && got.at < closest.at)) {
                    closest = got;
                }
                right = last + 1;
            }
            if (left_open) {
                const size_t first = left_end + 1 > size ? left_end + 1 - size : 0;
                const Closest got = block(first, left_end);
                if (got.distance < closest.distance ||
                    (got.distance == closest.distance && got.at < closest.at)) {
                    closest = got;
                }
                left_open = first > 0;
                left_end = first > 0 ? first - 1 : 0;
            }
            bound[j] = std::min(bound[j], closest.distance);
            if (closest.distance <= best) {
                return found;
            }
            size *= 2;
        }
        found.exact = true;
        return found;
    }

    const std::vector<double>& values;
    const std::vector<double>& weights;
    const size_t m;
    const size_t exclusion;
    const Cancellation& cancel;
    const size_t threads;
    const size_t windows;
    std::vector<double> bound;  // the smallest distance found to each window
    std::vector<double> shape;
    double work = 0.0;  // products done so far (a distance is m of them)
    double budget = std::numeric_limits<double>::infinity();
};

// Closes the windows within m of a discord at `at`: the next one starts at least a length away.
void close_around(std::vector<char>& open, size_t at, size_t m) {
    const size_t from = at + 1 > m ? at + 1 - m : 0;
    const size_t to = std::min(open.size(), at + m);
    std::fill(open.begin() + static_cast<std::ptrdiff_t>(from),
              open.begin() + static_cast<std::ptrdiff_t>(to), 0);
}

}  // namespace

// The top discords from every window's nearest correlation (nearest_profile): the farthest open
// window first (the first of equals), its neighbour and distance from a scan of every window,
// and the windows within m of it closed.
Discords discords_from_profile(const std::vector<double>& values,
                               const std::vector<double>& weights, size_t m, size_t exclusion,
                               size_t top, const Cancellation& cancel, size_t threads) {
    Discords result;
    if (m == 0 || values.size() < m || weights.size() != values.size() - m + 1) {
        return result;
    }
    threads = std::max<size_t>(1, threads);
    const std::vector<double> correlations =
        nearest_profile(values, weights, m, exclusion, cancel, threads).correlations;
    const size_t windows = weights.size();
    Search search(values, weights, m, exclusion, cancel, threads);
    std::vector<char> open(windows);
    for (size_t x = 0; x < windows; ++x) {
        open[x] = weights[x] > 0.0 && !std::isnan(correlations[x]);
    }
    while (result.starts.size() < top) {
        double lowest = infinity;
        int64_t at = -1;
        for (size_t x = 0; x < windows; ++x) {
            if (open[x] && correlations[x] < lowest) {
                lowest = correlations[x];
                at = static_cast<int64_t>(x);
            }
        }
        if (at < 0) {
            break;
        }
        const auto j = static_cast<size_t>(at);
        search.take_shape(j);
        Search::Closest closest;
        if (j + exclusion + 1 < windows) {
            closest = search.block(j + exclusion + 1, windows - 1);
        }
        if (j > exclusion) {
            const Search::Closest left = search.block(0, j - exclusion - 1);
            if (left.distance <= closest.distance) {  // as close and earlier
                closest = left;
            }
        }
        result.starts.push_back(at);
        result.neighbours.push_back(static_cast<int64_t>(closest.at));
        result.distances.push_back(closest.distance);
        close_around(open, j, m);
    }
    return result;
}

std::optional<Discords> pruned_discords(const std::vector<double>& values,
                                        const std::vector<double>& weights, size_t m,
                                        size_t exclusion, size_t top, const Cancellation& cancel,
                                        size_t threads, double budget, double* spent) {
    if (m == 0 || values.size() < m || weights.size() != values.size() - m + 1) {
        return Discords();
    }
    Discords result;
    Search search(values, weights, m, exclusion, cancel, std::max<size_t>(1, threads));
    search.budget = budget;
    const auto report = [&] {
        if (spent != nullptr) {
            *spent = search.work;
        }
    };
    try {
        const size_t windows = weights.size();
        const double unknown = std::numeric_limits<double>::quiet_NaN();
        std::vector<double> exact(windows, unknown);
        std::vector<int64_t> neighbour(windows, -1);
        std::vector<char> open(windows);
        for (size_t x = 0; x < windows; ++x) {
            open[x] = weights[x] > 0.0;
        }
        Forecast forecast(windows);
        while (result.starts.size() < top) {
            double best = -1.0;
            int64_t at = -1;
            for (size_t x = 0; x < windows; ++x) {
                if (open[x] && !std::isnan(exact[x]) && exact[x] > best) {
                    best = exact[x];
                    at = static_cast<int64_t>(x);
                }
            }
            int64_t hint = -1;
            size_t last = 0;
            const bool first_pass = result.starts.empty();
            for (size_t j = 0; j < windows; ++j) {
                cancel.count_step(j);
                if (first_pass && forecast.passes(j, search.work, budget)) {
                    throw Search::OverBudget{};
                }
                if (!open[j] || !std::isnan(exact[j]) || !(search.bound[j] > best)) {
                    continue;
                }
                const int64_t guess = hint < 0 ? -1 : hint + static_cast<int64_t>(j - last);
                const Search::Found found = search.nearest(j, best, guess);
                hint = static_cast<int64_t>(found.closest.at);
                last = j;
                if (!found.exact) {
                    continue;
                }
                if (std::isinf(found.closest.distance)) {
                    open[j] = 0;  // no window beyond its zone ever matches: no neighbour at all
                    hint = -1;
                    continue;
                }
                exact[j] = found.closest.distance;
                neighbour[j] = static_cast<int64_t>(found.closest.at);
                if (exact[j] > best) {
                    best = exact[j];
                    at = static_cast<int64_t>(j);
                }
            }
            if (at < 0) {
                break;
            }
            result.starts.push_back(at);
            result.neighbours.push_back(neighbour[static_cast<size_t>(at)]);
            result.distances.push_back(best);
            close_around(open, static_cast<size_t>(at), m);
        }
        report();
        return result;
    } catch (const Search::OverBudget&) {
        report();
        return std::nullopt;
    }
}

Discords within_discords(const std::vector<double>& values, const std::vector<double>& weights,
                         size_t m, size_t exclusion, size_t top, const Cancellation& cancel,
                         size_t threads) {
    if (m == 0 || values.size() < m || weights.size() != values.size() - m + 1) {
        return Discords();
    }
    // The search window by window stops once it has cost what the whole profile would: where
    // little is pruned (white noise), the profile walked along its diagonals costs less.
    const double budget =
        pruned_share * profile_cell * nearest_profile_cells(weights.size(), exclusion);
    if (std::optional<Discords> found =
            pruned_discords(values, weights, m, exclusion, top, cancel, threads, budget)) {
        return std::move(*found);
    }
    return discords_from_profile(values, weights, m, exclusion, top, cancel, threads);
}

}  // namespace zorp
