// The checks of zorp_miner._native's arguments and its signal check (see native_args.h).
#include "native_args.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "cancel.h"
#include "memory_budget.h"
#include "proposals.h"
#include "sax.h"

namespace py = pybind11;

namespace native {

zorp::Cancellation signal_check() {
    return zorp::Cancellation([] {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    });
}

[[noreturn]] void refuse(const std::string& wanted, const std::string& got) {
    throw py::value_error(wanted + ", got " + got);
}

std::string range_text(int64_t low, int64_t high, bool int_argument) {
    return int_argument && high >= std::numeric_limits<int>::max()
               ? "at least " + std::to_string(low)
               : "from " + std::to_string(low) + " to " + std::to_string(high);
}

int whole(const std::string& name, int value, int low, int high, const std::string& unit) {
    if (value < low || value > high) {
        refuse(name + " must be a whole number of " + unit + ", " + range_text(low, high),
               std::to_string(value));
    }
    return value;
}

int checked_alphabet(int alphabet) {
    return whole("alphabet", alphabet, zorp::min_proposal_alphabet, zorp::max_proposal_alphabet,
                 "letters");
}

double fraction(const std::string& name, double value, bool above_zero) {
    if (!(above_zero ? value > 0.0 : value >= 0.0) || !(value <= 1.0)) {
        refuse(name + " must be a number " +
                   (above_zero ? std::string("above 0 and at most 1") : "from 0 to 1"),
               zorp::decimal(value));
    }
    return value;
}

void dimensions(const std::string& name, const py::array& array, py::ssize_t wanted) {
    if (array.ndim() != wanted) {
        refuse(name + " must be a " + std::to_string(wanted) + "-D array",
               std::to_string(array.ndim()) + " dimensions");
    }
}

std::vector<double> values_of(const std::string& name, const Doubles& array) {
    dimensions(name, array, 1);
    return std::vector<double>(array.data(), array.data() + array.size());
}

zorp::SeriesSet rows_of(const std::string& name, const Doubles& matrix, py::ssize_t least_columns) {
    dimensions(name, matrix, 2);
    if (matrix.shape(1) < least_columns) {
        refuse(name + " must have at least " + std::to_string(least_columns) + " columns",
               std::to_string(matrix.shape(1)));
    }
    const size_t width = static_cast<size_t>(matrix.shape(1));
    zorp::SeriesSet rows(static_cast<size_t>(matrix.shape(0)));
    for (size_t r = 0; r < rows.size(); ++r) {
        rows[r].assign(matrix.data() + r * width, matrix.data() + (r + 1) * width);
    }
    return rows;
}

std::string item(const std::string& name, size_t index) {
    return name + "[" + std::to_string(index) + "]";
}

zorp::SeriesSet rows_of(const std::string& name, const std::vector<Doubles>& arrays) {
    zorp::SeriesSet rows;
    rows.reserve(arrays.size());
    for (size_t i = 0; i < arrays.size(); ++i) {
        rows.push_back(values_of(item(name, i), arrays[i]));
    }
    return rows;
}

void below(const std::string& name, const std::vector<double>& values, double limit,
           const std::string& wanted) {
    for (size_t i = 0; i < values.size(); ++i) {
        if (!(std::fabs(values[i]) < limit)) {
            refuse(name + " must hold " + wanted,
                   zorp::decimal(values[i]) + " at " + std::to_string(i));
        }
    }
}

void finite(const std::string& name, const std::vector<double>& values) {
    below(name, values, std::numeric_limits<double>::infinity(), "finite numbers");
}

void finite(const std::string& name, const zorp::SeriesSet& rows) {
    for (size_t r = 0; r < rows.size(); ++r) {
        finite(item(name, r), rows[r]);
    }
}

void not_negative(const std::string& name, const std::vector<double>& values) {
    finite(name, values);
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] < 0.0) {
            refuse(name + " must hold numbers of at least 0",
                   zorp::decimal(values[i]) + " at " + std::to_string(i));
        }
    }
}

std::vector<int> ints_of(const std::string& name, const Integers& array, int64_t low, int64_t high,
                         const std::string& unit) {
    dimensions(name, array, 1);
    std::vector<int> out(static_cast<size_t>(array.size()));
    for (size_t i = 0; i < out.size(); ++i) {
        const int64_t value = array.data()[i];
        if (value < low || value > high) {
            refuse(name + " must hold " + unit + " " + range_text(low, high, false),
                   std::to_string(value) + " at " + std::to_string(i));
        }
        out[i] = static_cast<int>(value);
    }
    return out;
}

void same_length(const std::string& name, size_t length, const std::string& other, size_t wanted) {
    if (length != wanted) {
        refuse(name + " must have one value per entry of " + other + " (" + std::to_string(wanted) +
                   ")",
               std::to_string(length));
    }
}

size_t checked_threads(int threads) {
    return static_cast<size_t>(whole("threads", threads, 1, most_threads, "threads"));
}

}  // namespace native
