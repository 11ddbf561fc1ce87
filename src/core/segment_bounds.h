#pragma once

// The bounds that let the matching of long shapes pass over most windows (see
// best_correlations): a window's correlation with a shape is at most its segments' means'
// product plus the product of what those means leave. Internal to the core.

#include <array>
#include <cstddef>
#include <vector>

#include "dot_products.h"
#include "sax.h"

namespace zorp {
namespace matching {

// Windows whose bounds are taken at once, and windows matched as one block where many pass.
constexpr size_t bound_chunk = 1024;
constexpr size_t bound_block = 32;

// What turns four shapes' segment products over a chunk of windows into bounds above their
// correlations: (product + leftover norms' product + headroom) × weight. The chunk's per-window
// norms and weights, and each shape's leftover norm and rounding headroom.
struct BoundFinish {
    const double* leftover = nullptr;  // per window of the chunk
    const double* norm = nullptr;
    const double* weight = nullptr;
    std::array<double, lanes> shape_leftover{};
    std::array<double, lanes> headroom{};
};

// Blocks of windows in a chunk: the bounds of a block are first compared with a bar through
// the block's largest.
constexpr size_t chunk_blocks = bound_chunk / bound_block;

// Four shapes' bounds over count windows (at most a chunk): for each lane, the sum over
// segments k of the shape's segment mean times the window's segment sum (bases[k][j] for window
// j), finished into a bound (see BoundFinish) while the sums are still in registers:
// out[lane * bound_chunk + j]. block_highest[lane * chunk_blocks + b] is the largest of the
// lane's bounds in block b of bound_block windows. The products are those of add_dots_with,
// with the segments for points (rounding here only moves a bound within its headroom).
using SegmentBounds = void (*)(const double* const*, size_t, const double*, size_t, double*,
                               const BoundFinish&, double*);

// The fastest version of the bounds on this processor.
SegmentBounds segment_bounds_for_this_processor();

// A shape's or a window's m points cut into `count` consecutive segments, the first `longer`
// of them one point longer than the rest. A dot product is the segments' means' product (each
// times its length) plus the product of what is left once they are taken away, which is at most
// the product of the two leftovers' norms: a bound on a window's correlation from `count`
// numbers per window where the product takes m.
struct Segments {
    size_t count = 0;
    size_t length = 0;  // points of the shorter segments
    size_t longer = 0;
    std::vector<size_t> starts;

    explicit Segments(size_t m) : count(std::min<size_t>(16, m / 4)), length(m / count) {
        longer = m - count * length;
        size_t start = 0;
        for (size_t k = 0; k < count; ++k) {
            starts.push_back(start);
            start += length + (k < longer ? 1 : 0);
        }
    }
    size_t size(size_t k) const { return length + (k < longer ? 1 : 0); }
};

// The sums that the bounds of a chunk of windows read, from window `from` on: the sum of
// every run of `length` and `length + 1` points the chunk's segments cover, and for every
// window of the chunk the norm of what its segments' means leave (raised by its rounding, see
// chunk_bounds) and its own norm. Made in the task that reads them, a chunk at a time: held for
// every series at once they would take four times the series' memory, and where a task's bounds
// stop paying (see best_correlations) the rest is never made.
struct ChunkBounds {
    Series sums;         // sums[t]: points from + t .. from + t + length
    Series longer_sums;  // the same over length + 1 points
    Series squares;      // scratch: the runs' sums of squares, and what their means leave
    Series left;
    Series longer_squares;
    Series longer_left;
    Series leftover;  // per window of the chunk
    Series norm;      // per window of the chunk
};

// Whether every value is small enough for the bounds' sums (else the kernel alone runs).
bool boundable(const Series& values);

// Fills bounds for count windows of m points from window from.
void chunk_bounds(const Series& values, const Segments& segments, size_t m, size_t from,
                  size_t count, ChunkBounds& bounds);

// A shape's side of the bounds: its segments' means, the norm of what they leave, its norm.
struct ShapeBounds {
    std::vector<double> means;
    double leftover = 0.0;
    double norm = 0.0;
    bool usable = false;
};

ShapeBounds shape_bounds(const double* shape, const Segments& segments);

}  // namespace matching
}  // namespace zorp
