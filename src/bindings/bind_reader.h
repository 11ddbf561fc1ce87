// How _zorp_cpp reads its arguments: series sets and word sets as the host hands them in, read
// from buffers, lists and tuples as pybind11's list conversion would read them, only faster; and
// the interpreter's signal check, which the reading and the library's long loops call.
#pragma once

#include <pybind11/pybind11.h>

#include "cancel.h"
#include "sax.h"

// Python 3.13 no longer has this private function, which pybind11 calls only once the module
// runs. A weak reference lets the loader finish under 3.13, so that the entry point itself
// refuses the interpreter with the version-mismatch ImportError instead of an undefined symbol.
// Every source of the module declares it weak (here), or the link keeps one strong reference.
#pragma weak _PyThreadState_UncheckedGet

// A series set as the host hands it in, converted by the caster below.
struct HostSeriesSet {
    zorp::SeriesSet series;
};

// A word set as the host hands it in: one list of symbols per word.
struct HostWordSet {
    zorp::WordSet words;
};

// The interpreter's signal check, as the check of the library's long loops: a pending signal
// runs its handler there, as between two steps of a Python loop, and a handler that raises
// (Ctrl-C's raises KeyboardInterrupt) stops the call with its exception. Every call holds the
// interpreter lock, which the check needs.
zorp::Cancellation signal_check();

// Converts source into set as the caster of HostSeriesSet does (below); false when it does
// not convert.
bool read_series_set(pybind11::handle source, bool convert, zorp::SeriesSet& set);

// Converts source into words as the caster of HostWordSet does (below); false when it does not
// convert.
bool read_word_set(pybind11::handle source, bool convert, zorp::WordSet& words);

// The series-set argument of sax and Miner.mine, under the type name it has always shown. It
// accepts and refuses what pybind11's conversion of a list of lists of floats does, with the
// same values and errors, only faster: objects that expose a buffer of numbers are read from
// it, and floats straight from lists and tuples. The one difference is that complex numbers
// are refused rather than cut to their real part.
namespace pybind11::detail {
template <>
struct type_caster<HostSeriesSet> {
    PYBIND11_TYPE_CASTER(HostSeriesSet, const_name("list[list[float]]"));

    bool load(handle source, bool convert) {
        return read_series_set(source, convert, value.series);
    }
};

// The word-set argument of PatternMiner.mine: accepted and refused as pybind11's conversion of
// a list of lists of symbols does, with the same errors, converted straight into words.
template <>
struct type_caster<HostWordSet> {
    PYBIND11_TYPE_CASTER(HostWordSet, const_name("list[list[str]]"));

    bool load(handle source, bool convert) { return read_word_set(source, convert, value.words); }
};
}  // namespace pybind11::detail
