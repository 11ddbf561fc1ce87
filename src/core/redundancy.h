#pragma once

#include <string_view>
#include <vector>

#include "cancel.h"

namespace zorp {

// The redundancy pass of the pattern miner: which patterns of a list of distinct patterns,
// longest first, the redundancy rule removes. Each pattern q, in list order and not removed
// itself, removes every pattern p not longer than q whose longest common subsequence with q
// covers more than max_overlap of p's letters. memory_budget is what the pass's tables of
// letter counts may take (std::length_error beyond it). Counts its work on cancel.
std::vector<char> redundancy_removals(const std::vector<std::string_view>& kept, double max_overlap,
                                      double memory_budget, const Cancellation& cancel);

}  // namespace zorp
