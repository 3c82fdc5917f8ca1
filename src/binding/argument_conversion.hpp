// Taking Python arguments as the C++ values the core works on.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace norvik_auth::binding {

/// The UTF-8 text of a `str` (or subclass) argument, viewed in place: valid while the caller
/// holds the argument. Empty with the exception set (prefixed with the parameter name where it
/// is a TypeError).
std::optional<std::string_view> utf8_argument(PyObject* object, const char* name);

/// Key bytes taken from any sequence of integers 0..255 except a `str`.
class KeyBytes {
public:
    KeyBytes() = default;
    KeyBytes(const KeyBytes&) = delete;
    KeyBytes& operator=(const KeyBytes&) = delete;

    /// Takes the bytes of `object`; false with the exception set, an OverflowError for an item
    /// outside 0..255.
    [[nodiscard]] bool take(PyObject* object, const char* name);

    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    enum class ItemsRead { All, NeedProtocol, Refused };

    /// Exact lists and tuples of exact ints run no Python code while read, so they are read
    /// directly; NeedProtocol (nothing taken) when an item needs the general protocol.
    ItemsRead take_exact_int_items(PyObject* object);
    /// Takes the bytes through the sequence protocol, which may run the caller's code.
    [[nodiscard]] bool take_items(PyObject* object);
    [[nodiscard]] static bool checked_byte(long value, std::uint8_t& byte);

    // Keys are 32 bytes as a rule: lists and tuples up to this size need no allocation.
    std::array<std::uint8_t, 64> inline_;
    std::vector<std::uint8_t> owned_;      // other sequences, and longer lists and tuples
    std::span<const std::uint8_t> bytes_;  // into one of the above, or the argument's buffer
};

}  // namespace norvik_auth::binding
