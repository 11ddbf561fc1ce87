#pragma once

// The library's refusals as both modules raise them.

#include <pybind11/pybind11.h>

#include <exception>

#include "memory_budget.h"

// A run refused for want of memory is a MemoryError that says why.
inline void translate_memory_refusals() {
    pybind11::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) {
                std::rethrow_exception(raised);
            }
        } catch (const zorp::MemoryLimitExceeded& error) {
            PyErr_SetString(PyExc_MemoryError, error.what());
        }
    });
}
