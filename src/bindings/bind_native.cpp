// The module zorp_miner._native: the robust discovery's kernels, and the steps of an exact run
// over series held in parts (on the workers of a cluster), for the package's own use.
// Conversions between numpy arrays and the core's containers only.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bind_errors.h"
#include "discords.h"
#include "miner.h"
#include "motif.h"
#include "motif_parts.h"
#include "native_args.h"
#include "nearest_profile.h"
#include "patterns.h"
#include "proposals.h"
#include "sax.h"
#include "sliding.h"
#include "window_statistics.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs; see bind.cpp.
#pragma weak _PyThreadState_UncheckedGet

namespace py = pybind11;

namespace native {
namespace {

// ---------------------------------------------------------------------------------------------
// The robust discovery's kernels

py::tuple best_correlations(const std::vector<Doubles>& values, const std::vector<Doubles>& weights,
                            const Doubles& shapes, int threads) {
    const size_t workers = checked_threads(threads);
    const zorp::SeriesSet shape_rows = rows_of("shapes", shapes, 1);
    finite("shapes", shape_rows);
    const zorp::SeriesSet value_rows = rows_of("values", values);
    finite("values", value_rows);
    const zorp::SeriesSet weight_rows = rows_of("weights", weights);
    for (size_t i = 0; i < weight_rows.size(); ++i) {
        not_negative(item("weights", i), weight_rows[i]);
    }
    zorp::BestMatches best;
    {
        py::gil_scoped_release unlocked;
        best =
            zorp::best_correlations(value_rows, weight_rows, shape_rows, signal_check(), workers);
    }
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(shape_rows.size()),
                                         static_cast<py::ssize_t>(values.size())};
    py::array_t<int64_t> starts(shape, best.starts.data());
    py::array_t<double> correlations(shape, best.correlations.data());
    return py::make_tuple(starts, correlations);
}

// The proposal windows of owners, starts and means, for an alphabet already checked.
zorp::ProposalWindows windows_of(const Integers& owners, const Integers& starts,
                                 const Doubles& means, int alphabet) {
    zorp::ProposalWindows windows;
    windows.series = ints_of("owners", owners, 0, int_max, "series indexes");
    for (size_t w = 1; w < windows.series.size(); ++w) {
        if (windows.series[w] < windows.series[w - 1]) {
            refuse("owners must be in ascending order",
                   std::to_string(windows.series[w]) + " after " +
                       std::to_string(windows.series[w - 1]) + " at " + std::to_string(w));
        }
    }
    windows.starts = ints_of("starts", starts, 0, int_max, "window starts (points)");
    same_length("starts", windows.starts.size(), "owners", windows.series.size());
    const int most = zorp::most_key_letters(alphabet);
    dimensions("means", means, 2);
    if (means.shape(1) < 1 || means.shape(1) > most) {
        refuse("means must have 1 to " + std::to_string(most) +
                   " columns (letters per window) with alphabet " + std::to_string(alphabet) +
                   ", so that every key fits in 64 bits",
               std::to_string(means.shape(1)));
    }
    same_length("means' rows", static_cast<size_t>(means.shape(0)), "owners",
                windows.series.size());
    windows.letters = static_cast<int>(means.shape(1));
    windows.means.assign(means.data(), means.data() + means.size());
    below("means", windows.means, zorp::max_segment_mean,
          "finite segment means below " + zorp::decimal(zorp::max_segment_mean) + " in magnitude");
    return windows;
}

// Each series prepared for matching windows of m points: (values, deviations, usable,
// weights) per series; steps None for the series' own resolutions. The series are read where
// they lie, and the tables written into the arrays returned.
py::list prepared_series(const std::vector<Doubles>& series, int m, const py::object& steps,
                         double flat_fraction, double floor, double levels, int threads) {
    const size_t workers = checked_threads(threads);
    const size_t points = static_cast<size_t>(whole("m", m, 1, int_max, "points"));
    std::vector<double> step_values;
    if (!steps.is_none()) {
        step_values = values_of("steps", steps.cast<Doubles>());
        same_length("steps", step_values.size(), "series", series.size());
        not_negative("steps", step_values);
    }
    for (const auto& [name, value] :
         {std::pair<const char*, double>{"flat_fraction", flat_fraction},
          {"floor", floor},
          {"levels", levels}}) {
        if (!(value >= 0.0 && value < std::numeric_limits<double>::infinity())) {
            refuse(std::string(name) + " must be a finite number of at least 0",
                   zorp::decimal(value));
        }
    }
    py::list out;
    std::vector<zorp::SeriesToPrepare> work(series.size());
    for (size_t i = 0; i < series.size(); ++i) {
        dimensions(item("series", i), series[i], 1);
        const auto n = static_cast<py::ssize_t>(series[i].size());
        const py::ssize_t windows = n >= m ? n - m + 1 : 0;
        py::array_t<double> values(n);
        py::array_t<double> deviations(windows);
        py::array_t<bool> usable(windows);
        py::array_t<double> weights(windows);
        work[i] = {series[i].data(),
                   static_cast<size_t>(n),
                   step_values.empty() ? std::nan("") : step_values[i],
                   values.mutable_data(),
                   deviations.mutable_data(),
                   reinterpret_cast<uint8_t*>(usable.mutable_data()),
                   weights.mutable_data()};
        out.append(py::make_tuple(values, deviations, usable, weights));
    }
    {
        py::gil_scoped_release unlocked;
        zorp::prepare_all(work, points, {flat_fraction, floor, levels}, signal_check(), workers);
    }
    return out;
}

using Keys = Array<uint64_t>;

// The keys asked for, each of projection 0 (every letter) to letters (letter letters - 1 left
// out).
std::vector<zorp::ProposalKey> keys_of(const Integers& projections, const Keys& keys, int letters) {
    const std::vector<int> projected =
        ints_of("projections", projections, 0, letters, "letters left out (0 for none)");
    dimensions("keys", keys, 1);
    same_length("keys", static_cast<size_t>(keys.size()), "projections", projected.size());
    std::vector<zorp::ProposalKey> out(projected.size());
    for (size_t e = 0; e < out.size(); ++e) {
        out[e] = {projected[e], keys.data()[e]};
    }
    return out;
}

py::list count_keys(const Integers& owners, const Integers& starts, const Doubles& means,
                    int alphabet, int threads) {
    const size_t workers = checked_threads(threads);
    const zorp::ProposalWindows windows =
        windows_of(owners, starts, means, checked_alphabet(alphabet));
    std::vector<zorp::KeyCounts> counts;
    {
        py::gil_scoped_release unlocked;
        counts = zorp::count_keys(windows, alphabet, signal_check(), workers);
    }
    py::list out;
    for (const zorp::KeyCounts& projected : counts) {
        out.append(py::make_tuple(array_of(projected.keys), array_of(projected.windows),
                                  array_of(projected.series)));
    }
    return out;
}

py::tuple ranked_keys(const std::vector<std::tuple<Keys, Integers, Integers>>& counts,
                      double support) {
    std::vector<zorp::KeyCounts> native(counts.size());
    for (size_t p = 0; p < counts.size(); ++p) {
        const std::string name = item("counts", p);
        const auto& [keys, windows, series] = counts[p];
        dimensions(name + "'s keys", keys, 1);
        dimensions(name + "'s window counts", windows, 1);
        dimensions(name + "'s series counts", series, 1);
        same_length(name + "'s window counts", static_cast<size_t>(windows.size()), "its keys",
                    static_cast<size_t>(keys.size()));
        same_length(name + "'s series counts", static_cast<size_t>(series.size()), "its keys",
                    static_cast<size_t>(keys.size()));
        native[p].keys.assign(keys.data(), keys.data() + keys.size());
        native[p].windows.assign(windows.data(), windows.data() + windows.size());
        native[p].series.assign(series.data(), series.data() + series.size());
        for (size_t k = 0; k < native[p].keys.size(); ++k) {
            if (native[p].series[k] < 1 || native[p].windows[k] < native[p].series[k]) {
                refuse(name +
                           " must count at least 1 series per key and at least as many "
                           "windows as series",
                       std::to_string(native[p].windows[k]) + " windows in " +
                           std::to_string(native[p].series[k]) + " series at " + std::to_string(k));
            }
        }
    }
    if (std::isnan(support)) {
        refuse("support must be a number of series", "nan");
    }
    std::vector<zorp::ProposalKey> ranked;
    {
        py::gil_scoped_release unlocked;
        ranked = zorp::ranked_keys(native, support);
    }
    std::vector<int64_t> projections;
    std::vector<uint64_t> keys;
    for (const zorp::ProposalKey& key : ranked) {
        projections.push_back(key.projection);
        keys.push_back(key.key);
    }
    return py::make_tuple(array_of(projections), array_of(keys));
}

py::tuple sum_members(const Integers& owners, const Integers& starts, const Doubles& means,
                      int alphabet, const Integers& projections, const Keys& keys, int threads) {
    const size_t workers = checked_threads(threads);
    const zorp::ProposalWindows windows =
        windows_of(owners, starts, means, checked_alphabet(alphabet));
    const std::vector<zorp::ProposalKey> wanted = keys_of(projections, keys, windows.letters);
    zorp::MemberSums sums;
    {
        py::gil_scoped_release unlocked;
        sums = zorp::sum_members(windows, alphabet, wanted, signal_check(), workers);
    }
    const auto count = static_cast<py::ssize_t>(wanted.size());
    const std::vector<py::ssize_t> pairs{count, 2};
    const std::vector<py::ssize_t> letters{count, static_cast<py::ssize_t>(windows.letters)};
    return py::make_tuple(array_of(sums.counts),
                          py::array_t<uint64_t>(pairs, sums.fingerprints.data()),
                          py::array_t<int64_t>(letters, sums.sums.data()));
}

py::tuple nearest_members(const Integers& owners, const Integers& starts, const Doubles& means,
                          int alphabet, const Integers& projections, const Keys& keys,
                          const Doubles& averages, int threads) {
    const size_t workers = checked_threads(threads);
    const zorp::ProposalWindows windows =
        windows_of(owners, starts, means, checked_alphabet(alphabet));
    const std::vector<zorp::ProposalKey> wanted = keys_of(projections, keys, windows.letters);
    dimensions("averages", averages, 2);
    if (static_cast<size_t>(averages.shape(0)) != wanted.size() ||
        averages.shape(1) != windows.letters) {
        refuse("averages must have one row per key and one column per letter (" +
                   std::to_string(wanted.size()) + " x " + std::to_string(windows.letters) + ")",
               std::to_string(averages.shape(0)) + " x " + std::to_string(averages.shape(1)));
    }
    std::vector<double> centres(averages.data(), averages.data() + averages.size());
    finite("averages", centres);
    zorp::NearestMembers nearest;
    {
        py::gil_scoped_release unlocked;
        nearest =
            zorp::nearest_members(windows, alphabet, wanted, centres, signal_check(), workers);
    }
    return py::make_tuple(array_of(nearest.squares), array_of(nearest.windows));
}

// The realignment sums of groups of windows (see zorp::realignment_sums): (groups, starts, m)
// int64 and (groups, starts) bool. Rows may hold NaN and infinities: such windows are not usable.
py::tuple realignment_sums(const Doubles& rows, const Integers& members, const Doubles& scales,
                           int m, int first, int step, double bound, int threads) {
    const size_t workers = checked_threads(threads);
    const zorp::SeriesSet row_values = rows_of("rows", rows);
    const std::vector<int> counts = ints_of("members", members, 0, int_max, "rows");
    const std::vector<double> group_scales = values_of("scales", scales);
    same_length("scales", group_scales.size(), "members", counts.size());
    for (size_t g = 0; g < group_scales.size(); ++g) {
        if (!(group_scales[g] > 0.0) || !std::isfinite(group_scales[g])) {
            refuse("scales must be finite numbers above 0",
                   zorp::decimal(group_scales[g]) + " at " + std::to_string(g));
        }
    }
    whole("m", m, 1, int_max, "points");
    whole("first", first, 0, int_max, "points");
    whole("step", step, 1, int_max, "points");
    if (!(bound >= 0.0) || !std::isfinite(bound)) {
        refuse("bound must be a finite number of at least 0", zorp::decimal(bound));
    }
    const std::vector<size_t> sizes(counts.begin(), counts.end());
    zorp::RealignmentSums sums;
    {
        py::gil_scoped_release unlocked;
        sums = zorp::realignment_sums(row_values, sizes, group_scales, static_cast<size_t>(m),
                                      static_cast<size_t>(first), static_cast<size_t>(step), bound,
                                      signal_check(), workers);
    }
    const auto groups = static_cast<py::ssize_t>(sizes.size());
    const auto starts = static_cast<py::ssize_t>(sums.starts);
    py::array_t<int64_t> totals(
        std::vector<py::ssize_t>{groups, starts, static_cast<py::ssize_t>(m)}, sums.sums.data());
    py::array_t<bool> usable(std::vector<py::ssize_t>{groups, starts});
    std::copy(sums.usable.begin(), sums.usable.end(), usable.mutable_data());
    return py::make_tuple(totals, usable);
}

// The top discords of one series (see zorp::within_discords): starts, neighbours (int64) and
// distances (float64), farthest first.
// One series as the within-series kernels take it: its points (finite), and one weight (at
// least 0) per window of m points.
std::pair<std::vector<double>, std::vector<double>> series_windows(const Doubles& values,
                                                                   const Doubles& weights, int m) {
    std::vector<double> points = values_of("values", values);
    finite("values", points);
    std::vector<double> window_weights = values_of("weights", weights);
    not_negative("weights", window_weights);
    whole("m", m, 1, int_max, "points");
    if (points.size() < static_cast<size_t>(m) ||
        window_weights.size() != points.size() - static_cast<size_t>(m) + 1) {
        refuse("weights must hold one value per window, len(values) - m + 1",
               std::to_string(window_weights.size()) + " for " + std::to_string(points.size()) +
                   " values and m " + std::to_string(m));
    }
    return {std::move(points), std::move(window_weights)};
}

py::tuple within_discords(const Doubles& values, const Doubles& weights, int m, int exclusion,
                          int top, int threads) {
    const size_t workers = checked_threads(threads);
    const auto [points, window_weights] = series_windows(values, weights, m);
    whole("exclusion", exclusion, 0, m - 1, "points");
    whole("top", top, 0, int_max, "discords");
    zorp::Discords found;
    {
        py::gil_scoped_release unlocked;
        found = zorp::within_discords(points, window_weights, static_cast<size_t>(m),
                                      static_cast<size_t>(exclusion), static_cast<size_t>(top),
                                      signal_check(), workers);
    }
    return py::make_tuple(array_of(found.starts), array_of(found.neighbours),
                          array_of(found.distances));
}

// Each window's highest correlation with a window more than exclusion points away (NaN where
// none is usable), values and weights as within_discords takes them.
py::array_t<double> nearest_profile(const Doubles& values, const Doubles& weights, int m,
                                    int exclusion, int threads) {
    const size_t workers = checked_threads(threads);
    const auto [points, window_weights] = series_windows(values, weights, m);
    whole("exclusion", exclusion, 0, int_max, "points");
    zorp::NearestProfile profile;
    {
        py::gil_scoped_release unlocked;
        profile = zorp::nearest_profile(points, window_weights, static_cast<size_t>(m),
                                        static_cast<size_t>(exclusion), signal_check(), workers);
    }
    return array_of(profile.correlations);
}

double monotone_share(const Doubles& shape, int points) {
    const std::vector<double> values = values_of("shape", shape);
    finite("shape", values);
    whole("points", points, 1, int_max, "blocks");
    py::gil_scoped_release unlocked;
    return zorp::monotone_share(values, points);
}

std::string proposal_word(const Doubles& means, int alphabet, int projection) {
    checked_alphabet(alphabet);
    zorp::ProposalWindows window;
    window.means = values_of("means", means);
    finite("means", window.means);
    window.letters = static_cast<int>(window.means.size());
    whole("projection", projection, 0, window.letters, "letters (0 for the whole word)");
    window.series = {0};
    window.starts = {0};
    return zorp::word_of(window, 0, alphabet, projection);
}

py::array_t<double> znormalised(const Doubles& shape) {
    const std::vector<double> values = values_of("shape", shape);
    std::vector<double> out;
    {
        py::gil_scoped_release unlocked;
        out = zorp::znormalised(values);
    }
    return array_of(out);
}

// ---------------------------------------------------------------------------------------------
// The steps of an exact run over series held in parts

using Int32s = Array<int32_t>;
using Int64s = Array<int64_t>;

py::array_t<double> matrix_of(const std::vector<double>& values, size_t rows, size_t columns) {
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows),
                                         static_cast<py::ssize_t>(columns)};
    return py::array_t<double>(shape, values.data());
}

