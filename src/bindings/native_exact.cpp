// The steps of an exact run over series held in parts in zorp_miner._native: each part's words
// and patterns, its occurrences' averages and best matches, and the motifs' representatives,
// lengths and ranking.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "bind_native.h"
#include "cancel.h"
#include "miner.h"
#include "motif.h"
#include "motif_parts.h"
#include "native_args.h"
#include "patterns.h"
#include "sax.h"

namespace py = pybind11;

namespace native {
namespace {

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

void bind_exact(py::module_& m) {
    m.def("normalised_words", &normalised_words, py::arg("series"), py::arg("seglen"),
          py::arg("alphabet"));
    m.def("mine_words", &mine_words, py::arg("words"), py::arg("minsup"), py::arg("min_len"),
          py::arg("max_len"), py::arg("max_overlap"));
    m.def("part_averages", &part_averages, py::arg("series"), py::arg("first"), py::arg("motifs"),
          py::arg("seglen"));
    m.def("add_to_representative", &add_to_representative, py::arg("sums"), py::arg("counts"),
          py::arg("averages"));
    m.def("representative_from", &representative_from, py::arg("sums"), py::arg("counts"));
    m.def("part_best_matches", &part_best_matches, py::arg("series"), py::arg("first"),
          py::arg("motifs"), py::arg("representatives"), py::arg("seglen"));
    m.def("ranking_order", &ranking_order, py::arg("naeds"));
    m.def("motif_lengths", &motif_lengths, py::arg("letters"), py::arg("seglen"));
    m.def("refuse_oversized_statistics", &refuse_oversized_statistics, py::arg("lengths"),
          py::arg("supports"));
}

}  // namespace native
