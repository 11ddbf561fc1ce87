// The module zorp_miner._native: the robust discovery's kernels, the within-series kernels
// (discords, the nearest profile), and the steps of an exact run over series held in parts (on the
// workers of a cluster), for the package's own use. Conversions between numpy arrays and the core's
// containers only: the functions are bound by job in native_robust.cpp, native_within.cpp and
// native_exact.cpp, whose arguments native_args.h checks.
#include <pybind11/pybind11.h>

#include "bind_errors.h"
#include "bind_native.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs; see native_args.h.
#pragma weak _PyThreadState_UncheckedGet

PYBIND11_MODULE(_native, m) {
    translate_memory_refusals();
    native::bind_robust(m);
    native::bind_within(m);
    native::bind_exact(m);
}