std::vector<py::bytes> normalised_words(const std::vector<Doubles>& series, int seglen,
                                        int alphabet) {
    zorp::SeriesSet rows = rows_of("series", series);
    whole("seglen", seglen, 1, int_max, "points per letter");
    checked_alphabet(alphabet);
    zorp::WordSet words;
    {
        py::gil_scoped_release unlocked;
        const zorp::Cancellation cancel = signal_check();
        zorp::znorm(rows, cancel);
        words = zorp::sax(rows, seglen, alphabet, cancel);
    }
    std::vector<py::bytes> out;
    out.reserve(words.size());
    for (const zorp::Word& word : words) {
        out.emplace_back(word);
    }
    return out;
}

// Each frequent pattern as (pattern, group series, group ends, positions): the series of each
// group of occurrences in recorded order, the end of each group in positions, and the letter
// positions, in the order Miner::mine_patterns lists the patterns.
py::list mine_words(const std::vector<std::string>& words, double minsup, int min_len, int max_len,
                    double max_overlap) {
    fraction("minsup", minsup, true);
    whole("min_len", min_len, 1, int_max, "letters");
    if (max_len != 0 && max_len < min_len) {
        refuse("max_len must be 0 (no limit) or at least min_len (" + std::to_string(min_len) +
                   ") letters",
               std::to_string(max_len));
    }
    fraction("max_overlap", max_overlap, false);
    zorp::FrequentTable table;
    {
        py::gil_scoped_release unlocked;
        zorp::PatternMiner miner(minsup, min_len, max_len, max_overlap);
        miner.mine(words, signal_check());
        table = miner.take_frequent();
    }
    py::list out;
    for (const auto& [pattern, motif] : table) {
        const zorp::Occurrences& occurrences = motif.occurrences();
        const size_t groups = occurrences.series_count();
        std::vector<int32_t> series(groups);
        std::vector<int64_t> ends(groups);
        std::vector<int32_t> positions;
        positions.reserve(occurrences.position_count());
        for (size_t group = 0; group < groups; ++group) {
            series[group] = occurrences.series_at(group);
            positions.insert(positions.end(), occurrences.begin_of(group),
                             occurrences.end_of(group));
            ends[group] = static_cast<int64_t>(positions.size());
        }
        out.append(py::make_tuple(py::bytes(pattern), array_of(series), array_of(ends),
                                  array_of(positions)));
    }
    return out;
}

