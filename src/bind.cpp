// The module _zorp_cpp: conversions between host objects and the library's containers, and the
// registration of Motif, Miner, PatternMiner and sax, in that order.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "miner.h"
#include "motif.h"
#include "patterns.h"
#include "sax.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs. A weak reference lets the loader finish under 3.13, so that the entry point itself
// refuses the interpreter with the version-mismatch ImportError instead of an undefined symbol.
#pragma weak _PyThreadState_UncheckedGet

namespace py = pybind11;

// One symbol of a word as the host gives it: a str of one character of code point 0 to 255, or
// a bytes object of one byte. A str, bytes or None that is not one such character is a
// ValueError; any other object does not convert (TypeError). Unlike the general character
// conversion, several bytes are never read as one UTF-8 character, and a lone surrogate is a
// character above U+00FF like any other.
struct Symbol {
    char byte = 0;
};

namespace pybind11::detail {
template <>
struct type_caster<Symbol> {
    PYBIND11_TYPE_CASTER(Symbol, const_name("str"));

    bool load(handle source, bool) {
        PyObject* object = source.ptr();
        Py_ssize_t length = 0;
        if (source.is_none()) {
            throw value_error("Cannot convert None to a character");
        }
        if (PyUnicode_Check(object)) {
            length = PyUnicode_GetLength(object);
        } else if (PyBytes_Check(object)) {
            length = PyBytes_GET_SIZE(object);
        } else {
            return false;
        }
        if (length == 0) {
            throw value_error("Cannot convert empty string to a character");
        }
        if (length > 1) {
            throw value_error("Expected a character, but multi-character string found");
        }
        if (PyBytes_Check(object)) {
            value.byte = PyBytes_AS_STRING(object)[0];
            return true;
        }
        const Py_UCS4 code = PyUnicode_READ_CHAR(object, 0);
        if (code > 0xFF) {
            throw value_error("Character code point not in range(0x100)");
        }
        value.byte = static_cast<char>(code);
        return true;
    }

    static handle cast(Symbol symbol, return_value_policy, handle) {
        return PyUnicode_FromOrdinal(static_cast<unsigned char>(symbol.byte));
    }
};
}  // namespace pybind11::detail

using zorp::Miner;
using zorp::Motif;
using zorp::PatternMiner;
using zorp::SeriesSet;
using zorp::Word;
using zorp::WordSet;

namespace {

using HostWords = py::typing::List<py::typing::List<py::str>>;
// A word set as the host hands it in: one list of symbols per word.
using SymbolLists = std::vector<std::vector<Symbol>>;

// Every byte becomes the character of the same code point, so any byte the miner accepts
// comes back as the symbol it was given.
py::str text_of(const Word& word) {
    PyObject* text =
        PyUnicode_DecodeLatin1(word.data(), static_cast<Py_ssize_t>(word.size()), nullptr);
    if (text == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(text);
}

HostWords host_words(const WordSet& words) {
    py::list result(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const Word& word = words[i];
        py::list letters(word.size());
        for (size_t j = 0; j < word.size(); ++j) {
            PyObject* letter = PyUnicode_FromOrdinal(static_cast<unsigned char>(word[j]));
            if (letter == nullptr) {
                throw py::error_already_set();
            }
            PyList_SET_ITEM(letters.ptr(), static_cast<Py_ssize_t>(j), letter);
        }
        PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), letters.release().ptr());
    }
    return result;
}

WordSet native_words(const SymbolLists& symbols) {
    WordSet words;
    words.reserve(symbols.size());
    for (const std::vector<Symbol>& symbols_of_word : symbols) {
        Word& word = words.emplace_back(symbols_of_word.size(), '\0');
        for (size_t i = 0; i < word.size(); ++i) {
            word[i] = symbols_of_word[i].byte;
        }
    }
    return words;
}

py::typing::Dict<py::str, Motif> host_table(zorp::FrequentTable table) {
    py::dict result;
    for (auto& [pattern, motif] : table) {
        result[text_of(pattern)] = py::cast(std::move(motif));
    }
    return result;
}

}  // namespace

PYBIND11_MODULE(_zorp_cpp, m) {
    // A run refused for want of memory is a MemoryError that says why.
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) {
                std::rethrow_exception(raised);
            }
        } catch (const zorp::MemoryLimitExceeded& error) {
            PyErr_SetString(PyExc_MemoryError, error.what());
        }
    });

    py::class_<Motif>(m, "Motif")
        .def_property_readonly("pattern",
                               [](const Motif& motif) { return text_of(motif.get_pattern()); })
        .def_property_readonly("indexes", &Motif::get_indexes)
        .def_property_readonly("average_occurrences", &Motif::get_average_occurrences)
        .def_property_readonly("representative", &Motif::get_representative)
        .def_property_readonly("best_matches", &Motif::get_best_matches)
        .def_property_readonly("length", &Motif::get_length)
        .def_property_readonly("naed", &Motif::get_naed)
        .def("__repr__", [](const Motif& motif) {
            return py::str("Motif('{}')").format(text_of(motif.get_pattern()));
        });

    py::class_<Miner>(m, "Miner")
        .def(py::init<double, int, int, int, int, double, int>(), py::arg("minsup"),
             py::arg("seglen"), py::arg("alphabet"), py::arg("min_len") = 3, py::arg("max_len") = 0,
             py::arg("max_overlap") = 0.9, py::arg("k") = 0)
        .def("mine", [](Miner& miner, SeriesSet ts) { return miner.mine(ts); })
        .def_property_readonly("motifs", &Miner::get_motifs);

    py::class_<PatternMiner>(m, "PatternMiner")
        .def(py::init<double, int, int, double>(), py::arg("minsup"), py::arg("min_len") = 3,
             py::arg("max_len") = 0, py::arg("max_overlap") = 0.9)
        .def("mine",
             [](PatternMiner& miner, const SymbolLists& words) { miner.mine(native_words(words)); })
        .def_property_readonly(
            "frequent", [](const PatternMiner& miner) { return host_table(miner.get_frequent()); });

    m.def(
        "sax",
        [](const SeriesSet& ts, int seglen, int alphabet) {
            return host_words(zorp::sax(ts, seglen, alphabet));
        },
        py::arg("ts"), py::arg("seglen"), py::arg("alphabet"));
}
