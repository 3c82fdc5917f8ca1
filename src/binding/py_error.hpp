// How binding code meets the interpreter's error indicator: taking, raising and checking errors.
//
// Binding code follows the interpreter's own convention and throws nothing: a function that
// fails sets the Python exception and returns an empty result (an empty PyRef or optional,
// false, null), which its caller passes on up to the call wrapper.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

#include "binding/py_ref.hpp"
#include "util/outcome.hpp"

namespace norvik_auth::binding {

/// After a failed host call whose exception goes to the caller: a SystemError is set when none
/// is pending, and a PanicException raised by other code is resumed as a fresh one.
void pass_on_pending_error();

/// After a failed host call whose exception the caller means to drop: clears it. False when it
/// was a PanicException raised by other code, resumed as a fresh one: the call must fail then.
[[nodiscard]] bool drop_pending_error();

/// Owns the result of a host call; empty when it failed, its exception passed on.
inline PyRef checked(PyObject* result) {
    if (result == nullptr) pass_on_pending_error();
    return PyRef::steal(result);
}

/// A host object the module builds for itself could not be made: prints the pending exception
/// and sets PanicException "Python API call failed".
void report_build_failure();

/// Owns an object the module builds (string, integer, list); empty when it could not be made,
/// with PanicException "Python API call failed" set.
inline PyRef built(PyObject* object) {
    if (object == nullptr) report_build_failure();
    return PyRef::steal(object);
}

/// Sets a fully formed `type(message)` as the pending exception; `message` is UTF-8.
void set_error(PyObject* type, std::string_view message);

/// Sets `type(message)` for a ready message object.
void set_error(PyObject* type, const PyRef& message);

/// Sets a pending PanicException whose only argument is `message` (UTF-8).
void raise_panic(std::string_view message);

/// The core refused the call: sets PanicException with the failure's message, and returns the
/// empty result that passes it on.
PyRef raise_failure(const util::Failure& failure);

/// Replaces the pending exception by a new `type(message)` whose __cause__ is the old one.
void set_error_caused_by_pending(PyObject* type, std::string_view message);

/// The attribute `name` of `object` as UTF-8 text, or `fallback` (the error dropped) when it
/// is missing, not a `str` or has no UTF-8 form. Empty only when the call must fail.
std::optional<std::string> text_attribute(PyObject* object, const char* name,
                                          std::string_view fallback);

/// "'<qualname of object's type>' object cannot be converted to '<target>'"; empty only when
/// the call must fail.
std::optional<std::string> conversion_error_text(PyObject* object, std::string_view target);

/// Inside a failed conversion of argument `name`: an exact TypeError is replaced by a new
/// TypeError "argument '<name>': <str(error)>" keeping the old one's __cause__; any other
/// pending exception is left as it is.
void prefix_argument_error(const char* name);

}  // namespace norvik_auth::binding