using PartMotif = std::tuple<int64_t, Int32s, Int64s, Int32s>;

// The motifs' occurrences in the part of the set whose first series is first: each group of a
// motif holds at least one occurrence, in a series of the part, that lies inside the series'
// word (ceil(points / seglen) letters).
std::vector<zorp::PartOccurrences> part_occurrences(const std::vector<PartMotif>& motifs,
                                                    const zorp::SeriesSet& rows, int first,
                                                    int seglen) {
    whole("first", first, 0, int_max - static_cast<int>(std::min<size_t>(rows.size(), int_max)),
          "series (the index of the part's first series)");
    whole("seglen", seglen, 1, int_max, "points per letter");
    std::vector<zorp::PartOccurrences> parts;
    parts.reserve(motifs.size());
    for (size_t k = 0; k < motifs.size(); ++k) {
        const std::string name = item("motifs", k);
        const auto& [letters, series, ends, positions] = motifs[k];
        zorp::PartOccurrences& part = parts.emplace_back();
        if (letters < 1 || letters > int_max / seglen) {
            refuse(name + "'s letters must be at least 1, and at most " +
                       std::to_string(int_max / seglen) + " with seglen " + std::to_string(seglen) +
                       " (a motif's length must fit in 32 bits)",
                   std::to_string(letters));
        }
        part.letters = static_cast<size_t>(letters);
        part.length = static_cast<int>(letters * seglen);
        dimensions(name + "'s series", series, 1);
        dimensions(name + "'s ends", ends, 1);
        dimensions(name + "'s positions", positions, 1);
        same_length(name + "'s ends", static_cast<size_t>(ends.size()), "its series",
                    static_cast<size_t>(series.size()));
        part.series.assign(series.data(), series.data() + series.size());
        part.ends.assign(ends.data(), ends.data() + ends.size());
        part.positions.assign(positions.data(), positions.data() + positions.size());
        int64_t previous = 0;
        for (size_t group = 0; group < part.series.size(); ++group) {
            const int64_t index = static_cast<int64_t>(part.series[group]) - first;
            if (index < 0 || static_cast<size_t>(index) >= rows.size()) {
                refuse(name + "'s series must be indexes of the part's series, " +
                           range_text(first, first + static_cast<int64_t>(rows.size()) - 1),
                       std::to_string(part.series[group]) + " at " + std::to_string(group));
            }
            part.series[group] = static_cast<int32_t>(index);
            const int64_t end = part.ends[group];
            if (end <= previous || end > static_cast<int64_t>(part.positions.size()) ||
                (group + 1 == part.series.size() &&
                 end != static_cast<int64_t>(part.positions.size()))) {
                refuse(name +
                           "'s ends must rise from group to group (each group holds a "
                           "position) up to the number of positions (" +
                           std::to_string(part.positions.size()) + ")",
                       std::to_string(end) + " at " + std::to_string(group));
            }
            const size_t points = rows[static_cast<size_t>(index)].size();
            const int64_t word = static_cast<int64_t>((points + static_cast<size_t>(seglen) - 1) /
                                                      static_cast<size_t>(seglen));
            const int64_t last_start = word - letters;
            for (int64_t at = previous; at < end; ++at) {
                const int32_t position = part.positions[static_cast<size_t>(at)];
                if (position < 0 || position > last_start) {
                    refuse(name + "'s positions must be letter positions from 0 to " +
                               std::to_string(last_start) + " in series " +
                               std::to_string(part.series[group] + first) + " (a word of " +
                               std::to_string(word) + " letters)",
                           std::to_string(position) + " at " + std::to_string(at));
                }
            }
            previous = end;
        }
        if (part.series.empty() && !part.positions.empty()) {
            refuse(name + "'s positions must belong to groups", "none");
        }
    }
    return parts;
}

