#pragma once

// Dot products of four shapes with many windows at once, on vectors: shared by the kernels that
// match shapes and those that bound their matches. Internal to the core.

#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace zorp {
namespace matching {

// Shapes are matched four at a time.
constexpr size_t lanes = 4;

// Four doubles: the dot products of one shape with four neighbouring windows, held in registers
// while they are summed.
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));

// Sets, for each of count windows, the dot products with the four shape rows (each of m values,
// one after the other in shapes): out[lane * stride + j] for window j. point(k) is where point
// k of the first window is; window j's point k is point(k)[j]. Windows are taken four at a
// time, their sixteen sums held in registers over the whole shape and handed, still there, to
// on_four(j, a0, a1, a2, a3); each sum takes its terms in point order, from 0, whether it is
// computed four at a time or alone. Returns the windows handed to on_four (a multiple of four).
template <typename Tag, typename Points, typename OnFour>
inline __attribute__((always_inline)) size_t add_dots_with(Points point, size_t count,
                                                           const double* __restrict shapes,
                                                           size_t m, double* __restrict out,
                                                           size_t stride, OnFour on_four) {
    const double* q0 = shapes;
    const double* q1 = shapes + m;
    const double* q2 = shapes + 2 * m;
    const double* q3 = shapes + 3 * m;
    // `quads` groups of four windows from window j at once, their sums stored and handed on.
    const auto sums_from = [&](size_t j, auto quads) {
        constexpr size_t groups = decltype(quads)::value;
        std::array<std::array<Quad, 4>, groups> sums;
        for (std::array<Quad, 4>& group : sums) {
            group.fill(Quad{0.0, 0.0, 0.0, 0.0});
        }
        for (size_t k = 0; k < m; ++k) {
            for (size_t g = 0; g < groups; ++g) {
                Quad v;
                std::memcpy(&v, point(k) + j + 4 * g, sizeof v);
                sums[g][0] += q0[k] * v;
                sums[g][1] += q1[k] * v;
                sums[g][2] += q2[k] * v;
                sums[g][3] += q3[k] * v;
            }
        }
        for (size_t g = 0; g < groups; ++g) {
            for (size_t lane = 0; lane < 4; ++lane) {
                std::memcpy(out + lane * stride + j + 4 * g, &sums[g][lane], sizeof(Quad));
            }
            on_four(j + 4 * g, sums[g][0], sums[g][1], sums[g][2], sums[g][3]);
        }
    };
    size_t j = 0;
    // Eight windows at a time where there are eight: each sum is a chain of additions, and
    // eight chains keep the processor's adders busy where four leave it waiting.
    for (; j + 8 <= count; j += 8) {
        sums_from(j, std::integral_constant<size_t, 2>());
    }
    for (; j + 4 <= count; j += 4) {
        sums_from(j, std::integral_constant<size_t, 1>());
    }
    const size_t handed = j;
    for (; j < count; ++j) {
        double s0 = 0.0;
        double s1 = 0.0;
        double s2 = 0.0;
        double s3 = 0.0;
        for (size_t k = 0; k < m; ++k) {
            const double v = point(k)[j];
            s0 += q0[k] * v;
            s1 += q1[k] * v;
            s2 += q2[k] * v;
            s3 += q3[k] * v;
        }
        out[j] = s0;
        out[stride + j] = s1;
        out[2 * stride + j] = s2;
        out[3 * stride + j] = s3;
    }
    return handed;
}

// Sets out[j], for each of count windows, to the dot product of one shape (m values) with
// window j, whose point k is values[j + k]. Windows are taken thirty-two at a time (eight chains
// of additions in flight), then sixteen, then four, each group of four handed, still in
// registers, to on_quad(j, sums, g) (g: its place in its group of up to eight); the last ones
// alone. Each sum takes its terms in point order, from 0, however it is computed. Returns the
// windows handed to on_quad (a multiple of four).
template <typename OnQuad>
inline __attribute__((always_inline)) size_t add_one_shape_dots(const double* __restrict values,
                                                                size_t count,
                                                                const double* __restrict shape,
                                                                size_t m, double* __restrict out,
                                                                OnQuad on_quad) {
    // `quads` groups of four windows from window j at once, stored and handed on.
    const auto sums_from = [&](size_t j, auto quads) {
        constexpr size_t groups = decltype(quads)::value;
        std::array<Quad, groups> sums;
        sums.fill(Quad{0.0, 0.0, 0.0, 0.0});
        for (size_t k = 0; k < m; ++k) {
            const double* point = values + k + j;
            for (size_t g = 0; g < groups; ++g) {
                Quad v;
                std::memcpy(&v, point + 4 * g, sizeof v);
                sums[g] += shape[k] * v;
            }
        }
        for (size_t g = 0; g < groups; ++g) {
            std::memcpy(out + j + 4 * g, &sums[g], sizeof sums[g]);
            on_quad(j + 4 * g, sums[g], g);
        }
    };
    size_t j = 0;
    for (; j + 32 <= count; j += 32) {
        sums_from(j, std::integral_constant<size_t, 8>());
    }
    for (; j + 16 <= count; j += 16) {
        sums_from(j, std::integral_constant<size_t, 4>());
    }
    for (; j + 4 <= count; j += 4) {
        sums_from(j, std::integral_constant<size_t, 1>());
    }
    const size_t handed = j;
    for (; j < count; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < m; ++k) {
            sum += shape[k] * values[j + k];
        }
        out[j] = sum;
    }
    return handed;
}

// The tags of a kernel's builds: the baseline processor's, and where the processor has them
// the wider vectors' (x86-64 with AVX2).
struct Baseline {};
struct Wide {};

}  // namespace matching
}  // namespace zorp
