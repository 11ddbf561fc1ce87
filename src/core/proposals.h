#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cancel.h"
#include "sax.h"

namespace zorp {

// Windows of the motif length taken from a set of series, each described by the z-normalised
// means of its segments (letters of them per window, one window after the other).
struct ProposalWindows {
    std::vector<int> series;    // the series each window belongs to, ascending, from 0
    std::vector<int> starts;    // its start in points, from 0
    std::vector<double> means;  // letters segment means per window, finite
    int letters = 0;
};

// The alphabets the proposals' words take, in letters per position.
constexpr int min_proposal_alphabet = 2;
constexpr int max_proposal_alphabet = 10;

// Segment means larger than this in magnitude cannot be summed in fixed point (see
// member_sum_unit); z-normalised means stay far below it.
constexpr double max_segment_mean = 1073741824.0;  // 2^30

// The most letters a window may have with an alphabet: the keys number the words of a
// projection, and their count, alphabet^letters, must fit in 64 bits (31 letters with alphabet
// 4, 19 with 10). Throws std::invalid_argument for an alphabet outside 2 to 10.
int most_key_letters(int alphabet);

// Throws std::invalid_argument unless the windows are well formed for the alphabet: one series
// (ascending, from 0), one start (from 0) and letters finite means (below max_segment_mean in
// magnitude) each, at least one letter and at most most_key_letters(alphabet).
void check_windows(const ProposalWindows& windows, int alphabet);

// The proposals' steps, for windows held in parts (each part the windows of some of the series):
// counting the keys, the sums and the nearest window of a key's members can each be computed
// part by part and added up, whatever the parts, into what one part holding every window gives.
// Each step checks its windows first (check_windows).
//
// The keys of every projection of one alphabet's words (projection 0 keeps every letter,
// projection p leaves letter p - 1 out), ascending, each with the windows that hold it and the
// series those windows belong to.
struct KeyCounts {
    std::vector<uint64_t> keys;
    std::vector<int64_t> windows;
    std::vector<int64_t> series;
};
// count_keys, sum_members and nearest_members run on up to `threads` threads, a projection to a
// thread: the same results for any number.
std::vector<KeyCounts> count_keys(const ProposalWindows& windows, int alphabet,
                                  const Cancellation& cancel = Cancellation(), size_t threads = 1);

// A key of one projection.
struct ProposalKey {
    int projection = 0;
    uint64_t key = 0;
};

// Segment means are summed in fixed point, as multiples of 2^-32, so that sums over parts add up
// exactly in any grouping.
constexpr double member_sum_unit = 1.0 / 4294967296.0;

// For each key: the windows that hold it, two fingerprints of which windows they are (sums,
// modulo 2^64, of two hashes of each window's series and start), and the sums of their
// segment means in units of member_sum_unit, letters per key. Sets of windows with equal
// counts and fingerprints are taken to be the same set.
struct MemberSums {
    std::vector<int64_t> counts;
    std::vector<uint64_t> fingerprints;  // two per key
    std::vector<int64_t> sums;           // letters per key
};
MemberSums sum_members(const ProposalWindows& windows, int alphabet,
                       const std::vector<ProposalKey>& keys,
                       const Cancellation& cancel = Cancellation(), size_t threads = 1);

// For each key, its member window whose means are nearest the key's average (letters values per
// key, one key after the other): the sum of squared differences (infinity when the key has no
// window here) and the window (-1 then); the first window in order on a tie.
struct NearestMembers {
    std::vector<double> squares;
    std::vector<int64_t> windows;
};
NearestMembers nearest_members(const ProposalWindows& windows, int alphabet,
                               const std::vector<ProposalKey>& keys,
                               const std::vector<double>& averages,
                               const Cancellation& cancel = Cancellation(), size_t threads = 1);

// The keys of every projection held by at least support series, in the order proposals are
// made from them: by support / sqrt(occurrences per series), highest first, then by the
// projection and the key. Throws std::invalid_argument unless every key has a window and a
// series count, of at least 1 series and at least as many windows.
std::vector<ProposalKey> ranked_keys(const std::vector<KeyCounts>& counts, double support);

// The word of a window under a key's projection: its letters, '.' for the one left out.
std::string word_of(const ProposalWindows& windows, size_t window, int alphabet, int projection);

// The share (0 to 1) of a shape's variance that the best monotone curve (non-decreasing or
// non-increasing) explains, computed on the means of min(points, size) blocks of the shape (the
// block edges are floor(i × size / blocks)). A flat shape, or one of no points, counts as
// monotone: 1.
double monotone_share(const std::vector<double>& shape, int points = 32);

// The shape minus its mean, divided by its population deviation; zeros when it is flat. Scaled
// by its largest deviation from the mean first, so that tiny values do not underflow.
std::vector<double> znormalised(const std::vector<double>& shape);

}  // namespace zorp
