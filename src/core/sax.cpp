#include "sax.h"

#include <cmath>
#include <stdexcept>

namespace zorp {

bool SymbolLess::operator()(const Word& a, const Word& b) const {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<signed char>(a[i]);
        const auto y = static_cast<signed char>(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

const std::vector<std::vector<double>> breakpoints = {
    {},
    {},
    {0.0},
    {-0.43, 0.43},
    {-0.67, 0.0, 0.67},
    {-0.84, -0.25, 0.25, 0.84},
    {-0.97, -0.43, 0.0, 0.43, 0.97},
    {-1.07, -0.57, -0.18, 0.18, 0.57, 1.07},
    {-1.15, -0.67, -0.32, 0.0, 0.32, 0.67, 1.15},
    {-1.22, -0.76, -0.43, -0.14, 0.14, 0.43, 0.76, 1.22},
    {-1.28, -0.84, -0.52, -0.25, 0.0, 0.25, 0.52, 0.84, 1.28},
};

const std::vector<double>& breakpoint_row(int alphabet) {
    if (alphabet < 0 || alphabet > max_alphabet) {
        throw std::invalid_argument("alphabet must be between 0 and " +
                                    std::to_string(max_alphabet) + ", got " +
                                    std::to_string(alphabet));
    }
    return breakpoints[static_cast<size_t>(alphabet)];
}

namespace {

// The cut points are ascending, so counting stops at the first one the value does not exceed;
// NaN exceeds none and gives 'a'.
char letter_for(const std::vector<double>& cuts, double value) {
    int above = 0;
    for (double cut : cuts) {
        if (!(value > cut)) {
            break;
        }
        ++above;
    }
    return static_cast<char>('a' + above);
}

[[noreturn]] void throw_impossible_size() {
    throw std::length_error("cannot create std::vector larger than max_size()");
}

}  // namespace

void znorm(SeriesSet& ts, const Cancellation& cancel) {
    for (Series& series : ts) {
        znorm(series, Summation::running, cancel);
    }
}

// Each step is one pass: the sum, the subtraction of the mean, the sum of squares, the division.
void znorm(Series& series, Summation summation, const Cancellation& cancel) {
    if (series.empty()) {
        return;
    }
    const size_t count = series.size();
    const double n = static_cast<double>(count);
    double* values = series.data();
    auto add_up = [&](auto&& term) {
        if (summation == Summation::pairwise) {
            cancel.count(count);
            return 0.0 + pairwise_sum(term, 0, count);
        }
        double sum = 0.0;
        in_blocks(count, 1, cancel, [&](size_t first, size_t last) {
            for (size_t i = first; i < last; ++i) {
                sum += term(i);
            }
        });
        return sum;
    };
    const double mean = add_up([values](size_t i) { return values[i]; }) / n;
    in_blocks(count, 1, cancel, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            values[i] -= mean;
        }
    });
    const double deviation =
        std::sqrt(add_up([values](size_t i) { return values[i] * values[i]; }) / n);
    in_blocks(count, 1, cancel, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            values[i] /= deviation;
        }
    });
}

Word get_row(const Series& series, int seglen, int alphabet, const Cancellation& cancel) {
    const std::vector<double>& cuts = breakpoint_row(alphabet);
    const size_t n = series.size();
    // The letter count is taken in floating point: seglen 0 gives infinity (NaN for an empty
    // series) and a negative seglen a negative count, all of which are impossible sizes. A
    // negative seglen is refused for every non-empty series, also where the count would round
    // up to -0 and silently give an empty word.
    const double count = std::ceil(static_cast<double>(n) / seglen);
    if (!(count >= 0.0) || (seglen < 0 && n > 0) ||
        count > static_cast<double>(Word().max_size())) {
        throw_impossible_size();
    }
    const auto letters = static_cast<size_t>(count);
    Word word(letters, 'a');
    const auto step = static_cast<size_t>(seglen > 0 ? seglen : 0);
    in_blocks(letters, step, cancel, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            const size_t start = i * step;
            const size_t end = n - start < step ? n : start + step;
            double sum = 0.0;
            for (size_t j = start; j < end; ++j) {
                sum += series[j];
            }
            // Divides by seglen, not by the points present, so a short last segment is pulled
            // towards 0.
            word[i] = letter_for(cuts, sum / seglen);
        }
    });
    return word;
}

int get_discrete_value(int alphabet, double value) {
    return letter_for(breakpoint_row(alphabet), value);
}

WordSet sax(const SeriesSet& ts, int seglen, int alphabet, const Cancellation& cancel) {
    breakpoint_row(alphabet);  // refuse a bad alphabet before any word is built
    WordSet words(ts.size());
    for (size_t i = 0; i < ts.size(); ++i) {
        cancel.count(1);
        words[i] = get_row(ts[i], seglen, alphabet, cancel);
    }
    return words;
}

}  // namespace zorp
