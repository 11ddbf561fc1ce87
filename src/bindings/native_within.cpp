// The kernels over one series in zorp_miner._native: its discords, and each window's nearest
// neighbour within it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "bind_native.h"
#include "discords.h"
#include "native_args.h"
#include "nearest_profile.h"

namespace py = pybind11;

namespace native {
namespace {

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

// The top discords of one series (see zorp::within_discords): starts, neighbours (int64) and
// distances (float64), farthest first.
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

}  // namespace

void bind_within(py::module_& m) {
    m.def("within_discords", &within_discords, py::arg("values"), py::arg("weights"), py::arg("m"),
          py::arg("exclusion"), py::arg("top"), py::kw_only(), py::arg("threads") = 1);
    m.def("nearest_profile", &nearest_profile, py::arg("values"), py::arg("weights"), py::arg("m"),
          py::arg("exclusion"), py::kw_only(), py::arg("threads") = 1);
}

}  // namespace native
