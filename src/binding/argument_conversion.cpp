// Argument conversions: `str` as UTF-8 and key sequences as bytes, with their error rules.
#include "binding/argument_conversion.hpp"

#include <algorithm>

#include "binding/py_error.hpp"
#include "binding/py_ref.hpp"

namespace norvik_auth::binding {
namespace {

// A sequence's length is only a hint for reserving; a lying __len__ must not make us allocate.
constexpr Py_ssize_t kMaxReservedKeyBytes = 4096;

/// The value of an exact int that fits one internal digit, read without a call (a key's 32
/// items are otherwise 32 calls of PyLong_AsLong); false for anything else.
bool compact_int_value(PyObject* object, long& value) {
#if PY_VERSION_HEX >= 0x030C0000
    auto* number = reinterpret_cast<PyLongObject*>(object);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    value = static_cast<long>(PyUnstable_Long_CompactValue(number));
    return true;
#else
    const Py_ssize_t digits = Py_SIZE(object);
    if (digits == 0) {
        value = 0;
        return true;
    }
    if (digits != 1) return false;  // negative, or too large for a byte: converted the long way
    value = static_cast<long>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
    return true;
#endif
}

/// Sets "argument '<name>': '<type>' object cannot be converted to '<target>'".
void set_wrong_kind_error(PyObject* object, const char* name, std::string_view target) {
    const std::optional<std::string> text = conversion_error_text(object, target);
    if (!text) return;
    set_error(PyExc_TypeError, std::string("argument '") + name + "': " + *text);
}

std::span<const std::uint8_t> byte_span(const char* data, Py_ssize_t size) {
    return {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

}  // namespace

std::optional<std::string_view> utf8_argument(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) {
        set_wrong_kind_error(object, name, "PyString");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    // The interpreter caches the UTF-8 form inside the string object, so this copies nothing
    // on later calls and the view stays valid for as long as the argument lives.
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        pass_on_pending_error();
        prefix_argument_error(name);
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

bool KeyBytes::take(PyObject* object, const char* name) {
    if (PyUnicode_Check(object)) {
        set_error(PyExc_TypeError,
                  std::string("argument '") + name + "': Can't extract `str` to `Vec`");
        return false;
    }
    // Exact bytes and bytearray iterate to their own bytes and run no Python code: read in place.
    if (PyBytes_CheckExact(object)) {
        bytes_ = byte_span(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object));
        return true;
    }
    if (PyByteArray_CheckExact(object)) {
        bytes_ = byte_span(PyByteArray_AS_STRING(object), PyByteArray_GET_SIZE(object));
        return true;
    }
    if (!PySequence_Check(object)) {
        set_wrong_kind_error(object, name, "Sequence");
        return false;
    }
    switch (take_exact_int_items(object)) {
        case ItemsRead::All: return true;
        case ItemsRead::Refused: return false;
        case ItemsRead::NeedProtocol: break;
    }
    if (!take_items(object)) {
        prefix_argument_error(name);
        return false;
    }
    bytes_ = owned_;
    return true;
}

bool KeyBytes::take_items(PyObject* object) {
    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0) {
        if (!drop_pending_error()) return false;
    } else {
        owned_.reserve(static_cast<std::size_t>(std::min(length, kMaxReservedKeyBytes)));
    }
    const PyRef iterator = checked(PyObject_GetIter(object));
    if (!iterator) return false;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        // Through __index__ only, on every version: Python 3.9's PyLong_AsLong would still
        // take objects that merely define __int__.
        const PyRef index = checked(PyNumber_Index(item.get()));
        std::uint8_t byte = 0;
        if (!index || !checked_byte(PyLong_AsLong(index.get()), byte)) return false;
        owned_.push_back(byte);
    }
    if (PyErr_Occurred()) {
        pass_on_pending_error();
        return false;
    }
    return true;
}

KeyBytes::ItemsRead KeyBytes::take_exact_int_items(PyObject* object) {
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) return ItemsRead::NeedProtocol;
    const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object));
    PyObject* const* items = PySequence_Fast_ITEMS(object);
    std::uint8_t* out = inline_.data();
    if (count > inline_.size()) {
        owned_.resize(count);
        out = owned_.data();
    }
    // An item that is not an exact int sends the whole key the general way, whose errors then
    // come in sequence order; so no range error is raised before every item has been looked at.
    // Reading these runs no Python code, so the items cannot change meanwhile.
    bool all_small = true;
    for (std::size_t i = 0; i < count; ++i) {
        if (!PyLong_CheckExact(items[i])) {
            owned_.clear();  // the general way appends
            return ItemsRead::NeedProtocol;
        }
        long value = 0;
        all_small &=
            compact_int_value(items[i], value) && static_cast<unsigned long>(value) <= 255;
        out[i] = static_cast<std::uint8_t>(value);
    }
    if (!all_small) {
        for (std::size_t i = 0; i < count; ++i) {
            if (!checked_byte(PyLong_AsLong(items[i]), out[i])) return ItemsRead::Refused;
        }
    }
    bytes_ = {out, count};
    return ItemsRead::All;
}

// The same conversion and errors for every item, whichever way it was read.
bool KeyBytes::checked_byte(long value, std::uint8_t& byte) {
    if (value == -1 && PyErr_Occurred()) {
        pass_on_pending_error();
        return false;
    }
    if (value < 0 || value > 255) {
        set_error(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    byte = static_cast<std::uint8_t>(value);
    return true;
}

}  // namespace norvik_auth::binding
