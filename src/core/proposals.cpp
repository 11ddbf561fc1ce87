#include "proposals.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <set>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "motif.h"
#include "parallel.h"

namespace zorp {

namespace {

// Keys above this many values are grouped by sorting instead of by counting.
constexpr uint64_t counted_keys = uint64_t{1} << 22;

// The windows of each key of one projection, grouped: order lists the windows key by key (in
// ascending window order within a key), and keys[g] owns order[bounds[g] .. bounds[g + 1]).
struct Groups {
    std::vector<uint64_t> keys;
    std::vector<size_t> bounds;
    std::vector<int> order;
};

Groups grouped(const std::vector<uint64_t>& keys, uint64_t key_count) {
    Groups groups;
    const size_t n = keys.size();
    groups.order.resize(n);
    if (key_count <= counted_keys) {
        std::vector<size_t> counts(static_cast<size_t>(key_count) + 1, 0);
        for (uint64_t key : keys) {
            ++counts[static_cast<size_t>(key) + 1];
        }
        std::partial_sum(counts.begin(), counts.end(), counts.begin());
        for (size_t g = 0; g + 1 < counts.size(); ++g) {
            if (counts[g + 1] > counts[g]) {
                groups.keys.push_back(g);
                groups.bounds.push_back(counts[g]);
            }
        }
        for (size_t w = 0; w < n; ++w) {
            groups.order[counts[static_cast<size_t>(keys[w])]++] = static_cast<int>(w);
        }
    } else {
        std::iota(groups.order.begin(), groups.order.end(), 0);
        std::stable_sort(groups.order.begin(), groups.order.end(),
                         [&keys](int a, int b) { return keys[a] < keys[b]; });
        for (size_t p = 0; p < n; ++p) {
            if (p == 0 || keys[groups.order[p]] != keys[groups.order[p - 1]]) {
                groups.keys.push_back(keys[groups.order[p]]);
                groups.bounds.push_back(p);
            }
        }
    }
    groups.bounds.push_back(n);
    return groups;
}

// A key worth proposing: its rank and where its windows are.
struct Entry {
    double priority;
    int projection;  // 0: the whole word; p > 0: the word without letter p - 1
    uint64_t key;
    size_t group;
};

// Least-squares non-decreasing fit of values (pool adjacent violators): the squared residual.
double increasing_residual(const std::vector<double>& values) {
    std::vector<double> means;
    std::vector<double> weights;
    for (double value : values) {
        means.push_back(value);
        weights.push_back(1.0);
        while (means.size() > 1 && means[means.size() - 2] > means.back()) {
            const size_t last = means.size() - 1;
            const double weight = weights[last - 1] + weights[last];
            means[last - 1] =
                (means[last - 1] * weights[last - 1] + means[last] * weights[last]) / weight;
            weights[last - 1] = weight;
            means.pop_back();
            weights.pop_back();
        }
    }
    double residual = 0.0;
    size_t at = 0;
    for (size_t g = 0; g < means.size(); ++g) {
        for (size_t w = 0; w < static_cast<size_t>(weights[g]); ++w, ++at) {
            const double gap = values[at] - means[g];
            residual += gap * gap;
        }
    }
    return residual;
}

}  // namespace

std::vector<double> znormalised(const std::vector<double>& shape) {
    std::vector<double> out(shape.size(), 0.0);
    if (shape.empty()) {
        return out;
    }
    double sum = 0.0;
    for (double value : shape) {
        sum += value;
    }
    const double mean = sum / static_cast<double>(shape.size());
    double peak = 0.0;
    for (size_t i = 0; i < shape.size(); ++i) {
        out[i] = shape[i] - mean;
        peak = std::max(peak, std::fabs(out[i]));
    }
    if (!(peak > 0.0 && std::isfinite(peak))) {
        std::fill(out.begin(), out.end(), 0.0);
        return out;
    }
    double squares = 0.0;
    for (double& value : out) {
        value /= peak;
        squares += value * value;
    }
    const double deviation = std::sqrt(squares / static_cast<double>(shape.size()));
    for (double& value : out) {
        value /= deviation;
    }
    return out;
}

double monotone_share(const std::vector<double>& shape, int points) {
    const size_t m = shape.size();
    if (m == 0 || points < 1) {
        return 1.0;
    }
    const size_t blocks = std::min(static_cast<size_t>(points), m);
    const double step = static_cast<double>(m) / static_cast<double>(blocks);
    std::vector<double> means(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        const size_t from = static_cast<size_t>(static_cast<double>(b) * step);
        const size_t to =
            b + 1 == blocks ? m : static_cast<size_t>(static_cast<double>(b + 1) * step);
        double sum = 0.0;
        for (size_t i = from; i < to; ++i) {
            sum += shape[i];
        }
        means[b] = sum / static_cast<double>(to - from);
    }
    const double average =
        std::accumulate(means.begin(), means.end(), 0.0) / static_cast<double>(blocks);
    double total = 0.0;
    for (double value : means) {
        total += (value - average) * (value - average);
    }
    if (!(total > 1e-12 * static_cast<double>(blocks))) {
        return 1.0;
    }
    double best = 0.0;
    for (double sign : {1.0, -1.0}) {
        std::vector<double> signed_means(means);
        for (double& value : signed_means) {
            value *= sign;
        }
        best = std::max(best, 1.0 - increasing_residual(signed_means) / total);
    }
    return best;
}

namespace {

// The number of keys a projection can take: alphabet^(letters it keeps). check_windows has made
// sure that it fits.
uint64_t key_count_of(size_t width, uint64_t alphabet, size_t projection) {
    uint64_t key_count = 1;
    for (size_t j = 0; j < width; ++j) {
        if (j + 1 != projection) {
            key_count *= alphabet;
        }
    }
    return key_count;
}

// Each window's letters as codes 0 to alphabet - 1: as get_discrete_value, the number of cut
// points strictly below the mean.
// On up to `threads` threads, each coding its own stretch of the means.
std::vector<uint8_t> codes_of(const ProposalWindows& windows, int alphabet,
                              const Cancellation& cancel, size_t threads) {
    const std::vector<double>& cuts = breakpoint_row(alphabet);
    std::vector<uint8_t> codes(windows.means.size());
    constexpr size_t stretch = size_t{1} << 16;
    parallel_for((codes.size() + stretch - 1) / stretch, threads, cancel,
                 [&](size_t task, const Cancellation& local) {
                     const size_t end = std::min(codes.size(), (task + 1) * stretch);
                     local.count(end - task * stretch);
                     for (size_t i = task * stretch; i < end; ++i) {
                         const double mean = windows.means[i];
                         codes[i] = static_cast<uint8_t>(std::count_if(
                             cuts.begin(), cuts.end(), [mean](double cut) { return cut < mean; }));
                     }
                 });
    return codes;
}

uint64_t base_of(int alphabet) {
    return static_cast<uint64_t>(alphabet);
}

// What each letter of a window adds to its key under a projection: the place of letter j among
// the letters kept (alphabet^k for the k-th kept), 0 for the letter left out.
std::vector<uint64_t> places_of(size_t width, uint64_t alphabet, size_t projection) {
    std::vector<uint64_t> places(width, 0);
    uint64_t place = 1;
    for (size_t j = 0; j < width; ++j) {
        if (j + 1 != projection) {
            places[j] = place;
            place *= alphabet;
        }
    }
    return places;
}

// Window w's key: its codes at their places.
uint64_t key_of(const std::vector<uint8_t>& codes, size_t w, const std::vector<uint64_t>& places) {
    const size_t width = places.size();
    const uint8_t* letters = codes.data() + w * width;
    uint64_t key = 0;
    for (size_t j = 0; j < width; ++j) {
        key += letters[j] * places[j];
    }
    return key;
}

// Every window's key under a projection.
std::vector<uint64_t> keys_of(const std::vector<uint8_t>& codes, size_t width, uint64_t alphabet,
                              size_t projection) {
    const std::vector<uint64_t> places = places_of(width, alphabet, projection);
    std::vector<uint64_t> keys(width == 0 ? 0 : codes.size() / width);
    for (size_t w = 0; w < keys.size(); ++w) {
        keys[w] = key_of(codes, w, places);
    }
    return keys;
}

uint64_t mixed(uint64_t value) {
    value += 0x9e3779b97f4a7c15u;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9u;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebu;
    return value ^ (value >> 31);
}

// The bits of each_member's filter of wanted keys: with 2^16 bits (8 KiB, within the first level
// of cache), a window without a wanted key gets through with odds of the wanted keys in 65,536.
constexpr uint64_t wanted_filter_bits = uint64_t{1} << 16;

uint64_t filter_bit(uint64_t key) {
    return (key * 0x9e3779b97f4a7c15u) >> 48;
}

// Calls visit(entry, window) for every window holding one of the keys, windows in ascending
// order for each key. The windows have been checked. One task per projection, on up to threads
// threads: a key has one projection, so the tasks visit apart entries.
template <typename Visit>
void each_member(const ProposalWindows& windows, int alphabet, const std::vector<ProposalKey>& keys,
                 const Cancellation& cancel, size_t threads, Visit&& visit) {
    const size_t width = static_cast<size_t>(windows.letters);
    const std::vector<uint8_t> codes = codes_of(windows, alphabet, cancel, threads);
    std::set<int> distinct;
    for (const ProposalKey& key : keys) {
        distinct.insert(key.projection);
    }
    const std::vector<int> projections(distinct.begin(), distinct.end());
    parallel_for(projections.size(), threads, cancel, [&](size_t task, const Cancellation& local) {
        const int projection = projections[task];
        std::unordered_map<uint64_t, std::vector<size_t>> wanted;
        for (size_t e = 0; e < keys.size(); ++e) {
            if (keys[e].projection == projection) {
                wanted[keys[e].key].push_back(e);
            }
        }
        // Most windows hold none of the wanted keys: a bit per wanted key's hash tells nearly
        // all of them apart before the table is looked up.
        std::vector<uint64_t> filter(wanted_filter_bits / 64, 0);
        for (const auto& entry : wanted) {
            const uint64_t bit = filter_bit(entry.first);
            filter[bit / 64] |= uint64_t{1} << (bit % 64);
        }
        const std::vector<uint64_t> window_keys =
            keys_of(codes, width, base_of(alphabet), static_cast<size_t>(projection));
        for (size_t w = 0; w < window_keys.size(); ++w) {
            local.count(width + 1);
            const uint64_t bit = filter_bit(window_keys[w]);
            if ((filter[bit / 64] >> (bit % 64) & 1) == 0) {
                continue;
            }
            const auto found = wanted.find(window_keys[w]);
            if (found != wanted.end()) {
                for (size_t e : found->second) {
                    visit(e, w);
                }
            }
        }
    });
}

}  // namespace

int most_key_letters(int alphabet) {
    if (alphabet < min_proposal_alphabet || alphabet > max_proposal_alphabet) {
        throw std::invalid_argument("proposal words need an alphabet of 2 to 10 letters, got " +
                                    std::to_string(alphabet));
    }
    // The largest n with alphabet^n, the number of keys, at most 2^64 - 1.
    const uint64_t base = static_cast<uint64_t>(alphabet);
    int letters = 0;
    for (uint64_t keys = base; keys <= std::numeric_limits<uint64_t>::max() / base; keys *= base) {
        ++letters;
    }
    return letters + 1;
}

void check_windows(const ProposalWindows& windows, int alphabet) {
    const int most = most_key_letters(alphabet);
    if (windows.letters < 1 || windows.letters > most) {
        throw std::invalid_argument("proposal windows need 1 to " + std::to_string(most) +
                                    " letters with alphabet " + std::to_string(alphabet) +
                                    " (their keys must fit in 64 bits), got " +
                                    std::to_string(windows.letters));
    }
    const size_t count = windows.series.size();
    const size_t width = static_cast<size_t>(windows.letters);
    if (windows.starts.size() != count || windows.means.size() != count * width) {
        throw std::invalid_argument("proposal windows need one series, one start and " +
                                    std::to_string(width) + " means each");
    }
    for (size_t w = 0; w < count; ++w) {
        if (windows.series[w] < (w == 0 ? 0 : windows.series[w - 1]) || windows.starts[w] < 0) {
            throw std::invalid_argument(
                "proposal windows need ascending series and starts from 0, got series " +
                std::to_string(windows.series[w]) + " start " + std::to_string(windows.starts[w]) +
                " at window " + std::to_string(w));
        }
    }
    for (double mean : windows.means) {
        if (!(std::fabs(mean) < max_segment_mean)) {
            throw std::invalid_argument("proposal windows need finite segment means below " +
                                        decimal(max_segment_mean) + " in magnitude, got " +
                                        decimal(mean));
        }
    }
}

std::vector<KeyCounts> count_keys(const ProposalWindows& windows, int alphabet,
                                  const Cancellation& cancel, size_t threads) {
    check_windows(windows, alphabet);
    const size_t width = static_cast<size_t>(windows.letters);
    const std::vector<uint8_t> codes = codes_of(windows, alphabet, cancel, threads);
    // One task per projection, each filling its own table.
    std::vector<KeyCounts> counts(width + 1);
    parallel_for(width + 1, threads, cancel, [&](size_t projection, const Cancellation& local) {
        local.count(windows.series.size() * (width + 1));
        const uint64_t key_count = key_count_of(width, base_of(alphabet), projection);
        KeyCounts& projected = counts[projection];
        if (key_count <= counted_keys) {
            // One pass in window order, tallied by key: windows are in ascending series order,
            // so a key's series count grows when its window's series differs from its last one.
            std::vector<int64_t> window_tally(static_cast<size_t>(key_count), 0);
            std::vector<int64_t> series_tally(static_cast<size_t>(key_count), 0);
            std::vector<int> last_series(static_cast<size_t>(key_count), -1);
            const std::vector<uint64_t> places = places_of(width, base_of(alphabet), projection);
            for (size_t w = 0; w < windows.series.size(); ++w) {
                const auto key = static_cast<size_t>(key_of(codes, w, places));
                const int owner = windows.series[w];
                ++window_tally[key];
                series_tally[key] += last_series[key] != owner ? 1 : 0;
                last_series[key] = owner;
            }
            for (size_t key = 0; key < window_tally.size(); ++key) {
                if (window_tally[key] > 0) {
                    projected.keys.push_back(key);
                    projected.windows.push_back(window_tally[key]);
                    projected.series.push_back(series_tally[key]);
                }
            }
            return;
        }
        const Groups groups =
            grouped(keys_of(codes, width, base_of(alphabet), projection), key_count);
        for (size_t g = 0; g < groups.keys.size(); ++g) {
            int64_t support = 0;
            int last = -1;
            for (size_t p = groups.bounds[g]; p < groups.bounds[g + 1]; ++p) {
                const int owner = windows.series[static_cast<size_t>(groups.order[p])];
                support += owner != last ? 1 : 0;
                last = owner;
            }
            projected.keys.push_back(groups.keys[g]);
            projected.windows.push_back(
                static_cast<int64_t>(groups.bounds[g + 1] - groups.bounds[g]));
            projected.series.push_back(support);
        }
    });
    return counts;
}

std::vector<ProposalKey> ranked_keys(const std::vector<KeyCounts>& counts, double support) {
    std::vector<Entry> entries;
    for (size_t projection = 0; projection < counts.size(); ++projection) {
        const KeyCounts& projected = counts[projection];
        const size_t keys = projected.keys.size();
        if (projected.windows.size() != keys || projected.series.size() != keys) {
            throw std::invalid_argument(
                "key counts need one window count and one series count per key");
        }
        for (size_t k = 0; k < keys; ++k) {
            // Anything else would rank by NaN, which no order can sort.
            if (projected.series[k] < 1 || projected.windows[k] < projected.series[k]) {
                throw std::invalid_argument(
                    "key counts need at least 1 series and at least as many windows as series, "
                    "got " +
                    std::to_string(projected.windows[k]) + " windows in " +
                    std::to_string(projected.series[k]) + " series");
            }
        }
        for (size_t k = 0; k < keys; ++k) {
            if (static_cast<double>(projected.series[k]) >= support) {
                const double occurrences = static_cast<double>(projected.windows[k]);
                const double held = static_cast<double>(projected.series[k]);
                entries.push_back({held / std::sqrt(occurrences / held),
                                   static_cast<int>(projection), projected.keys[k], k});
            }
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::make_tuple(-a.priority, a.projection, a.key) <
               std::make_tuple(-b.priority, b.projection, b.key);
    });
    std::vector<ProposalKey> ranked;
    ranked.reserve(entries.size());
    for (const Entry& entry : entries) {
        ranked.push_back({entry.projection, entry.key});
    }
    return ranked;
}

MemberSums sum_members(const ProposalWindows& windows, int alphabet,
                       const std::vector<ProposalKey>& keys, const Cancellation& cancel,
                       size_t threads) {
    check_windows(windows, alphabet);
    const size_t width = static_cast<size_t>(windows.letters);
    MemberSums sums;
    sums.counts.assign(keys.size(), 0);
    sums.fingerprints.assign(2 * keys.size(), 0);
    sums.sums.assign(width * keys.size(), 0);
    each_member(windows, alphabet, keys, cancel, threads, [&](size_t e, size_t w) {
        ++sums.counts[e];
        const uint64_t place = static_cast<uint64_t>(static_cast<uint32_t>(windows.series[w]))
                                   << 32 |
                               static_cast<uint32_t>(windows.starts[w]);
        sums.fingerprints[2 * e] += mixed(place);
        sums.fingerprints[2 * e + 1] += mixed(place ^ 0x5851f42d4c957f2du);
        for (size_t j = 0; j < width; ++j) {
            // Below 2^62 in magnitude: check_windows bounds the means.
            const double scaled = windows.means[w * width + j] / member_sum_unit;
            int64_t& sum = sums.sums[e * width + j];
            if (__builtin_add_overflow(sum, std::llround(scaled), &sum)) {
                throw std::overflow_error("the segment means of one key's windows overflow");
            }
        }
    });
    return sums;
}

NearestMembers nearest_members(const ProposalWindows& windows, int alphabet,
                               const std::vector<ProposalKey>& keys,
                               const std::vector<double>& averages, const Cancellation& cancel,
                               size_t threads) {
    check_windows(windows, alphabet);
    const size_t width = static_cast<size_t>(windows.letters);
    if (averages.size() != keys.size() * width) {
        throw std::invalid_argument("nearest members need " + std::to_string(width) +
                                    " average means per key");
    }
    NearestMembers nearest;
    nearest.squares.assign(keys.size(), std::numeric_limits<double>::infinity());
    nearest.windows.assign(keys.size(), -1);
    each_member(windows, alphabet, keys, cancel, threads, [&](size_t e, size_t w) {
        double squares = 0.0;
        for (size_t j = 0; j < width; ++j) {
            const double gap = windows.means[w * width + j] - averages[e * width + j];
            squares += gap * gap;
        }
        if (squares < nearest.squares[e] || nearest.windows[e] < 0) {
            nearest.squares[e] = squares;
            nearest.windows[e] = static_cast<int64_t>(w);
        }
    });
    return nearest;
}

std::string word_of(const ProposalWindows& windows, size_t window, int alphabet, int projection) {
    const std::vector<double>& cuts = breakpoint_row(alphabet);
    const size_t width = static_cast<size_t>(std::max(windows.letters, 0));
    std::string word(width, '.');
    for (size_t j = 0; j < width; ++j) {
        if (j + 1 != static_cast<size_t>(projection)) {
            const double mean = windows.means[window * width + j];
            word[j] =
                static_cast<char>('a' + std::count_if(cuts.begin(), cuts.end(),
                                                      [mean](double cut) { return cut < mean; }));
        }
    }
    return word;
}

}  // namespace zorp