py::list part_averages(const std::vector<Doubles>& series, int first,
                       const std::vector<PartMotif>& motifs, int seglen) {
    const zorp::SeriesSet rows = rows_of("series", series);
    const std::vector<zorp::PartOccurrences> parts = part_occurrences(motifs, rows, first, seglen);
    std::vector<std::vector<double>> averages;
    {
        py::gil_scoped_release unlocked;
        averages = zorp::part_averages(rows, parts, seglen, signal_check());
    }
    py::list out;
    for (size_t k = 0; k < parts.size(); ++k) {
        out.append(
            matrix_of(averages[k], parts[k].series.size(), static_cast<size_t>(parts[k].length)));
    }
    return out;
}

// Sums and counts of equal length, the counts finite and not negative.
void check_sums(const std::vector<double>& sums, const std::vector<double>& counts) {
    same_length("counts", counts.size(), "sums", sums.size());
    not_negative("counts", counts);
}

py::tuple add_to_representative(const Doubles& sums, const Doubles& counts,
                                const Doubles& averages) {
    std::vector<double> total = values_of("sums", sums);
    std::vector<double> counted = values_of("counts", counts);
    check_sums(total, counted);
    const zorp::SeriesSet rows = rows_of("averages", averages);
    if (!rows.empty()) {
        same_length("averages' columns", rows.front().size(), "sums", total.size());
    }
    {
        py::gil_scoped_release unlocked;
        for (const std::vector<double>& average : rows) {
            zorp::add_to_representative(average, total, counted);
        }
    }
    return py::make_tuple(array_of(total), array_of(counted));
}

