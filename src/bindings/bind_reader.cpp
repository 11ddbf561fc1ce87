// The reading of _zorp_cpp's series-set and word-set arguments (see bind_reader.h).
#include "bind_reader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

zorp::Cancellation signal_check() {
    return zorp::Cancellation([] {
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    });
}

namespace {

// A strided buffer of an object with its item format, held until this goes out of scope, so
// that it is released on every way out. An object that cannot give one holds nothing, and the
// error it raised is cleared: the caller then reads the object as a sequence.
class HeldBuffer {
  public:
    explicit HeldBuffer(PyObject* source) {
        if (!PyObject_CheckBuffer(source)) {
            return;
        }
        if (PyObject_GetBuffer(source, &view, PyBUF_RECORDS_RO) == 0) {
            held = true;
        } else {
            PyErr_Clear();
        }
    }
    ~HeldBuffer() {
        if (held) {
            PyBuffer_Release(&view);
        }
    }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;

    // The buffer, whatever its shape, or null.
    const Py_buffer* any() const { return held ? &view : nullptr; }

    // The buffer when it has ndim dimensions laid out by shape and strides, else null.
    const Py_buffer* with_dimensions(int ndim) const {
        if (!held || view.ndim != ndim || view.shape == nullptr || view.strides == nullptr ||
            view.suboffsets != nullptr) {
            return nullptr;
        }
        return &view;
    }

