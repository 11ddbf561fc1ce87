// How zorp_miner._native takes its arguments: the arrays it reads, the checks of every argument
// and the interpreter's signal check, shared by the module's files (native_*.cpp).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "cancel.h"
#include "sax.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs; see bind_reader.h. Every source of the module declares it weak (here), or the link keeps
// one strong reference.
#pragma weak _PyThreadState_UncheckedGet

namespace native {

// Arrays are read in place when they are C-contiguous and aligned, and copied otherwise: the
// arguments of a task on a cluster's worker arrive through pickle, whose buffers may start at
// any byte.
inline constexpr int in_place = pybind11::array::c_style | pybind11::array::forcecast |
                                pybind11::detail::npy_api::NPY_ARRAY_ALIGNED_;
template <typename T>
using Array = pybind11::array_t<T, in_place>;
using Doubles = Array<double>;
using Integers = Array<int64_t>;

// The interpreter's signal check, as the check of the core's long loops, which run without the
// interpreter lock: the check takes it, and a pending signal runs its handler there; a handler
// that raises (Ctrl-C's raises KeyboardInterrupt) stops the call with its exception. Outside the
// main thread (a cluster worker's tasks) there is never a signal to handle.
zorp::Cancellation signal_check();

// ---------------------------------------------------------------------------------------------
// Checks of the arguments, made before any work, with the interpreter lock held: each names the
// argument as Python passes it and the range it accepts (ValueError); pybind11 has already
// refused a value of the wrong type (TypeError).

[[noreturn]] void refuse(const std::string& wanted, const std::string& got);

// A C int argument cannot exceed the largest int (pybind11 refuses it first): "at least" says
// it all there.
std::string range_text(int64_t low, int64_t high, bool int_argument = true);

int whole(const std::string& name, int value, int low, int high, const std::string& unit);

int checked_alphabet(int alphabet);

double fraction(const std::string& name, double value, bool above_zero);

void dimensions(const std::string& name, const pybind11::array& array, pybind11::ssize_t wanted);

// The values of a 1-D array.
std::vector<double> values_of(const std::string& name, const Doubles& array);

// The rows of a 2-D array, each of at least least_columns values.
zorp::SeriesSet rows_of(const std::string& name, const Doubles& matrix,
                        pybind11::ssize_t least_columns = 0);

std::string item(const std::string& name, size_t index);

// One row per array of a list, each 1-D.
zorp::SeriesSet rows_of(const std::string& name, const std::vector<Doubles>& arrays);

// Refuses a value at or beyond limit in magnitude, NaN included.
void below(const std::string& name, const std::vector<double>& values, double limit,
           const std::string& wanted);

void finite(const std::string& name, const std::vector<double>& values);

void finite(const std::string& name, const zorp::SeriesSet& rows);

void not_negative(const std::string& name, const std::vector<double>& values);

// A 1-D array of 64-bit integers as ints from low to high.
std::vector<int> ints_of(const std::string& name, const Integers& array, int64_t low, int64_t high,
                         const std::string& unit);

void same_length(const std::string& name, size_t length, const std::string& other, size_t wanted);

inline constexpr int int_max = std::numeric_limits<int>::max();

// The threads a kernel may run on (see zorp::parallel_for); the same results for any number.
inline constexpr int most_threads = 1024;

size_t checked_threads(int threads);

// A result's 1-D array: a copy of values.
template <typename T>
pybind11::array_t<T> array_of(const std::vector<T>& values) {
    return pybind11::array_t<T>(static_cast<pybind11::ssize_t>(values.size()), values.data());
}

}  // namespace native
