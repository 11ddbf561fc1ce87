#include "segment_bounds.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace zorp {
namespace matching {

namespace {

// A window's bound from its segment product: (product + the leftovers' product + headroom)
// × weight, or -infinity where the weight is 0 or below, as such windows never match.
// (Written to `bound`: a vector returned by value would change the calling convention with the
// processor.)
template <typename Value>
inline __attribute__((always_inline)) void finished_bound(const Value& dot, const Value& leftover,
                                                          const Value& norm, const Value& weight,
                                                          double shape_leftover, double headroom,
                                                          const Value& none, Value& bound) {
    const Value raw = (dot + shape_leftover * leftover + headroom * norm) * weight;
    bound = weight > 0.0 ? raw : none;
}

// Four shapes' bounds over count windows (at most a chunk): for each lane, the sum over
// segments k of the shape's segment mean times the window's segment sum (bases[k][j] for window
// j), finished into a bound (see BoundFinish) while the sums are still in registers:
// out[lane * bound_chunk + j]. block_highest[lane * chunk_blocks + b] is the largest of the
// lane's bounds in block b of bound_block windows. The products are those of add_dots_with,
// with the segments for points (rounding here only moves a bound within its headroom).
__attribute__((noinline)) void segment_bounds_baseline(const double* const* bases, size_t segments,
                                                       const double* means, size_t count,
                                                       double* out, const BoundFinish& finish,
                                                       double* block_highest) {
    const double none = -std::numeric_limits<double>::infinity();
    const Quad nones = {none, none, none, none};
    const auto finish_four = [&](size_t j, const Quad& a0, const Quad& a1, const Quad& a2,
                                 const Quad& a3) {
        Quad leftover;
        Quad norm;
        Quad weight;
        std::memcpy(&leftover, finish.leftover + j, sizeof leftover);
        std::memcpy(&norm, finish.norm + j, sizeof norm);
        std::memcpy(&weight, finish.weight + j, sizeof weight);
        const std::array<const Quad*, lanes> dots = {&a0, &a1, &a2, &a3};
        for (size_t lane = 0; lane < lanes; ++lane) {
            Quad bound;
            finished_bound(*dots[lane], leftover, norm, weight, finish.shape_leftover[lane],
                           finish.headroom[lane], nones, bound);
            std::memcpy(out + lane * bound_chunk + j, &bound, sizeof bound);
        }
    };
    const size_t handed = add_dots_with<Baseline>([bases](size_t k) { return bases[k]; }, count,
                                                  means, segments, out, bound_chunk, finish_four);
    for (size_t lane = 0; lane < lanes; ++lane) {
        double* bound = out + lane * bound_chunk;
        for (size_t j = handed; j < count; ++j) {
            finished_bound(bound[j], finish.leftover[j], finish.norm[j], finish.weight[j],
                           finish.shape_leftover[lane], finish.headroom[lane], none, bound[j]);
        }
        for (size_t first = 0; first < count; first += bound_block) {
            double most = none;
            for (size_t j = first; j < std::min(count, first + bound_block); ++j) {
                most = bound[j] > most ? bound[j] : most;
            }
            block_highest[lane * chunk_blocks + first / bound_block] = most;
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four windows' bounds from their segment products, stored; returned in bound.
__attribute__((always_inline, target("avx2,fma"))) inline void finish_four(
    const BoundFinish& finish, size_t lane, size_t j, __m256d dot, double* out, __m256d& bound) {
    const __m256d nones = _mm256_set1_pd(-std::numeric_limits<double>::infinity());
    const __m256d leftover = _mm256_loadu_pd(finish.leftover + j);
    const __m256d norm = _mm256_loadu_pd(finish.norm + j);
    const __m256d weight = _mm256_loadu_pd(finish.weight + j);
    dot = _mm256_fmadd_pd(_mm256_set1_pd(finish.shape_leftover[lane]), leftover, dot);
    dot = _mm256_fmadd_pd(_mm256_set1_pd(finish.headroom[lane]), norm, dot);
    bound = _mm256_blendv_pd(nones, _mm256_mul_pd(dot, weight),
                             _mm256_cmp_pd(weight, _mm256_setzero_pd(), _CMP_GT_OQ));
    _mm256_storeu_pd(out + j, bound);
}

// The largest of four.
__attribute__((always_inline, target("avx2,fma"))) inline double largest_of(__m256d four) {
    alignas(32) std::array<double, 4> values{};
    _mm256_store_pd(values.data(), four);
    return std::max(std::max(values[0], values[1]), std::max(values[2], values[3]));
}

// The same bounds eight windows at a time, with fused multiply-adds: each lane's sum over
// segments is a chain of additions, and eight windows give eight chains to keep the processor
// busy where four left it waiting on the one before. A bound rounded otherwise than on the
// baseline moves within its headroom; only the windows matched may differ, not the best match.
__attribute__((noinline, target("avx2,fma"))) void segment_bounds_wide(
    const double* const* bases, size_t segments, const double* means, size_t count, double* out,
    const BoundFinish& finish, double* block_highest) {
    const double none = -std::numeric_limits<double>::infinity();
    const __m256d nones = _mm256_set1_pd(none);
    const __m256d zeros = _mm256_setzero_pd();
    __m256d block_most[lanes] = {nones, nones, nones, nones};
    size_t j = 0;
    for (; j + 8 <= count; j += 8) {
        __m256d low[lanes] = {zeros, zeros, zeros, zeros};
        __m256d high[lanes] = {zeros, zeros, zeros, zeros};
        for (size_t k = 0; k < segments; ++k) {
            const __m256d first = _mm256_loadu_pd(bases[k] + j);
            const __m256d second = _mm256_loadu_pd(bases[k] + j + 4);
            for (size_t lane = 0; lane < lanes; ++lane) {
                const __m256d mean = _mm256_broadcast_sd(means + lane * segments + k);
                low[lane] = _mm256_fmadd_pd(mean, first, low[lane]);
                high[lane] = _mm256_fmadd_pd(mean, second, high[lane]);
            }
        }
        for (size_t lane = 0; lane < lanes; ++lane) {
            __m256d first;
            __m256d second;
            finish_four(finish, lane, j, low[lane], out + lane * bound_chunk, first);
            finish_four(finish, lane, j + 4, high[lane], out + lane * bound_chunk, second);
            block_most[lane] = _mm256_max_pd(_mm256_max_pd(first, second), block_most[lane]);
        }
        if ((j + 8) % bound_block == 0) {
            for (size_t lane = 0; lane < lanes; ++lane) {
                block_highest[lane * chunk_blocks + j / bound_block] = largest_of(block_most[lane]);
                block_most[lane] = nones;
            }
        }
    }
    if (count % bound_block == 0) {
        return;
    }
    // The last block, partly done above: its other windows one at a time.
    for (size_t lane = 0; lane < lanes; ++lane) {
        double most = largest_of(block_most[lane]);
        for (size_t t = j; t < count; ++t) {
            double dot = 0.0;
            for (size_t k = 0; k < segments; ++k) {
                dot += means[lane * segments + k] * bases[k][t];
            }
            double& bound = out[lane * bound_chunk + t];
            finished_bound(dot, finish.leftover[t], finish.norm[t], finish.weight[t],
                           finish.shape_leftover[lane], finish.headroom[lane], none, bound);
            most = bound > most ? bound : most;
        }
        block_highest[lane * chunk_blocks + count / bound_block] = most;
    }
}

#endif

}  // namespace

#if defined(__x86_64__) && defined(__GNUC__)
SegmentBounds segment_bounds_for_this_processor() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
               ? segment_bounds_wide
               : segment_bounds_baseline;
}
#else
SegmentBounds segment_bounds_for_this_processor() {
    return segment_bounds_baseline;
}
#endif

// Whether every value is small enough for the bounds' sums (else the kernel alone runs).
bool boundable(const Series& values) {
    bool small = true;
    for (const double value : values) {
        small = small && std::abs(value) < 1e100;
    }
    return small;
}

// Fills bounds for count windows of m points from window from.
void chunk_bounds(const Series& values, const Segments& segments, size_t m, size_t from,
                  size_t count, ChunkBounds& bounds) {
    // For every run of points: its sum, its sum of squares, and what is left of those once its
    // mean is taken away (the squares less sum^2 / length).
    const auto run_sums = [&](size_t length, Series& sums, Series& squares, Series& left) {
        const size_t runs = count + m - length;
        sums.resize(runs);
        squares.resize(runs);
        left.resize(runs);
        const double* point = values.data() + from;
        const double share = 1.0 / static_cast<double>(length);
        // Four runs at a time, each summed in point order as alone.
        size_t t = 0;
        for (; t + 4 <= runs; t += 4) {
            Quad sum = {0.0, 0.0, 0.0, 0.0};
            Quad square = sum;
            for (size_t u = 0; u < length; ++u) {
                Quad value;
                std::memcpy(&value, point + t + u, sizeof value);
                sum += value;
                square += value * value;
            }
            const Quad rest = square - sum * sum * share;
            std::memcpy(sums.data() + t, &sum, sizeof sum);
            std::memcpy(squares.data() + t, &square, sizeof square);
            std::memcpy(left.data() + t, &rest, sizeof rest);
        }
        for (; t < runs; ++t) {
            double sum = 0.0;
            double square = 0.0;
            for (size_t u = 0; u < length; ++u) {
                sum += point[t + u];
                square += point[t + u] * point[t + u];
            }
            sums[t] = sum;
            squares[t] = square;
            left[t] = square - sum * sum * share;
        }
    };
    run_sums(segments.length, bounds.sums, bounds.squares, bounds.left);
    if (segments.longer > 0) {
        // A run one point longer is the shorter run's sums and its next point: the same
        // additions in the same order as summing it afresh.
        const size_t length = segments.length;
        const size_t runs = count + m - length - 1;
        const double share = 1.0 / static_cast<double>(length + 1);
        const double* next = values.data() + from + length;
        bounds.longer_sums.resize(runs);
        bounds.longer_squares.resize(runs);
        bounds.longer_left.resize(runs);
        for (size_t t = 0; t < runs; ++t) {
            const double sum = bounds.sums[t] + next[t];
            const double square = bounds.squares[t] + next[t] * next[t];
            bounds.longer_sums[t] = sum;
            bounds.longer_squares[t] = square;
            bounds.longer_left[t] = square - sum * sum * share;
        }
    }
    bounds.leftover.assign(count, 0.0);
    bounds.norm.assign(count, 0.0);
    std::array<const double*, 16> part_left{};
    std::array<const double*, 16> part_squares{};
    for (size_t k = 0; k < segments.count; ++k) {
        const bool longer = k < segments.longer;
        part_left[k] =
            (longer ? bounds.longer_left.data() : bounds.left.data()) + segments.starts[k];
        part_squares[k] =
            (longer ? bounds.longer_squares.data() : bounds.squares.data()) + segments.starts[k];
    }
    double* leftover = bounds.leftover.data();
    double* energy = bounds.norm.data();
    // Four windows at a time, each window's segments added in order from 0, as alone.
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        Quad window_left = {0.0, 0.0, 0.0, 0.0};
        Quad window_energy = window_left;
        for (size_t k = 0; k < segments.count; ++k) {
            Quad part;
            std::memcpy(&part, part_left[k] + j, sizeof part);
            window_left += part;
            std::memcpy(&part, part_squares[k] + j, sizeof part);
            window_energy += part;
        }
        std::memcpy(leftover + j, &window_left, sizeof window_left);
        std::memcpy(energy + j, &window_energy, sizeof window_energy);
    }
    for (; j < count; ++j) {
        for (size_t k = 0; k < segments.count; ++k) {
            leftover[j] += part_left[k][j];
            energy[j] += part_squares[k][j];
        }
    }
    // The leftover's square is a difference of near sums: its rounding (a few units of the
    // window's energy times 1e-16 per point) is added, not left to chance, so that its root is
    // never below the true one.
    const double rounding = 1e-14 * static_cast<double>(segments.length + 2);
    for (j = 0; j < count; ++j) {
        leftover[j] = std::sqrt(std::max(0.0, leftover[j]) + rounding * energy[j]);
        energy[j] = std::sqrt(energy[j]);
    }
}

ShapeBounds shape_bounds(const double* shape, const Segments& segments) {
    ShapeBounds bounds;
    bounds.means.assign(segments.count, 0.0);
    double left = 0.0;
    double energy = 0.0;
    for (size_t k = 0; k < segments.count; ++k) {
        const double* part = shape + segments.starts[k];
        const size_t size = segments.size(k);
        double sum = 0.0;
        for (size_t u = 0; u < size; ++u) {
            sum += part[u];
            energy += part[u] * part[u];
        }
        const double mean = sum / static_cast<double>(size);
        for (size_t u = 0; u < size; ++u) {
            left += (part[u] - mean) * (part[u] - mean);
        }
        bounds.means[k] = mean;
    }
    bounds.leftover = std::sqrt(left) * (1.0 + 1e-12);
    bounds.norm = std::sqrt(energy);
    bounds.usable = std::isfinite(energy) && energy < 1e200;
    return bounds;
}

}  // namespace matching
}  // namespace zorp
