// The module zorp_miner._native: the robust discovery's kernels, and the steps of an exact run
// over series held in parts (on the workers of a cluster), for the package's own use.
// Conversions between numpy arrays and the core's containers only.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "miner.h"
#include "motif.h"
#include "patterns.h"
#include "proposals.h"
#include "sax.h"
#include "sliding.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs; see bind.cpp.
#pragma weak _PyThreadState_UncheckedGet

namespace py = pybind11;

namespace {

// Arrays are read in place when they are C-contiguous and aligned, and copied otherwise: the
// arguments of a task on a cluster's worker arrive through pickle, whose buffers may start at
// any byte.
constexpr int in_place =
    py::array::c_style | py::array::forcecast | py::detail::npy_api::NPY_ARRAY_ALIGNED_;
template <typename T>
using Array = py::array_t<T, in_place>;
using Doubles = Array<double>;
using Integers = Array<int64_t>;

// The interpreter's signal check, as the check of the core's long loops, which run without the
// interpreter lock: the check takes it, and a pending signal runs its handler there; a handler
// that raises (Ctrl-C's raises KeyboardInterrupt) stops the call with its exception. Outside the
// main thread (a cluster worker's tasks) there is never a signal to handle.
zorp::Cancellation signal_check() {
    return zorp::Cancellation([] {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    });
}

std::vector<double> values_of(const Doubles& array) {
    if (array.ndim() != 1) {
        throw py::value_error("expected a 1-D array, got " + std::to_string(array.ndim()) +
                              " dimensions");
    }
    return std::vector<double>(array.data(), array.data() + array.size());
}

zorp::SeriesSet rows_of(const std::vector<Doubles>& arrays) {
    zorp::SeriesSet rows;
    rows.reserve(arrays.size());
    for (const Doubles& array : arrays) {
        rows.push_back(values_of(array));
    }
    return rows;
}

zorp::SeriesSet rows_of(const Doubles& matrix) {
    if (matrix.ndim() != 2) {
        throw py::value_error("expected a 2-D array, got " + std::to_string(matrix.ndim()) +
                              " dimensions");
    }
    const size_t width = static_cast<size_t>(matrix.shape(1));
    zorp::SeriesSet rows(static_cast<size_t>(matrix.shape(0)));
    for (size_t r = 0; r < rows.size(); ++r) {
        rows[r].assign(matrix.data() + r * width, matrix.data() + (r + 1) * width);
    }
    return rows;
}

std::vector<int> ints_of(const Integers& array) {
    std::vector<int> out(static_cast<size_t>(array.size()));
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<int>(array.data()[i]);
    }
    return out;
}

py::tuple best_correlations(const std::vector<Doubles>& values, const std::vector<Doubles>& weights,
                            const Doubles& shapes) {
    const zorp::SeriesSet shape_rows = rows_of(shapes);
    const zorp::SeriesSet value_rows = rows_of(values);
    const zorp::SeriesSet weight_rows = rows_of(weights);
    zorp::BestMatches best;
    {
        py::gil_scoped_release unlocked;
        best = zorp::best_correlations(value_rows, weight_rows, shape_rows, signal_check());
    }
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(shape_rows.size()),
                                         static_cast<py::ssize_t>(values.size())};
    py::array_t<int64_t> starts(shape, best.starts.data());
    py::array_t<double> correlations(shape, best.correlations.data());
    return py::make_tuple(starts, correlations);
}

zorp::ProposalWindows windows_of(const Integers& owners, const Integers& starts,
                                 const Doubles& means) {
    zorp::ProposalWindows windows;
    windows.series = ints_of(owners);
    windows.starts = ints_of(starts);
    const zorp::SeriesSet rows = rows_of(means);
    windows.letters = means.ndim() == 2 ? static_cast<int>(means.shape(1)) : 0;
    for (const std::vector<double>& row : rows) {
        windows.means.insert(windows.means.end(), row.begin(), row.end());
    }
    return windows;
}

