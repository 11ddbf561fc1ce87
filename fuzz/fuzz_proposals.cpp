// Fuzzes the proposal kernels: count_keys, ranked_keys, sum_members, nearest_members and propose.
// Input: alphabet byte ([0, 12]), letters byte ([0, 70]), support byte (a table below), count
// byte ([0, 10]), length byte ([0, 40]), flags byte (bit 0: the first two windows' series out of
// order; bit 1: the last window's start negative), then a series set (see fuzz_input.h), then
// up to 24 windows: a count byte, and per window a byte that moves its series on from the last
// window's (by byte % 3; series past the set's end are possible), a start byte ([0, 63]) and its
// letters means (fuzz::Input::value).
//
// Each step is checked against a direct computation: the keys of every window under every
// projection, counted in a std::map.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "fuzz_input.h"
#include "proposals.h"
#include "straightforward_proposals.h"

namespace {

constexpr double supports[] = {0.0, 1.0, 2.0, 3.0, 0.5, fuzz::nan, fuzz::inf, -1.0};

// The largest n with alphabet^n at most 2^64 - 1, computed in 128 bits.
int most_letters(int alphabet) {
    unsigned __int128 count = 1;
    int n = 0;
    while (count * static_cast<unsigned>(alphabet) <= UINT64_MAX) {
        count *= static_cast<unsigned>(alphabet);
        ++n;
    }
    return n;
}

struct Expected {
    int64_t windows = 0;
    std::set<int> series;
};

// key -> windows and series, per projection, computed window by window.
std::vector<std::map<uint64_t, Expected>> direct_counts(const zorp::ProposalWindows& windows,
                                                        int alphabet) {
    const size_t width = static_cast<size_t>(windows.letters);
    std::vector<std::map<uint64_t, Expected>> out(width + 1);
    for (size_t w = 0; w < windows.series.size(); ++w) {
        for (size_t projection = 0; projection <= width; ++projection) {
            uint64_t key = 0;
            uint64_t place = 1;
            for (size_t j = 0; j < width; ++j) {
                if (j + 1 == projection) {
                    continue;
                }
                const double mean = windows.means[w * width + j];
                const int code = zorp::get_discrete_value(alphabet, mean) - 'a';
                key += static_cast<uint64_t>(code) * place;
                place *= static_cast<uint64_t>(alphabet);
            }
            Expected& expected = out[projection][key];
            ++expected.windows;
            expected.series.insert(windows.series[w]);
        }
    }
    return out;
}

bool holds(const zorp::ProposalWindows& windows, size_t w, int alphabet,
           const zorp::ProposalKey& key) {
    const size_t width = static_cast<size_t>(windows.letters);
    uint64_t value = 0;
    uint64_t place = 1;
    for (size_t j = 0; j < width; ++j) {
        if (j + 1 != static_cast<size_t>(key.projection)) {
            const int code = zorp::get_discrete_value(alphabet, windows.means[w * width + j]) - 'a';
            value += static_cast<uint64_t>(code) * place;
            place *= static_cast<uint64_t>(alphabet);
        }
    }
    return value == key.key;
}

// Whether the fixed-point sums of some letter over every window could leave 64 bits: only then
// may sum_members (and propose) throw std::overflow_error.
bool sums_may_overflow(const zorp::ProposalWindows& windows) {
    const size_t width = static_cast<size_t>(windows.letters);
    for (size_t j = 0; j < width; ++j) {
        double total = 0.0;
        for (size_t w = 0; w < windows.series.size(); ++w) {
            total += std::fabs(windows.means[w * width + j]) / zorp::member_sum_unit + 1.0;
        }
        if (total >= 0x1p63) {
            return true;
        }
    }
    return false;
}

void check_members(const zorp::ProposalWindows& windows, int alphabet,
                   const std::vector<zorp::ProposalKey>& keys,
                   const std::vector<std::map<uint64_t, Expected>>& expected) {
    const size_t width = static_cast<size_t>(windows.letters);
    zorp::MemberSums sums;
    try {
        sums = zorp::sum_members(windows, alphabet, keys);
    } catch (const std::overflow_error&) {
        FUZZ_CHECK(sums_may_overflow(windows));
        return;
    }
    FUZZ_CHECK(sums.counts.size() == keys.size());
    std::vector<double> averages;
    for (size_t e = 0; e < keys.size(); ++e) {
        const auto found = expected[static_cast<size_t>(keys[e].projection)].find(keys[e].key);
        FUZZ_CHECK(found != expected[static_cast<size_t>(keys[e].projection)].end());
        FUZZ_CHECK(sums.counts[e] == found->second.windows);
        for (size_t j = 0; j < width; ++j) {
            int64_t total = 0;
            for (size_t w = 0; w < windows.series.size(); ++w) {
                if (holds(windows, w, alphabet, keys[e])) {
                    total += std::llround(windows.means[w * width + j] / zorp::member_sum_unit);
                }
            }
            FUZZ_CHECK(sums.sums[e * width + j] == total);
        }
        const std::vector<double> average =
            zorp::member_average(sums.sums.data() + e * width, width, sums.counts[e]);
        averages.insert(averages.end(), average.begin(), average.end());
    }
    const zorp::NearestMembers nearest = zorp::nearest_members(windows, alphabet, keys, averages);
    for (size_t e = 0; e < keys.size(); ++e) {
        const int64_t chosen = nearest.windows[e];
        FUZZ_CHECK(chosen >= 0 && static_cast<size_t>(chosen) < windows.series.size());
        FUZZ_CHECK(holds(windows, static_cast<size_t>(chosen), alphabet, keys[e]));
        // No member comes closer; the first of equals is chosen.
        for (size_t w = 0; w < windows.series.size(); ++w) {
            if (!holds(windows, w, alphabet, keys[e])) {
                continue;
            }
            double squares = 0.0;
            for (size_t j = 0; j < width; ++j) {
                const double gap = windows.means[w * width + j] - averages[e * width + j];
                squares += gap * gap;
            }
            FUZZ_CHECK(!(squares < nearest.squares[e]));
            FUZZ_CHECK(!(squares == nearest.squares[e] && w < static_cast<size_t>(chosen)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int alphabet = in.in_range(0, 12);
    const int letters = in.in_range(0, 70);
    const double support = in.pick(supports);
    const size_t count = static_cast<size_t>(in.in_range(0, 10));
    const int length = in.in_range(0, 40);
    const uint8_t flags = in.byte();
    const zorp::SeriesSet ts = in.series_set();

    zorp::ProposalWindows windows;
    windows.letters = letters;
    const size_t window_count = in.byte() % 25;
    int series = 0;
    for (size_t w = 0; w < window_count; ++w) {
        series += in.byte() % 3;
        windows.series.push_back(series);
        windows.starts.push_back(in.in_range(0, 63));
        for (int j = 0; j < letters; ++j) {
            windows.means.push_back(in.value());
        }
    }
    if ((flags & 1) && window_count >= 2) {
        windows.series[0] = windows.series[1] + 1;
    }
    if ((flags & 2) && window_count >= 1) {
        windows.starts.back() = -1 - windows.starts.back();
    }

    const bool good_alphabet = alphabet >= 2 && alphabet <= 10;
    bool valid = good_alphabet && letters >= 1 && letters <= most_letters(alphabet);
    for (size_t w = 0; w < window_count; ++w) {
        valid = valid && windows.starts[w] >= 0 &&
                windows.series[w] >= (w == 0 ? 0 : windows.series[w - 1]);
    }
    for (double mean : windows.means) {
        valid = valid && std::fabs(mean) < zorp::max_segment_mean;
    }
    if (good_alphabet) {
        FUZZ_CHECK(zorp::most_key_letters(alphabet) == most_letters(alphabet));
    }

    std::vector<zorp::KeyCounts> counts;
    try {
        counts = zorp::count_keys(windows, alphabet);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!valid);
        return 0;
    }
    FUZZ_CHECK(valid);
    const auto expected = direct_counts(windows, alphabet);
    FUZZ_CHECK(counts.size() == static_cast<size_t>(letters) + 1);
    for (size_t projection = 0; projection < counts.size(); ++projection) {
        const zorp::KeyCounts& projected = counts[projection];
        FUZZ_CHECK(projected.keys.size() == expected[projection].size());
        size_t k = 0;
        for (const auto& [key, wanted] : expected[projection]) {
            FUZZ_CHECK(projected.keys[k] == key);
            FUZZ_CHECK(projected.windows[k] == wanted.windows);
            FUZZ_CHECK(projected.series[k] == static_cast<int64_t>(wanted.series.size()));
            ++k;
        }
    }

    const std::vector<zorp::ProposalKey> ranked = zorp::ranked_keys(counts, support);
    size_t qualifying = 0;
    for (const auto& projected : expected) {
        for (const auto& entry : projected) {
            qualifying += static_cast<double>(entry.second.series.size()) >= support ? 1 : 0;
        }
    }
    FUZZ_CHECK(ranked.size() == qualifying);
    const std::vector<zorp::ProposalKey> first(ranked.begin(),
                                               ranked.begin() + std::min<ptrdiff_t>(
                                                                    12, static_cast<ptrdiff_t>(
                                                                            ranked.size())));
    check_members(windows, alphabet, first, expected);

    zorp::ProposalSettings settings;
    settings.length = length;
    settings.alphabet = alphabet;
    settings.support = support;
    settings.count = count;
    bool inside = length >= 1;
    for (size_t w = 0; w < window_count; ++w) {
        const auto owner = static_cast<size_t>(windows.series[w]);
        inside = inside && owner < ts.size() &&
                 static_cast<size_t>(windows.starts[w]) + static_cast<size_t>(length) <=
                     ts[owner].size();
    }
    std::vector<zorp::Proposal> proposals;
    try {
        proposals = zorp::propose(ts, windows, settings);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!inside);
        return 0;
    } catch (const std::overflow_error&) {
        FUZZ_CHECK(inside && sums_may_overflow(windows));
        return 0;
    }
    FUZZ_CHECK(inside);
    FUZZ_CHECK(proposals.size() <= count);
    for (const zorp::Proposal& proposal : proposals) {
        bool found = false;
        for (size_t w = 0; w < window_count; ++w) {
            found = found || (windows.series[w] == proposal.series &&
                              windows.starts[w] == proposal.start);
        }
        FUZZ_CHECK(found);
        FUZZ_CHECK(proposal.word.size() == static_cast<size_t>(letters));
        FUZZ_CHECK(std::count(proposal.word.begin(), proposal.word.end(), '.') <= 1);
    }
    return 0;
}
