#include "occurrences.h"

#include <algorithm>
#include <cstddef>

namespace zorp {

namespace {

// Grows a vector's capacity geometrically ahead of a push_back, so that the push_back itself
// cannot fail.
template <typename T>
void room_for_one_more(std::vector<T>& values) {
    if (values.size() == values.capacity()) {
        values.reserve(std::max<size_t>(4, 2 * values.size()));
    }
}

}  // namespace

void Occurrences::add(int series_index, const std::vector<int>& more) {
    append(series_index, more.data(), more.data() + more.size());
}

void Occurrences::assign_groups(const std::vector<int>& group_series,
                                const std::vector<size_t>& starts,
                                const std::vector<int>& group_positions) {
    std::vector<size_t> group_ends(starts.size());
    for (size_t group = 0; group < starts.size(); ++group) {
        group_ends[group] = group + 1 < starts.size() ? starts[group + 1] : group_positions.size();
    }
    std::vector<int> copied_series(group_series);
    std::vector<int> copied_positions(group_positions);
    series.swap(copied_series);
    positions.swap(copied_positions);
    ends.swap(group_ends);
    ascending = std::is_sorted(series.begin(), series.end()) &&
                std::adjacent_find(series.begin(), series.end()) == series.end();
}

size_t Occurrences::group_of(int wanted) const {
    if (ascending) {
        const auto found = std::lower_bound(series.begin(), series.end(), wanted);
        return found != series.end() && *found == wanted
                   ? static_cast<size_t>(found - series.begin())
                   : series.size();
    }
    return static_cast<size_t>(std::find(series.begin(), series.end(), wanted) - series.begin());
}

// Everything that can fail to allocate happens before the record changes, so a failure leaves
// it as it was.
void Occurrences::append(int series_index, const int* first, const int* last) {
    if (first == last) {
        return;
    }
    const auto count = static_cast<size_t>(last - first);
    if (!series.empty() && series.back() == series_index) {
        positions.insert(positions.end(), first, last);
        ends.back() = positions.size();
        return;
    }
    const bool after_last = series.empty() || (ascending && series_index > series.back());
    const size_t group = after_last ? series.size() : group_of(series_index);
    if (group == series.size()) {
        room_for_one_more(series);
        room_for_one_more(ends);
        positions.insert(positions.end(), first, last);
        if (!after_last) {
            ascending = false;
        }
        series.push_back(series_index);
        ends.push_back(positions.size());
        return;
    }
    positions.insert(positions.begin() + static_cast<std::ptrdiff_t>(ends[group]), first, last);
    for (size_t later = group; later < ends.size(); ++later) {
        ends[later] += count;
    }
}

IndexTable Occurrences::to_table() const {
    IndexTable table;
    table.reserve(series.size());
    for (size_t group = 0; group < series.size(); ++group) {
        table.emplace(series[group], std::vector<int>(begin_of(group), end_of(group)));
    }
    return table;
}

std::vector<size_t> Occurrences::groups_by_series() const {
    std::vector<size_t> order(series.size());
    for (size_t group = 0; group < order.size(); ++group) {
        order[group] = group;
    }
    if (!ascending) {
        std::sort(order.begin(), order.end(),
                  [this](size_t a, size_t b) { return series[a] < series[b]; });
    }
    return order;
}

}  // namespace zorp
