// The boundary every call from Python crosses: C++ exceptions become Python exceptions here.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "binding/panic_exception.hpp"
#include "binding/py_error.hpp"
#include "binding/py_ref.hpp"
#include "lib/abort.hpp"

namespace norvik_auth::binding {

/// Message of a PanicException for a failure that carries no text of its own.
inline constexpr std::string_view kUnknownNativeFailure =
    "native code failed with an unexpected C++ exception";

/// Raises the Python exception that stands for the C++ exception being handled.
inline void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const PyError&) {
        // Already pending.
    } catch (const lib::Abort& abort) {
        raise_panic(abort.message());
    } catch (const std::bad_alloc&) {
        // Running out of memory is the caller's to handle, not a reason to end its process.
        PyErr_NoMemory();
    } catch (...) {
        raise_panic(kUnknownNativeFailure);
    }
}

/// Runs `body` (returning PyRef) for the interpreter: its object, or null with an exception set.
template <class Body>
PyObject* call_wrapper(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)().release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

/// Runs a deallocation body; a failure goes to the unraisable hook, since nobody can catch it.
template <class Body>
void dealloc_wrapper(PyObject* self, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        raise_current_exception();
        PyErr_WriteUnraisable(self);
    }
}

}  // namespace norvik_auth::binding