  private:
    Py_buffer view{};
    bool held = false;
};

enum class ItemType { other, complex, boolean, signed_integer, unsigned_integer, floating };

// What one buffer item is: its kind, the format character, and whether its bytes are in the
// other byte order than the machine's.
struct ItemFormat {
    ItemType type = ItemType::other;
    char code = '\0';
    bool swapped = false;
};

constexpr bool is_little_endian_machine() {
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
}

// Only a format of one number per item is read directly: an optional byte-order mark and one
// struct character ("d", ">i", "?"); a complex number is "Z" and its part's character.
// Records, padding, repeat counts, long doubles and pointers are not.
ItemFormat item_format(const Py_buffer& view) {
    const char* format = view.format == nullptr ? "B" : view.format;
    ItemFormat item;
    switch (*format) {
        case '@':
            ++format;
            break;
        case '=':
        case '<':
            item.swapped = !is_little_endian_machine();
            ++format;
            break;
        case '>':
        case '!':
            item.swapped = is_little_endian_machine();
            ++format;
            break;
        default:
            break;
    }
    if (format[0] == 'Z') {
        item.type = ItemType::complex;
        return item;
    }
    if (format[0] == '\0' || format[1] != '\0') {
        return item;
    }
    item.code = format[0];
    switch (item.code) {
        case '?':
            item.type = ItemType::boolean;
            break;
        case 'b':
        case 'h':
        case 'i':
        case 'l':
        case 'q':
        case 'n':
            item.type = ItemType::signed_integer;
            break;
        case 'B':
        case 'H':
        case 'I':
        case 'L':
        case 'Q':
        case 'N':
            item.type = ItemType::unsigned_integer;
            break;
        case 'e':
        case 'f':
        case 'd':
            item.type = ItemType::floating;
            break;
        default:
            break;
    }
    return item;
}

inline uint8_t byte_swapped(uint8_t bits) {
    return bits;
}
inline uint16_t byte_swapped(uint16_t bits) {
    return __builtin_bswap16(bits);
}
inline uint32_t byte_swapped(uint32_t bits) {
    return __builtin_bswap32(bits);
}
inline uint64_t byte_swapped(uint64_t bits) {
    return __builtin_bswap64(bits);
}

// The bytes of one item, which need not be aligned, as an unsigned integer in machine order.
template <typename Bits, bool Swapped>
Bits bits_at(const char* at) {
    Bits bits;
    std::memcpy(&bits, at, sizeof bits);
    return Swapped ? byte_swapped(bits) : bits;
}

// Items of type Number (an integer, float or double) converted as C converts them, which is how
// the float conversion of each item's host number gives them: integers round to the nearest
// double, ties to even.
template <typename Number, typename Bits, bool Swapped>
struct NumberReader {
    static double read(const char* at) {
        const Bits bits = bits_at<Bits, Swapped>(at);
        Number number;
        std::memcpy(&number, &bits, sizeof number);
        return static_cast<double>(number);
    }
};

// A bool item is 1.0 for any byte but 0, as a bool array's items are True then.
struct BooleanReader {
    static double read(const char* at) { return bits_at<uint8_t, false>(at) != 0 ? 1.0 : 0.0; }
};

// An IEEE half-precision item, exactly: every half is a double. Infinities and NaN keep their
// sign and a NaN its payload, bit for bit as numpy widens them.
template <bool Swapped>
struct HalfReader {
    static double read(const char* at) {
        const uint16_t half = bits_at<uint16_t, Swapped>(at);
        const uint64_t sign = static_cast<uint64_t>(half & 0x8000u) << 48;
        const uint64_t exponent = half & 0x7c00u;
        const uint64_t fraction = half & 0x03ffu;
        uint64_t bits = sign;
        if (exponent == 0x7c00u) {
            bits |= 0x7ff0000000000000u | fraction << 42;
        } else if (exponent != 0) {
            // Rebias the exponent from 15 to 1023 (1008 << 10 is 0xfc000) and widen the fraction.
            bits |= (static_cast<uint64_t>(half & 0x7fffu) + 0xfc000u) << 42;
        } else if (fraction != 0) {
            // A subnormal half is fraction * 2**-24, a normal double.
            const double magnitude = std::ldexp(static_cast<double>(fraction), -24);
            return sign != 0 ? -magnitude : magnitude;
        }
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
};

// Calls read with the reader of integers of itemsize bytes, I8 to I64 by size, and returns
// true, or returns false for any other size.
template <bool Swapped, typename I8, typename I16, typename I32, typename I64, typename Read>
bool with_integer_reader(Py_ssize_t itemsize, Read&& read) {
    switch (itemsize) {
        case 1:
            read(NumberReader<I8, uint8_t, Swapped>{});
            return true;
        case 2:
            read(NumberReader<I16, uint16_t, Swapped>{});
            return true;
        case 4:
            read(NumberReader<I32, uint32_t, Swapped>{});
            return true;
        case 8:
            read(NumberReader<I64, uint64_t, Swapped>{});
            return true;
        default:
            return false;
    }
}

// Calls read with the reader of the buffer's items and returns true, or returns false when the
// items are not stored in a way that is read directly.
template <bool Swapped, typename Read>
bool with_reader(const ItemFormat& item, Py_ssize_t itemsize, Read&& read) {
    switch (item.type) {
        case ItemType::boolean:
            if (itemsize != 1) {
                return false;
            }
            read(BooleanReader{});
            return true;
        case ItemType::signed_integer:
            return with_integer_reader<Swapped, int8_t, int16_t, int32_t, int64_t>(itemsize, read);
        case ItemType::unsigned_integer:
            return with_integer_reader<Swapped, uint8_t, uint16_t, uint32_t, uint64_t>(itemsize,
                                                                                       read);
        case ItemType::floating:
            if (item.code == 'e' && itemsize == 2) {
                read(HalfReader<Swapped>{});
                return true;
            }
            if (item.code == 'f' && itemsize == 4) {
                read(NumberReader<float, uint32_t, Swapped>{});
                return true;
            }
            if (item.code == 'd' && itemsize == 8) {
                read(NumberReader<double, uint64_t, Swapped>{});
                return true;
            }
            return false;
        default:
            return false;
    }
}

// count items from first, stride bytes apart (the stride may be 0 or negative). A row of
// doubles side by side in machine order is copied as it is.
template <typename Reader>
zorp::Series read_items(const char* first, Py_ssize_t count, Py_ssize_t stride,
                        const zorp::Cancellation& cancel) {
    const auto size = static_cast<size_t>(count);
    if (std::is_same<Reader, NumberReader<double, uint64_t, false>>::value &&
        stride == sizeof(double) && reinterpret_cast<uintptr_t>(first) % alignof(double) == 0) {
        const auto* values = reinterpret_cast<const double*>(first);
        zorp::Series series;
        series.reserve(size);
        zorp::in_blocks(size, 1, cancel, [&](size_t from, size_t to) {
            series.insert(series.end(), values + from, values + to);
        });
        return series;
    }
    zorp::Series series(size);
    zorp::in_blocks(size, 1, cancel, [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            series[i] = Reader::read(first + static_cast<Py_ssize_t>(i) * stride);
        }
    });
    return series;
}

enum class BufferRead { done, refused, not_read };

// Reads source's buffer when it has ndim dimensions (2 for a set, 1 for a series) of numbers
// read directly, handing store the buffer and the reader of its items. A buffer of complex
// numbers is refused: they have no float value, and the conversion of their host numbers only
// warns that it drops the imaginary part. Without conversion nothing is read here, since
// whether each item would pass then depends on its host type.
template <typename Store>
BufferRead read_buffer(PyObject* source, int ndim, bool convert, Store&& store) {
    if (!convert) {
        return BufferRead::not_read;
    }
    const HeldBuffer buffer(source);
    const Py_buffer* view = buffer.with_dimensions(ndim);
    if (view == nullptr) {
        return BufferRead::not_read;
    }
    const ItemFormat item = item_format(*view);
    if (item.type == ItemType::complex) {
        return BufferRead::refused;
    }
    const auto read = [&](auto reader) { store(*view, reader); };
    const bool done = item.swapped ? with_reader<true>(item, view->itemsize, read)
                                   : with_reader<false>(item, view->itemsize, read);
    return done ? BufferRead::done : BufferRead::not_read;
}

// A complex object (numpy's complex128 is one), or a scalar or array whose buffer holds complex
// numbers: a float conversion, where it has one, drops the imaginary part.
bool is_complex(PyObject* number) {
    if (PyComplex_Check(number)) {
        return true;
    }
    const HeldBuffer buffer(number);
    const Py_buffer* view = buffer.any();
    return view != nullptr && item_format(*view).type == ItemType::complex;
}

// A numpy date (datetime64): not a number, though one outside the years a datetime.date holds
// (year 0, or past 9999) converts to its count of days through __float__.
bool is_date(PyObject* object) {
    return std::strcmp(Py_TYPE(object)->tp_name, "numpy.datetime64") == 0;
}

// One number: a float (of any float type) as it is, a complex number or a date refused,
// anything else through the general float conversion, which calls __float__ or __index__ and
// refuses str and bytes.
bool load_value(py::handle item, bool convert, double& value) {
    if (PyFloat_Check(item.ptr())) {
        value = PyFloat_AS_DOUBLE(item.ptr());
        return true;
    }
    if (is_complex(item.ptr()) || is_date(item.ptr())) {
        return false;
    }
    py::detail::make_caster<double> number;
    if (!number.load(item, convert)) {
        return false;
    }
    value = py::detail::cast_op<double>(number);
    return true;
}

bool is_sequence(PyObject* object) {
    return PySequence_Check(object) && !PyBytes_Check(object) && !PyUnicode_Check(object);
}

// The length of a sequence as len() gives it, raising what len() raises.
Py_ssize_t length_of(py::handle sequence) {
    const Py_ssize_t length = PySequence_Size(sequence.ptr());
    if (length < 0) {
        throw py::error_already_set();
    }
    return length;
}

bool is_list_or_tuple(PyObject* object) {
    return PyList_CheckExact(object) || PyTuple_CheckExact(object);
}

// Item i as indexing gives it. An exact list or tuple is read in place while i is within it;
// a list that the conversion of an earlier item shortened raises IndexError, as indexing does.
py::object item_of(py::handle sequence, Py_ssize_t i) {
    PyObject* object = sequence.ptr();
    if (is_list_or_tuple(object) && i < PySequence_Fast_GET_SIZE(object)) {
        return py::reinterpret_borrow<py::object>(PySequence_Fast_GET_ITEM(object, i));
    }
    PyObject* item = PySequence_GetItem(object, i);
    if (item == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(item);
}

// The items of a sequence one by one, as many as its length when the reading starts. A float
// in a list or tuple is read where it lies: nothing runs meanwhile that could change the list
// (the signal check, which may run a handler, comes before the list is looked at again).
// The work units of converting one item through its type, rather than reading a float.
constexpr size_t object_units = 256;

bool load_values(py::handle sequence, bool convert, zorp::Series& series,
                 const zorp::Cancellation& cancel) {
    PyObject* object = sequence.ptr();
    const bool in_place = is_list_or_tuple(object);
    const Py_ssize_t count = length_of(sequence);
    series.resize(static_cast<size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        cancel.count_step(static_cast<size_t>(i));
        double& value = series[static_cast<size_t>(i)];
        if (in_place && i < PySequence_Fast_GET_SIZE(object)) {
            PyObject* item = PySequence_Fast_GET_ITEM(object, i);
            if (PyFloat_CheckExact(item)) {
                value = PyFloat_AS_DOUBLE(item);
                continue;
            }
        }
        // Any other item is converted through its type, which may take a microsecond or more.
        cancel.count(object_units);
        if (!load_value(item_of(sequence, i), convert, value)) {
            return false;
        }
    }
    return true;
}

// One series: a sequence (not a str or bytes object) of numbers, read from a 1-D buffer when it
// has one of numbers.
bool load_series(py::handle source, bool convert, zorp::Series& series,
                 const zorp::Cancellation& cancel) {
    PyObject* object = source.ptr();
    if (!is_list_or_tuple(object)) {
        if (!is_sequence(object)) {
            return false;
        }
        const auto store = [&](const Py_buffer& view, auto reader) {
            series = read_items<decltype(reader)>(static_cast<const char*>(view.buf), view.shape[0],
                                                  view.strides[0], cancel);
        };
        switch (read_buffer(object, 1, convert, store)) {
            case BufferRead::done:
                return true;
            case BufferRead::refused:
                return false;
            case BufferRead::not_read:
                break;
        }
    }
    return load_values(source, convert, series, cancel);
}

// A series set: a sequence (not a str or bytes object) of series, read row by row from a 2-D
// buffer when it has one of numbers.
bool load_series_set(py::handle source, bool convert, zorp::SeriesSet& set) {
    PyObject* object = source.ptr();
    if (!is_sequence(object)) {
        return false;
    }
    const zorp::Cancellation cancel = signal_check();
    const auto store = [&](const Py_buffer& view, auto reader) {
        const char* first_row = static_cast<const char*>(view.buf);
        set.reserve(static_cast<size_t>(view.shape[0]));
        for (Py_ssize_t row = 0; row < view.shape[0]; ++row) {
            cancel.count(1);
            set.push_back(read_items<decltype(reader)>(first_row + row * view.strides[0],
                                                       view.shape[1], view.strides[1], cancel));
        }
    };
    switch (read_buffer(object, 2, convert, store)) {
        case BufferRead::done:
            return true;
        case BufferRead::refused:
            return false;
        case BufferRead::not_read:
            break;
    }
    const Py_ssize_t count = length_of(source);
    set.reserve(static_cast<size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        cancel.count(1);
        if (!load_series(item_of(source, i), convert, set.emplace_back(), cancel)) {
            return false;
        }
    }
    return true;
}

// A sequence (not a str or bytes object) of items that load_item converts into a container,
// read exactly as pybind11 reads a list argument: its length taken once to reserve room and
// once to iterate, each item fetched by its index.
template <typename Container, typename LoadItem>
bool load_list(py::handle source, Container& into, const zorp::Cancellation& cancel,
               LoadItem&& load_item) {
    if (!py::isinstance<py::sequence>(source) || py::isinstance<py::bytes>(source) ||
        py::isinstance<py::str>(source)) {
        return false;
    }
    const auto sequence = py::reinterpret_borrow<py::sequence>(source);
    into.clear();
    into.reserve(sequence.size());
    size_t index = 0;
    for (const auto& item : sequence) {
        cancel.count_step(index++);
        typename Container::value_type value{};
        if (!load_item(item, value)) {
            return false;
        }
        into.push_back(std::move(value));
    }
    return true;
}

}  // namespace

bool read_series_set(py::handle source, bool convert, zorp::SeriesSet& set) {
    return load_series_set(source, convert, set);
}

bool read_word_set(py::handle source, bool convert, zorp::WordSet& words) {
    using py::handle;
    using py::detail::cast_op;
    using py::detail::make_caster;
    const zorp::Cancellation cancel = signal_check();
    return load_list(source, words, cancel, [&](handle word, zorp::Word& letters) {
        return load_list(word, letters, cancel, [&](handle symbol, char& byte) {
            make_caster<Symbol> converted;
            if (!converted.load(symbol, convert)) {
                return false;
            }
            byte = cast_op<Symbol&>(converted).byte;
            return true;
        });
    });
}
