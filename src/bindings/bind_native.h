// The functions of zorp_miner._native, by job: each file defines its own in the module.
#pragma once

#include <pybind11/pybind11.h>

namespace native {

// The robust discovery's kernels (native_robust.cpp).
void bind_robust(pybind11::module_& m);

// The kernels over one series: its discords and its nearest-neighbour profile
// (native_within.cpp).
void bind_within(pybind11::module_& m);

// The steps of an exact run over series held in parts (native_exact.cpp).
void bind_exact(pybind11::module_& m);

}  // namespace native