py::array_t<double> representative_from(const Doubles& sums, const Doubles& counts) {
    const std::vector<double> total = values_of("sums", sums);
    const std::vector<double> counted = values_of("counts", counts);
    check_sums(total, counted);
    std::vector<double> representative;
    {
        py::gil_scoped_release unlocked;
        representative = zorp::representative_from(total, counted);
    }
    return array_of(representative);
}

py::list part_best_matches(const std::vector<Doubles>& series, int first,
                           const std::vector<PartMotif>& motifs,
                           const std::vector<Doubles>& representatives, int seglen) {
    const zorp::SeriesSet rows = rows_of("series", series);
    const std::vector<zorp::PartOccurrences> parts = part_occurrences(motifs, rows, first, seglen);
    same_length("representatives", representatives.size(), "motifs", parts.size());
    const zorp::SeriesSet centres = rows_of("representatives", representatives);
    for (size_t k = 0; k < parts.size(); ++k) {
        same_length(item("representatives", k) + " (points)", centres[k].size(),
                    item("motifs", k) + "'s length, letters x seglen",
                    static_cast<size_t>(parts[k].length));
    }
    std::vector<zorp::PartMatches> matches;
    {
        py::gil_scoped_release unlocked;
        matches = zorp::part_best_matches(rows, parts, centres, seglen, signal_check());
    }
    py::list out;
    for (const zorp::PartMatches& found : matches) {
        out.append(py::make_tuple(array_of(found.starts), array_of(found.naed_terms),
                                  array_of(found.distances)));
    }
    return out;
}

