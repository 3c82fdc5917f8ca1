// Taking Python arguments as the C++ values the core works on.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace norvik_auth::binding {

/// The UTF-8 text of a `str` (or subclass) argument, viewed in place: valid while the caller
/// holds the argument. Throws PyError (prefixed with the parameter name where it is a TypeError).
std::string_view utf8_argument(PyObject* object, const char* name);

/// Key bytes taken from any sequence of integers 0..255 except a `str`.
class KeyBytes {
public:
    /// Throws PyError, or an OverflowError for an item outside 0..255.
    KeyBytes(PyObject* object, const char* name);
    KeyBytes(const KeyBytes&) = delete;
    KeyBytes& operator=(const KeyBytes&) = delete;

    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    /// Exact lists and tuples of exact ints run no Python code while read, so they are read
    /// directly; false (nothing taken) when an item needs the general protocol.
    bool take_exact_int_items(PyObject* object);
    void append_checked(long value);

    std::vector<std::uint8_t> owned_;      // filled for sequences other than bytes and bytearray
    std::span<const std::uint8_t> bytes_;  // into owned_ or into the argument's own buffer
};

}  // namespace norvik_auth::binding