std::vector<std::tuple<int, int, std::string>> propose(const std::vector<Doubles>& series,
                                                       const Integers& owners,
                                                       const Integers& starts, const Doubles& means,
                                                       int length, int alphabet, double support,
                                                       size_t count) {
    const zorp::ProposalWindows windows = windows_of(owners, starts, means);
    zorp::ProposalSettings settings;
    settings.length = length;
    settings.alphabet = alphabet;
    settings.support = support;
    settings.count = count;
    const zorp::SeriesSet rows = rows_of(series);
    std::vector<zorp::Proposal> proposals;
    {
        py::gil_scoped_release unlocked;
        proposals = zorp::propose(rows, windows, settings, signal_check());
    }
    std::vector<std::tuple<int, int, std::string>> out;
    for (const zorp::Proposal& proposal : proposals) {
        out.emplace_back(proposal.series, proposal.start, proposal.word);
    }
    return out;
}

template <typename T>
py::array_t<T> array_of(const std::vector<T>& values) {
    return py::array_t<T>(static_cast<py::ssize_t>(values.size()), values.data());
}

using Keys = Array<uint64_t>;

std::vector<zorp::ProposalKey> keys_of(const Integers& projections, const Keys& keys) {
    if (projections.size() != keys.size()) {
        throw py::value_error("one projection per key is needed");
    }
    std::vector<zorp::ProposalKey> out(static_cast<size_t>(keys.size()));
    for (size_t e = 0; e < out.size(); ++e) {
        out[e] = {static_cast<int>(projections.data()[e]), keys.data()[e]};
    }
    return out;
}

py::list count_keys(const Integers& owners, const Integers& starts, const Doubles& means,
                    int alphabet) {
    const zorp::ProposalWindows windows = windows_of(owners, starts, means);
    std::vector<zorp::KeyCounts> counts;
    {
        py::gil_scoped_release unlocked;
        counts = zorp::count_keys(windows, alphabet, signal_check());
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
        const auto& [keys, windows, series] = counts[p];
        if (windows.size() != keys.size() || series.size() != keys.size()) {
            throw py::value_error("key counts need one window count and one series count per key");
        }
        native[p].keys.assign(keys.data(), keys.data() + keys.size());
        native[p].windows.assign(windows.data(), windows.data() + windows.size());
        native[p].series.assign(series.data(), series.data() + series.size());
    }
    const std::vector<zorp::ProposalKey> ranked = zorp::ranked_keys(native, support);
    std::vector<int64_t> projections;
    std::vector<uint64_t> keys;
    for (const zorp::ProposalKey& key : ranked) {
        projections.push_back(key.projection);
        keys.push_back(key.key);
    }
    return py::make_tuple(array_of(projections), array_of(keys));
}

py::tuple sum_members(const Integers& owners, const Integers& starts, const Doubles& means,
                      int alphabet, const Integers& projections, const Keys& keys) {
    const zorp::ProposalWindows windows = windows_of(owners, starts, means);
    const std::vector<zorp::ProposalKey> wanted = keys_of(projections, keys);
    zorp::MemberSums sums;
    {
        py::gil_scoped_release unlocked;
        sums = zorp::sum_members(windows, alphabet, wanted, signal_check());
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
                          const Doubles& averages) {
    const zorp::ProposalWindows windows = windows_of(owners, starts, means);
    const std::vector<zorp::ProposalKey> wanted = keys_of(projections, keys);
    std::vector<double> centres;
    for (const std::vector<double>& row : rows_of(averages)) {
        centres.insert(centres.end(), row.begin(), row.end());
    }
    zorp::NearestMembers nearest;
    {
        py::gil_scoped_release unlocked;
        nearest = zorp::nearest_members(windows, alphabet, wanted, centres, signal_check());
    }
    return py::make_tuple(array_of(nearest.squares), array_of(nearest.windows));
}

using Int32s = Array<int32_t>;
using Int64s = Array<int64_t>;

py::array_t<double> matrix_of(const std::vector<double>& values, size_t rows, size_t columns) {
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows),
                                         static_cast<py::ssize_t>(columns)};
    return py::array_t<double>(shape, values.data());
}

