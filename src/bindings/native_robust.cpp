// The robust discovery's kernels in zorp_miner._native: the matching of shapes to series, the
// proposal windows' keys and members, and the realignment of groups of windows.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bind_native.h"
#include "memory_budget.h"
#include "native_args.h"
#include "proposals.h"
#include "realignment.h"
#include "sax.h"
#include "sliding.h"
#include "window_statistics.h"

namespace py = pybind11;

namespace native {
namespace {

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

// Checks prepared_series' and window_words' flatness rules: each finite and at least 0.
zorp::FlatRules flat_rules(double flat_fraction, double floor, double levels) {
    for (const auto& [name, value] :
         {std::pair<const char*, double>{"flat_fraction", flat_fraction},
          {"floor", floor},
          {"levels", levels}}) {
        if (!(value >= 0.0 && value < std::numeric_limits<double>::infinity())) {
            refuse(std::string(name) + " must be a finite number of at least 0",
                   zorp::decimal(value));
        }
    }
    return {flat_fraction, floor, levels};
}

// The steps of the series (NaN for each when None): as many as the series, each at least 0.
std::vector<double> steps_of(const py::object& steps, size_t count) {
    if (steps.is_none()) {
        return std::vector<double>(count, std::nan(""));
    }
    std::vector<double> values = values_of("steps", steps.cast<Doubles>());
    same_length("steps", values.size(), "series", count);
    not_negative("steps", values);
    return values;
}

// Each series prepared for matching windows of m points: (values, deviations, usable,
// weights) per series; steps None for the series' own resolutions. The series are read where
// they lie, and the tables written into the arrays returned.
py::list prepared_series(const std::vector<Doubles>& series, int m, const py::object& steps,
                         double flat_fraction, double floor, double levels, int threads) {
    const size_t workers = checked_threads(threads);
    const size_t points = static_cast<size_t>(whole("m", m, 1, int_max, "points"));
    const std::vector<double> step_values = steps_of(steps, series.size());
    const zorp::FlatRules rules = flat_rules(flat_fraction, floor, levels);
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
                   step_values[i],
                   values.mutable_data(),
                   deviations.mutable_data(),
                   reinterpret_cast<uint8_t*>(usable.mutable_data()),
                   weights.mutable_data()};
        out.append(py::make_tuple(values, deviations, usable, weights));
    }
    {
        py::gil_scoped_release unlocked;
        zorp::prepare_all(work, points, rules, signal_check(), workers);
    }
    return out;
}

// The proposal windows of the series: (owners, starts, means), the means one row of letters
// (at most m) per window.
py::tuple window_words(const std::vector<Doubles>& series, int m, int letters,
                       const py::object& steps, int windows_per_series, double flat_fraction,
                       double floor, double levels, int threads) {
    const size_t workers = checked_threads(threads);
    zorp::WordRules rules;
    rules.m = static_cast<size_t>(whole("m", m, 1, int_max, "points"));
    rules.letters = static_cast<size_t>(whole("letters", letters, 1, int_max, "segments"));
    rules.windows_per_series =
        static_cast<size_t>(whole("windows_per_series", windows_per_series, 1, int_max, "windows"));
    rules.flat = flat_rules(flat_fraction, floor, levels);
    const std::vector<double> step_values = steps_of(steps, series.size());
    std::vector<zorp::SeriesView> views(series.size());
    for (size_t i = 0; i < series.size(); ++i) {
        dimensions(item("series", i), series[i], 1);
        views[i] = {series[i].data(), static_cast<size_t>(series[i].size()), step_values[i]};
    }
    zorp::WindowWords words;
    {
        py::gil_scoped_release unlocked;
        words = zorp::window_words(views, rules, signal_check(), workers);
    }
    // The means, the largest table, handed over without a copy.
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(words.owners.size()),
                                         static_cast<py::ssize_t>(words.letters)};
    auto* held = new std::vector<double>(std::move(words.means));
    const py::capsule owner(held,
                            [](void* table) { delete static_cast<std::vector<double>*>(table); });
    py::array_t<double> means(shape, held->data(), owner);
    return py::make_tuple(array_of(words.owners), array_of(words.starts), means);
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