py::array_t<int64_t> motif_lengths(const Integers& letters, int seglen) {
    whole("seglen", seglen, 1, int_max, "points per letter");
    const std::vector<int> counted = ints_of("letters", letters, 1, int_max, "letters");
    std::vector<int64_t> lengths(counted.size());
    for (size_t k = 0; k < counted.size(); ++k) {
        lengths[k] = zorp::motif_length(seglen, static_cast<size_t>(counted[k]));
    }
    return array_of(lengths);
}

void refuse_oversized_statistics(const Integers& lengths, const Integers& supports) {
    const std::vector<int> points = ints_of("lengths", lengths, 1, int_max, "points");
    const std::vector<int> series = ints_of("supports", supports, 0, int_max, "series");
    same_length("supports", series.size(), "lengths", points.size());
    double needed = 0.0;
    for (size_t k = 0; k < points.size(); ++k) {
        needed += zorp::statistics_bytes(points[k], series[k]);
    }
    zorp::refuse_statistics_beyond_budget(points.size(), needed);
}

py::array_t<int64_t> ranking_order(const Doubles& naeds) {
    const std::vector<double> values = values_of("naeds", naeds);
    std::vector<size_t> order;
    {
        py::gil_scoped_release unlocked;
        order = zorp::ranking_order(values);
    }
    return array_of(std::vector<int64_t>(order.begin(), order.end()));
}

}  // namespace
}  // namespace native

