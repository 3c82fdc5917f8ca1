// Binding the arguments of a fast call with keywords to a function's parameters.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace norvik_auth::binding {

/// A module function's parameters: all required, each by position or by keyword.
template <std::size_t N>
struct Signature {
    // "name()", as messages show it: a C string, which the interpreter's formatting takes as it
    // is, copied nowhere.
    const char* full_name;
    std::array<const char*, N> parameters;
};

/// Fills one borrowed slot per parameter; false with the binding TypeError set.
[[nodiscard]] bool bind_slots(const char* full_name, std::span<const char* const> parameters,
                              std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

/// The call's arguments in parameter order (borrowed; the caller keeps them alive); empty with
/// the binding TypeError set.
template <std::size_t N>
std::optional<std::array<PyObject*, N>> bind_arguments(const Signature<N>& signature,
                                                       PyObject* const* args, Py_ssize_t nargs,
                                                       PyObject* kwnames) {
    std::array<PyObject*, N> slots{};
    if (!bind_slots(signature.full_name, signature.parameters, slots, args, nargs, kwnames)) {
        return std::nullopt;
    }
    return slots;
}

}  // namespace norvik_auth::binding
