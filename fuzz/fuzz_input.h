#pragma once

// Shared by the fuzz targets: reads a fuzzer's bytes from the front into small, bounded
// arguments (an exhausted input reads as zero bytes), and aborts on a failed check so that
// libFuzzer reports the input.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "sax.h"

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz::fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// The minsup and max_overlap values a byte picks from.
constexpr double minsups[] = {1.0, 0.5, 0.25, 0.0, -1.0, nan, inf, 1e-9, 2.0};
constexpr double overlaps[] = {0.9, 0.5, 0.0, -1.0, 1.0, nan, 2.0};

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}

    uint8_t byte() { return at < size ? data[at++] : 0; }

    // An int in [low, high].
    int in_range(int low, int high) { return low + byte() % (high - low + 1); }

    // An int in [low, high], except that bytes 255 and 254 give INT_MIN and INT_MAX.
    int in_range_or_extreme(int low, int high) {
        const uint8_t b = byte();
        if (b == 255) {
            return INT_MIN;
        }
        if (b == 254) {
            return INT_MAX;
        }
        return low + b % (high - low + 1);
    }

    template <size_t N>
    double pick(const double (&table)[N]) {
        return table[byte() % N];
    }

    // Bytes 16 to 255 give -7.5 to 7.4375 in steps of 1/16, byte 15 the double in the next
    // eight bytes, bytes 0 to 14 an edge value.
    double value() {
        static constexpr double edge_values[] = {0.0,     -0.0,     nan,     inf,      -inf,
                                                 DBL_MAX, -DBL_MAX, DBL_MIN, 4.9e-324, -4.9e-324,
                                                 1e300,   -1e300,   1e-300,  0.43,     -0.43};
        const uint8_t b = byte();
        if (b >= 16) {
            return (b - 136) / 16.0;
        }
        if (b == 15) {
            uint8_t raw[8] = {};
            for (uint8_t& r : raw) {
                r = byte();
            }
            double value;
            std::memcpy(&value, raw, sizeof value);
            return value;
        }
        return edge_values[b];
    }

    // Up to 8 series of up to max_points (at most 255) points: a count byte, then per series a
    // length byte (taken modulo max_points + 1) and its values.
    zorp::SeriesSet series_set(size_t max_points = 64) {
        zorp::SeriesSet ts(byte() % 9);
        for (zorp::Series& series : ts) {
            series.resize(byte() % (max_points + 1));
            for (double& point : series) {
                point = value();
            }
        }
        return ts;
    }

  private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

// With a threshold that is not positive every candidate is kept, so the table grows as
// letters^max_len: lowers a positive max_len until that stays at most 256 patterns.
inline int bounded_max_len(int max_len, double threshold, size_t letters) {
    if (threshold > 0.0) {
        return max_len;
    }
    while (max_len > 1 && std::pow(static_cast<double>(letters), max_len) > 256.0) {
        --max_len;
    }
    return max_len;
}

}  // namespace fuzz