std::vector<py::bytes> normalised_words(const std::vector<Doubles>& series, int seglen,
                                        int alphabet) {
    zorp::WordSet words;
    {
        zorp::SeriesSet rows = rows_of(series);
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

// The occurrences of one motif in one part of the set: the series of each group (indexes into
// the part), where each group ends in positions, and the letter positions.
struct PartOccurrences {
    size_t letters = 0;
    std::vector<int32_t> series;
    std::vector<int64_t> ends;
    std::vector<int32_t> positions;

    const int* begin_of(size_t group) const {
        return positions.data() + (group == 0 ? 0 : ends[group - 1]);
    }
    const int* end_of(size_t group) const { return positions.data() + ends[group]; }
};

std::vector<PartOccurrences> part_occurrences(const py::list& motifs, size_t part_size, int first) {
    std::vector<PartOccurrences> parts;
    parts.reserve(motifs.size());
    for (const py::handle item : motifs) {
        const auto fields = item.cast<std::tuple<size_t, Int32s, Int64s, Int32s>>();
        PartOccurrences& part = parts.emplace_back();
        part.letters = std::get<0>(fields);
        const Int32s& series = std::get<1>(fields);
        const Int64s& ends = std::get<2>(fields);
        const Int32s& positions = std::get<3>(fields);
        if (series.size() != ends.size()) {
            throw py::value_error("occurrences need one end per group");
        }
        part.series.assign(series.data(), series.data() + series.size());
        part.ends.assign(ends.data(), ends.data() + ends.size());
        part.positions.assign(positions.data(), positions.data() + positions.size());
        int64_t previous = 0;
        for (size_t group = 0; group < part.series.size(); ++group) {
            part.series[group] -= first;
            if (part.series[group] < 0 || static_cast<size_t>(part.series[group]) >= part_size ||
                part.ends[group] < previous ||
                part.ends[group] > static_cast<int64_t>(part.positions.size())) {
                throw py::value_error("occurrences outside the part of the set given");
            }
            previous = part.ends[group];
        }
    }
    return parts;
}

int motif_length(int seglen, size_t letters) {
    const int64_t length = static_cast<int64_t>(seglen) * static_cast<int64_t>(letters);
    if (length > std::numeric_limits<int>::max()) {
        throw std::length_error("motif length of " + std::to_string(length) +
                                " points does not fit in a 32-bit integer");
    }
    return static_cast<int>(length);
}

py::list part_averages(const std::vector<Doubles>& series, int first, const py::list& motifs,
                       int seglen) {
    zorp::SeriesSet rows = rows_of(series);
    const std::vector<PartOccurrences> parts = part_occurrences(motifs, rows.size(), first);
    std::vector<std::vector<double>> averages(parts.size());
    std::vector<int> lengths(parts.size());
    for (size_t k = 0; k < parts.size(); ++k) {
        lengths[k] = motif_length(seglen, parts[k].letters);
    }
    {
        py::gil_scoped_release unlocked;
        const zorp::Cancellation cancel = signal_check();
        zorp::znorm(rows, cancel);
        for (size_t k = 0; k < parts.size(); ++k) {
            const PartOccurrences& part = parts[k];
            averages[k].reserve(part.series.size() * static_cast<size_t>(lengths[k]));
            for (size_t group = 0; group < part.series.size(); ++group) {
                const std::vector<double> average = zorp::average_occurrence(
                    rows[static_cast<size_t>(part.series[group])], part.begin_of(group),
                    part.end_of(group), seglen, lengths[k], part.letters, cancel);
                averages[k].insert(averages[k].end(), average.begin(), average.end());
            }
        }
    }
    py::list out;
    for (size_t k = 0; k < parts.size(); ++k) {
        out.append(matrix_of(averages[k], parts[k].series.size(), static_cast<size_t>(lengths[k])));
    }
    return out;
}

py::tuple add_to_representative(const Doubles& sums, const Doubles& counts,
                                const Doubles& averages) {
    std::vector<double> total = values_of(sums);
    std::vector<double> counted = values_of(counts);
    if (counted.size() != total.size()) {
        throw py::value_error("sums and counts differ in length");
    }
    for (const std::vector<double>& average : rows_of(averages)) {
        zorp::add_to_representative(average, total, counted);
    }
    return py::make_tuple(array_of(total), array_of(counted));
}

py::list part_best_matches(const std::vector<Doubles>& series, int first, const py::list& motifs,
                           const std::vector<Doubles>& representatives, int seglen) {
    zorp::SeriesSet rows = rows_of(series);
    const std::vector<PartOccurrences> parts = part_occurrences(motifs, rows.size(), first);
    if (representatives.size() != parts.size()) {
        throw py::value_error("one representative per motif is needed");
    }
    const zorp::SeriesSet centres = rows_of(representatives);
    std::vector<std::vector<int64_t>> starts(parts.size());
    std::vector<std::vector<double>> distances(parts.size());
    {
        py::gil_scoped_release unlocked;
        const zorp::Cancellation cancel = signal_check();
        zorp::znorm(rows, cancel);
        for (size_t k = 0; k < parts.size(); ++k) {
            const PartOccurrences& part = parts[k];
            for (size_t group = 0; group < part.series.size(); ++group) {
                const auto [position, distance] = zorp::nearest_occurrence(
                    rows[static_cast<size_t>(part.series[group])], part.begin_of(group),
                    part.end_of(group), centres[k], seglen, part.letters, cancel);
                const int64_t start = static_cast<int64_t>(position) * seglen;
                if (start > std::numeric_limits<int>::max()) {
                    throw std::length_error("best match start of " + std::to_string(start) +
                                            " points does not fit in a 32-bit integer");
                }
                starts[k].push_back(start);
                distances[k].push_back(distance);
            }
        }
    }
    py::list out;
    for (size_t k = 0; k < parts.size(); ++k) {
        out.append(py::make_tuple(array_of(starts[k]), array_of(distances[k])));
    }
    return out;
}

py::array_t<int64_t> ranking_order(const Doubles& naeds) {
    const std::vector<size_t> order = zorp::ranking_order(values_of(naeds));
    return array_of(std::vector<int64_t>(order.begin(), order.end()));
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.def("best_correlations", &best_correlations, py::arg("values"), py::arg("weights"),
          py::arg("shapes"));
    m.def("propose", &propose, py::arg("series"), py::arg("owners"), py::arg("starts"),
          py::arg("means"), py::arg("length"), py::arg("alphabet"), py::arg("support"),
          py::arg("count"));
    m.def(
        "monotone_share",
        [](const Doubles& shape, int points) {
            return zorp::monotone_share(values_of(shape), points);
        },
        py::arg("shape"), py::arg("points") = 32);
    m.def("count_keys", &count_keys, py::arg("owners"), py::arg("starts"), py::arg("means"),
          py::arg("alphabet"));
    m.def("ranked_keys", &ranked_keys, py::arg("counts"), py::arg("support"));
    m.def("sum_members", &sum_members, py::arg("owners"), py::arg("starts"), py::arg("means"),
          py::arg("alphabet"), py::arg("projections"), py::arg("keys"));
    m.def("nearest_members", &nearest_members, py::arg("owners"), py::arg("starts"),
          py::arg("means"), py::arg("alphabet"), py::arg("projections"), py::arg("keys"),
          py::arg("averages"));
    m.def(
        "proposal_word",
        [](const Doubles& means, int alphabet, int projection) {
            zorp::ProposalWindows window;
            window.means = values_of(means);
            window.letters = static_cast<int>(window.means.size());
            window.series = {0};
            window.starts = {0};
            return zorp::word_of(window, 0, alphabet, projection);
        },
        py::arg("means"), py::arg("alphabet"), py::arg("projection"));
    m.def(
        "znormalised",
        [](const Doubles& shape) { return array_of(zorp::znormalised(values_of(shape))); },
        py::arg("shape"));
    m.def("normalised_words", &normalised_words, py::arg("series"), py::arg("seglen"),
          py::arg("alphabet"));
    m.def("mine_words", &mine_words, py::arg("words"), py::arg("minsup"), py::arg("min_len"),
          py::arg("max_len"), py::arg("max_overlap"));
    m.def("part_averages", &part_averages, py::arg("series"), py::arg("first"), py::arg("motifs"),
          py::arg("seglen"));
    m.def("add_to_representative", &add_to_representative, py::arg("sums"), py::arg("counts"),
          py::arg("averages"));
    m.def(
        "representative_from",
        [](const Doubles& sums, const Doubles& counts) {
            return array_of(zorp::representative_from(values_of(sums), values_of(counts)));
        },
        py::arg("sums"), py::arg("counts"));
    m.def("part_best_matches", &part_best_matches, py::arg("series"), py::arg("first"),
          py::arg("motifs"), py::arg("representatives"), py::arg("seglen"));
    m.def("ranking_order", &ranking_order, py::arg("naeds"));
}
