#include "sliding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "dot_products.h"
#include "parallel.h"
#include "segment_bounds.h"

namespace zorp {

namespace {

using namespace matching;

// Windows matched as one block, whose four rows of dot products stay in the first-level
// cache: every value read serves four shapes and four windows.
constexpr size_t block = 256;

// Each lane's products, one block after the other: lane l's window j at l * block + j.
using Dots = std::array<double, lanes * block>;

// Each lane's best in a block of count windows starting at window from, its correlations
// dots × weight, but for windows of weight 0, which never match (a barrier of -infinity is added
// to them). most[lane] is the largest score of the first `scored` windows, taken on vectors as
// their products were made; the rest are scored here. Updates top and at where the block holds a
// larger correlation, the first window among equals, as a scan window by window would: a
// maximum taken in another order is the same value (adding a barrier of 0 can only turn -0.0
// into 0.0, which compare equal), and the correlation kept is the product itself.
inline __attribute__((always_inline)) void keep_best(const Dots& dots,
                                                     const double* __restrict weight, size_t count,
                                                     size_t scored, size_t from, size_t used,
                                                     const std::array<double, lanes>& most,
                                                     std::array<double, lanes>& top,
                                                     std::array<int64_t, lanes>& at) {
    const double none = -std::numeric_limits<double>::infinity();
    const auto score = [weight, none](const double* dot, size_t j) {
        return dot[j] * weight[j] + (weight[j] > 0.0 ? 0.0 : none);
    };
    for (size_t lane = 0; lane < used; ++lane) {
        const double* dot = dots.data() + lane * block;
        double best = most[lane];
        for (size_t j = scored; j < count; ++j) {
            const double s = score(dot, j);
            best = s > best ? s : best;
        }
        // Rare once a series' first blocks are past: only a block that beats the best so far
        // is scanned again for its first window of that score.
        if (best > top[lane]) {
            size_t first = 0;
            while (!(score(dot, first) == best)) {
                ++first;
            }
            top[lane] = dot[first] * weight[first];
            at[lane] = static_cast<int64_t>(from + first);
        }
    }
}

// Four windows' products scored (times their weights w, -infinity where a weight is 0 or not a
// number: such windows never match), each lane's best raised to its score.
inline __attribute__((always_inline)) void raise_best(const Quad& dots, const Quad& w, Quad& most) {
    const double none = -std::numeric_limits<double>::infinity();
    const Quad nothing = {0.0, 0.0, 0.0, 0.0};
    const Quad barrier = w > nothing ? nothing : Quad{none, none, none, none};
    const Quad score = dots * w + barrier;
    most = score > most ? score : most;
}

// The largest of a vector's four values (none when all are -infinity or not numbers).
inline __attribute__((always_inline)) double largest(const Quad& quad, double none) {
    double best = none;
    for (size_t t = 0; t < 4; ++t) {
        best = quad[t] > best ? quad[t] : best;
    }
    return best;
}

// The dot products of a block of count windows with four shapes (each of m values, one after
// the other in shapes), into dots (lane l's window j at l * block + j), and each lane's best
// correlation among them (see keep_best), each four windows' scored while their sums are still in
// registers.
template <typename Tag>
inline __attribute__((always_inline)) void match_four_with(
    const double* __restrict values, size_t count, const double* __restrict shapes, size_t m,
    const double* __restrict weight, size_t from, Dots& dots, std::array<double, lanes>& top,
    std::array<int64_t, lanes>& at) {
    const double none = -std::numeric_limits<double>::infinity();
    const Quad nowhere = {none, none, none, none};
    Quad most0 = nowhere;
    Quad most1 = nowhere;
    Quad most2 = nowhere;
    Quad most3 = nowhere;
    const size_t scored = add_dots_with<Tag>(
        [values](size_t k) { return values + k; }, count, shapes, m, dots.data(), block,
        [&](size_t j, const Quad& a0, const Quad& a1, const Quad& a2, const Quad& a3) {
            Quad w;
            std::memcpy(&w, weight + j, sizeof w);
            raise_best(a0, w, most0);
            raise_best(a1, w, most1);
            raise_best(a2, w, most2);
            raise_best(a3, w, most3);
        });
    const std::array<double, lanes> most = {largest(most0, none), largest(most1, none),
                                            largest(most2, none), largest(most3, none)};
    keep_best(dots, weight, count, scored, from, lanes, most, top, at);
}

// The same for one shape (a group of one): thirty-two windows at a time, the same eight chains
// of additions in flight as four shapes at eight windows, none of them spent on a shape that is
// not there.
template <typename Tag>
inline __attribute__((always_inline)) void match_one_with(
    const double* __restrict values, size_t count, const double* __restrict shape, size_t m,
    const double* __restrict weight, size_t from, Dots& dots, std::array<double, lanes>& top,
    std::array<int64_t, lanes>& at) {
    const double none = -std::numeric_limits<double>::infinity();
    const Quad nowhere = {none, none, none, none};
    std::array<Quad, 4> most = {nowhere, nowhere, nowhere, nowhere};
    const size_t scored = add_one_shape_dots(values, count, shape, m, dots.data(),
                                             [&](size_t j, const Quad& dot, size_t g) {
                                                 Quad w;
                                                 std::memcpy(&w, weight + j, sizeof w);
                                                 raise_best(dot, w, most[g % 4]);
                                             });
    const Quad most01 = most[0] > most[1] ? most[0] : most[1];
    const Quad most23 = most[2] > most[3] ? most[2] : most[3];
    const std::array<double, lanes> best = {largest(most01 > most23 ? most01 : most23, none), none,
                                            none, none};
    keep_best(dots, weight, count, scored, from, 1, best, top, at);
}

// The best matches in a block of windows of the first `used` of four shapes (one, or all four:
// the lanes past the last shape of a set hold zeros).
template <typename Tag>
inline __attribute__((always_inline)) void match_block_with(const double* values, size_t count,
                                                            const double* shapes, size_t m,
                                                            const double* weight, size_t from,
                                                            size_t used, Dots& dots,
                                                            std::array<double, lanes>& top,
                                                            std::array<int64_t, lanes>& at) {
    if (used == 1) {
        match_one_with<Tag>(values, count, shapes, m, weight, from, dots, top, at);
    } else {
        match_four_with<Tag>(values, count, shapes, m, weight, from, dots, top, at);
    }
}

__attribute__((noinline)) void match_block_baseline(const double* values, size_t count,
                                                    const double* shapes, size_t m,
                                                    const double* weight, size_t from, size_t used,
                                                    Dots& dots, std::array<double, lanes>& top,
                                                    std::array<int64_t, lanes>& at) {
    match_block_with<Baseline>(values, count, shapes, m, weight, from, used, dots, top, at);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loop on the wider vectors of processors that have them. Without fused multiply-add
// (not enabled here), every product and sum is rounded as in the baseline build: the results
// are the same bit for bit on every processor.
__attribute__((noinline, target("avx2"))) void match_block_wide(const double* values, size_t count,
                                                                const double* shapes, size_t m,
                                                                const double* weight, size_t from,
                                                                size_t used, Dots& dots,
                                                                std::array<double, lanes>& top,
                                                                std::array<int64_t, lanes>& at) {
    match_block_with<Wide>(values, count, shapes, m, weight, from, used, dots, top, at);
}

using MatchBlock = void (*)(const double*, size_t, const double*, size_t, const double*, size_t,
                            size_t, Dots&, std::array<double, lanes>&, std::array<int64_t, lanes>&);

MatchBlock match_block_for_this_processor() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? match_block_wide : match_block_baseline;
}
#else
using MatchBlock = void (*)(const double*, size_t, const double*, size_t, const double*, size_t,
                            size_t, Dots&, std::array<double, lanes>&, std::array<int64_t, lanes>&);

MatchBlock match_block_for_this_processor() {
    return match_block_baseline;
}
#endif

// Shapes of at least this many points are matched with bounds that skip most windows. Measured
// on the robust search's matching of 4,000 walks of 10,000 points: 35 % less time at 100 points,
// 15 % at 64; slower at 32, where 8 segments of 4 points leave bounds too loose for what they
// cost. Where they do not pay (white noise), a group stops them after one chunk (see
// unbounded_share): about 5 % more time there.
constexpr size_t bounded_points = 64;
// Headroom of a bound over a correlation, relative to ||shape|| × ||window|| × weight: far
// above the rounding of either (about m × 1e-16 of that scale).
constexpr double bound_headroom = 1e-9;
// Groups of shapes matched in one task, where the series are many enough to keep the threads
// busy: the bounds of each chunk of windows are made once for all of them.
constexpr size_t groups_per_task = 8;

// One group's scan of a series: each lane's best correlation and where, its bar (see
// best_correlations), and the work of its bounds so far.
struct GroupScan {
    const double* shape_rows = nullptr;
    size_t used = lanes;  // the group's shapes: fewer than four only in a set's last group
    std::array<double, lanes> top{};
    std::array<int64_t, lanes> at{};
    std::array<double, lanes> bar{};
    bool bounded = false;
    size_t bounded_windows = 0;
    size_t spent = 0;  // in products of one point: see unbounded_share
};

// A group's bounds end for the rest of a series once their work and the products they let
// through reach this many tenths of the products of the windows bounded so far. The work is
// counted in products of one point: a window's bounds cost about its segments and a few more,
// a window matched alone (without vectors) about four times its products in a block.
constexpr size_t unbounded_share = 9;

}  // namespace

BestMatches best_correlations(const SeriesSet& values, const SeriesSet& weights,
                              const SeriesSet& shapes, const Cancellation& cancel, size_t threads) {
    const size_t series = values.size();
    if (weights.size() != series) {
        throw std::invalid_argument(
            "weights must hold one row per series: " + std::to_string(weights.size()) +
            " rows for " + std::to_string(series) + " series");
    }
    BestMatches best;
    if (shapes.empty()) {
        return best;
    }
    const size_t m = shapes.front().size();
    for (const Series& shape : shapes) {
        if (shape.size() != m) {
            throw std::invalid_argument(
                "shapes must all have the same length: " + std::to_string(shape.size()) +
                " points after " + std::to_string(m));
        }
    }
    for (size_t i = 0; i < series; ++i) {
        const size_t windows = values[i].size() >= m ? values[i].size() - m + 1 : 0;
        if (weights[i].size() != windows) {
            throw std::invalid_argument("series " + std::to_string(i) + " has " +
                                        std::to_string(windows) + " windows of " +
                                        std::to_string(m) + " points but " +
                                        std::to_string(weights[i].size()) + " weights");
        }
    }
    best.starts.assign(shapes.size() * series, 0);
    best.correlations.assign(shapes.size() * series, -std::numeric_limits<double>::infinity());
    // The shapes one after the other, padded with zero rows to a whole number of lanes.
    const size_t groups = (shapes.size() + lanes - 1) / lanes;
    std::vector<double> rows(groups * lanes * m, 0.0);
    for (size_t c = 0; c < shapes.size(); ++c) {
        std::copy(shapes[c].begin(), shapes[c].end(), rows.begin() + static_cast<ptrdiff_t>(c * m));
    }
    const MatchBlock match_block = match_block_for_this_processor();
    const SegmentBounds segment_bounds = segment_bounds_for_this_processor();
    // Long shapes: bounds on every window's correlation from its segments' sums (see Segments),
    // and the products only for the windows whose bound reaches the best found so far. A window
    // is skipped only when its bound lies below that best, so its correlation does too: the
    // maximum, and the first window among equals, are those of every window's products.
    const bool bounded = m >= bounded_points;
    const Segments segments(bounded ? m : bounded_points);
    std::vector<ShapeBounds> shape_side(bounded ? shapes.size() : 0);
    for (size_t c = 0; c < shape_side.size(); ++c) {
        shape_side[c] = shape_bounds(shapes[c].data(), segments);
    }
    // Long shapes are matched a batch of groups at a time per series, so that each chunk's
    // bounds are made once for all of them; with few series, a group per task keeps the threads
    // busy. Each shape's best match is found the same way whatever the batch (see below).
    const size_t batch =
        bounded && series >= 4 * std::max<size_t>(1, threads) ? groups_per_task : 1;
    const size_t batches = (groups + batch - 1) / batch;
    // One task per series and batch of groups: each writes its own entries of the tables.
    parallel_for(series * batches, threads, cancel, [&](size_t task, const Cancellation& local) {
        const size_t i = task / batches;
        const size_t first_group = (task % batches) * batch;
        const size_t last_group = std::min(groups, first_group + batch);
        const size_t windows = weights[i].size();
        const double none = -std::numeric_limits<double>::infinity();
        std::vector<GroupScan> scans(last_group - first_group);
        for (size_t g = 0; g < scans.size(); ++g) {
            GroupScan& scan = scans[g];
            const size_t group = first_group + g;
            scan.shape_rows = rows.data() + group * lanes * m;
            scan.used = std::min(lanes, shapes.size() - group * lanes);
            scan.top.fill(none);
            scan.bar.fill(none);
            scan.bounded = bounded;
            for (size_t lane = 0; lane < lanes && scan.bounded; ++lane) {
                const size_t c = group * lanes + lane;
                scan.bounded = c >= shapes.size() || shape_side[c].usable;
            }
        }
        const bool series_boundable = bounded && boundable(values[i]);
        Dots dots;
        // Windows from `from` matched whole, a block at a time, for one group.
        const auto match = [&](GroupScan& scan, size_t from, size_t count) {
            for (size_t end = from + count; from < end; from += block) {
                const size_t size = std::min(block, end - from);
                local.count(size * lanes * m);
                match_block(values[i].data() + from, size, scan.shape_rows, m,
                            weights[i].data() + from, from, scan.used, dots, scan.top, scan.at);
            }
            for (size_t lane = 0; lane < lanes; ++lane) {
                scan.bar[lane] = std::max(scan.bar[lane], scan.top[lane]);
            }
        };
        if (!series_boundable) {
            for (GroupScan& scan : scans) {
                match(scan, 0, windows);
            }
        } else {
            std::vector<double> bounds(lanes * bound_chunk, none);
            std::vector<double> block_highest(lanes * chunk_blocks, none);
            std::vector<const double*> bases(segments.count);
            std::vector<double> group_means(lanes * segments.count);
            ChunkBounds chunk;
            // One group's windows of one chunk: the bounds of its four shapes, the bar raised
            // by the window of the highest bound measured ahead, then the windows that reach a
            // bar matched, a block at once where many do, one by one where few do.
            const auto scan_bounded = [&](GroupScan& scan, size_t group, size_t from,
                                          size_t count) {
                scan.bounded_windows += count;
                scan.spent += count * (segments.count + 8);
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t c = group * lanes + lane;
                    std::fill(
                        group_means.begin() + static_cast<ptrdiff_t>(lane * segments.count),
                        group_means.begin() + static_cast<ptrdiff_t>((lane + 1) * segments.count),
                        0.0);
                    if (c < shapes.size()) {
                        std::copy(
                            shape_side[c].means.begin(), shape_side[c].means.end(),
                            group_means.begin() + static_cast<ptrdiff_t>(lane * segments.count));
                    }
                }
                local.count(count * lanes * (segments.count + 3));
                BoundFinish finish;
                finish.leftover = chunk.leftover.data();
                finish.norm = chunk.norm.data();
                finish.weight = weights[i].data() + from;
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t c = group * lanes + lane;
                    if (c < shapes.size()) {
                        finish.shape_leftover[lane] = shape_side[c].leftover;
                        finish.headroom[lane] = bound_headroom * shape_side[c].norm;
                    }
                }
                segment_bounds(bases.data(), segments.count, group_means.data(), count,
                               bounds.data(), finish, block_highest.data());
                const size_t blocks = (count + bound_block - 1) / bound_block;
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t c = group * lanes + lane;
                    double* lane_blocks = block_highest.data() + lane * chunk_blocks;
                    if (c >= shapes.size()) {
                        std::fill(lane_blocks, lane_blocks + blocks, none);
                        continue;
                    }
                    const double highest = *std::max_element(lane_blocks, lane_blocks + blocks);
                    if (highest > scan.bar[lane]) {
                        // The first window of the highest bound: in the first block that holds
                        // it.
                        const double* bound = bounds.data() + lane * bound_chunk;
                        size_t ahead = bound_block *
                                       static_cast<size_t>(
                                           std::find(lane_blocks, lane_blocks + blocks, highest) -
                                           lane_blocks);
                        while (!(bound[ahead] == highest)) {
                            ++ahead;
                        }
                        const size_t j = from + ahead;
                        double dot = 0.0;
                        for (size_t k = 0; k < m; ++k) {
                            dot += scan.shape_rows[lane * m + k] * values[i][j + k];
                        }
                        local.count(m);
                        const double headroom =
                            bound_headroom * shape_side[c].norm * chunk.norm[ahead] * weights[i][j];
                        scan.bar[lane] = std::max(scan.bar[lane], dot * weights[i][j] - headroom);
                    }
                }
                for (size_t first = 0; first < count; first += bound_block) {
                    const size_t size = std::min(bound_block, count - first);
                    // Most blocks hold no window that reaches a bar: told by their largest.
                    bool any = false;
                    for (size_t lane = 0; lane < lanes; ++lane) {
                        any = any || !(block_highest[lane * chunk_blocks + first / bound_block] <
                                       scan.bar[lane]);
                    }
                    if (!any) {
                        continue;
                    }
                    std::array<size_t, bound_block> reaching;
                    size_t reached = 0;
                    for (size_t j = first; j < first + size; ++j) {
                        bool reaches = false;
                        for (size_t l = 0; l < lanes; ++l) {
                            reaches = reaches || !(bounds[l * bound_chunk + j] < scan.bar[l]);
                        }
                        if (reaches) {
                            reaching[reached++] = j;
                        }
                    }
                    if (4 * reached >= size) {
                        match(scan, from + first, size);
                        scan.spent += size * m;
                    } else {
                        for (size_t r = 0; r < reached; ++r) {
                            match(scan, from + reaching[r], 1);
                        }
                        scan.spent += 4 * reached * m;
                    }
                }
            };
            for (size_t from = 0; from < windows; from += bound_chunk) {
                const size_t count = std::min(bound_chunk, windows - from);
                // Where most windows reach the bar (shapes that fit much of a series loosely,
                // or bounds too loose at this length), the bounds cost more than they save: the
                // rest of the series is then matched whole for that group, in the same order.
                bool any_bounded = false;
                for (GroupScan& scan : scans) {
                    if (scan.bounded && scan.bounded_windows >= bound_chunk &&
                        10 * scan.spent >= unbounded_share * scan.bounded_windows * m) {
                        scan.bounded = false;
                    }
                    any_bounded = any_bounded || scan.bounded;
                }
                if (any_bounded) {
                    local.count(count * (2 * segments.length + 40));
                    chunk_bounds(values[i], segments, m, from, count, chunk);
                    for (size_t k = 0; k < segments.count; ++k) {
                        bases[k] =
                            (k < segments.longer ? chunk.longer_sums.data() : chunk.sums.data()) +
                            segments.starts[k];
                    }
                }
                for (size_t g = 0; g < scans.size(); ++g) {
                    GroupScan& scan = scans[g];
                    if (!scan.bounded) {
                        match(scan, from, count);
                        continue;
                    }
                    scan_bounded(scan, first_group + g, from, count);
                }
            }
        }
        for (size_t g = 0; g < scans.size(); ++g) {
            for (size_t lane = 0; lane < lanes; ++lane) {
                const size_t c = (first_group + g) * lanes + lane;
                if (c < shapes.size()) {
                    best.starts[c * series + i] = scans[g].at[lane];
                    best.correlations[c * series + i] = scans[g].top[lane];
                }
            }
        }
    });
    return best;
}

}  // namespace zorp