PYBIND11_MODULE(_native, m) {
    translate_memory_refusals();
    m.def("best_correlations", &native::best_correlations, py::arg("values"), py::arg("weights"),
          py::arg("shapes"), py::kw_only(), py::arg("threads") = 1);
    m.def("prepared_series", &native::prepared_series, py::arg("series"), py::arg("m"),
          py::arg("steps"), py::arg("flat_fraction"), py::arg("floor"), py::arg("levels"),
          py::kw_only(), py::arg("threads") = 1);
    m.def("within_discords", &native::within_discords, py::arg("values"), py::arg("weights"),
          py::arg("m"), py::arg("exclusion"), py::arg("top"), py::kw_only(),
          py::arg("threads") = 1);
    m.def("nearest_profile", &native::nearest_profile, py::arg("values"), py::arg("weights"),
          py::arg("m"), py::arg("exclusion"), py::kw_only(), py::arg("threads") = 1);
    m.def("monotone_share", &native::monotone_share, py::arg("shape"), py::arg("points") = 32);
    m.def("realignment_sums", &native::realignment_sums, py::arg("rows"), py::arg("members"),
          py::arg("scales"), py::arg("m"), py::arg("first"), py::arg("step"), py::arg("bound"),
          py::kw_only(), py::arg("threads") = 1);
    m.def("count_keys", &native::count_keys, py::arg("owners"), py::arg("starts"), py::arg("means"),
          py::arg("alphabet"), py::kw_only(), py::arg("threads") = 1);
    m.def("ranked_keys", &native::ranked_keys, py::arg("counts"), py::arg("support"));
    m.def("sum_members", &native::sum_members, py::arg("owners"), py::arg("starts"),
          py::arg("means"), py::arg("alphabet"), py::arg("projections"), py::arg("keys"),
          py::kw_only(), py::arg("threads") = 1);
    m.def("nearest_members", &native::nearest_members, py::arg("owners"), py::arg("starts"),
          py::arg("means"), py::arg("alphabet"), py::arg("projections"), py::arg("keys"),
          py::arg("averages"), py::kw_only(), py::arg("threads") = 1);
    m.def("proposal_word", &native::proposal_word, py::arg("means"), py::arg("alphabet"),
          py::arg("projection"));
    m.def("znormalised", &native::znormalised, py::arg("shape"));
    m.def("normalised_words", &native::normalised_words, py::arg("series"), py::arg("seglen"),
          py::arg("alphabet"));
    m.def("mine_words", &native::mine_words, py::arg("words"), py::arg("minsup"),
          py::arg("min_len"), py::arg("max_len"), py::arg("max_overlap"));
    m.def("part_averages", &native::part_averages, py::arg("series"), py::arg("first"),
          py::arg("motifs"), py::arg("seglen"));
    m.def("add_to_representative", &native::add_to_representative, py::arg("sums"),
          py::arg("counts"), py::arg("averages"));
    m.def("representative_from", &native::representative_from, py::arg("sums"), py::arg("counts"));
    m.def("part_best_matches", &native::part_best_matches, py::arg("series"), py::arg("first"),
          py::arg("motifs"), py::arg("representatives"), py::arg("seglen"));
    m.def("ranking_order", &native::ranking_order, py::arg("naeds"));
    m.def("motif_lengths", &native::motif_lengths, py::arg("letters"), py::arg("seglen"));
    m.def("refuse_oversized_statistics", &native::refuse_oversized_statistics, py::arg("lengths"),
          py::arg("supports"));
}
