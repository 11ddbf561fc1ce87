// The module zorp_miner._native: the robust discovery's kernels, for the package's own use.
// Conversions between numpy arrays and the core's containers only.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "proposals.h"
#include "sax.h"
#include "sliding.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs; see bind.cpp.
#pragma weak _PyThreadState_UncheckedGet

namespace py = pybind11;

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Integers = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

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
    const zorp::BestMatches best =
        zorp::best_correlations(rows_of(values), rows_of(weights), shape_rows);
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(shape_rows.size()),
                                         static_cast<py::ssize_t>(values.size())};
    py::array_t<int64_t> starts(shape, best.starts.data());
    py::array_t<double> correlations(shape, best.correlations.data());
    return py::make_tuple(starts, correlations);
}

std::vector<std::tuple<int, int, std::string>> propose(const std::vector<Doubles>& series,
                                                       const Integers& owners,
                                                       const Integers& starts, const Doubles& means,
                                                       int length, int alphabet, double support,
                                                       size_t count) {
    zorp::ProposalWindows windows;
    windows.series = ints_of(owners);
    windows.starts = ints_of(starts);
    const zorp::SeriesSet rows = rows_of(means);
    windows.letters = means.ndim() == 2 ? static_cast<int>(means.shape(1)) : 0;
    for (const std::vector<double>& row : rows) {
        windows.means.insert(windows.means.end(), row.begin(), row.end());
    }
    zorp::ProposalSettings settings;
    settings.length = length;
    settings.alphabet = alphabet;
    settings.support = support;
    settings.count = count;
    std::vector<std::tuple<int, int, std::string>> out;
    for (const zorp::Proposal& proposal : zorp::propose(rows_of(series), windows, settings)) {
        out.emplace_back(proposal.series, proposal.start, proposal.word);
    }
    return out;
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
}
