// The boundary every call from Python crosses: what escapes a body becomes a Python exception.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define NORVIK_HAVE_FORCED_UNWIND 1
#endif

#include "binding/py_error.hpp"
#include "binding/py_ref.hpp"

namespace norvik_auth::binding {

/// Message of a PanicException for a failure that carries no text of its own.
inline constexpr std::string_view kUnknownNativeFailure =
    "native code failed with an unexpected C++ exception";

/// Raises the Python exception that stands for the C++ exception being handled. Not noexcept:
/// raising runs interpreter code, and the thread may be ended there.
inline void raise_current_exception() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        // Running out of memory is the caller's to handle, not a reason to end its process.
        PyErr_NoMemory();
    } catch (...) {
        raise_panic(kUnknownNativeFailure);
    }
}

// Failures travel as values: a body returns an empty result with the exception set, and a
// refusal of the core is set as PanicException where the body meets it. What is left to catch
// here is the standard library's std::bad_alloc.
//
// A thread being ended (pthread_exit, which the runtime calls for daemon threads at exit)
// unwinds through us as a forced unwind: it must go on, and without the interpreter lock
// nothing may be reported. The wrappers below are not noexcept for that reason alone; every
// other exception stops in them. Where the runtime's forced unwind has no type of its own, a
// thread without the lock can only be in that unwind.

/// Runs `body`; when it throws, raises the matching Python exception and returns what
/// `on_failure` returns instead.
template <class Body, class OnFailure>
auto run_guarded(Body&& body, OnFailure&& on_failure) -> decltype(body()) {
    try {
        return std::forward<Body>(body)();
#ifdef NORVIK_HAVE_FORCED_UNWIND
    } catch (const abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        if (!holds_interpreter_lock()) throw;
        raise_current_exception();
        return std::forward<OnFailure>(on_failure)();
    }
}

/// Runs `body` (returning PyRef: its object, or empty with the exception set) for the
/// interpreter: the object, or null with the exception set.
template <class Body>
PyObject* call_wrapper(Body&& body) {
    return run_guarded([&] { return std::forward<Body>(body)().release(); },
                       []() -> PyObject* { return nullptr; });
}

/// Runs a deallocation body; a failure goes to the unraisable hook, since nobody can catch it.
template <class Body>
void dealloc_wrapper(PyObject* self, Body&& body) {
    run_guarded(std::forward<Body>(body), [self] { PyErr_WriteUnraisable(self); });
}

}  // namespace norvik_auth::binding
