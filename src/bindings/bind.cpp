// The module _zorp_cpp: the registration of Motif, Miner, PatternMiner and sax, in that order,
// and the conversion of their results into host objects (bind_reader.cpp reads the arguments).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <cstddef>
#include <utility>

#include "bind_errors.h"
#include "bind_reader.h"
#include "cancel.h"
#include "miner.h"
#include "motif.h"
#include "patterns.h"
#include "sax.h"

namespace py = pybind11;

using zorp::Miner;
using zorp::Motif;
using zorp::PatternMiner;
using zorp::Word;
using zorp::WordSet;

namespace {

using HostWords = py::typing::List<py::typing::List<py::str>>;

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

HostWords host_words(const WordSet& words, const zorp::Cancellation& cancel) {
    py::list result(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const Word& word = words[i];
        cancel.count(word.size() + 1);
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

py::typing::Dict<py::str, Motif> host_table(zorp::FrequentTable table) {
    const zorp::Cancellation cancel = signal_check();
    py::dict result;
    for (auto& [pattern, motif] : table) {
        cancel.count(pattern.size() + 64);
        result[text_of(pattern)] = py::cast(std::move(motif));
    }
    return result;
}

}  // namespace

PYBIND11_MODULE(_zorp_cpp, m) {
    translate_memory_refusals();

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
        .def("mine",
             [](Miner& miner, HostSeriesSet ts) { return miner.mine(ts.series, signal_check()); })
        .def_property_readonly("motifs", &Miner::get_motifs);

    py::class_<PatternMiner>(m, "PatternMiner")
        .def(py::init<double, int, int, double>(), py::arg("minsup"), py::arg("min_len") = 3,
             py::arg("max_len") = 0, py::arg("max_overlap") = 0.9)
        .def("mine", [](PatternMiner& miner,
                        const HostWordSet& words) { miner.mine(words.words, signal_check()); })
        .def_property_readonly(
            "frequent", [](const PatternMiner& miner) { return host_table(miner.get_frequent()); });

    m.def(
        "sax",
        [](const HostSeriesSet& ts, int seglen, int alphabet) {
            const zorp::Cancellation cancel = signal_check();
            return host_words(zorp::sax(ts.series, seglen, alphabet, cancel), cancel);
        },
        py::arg("ts"), py::arg("seglen"), py::arg("alphabet"));
}
