// How binding code meets the interpreter's error indicator: taking, raising and checking errors.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

#include "binding/py_ref.hpp"

namespace norvik_auth::binding {

/// Thrown once a Python exception is pending; the call wrapper returns null to the interpreter.
struct PyError {};

/// After a failed host call: throws PyError for the pending exception (SystemError when none is
/// pending), or lib::Abort when a PanicException raised by other code is pending.
[[noreturn]] void throw_pending_error();

/// After a failed host call whose exception the caller means to drop: clears it, unless it is a
/// PanicException raised by other code, which is resumed as lib::Abort.
void drop_pending_error();

/// A host object the module builds for itself could not be made: prints the pending exception
/// and aborts the call with "Python API call failed".
[[noreturn]] void throw_build_failure();

/// Owns the result of a host call whose failure passes on to the caller.
inline PyRef checked(PyObject* result) {
    if (result == nullptr) throw_pending_error();
    return PyRef::steal(result);
}

/// Owns an object the module builds (string, integer, list); failure aborts the call.
inline PyRef built(PyObject* object) {
    if (object == nullptr) throw_build_failure();
    return PyRef::steal(object);
}

/// Sets a fully formed `type(message)` as the pending exception; `message` is UTF-8.
void set_error(PyObject* type, std::string_view message);

/// Sets a pending PanicException whose only argument is `message` (UTF-8).
void raise_panic(std::string_view message);

/// Sets `type(message)` and throws PyError.
[[noreturn]] void throw_error(PyObject* type, std::string_view message);

/// Sets `type(message)` for a ready message object and throws PyError.
[[noreturn]] void throw_error(PyObject* type, const PyRef& message);

/// Replaces the pending exception by a new `type(message)` whose __cause__ is the old one.
[[noreturn]] void throw_error_caused_by_pending(PyObject* type, std::string_view message);

/// The attribute `name` of `object` as UTF-8 text; nothing (the error dropped) when it is
/// missing, not a `str` or has no UTF-8 form.
std::optional<std::string> text_attribute(PyObject* object, const char* name);

/// "'<qualname of object's type>' object cannot be converted to '<target>'".
std::string conversion_error_text(PyObject* object, std::string_view target);

/// Inside a failed conversion of argument `name`: an exact TypeError is replaced by a new
/// TypeError "argument '<name>': <str(error)>" keeping the old one's __cause__; any other
/// pending exception is left as it is. Always throws PyError.
[[noreturn]] void throw_argument_error(const char* name);

}  // namespace norvik_auth::binding
