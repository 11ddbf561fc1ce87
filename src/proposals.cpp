#include "proposals.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace zorp {

namespace {

// Keys above this many values are grouped by sorting instead of by counting.
constexpr uint64_t counted_keys = uint64_t{1} << 22;
// Above this share of its variance explained by a monotone curve, a shape is trivial.
constexpr double monotone_limit = 0.9;

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

std::vector<Proposal> propose(const SeriesSet& ts, const ProposalWindows& windows,
                              const ProposalSettings& settings) {
    const size_t count = windows.series.size();
    const size_t width = static_cast<size_t>(std::max(windows.letters, 0));
    if (windows.starts.size() != count || windows.means.size() != count * width) {
        throw std::invalid_argument("proposal windows need one series, one start and " +
                                    std::to_string(width) + " means each");
    }
    const std::vector<double>& cuts = breakpoint_row(settings.alphabet);
    const uint64_t alphabet = static_cast<uint64_t>(std::max(settings.alphabet, 1));
    std::vector<uint8_t> codes(count * width);
    for (size_t i = 0; i < codes.size(); ++i) {
        // As get_discrete_value: the number of cut points strictly below the mean.
        const double mean = windows.means[i];
        codes[i] = static_cast<uint8_t>(
            std::count_if(cuts.begin(), cuts.end(), [mean](double cut) { return cut < mean; }));
    }
    std::vector<Groups> projections;
    std::vector<Entry> entries;
    std::vector<uint64_t> keys(count);
    for (size_t projection = 0; projection <= width; ++projection) {
        // Projection 0 keeps every letter; projection p leaves letter p - 1 out.
        uint64_t key_count = 1;
        for (size_t j = 0; j < width; ++j) {
            if (j + 1 != projection) {
                key_count *= alphabet;
            }
        }
        for (size_t w = 0; w < count; ++w) {
            uint64_t key = 0;
            uint64_t place = 1;
            for (size_t j = 0; j < width; ++j) {
                if (j + 1 != projection) {
                    key += codes[w * width + j] * place;
                    place *= alphabet;
                }
            }
            keys[w] = key;
        }
        Groups groups = grouped(keys, key_count);
        for (size_t g = 0; g < groups.keys.size(); ++g) {
            size_t support = 0;
            int last = -1;
            for (size_t p = groups.bounds[g]; p < groups.bounds[g + 1]; ++p) {
                const int owner = windows.series[static_cast<size_t>(groups.order[p])];
                support += owner != last ? 1 : 0;
                last = owner;
            }
            if (static_cast<double>(support) >= settings.support) {
                const double occurrences =
                    static_cast<double>(groups.bounds[g + 1] - groups.bounds[g]);
                const double held = static_cast<double>(support);
                entries.push_back({held / std::sqrt(occurrences / held),
                                   static_cast<int>(projection), groups.keys[g], g});
            }
        }
        projections.push_back(std::move(groups));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::make_tuple(-a.priority, a.projection, a.key) <
               std::make_tuple(-b.priority, b.projection, b.key);
    });
    std::vector<Proposal> proposals;
    std::set<std::vector<int>> seen;
    const size_t m = static_cast<size_t>(std::max(settings.length, 0));
    for (const Entry& entry : entries) {
        if (proposals.size() >= settings.count) {
            break;
        }
        const Groups& groups = projections[static_cast<size_t>(entry.projection)];
        std::vector<int> members(
            groups.order.begin() + static_cast<ptrdiff_t>(groups.bounds[entry.group]),
            groups.order.begin() + static_cast<ptrdiff_t>(groups.bounds[entry.group + 1]));
        if (!seen.insert(members).second) {
            continue;
        }
        std::vector<double> average(width, 0.0);
        for (int w : members) {
            for (size_t j = 0; j < width; ++j) {
                average[j] += windows.means[static_cast<size_t>(w) * width + j];
            }
        }
        for (double& value : average) {
            value /= static_cast<double>(members.size());
        }
        int closest = members.front();
        double nearest = std::numeric_limits<double>::infinity();
        for (int w : members) {
            double squares = 0.0;
            for (size_t j = 0; j < width; ++j) {
                const double gap = windows.means[static_cast<size_t>(w) * width + j] - average[j];
                squares += gap * gap;
            }
            if (squares < nearest) {
                nearest = squares;
                closest = w;
            }
        }
        const size_t owner = static_cast<size_t>(windows.series[static_cast<size_t>(closest)]);
        const size_t start = static_cast<size_t>(windows.starts[static_cast<size_t>(closest)]);
        if (owner >= ts.size() || start + m > ts[owner].size()) {
            throw std::invalid_argument("a proposal window runs past the end of series " +
                                        std::to_string(owner));
        }
        const std::vector<double> medoid(ts[owner].begin() + static_cast<ptrdiff_t>(start),
                                         ts[owner].begin() + static_cast<ptrdiff_t>(start + m));
        if (monotone_share(znormalised(medoid)) > monotone_limit) {
            continue;
        }
        std::string word(width, '.');
        for (size_t j = 0; j < width; ++j) {
            if (j + 1 != static_cast<size_t>(entry.projection)) {
                word[j] = static_cast<char>('a' + codes[static_cast<size_t>(closest) * width + j]);
            }
        }
        proposals.push_back({static_cast<int>(owner), static_cast<int>(start), std::move(word)});
    }
    return proposals;
}

}  // namespace zorp