// The jump added to each segment of a series' null (zorp_miner.compute.evidence.shuffled), in
// the segments' new order: the gap from the point placed before the segment to the point before
// it in the series (befores), carried over from the last segment's end (ends) through the
// series' memory at that segment's size (tails); NaN for the first segment, and after a jump or
// end that is NaN. One segment after another: each jump depends on the one before it.
py::array_t<double> segment_jumps(const Doubles& befores, const Doubles& ends,
                                  const Doubles& tails) {
    const std::vector<double> before = values_of("befores", befores);
    const std::vector<double> end = values_of("ends", ends);
    const std::vector<double> tail = values_of("tails", tails);
    if (end.size() != before.size() || tail.size() != before.size()) {
        refuse("ends and tails must have one value per entry of befores (" +
                   std::to_string(before.size()) + ")",
               std::to_string(end.size()) + " and " + std::to_string(tail.size()));
    }
    std::vector<double> jumps(before.size());
    double last = std::numeric_limits<double>::quiet_NaN();
    for (size_t k = 0; k < before.size(); ++k) {
        const double jump = last - before[k];
        jumps[k] = jump;
        if (std::isfinite(jump)) {
            const double carried = jump * tail[k];
            last = end[k] + carried;
        } else {
            last = end[k];
        }
    }
    return array_of(jumps);
}

}  // namespace

void bind_robust(py::module_& m) {
    m.def("best_correlations", &best_correlations, py::arg("values"), py::arg("weights"),
          py::arg("shapes"), py::kw_only(), py::arg("threads") = 1);
    m.def("prepared_series", &prepared_series, py::arg("series"), py::arg("m"), py::arg("steps"),
          py::arg("flat_fraction"), py::arg("floor"), py::arg("levels"), py::kw_only(),
          py::arg("threads") = 1);
    m.def("window_words", &window_words, py::arg("series"), py::arg("m"), py::arg("letters"),
          py::arg("steps"), py::arg("windows_per_series"), py::arg("flat_fraction"),
          py::arg("floor"), py::arg("levels"), py::kw_only(), py::arg("threads") = 1);
    m.def("monotone_share", &monotone_share, py::arg("shape"), py::arg("points") = 32);
    m.def("realignment_sums", &realignment_sums, py::arg("rows"), py::arg("members"),
          py::arg("scales"), py::arg("m"), py::arg("first"), py::arg("step"), py::arg("bound"),
          py::kw_only(), py::arg("threads") = 1);
    m.def("count_keys", &count_keys, py::arg("owners"), py::arg("starts"), py::arg("means"),
          py::arg("alphabet"), py::kw_only(), py::arg("threads") = 1);
    m.def("ranked_keys", &ranked_keys, py::arg("counts"), py::arg("support"));
    m.def("sum_members", &sum_members, py::arg("owners"), py::arg("starts"), py::arg("means"),
          py::arg("alphabet"), py::arg("projections"), py::arg("keys"), py::kw_only(),
          py::arg("threads") = 1);
    m.def("nearest_members", &nearest_members, py::arg("owners"), py::arg("starts"),
          py::arg("means"), py::arg("alphabet"), py::arg("projections"), py::arg("keys"),
          py::arg("averages"), py::kw_only(), py::arg("threads") = 1);
    m.def("proposal_word", &proposal_word, py::arg("means"), py::arg("alphabet"),
          py::arg("projection"));
    m.def("znormalised", &znormalised, py::arg("shape"));
    m.def("segment_jumps", &segment_jumps, py::arg("befores"), py::arg("ends"), py::arg("tails"));
}

}  // namespace native
