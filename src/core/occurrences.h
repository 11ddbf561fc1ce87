#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "sax.h"

namespace zorp {

// Series index -> letter positions at which a pattern starts, in the order recorded.
using IndexTable = std::unordered_map<int, std::vector<int>>;

// Where a pattern occurs: start positions grouped by series. Groups keep the order in which
// their series was first recorded, positions the order in which they were recorded. One flat
// list for all series keeps a pattern's record at three allocations however many series it
// occurs in; the miner records series in ascending order, which finds a series' group in
// constant time.
class Occurrences {
  public:
    void add(int series_index, int position) {
        // The common case, another position of the series recorded last, stays inline.
        if (!series.empty() && series.back() == series_index) {
            positions.push_back(position);
            ends.back() = positions.size();
            return;
        }
        append(series_index, &position, &position + 1);
    }
    void add(int series, const std::vector<int>& positions);
    // Replaces the record with the given groups: series in order, the offset in positions where
    // each series' positions start, and the positions.
    void assign_groups(const std::vector<int>& series, const std::vector<size_t>& starts,
                       const std::vector<int>& positions);

    size_t series_count() const { return series.size(); }
    size_t position_count() const { return positions.size(); }
    int series_at(size_t group) const { return series[group]; }
    const int* begin_of(size_t group) const { return positions.data() + start_of(group); }
    const int* end_of(size_t group) const { return positions.data() + ends[group]; }

    IndexTable to_table() const;
    // Group numbers in ascending series order.
    std::vector<size_t> groups_by_series() const;

  private:
    size_t start_of(size_t group) const { return group == 0 ? 0 : ends[group - 1]; }
    size_t group_of(int wanted) const;
    void append(int series, const int* first, const int* last);

    std::vector<int> series;
    std::vector<size_t> ends;  // one past each group's last position in positions
    std::vector<int> positions;
    bool ascending = true;
};

// Points of an occurrence of length points from start on that exist in the series: a start
// past the end covers none.
inline size_t points_present(const Series& series, int64_t start, int length) {
    if (start < 0 || static_cast<uint64_t>(start) >= series.size()) {
        return 0;
    }
    const size_t left = series.size() - static_cast<size_t>(start);
    return std::min(left, static_cast<size_t>(std::max(length, 0)));
}

}  // namespace zorp
