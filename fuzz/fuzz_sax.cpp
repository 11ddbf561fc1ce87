// Fuzzes zorp::sax. Input: seglen byte ([-3, 12], 255/254 = INT_MIN/INT_MAX), alphabet byte
// ([-2, 12], same extremes), then a series set (see fuzz_input.h).

#include <algorithm>
#include <stdexcept>

#include "fuzz_input.h"
#include "sax.h"

namespace {

// The letter of the segment of seglen points from start: its sum taken in order, divided by
// seglen, is above how many of the alphabet's cut points (NaN is above none).
char expected_letter(const zorp::Series& series, size_t start, int seglen, int alphabet) {
    const size_t end = std::min(series.size(), start + static_cast<size_t>(seglen));
    double sum = 0.0;
    for (size_t i = start; i < end; ++i) {
        sum += series[i];
    }
    const double mean = sum / seglen;
    const std::vector<double>& cuts = zorp::breakpoints[static_cast<size_t>(alphabet)];
    return static_cast<char>(
        'a' + std::count_if(cuts.begin(), cuts.end(), [&](double cut) { return cut < mean; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int seglen = in.in_range_or_extreme(-3, 12);
    const int alphabet = in.in_range_or_extreme(-2, 12);
    const zorp::SeriesSet ts = in.series_set();

    const bool bad_alphabet = alphabet < 0 || alphabet > zorp::max_alphabet;
    const bool any_points = std::any_of(ts.begin(), ts.end(),
                                        [](const zorp::Series& series) { return !series.empty(); });
    const bool bad_seglen = (seglen == 0 && !ts.empty()) || (seglen < 0 && any_points);
    zorp::WordSet words;
    try {
        words = zorp::sax(ts, seglen, alphabet);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(bad_alphabet);
        return 0;
    } catch (const std::length_error&) {
        FUZZ_CHECK(!bad_alphabet && bad_seglen);
        return 0;
    }
    FUZZ_CHECK(!bad_alphabet && !bad_seglen);
    FUZZ_CHECK(words.size() == ts.size());
    const char last = static_cast<char>('a' + std::max(alphabet, 1) - 1);
    for (size_t s = 0; s < ts.size(); ++s) {
        const size_t n = ts[s].size();
        const size_t step = seglen > 0 ? static_cast<size_t>(seglen) : 1;
        FUZZ_CHECK(words[s].size() == (n + step - 1) / step);
        for (size_t i = 0; i < words[s].size(); ++i) {
            FUZZ_CHECK(words[s][i] >= 'a' && words[s][i] <= last);
            FUZZ_CHECK(words[s][i] == expected_letter(ts[s], i * step, seglen, alphabet));
        }
    }
    return 0;
}
