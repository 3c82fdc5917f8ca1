// The PanicException class (a BaseException, like SystemExit) and raising it.
#include "binding/panic_exception.hpp"

#include <cstdio>
#include <cstdlib>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {
namespace {

// Created once, under the interpreter lock, and never released: instances may outlive any call.
PyObject* g_panic_exception = nullptr;

constexpr const char kPanicDoc[] =
    "\nRaised when native code called from Python aborts; its only argument is the message "
    "describing the failure.\n\nLike SystemExit, it derives from BaseException, so it usually "
    "propagates all the way up the stack and stops the interpreter.\n";

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (g_panic_exception == nullptr) {
        // Not under norvik_auth: the class is no attribute of that module and must not look like
        // one.
        PyObject* created = PyErr_NewExceptionWithDoc("norvik_binding.PanicException", kPanicDoc,
                                                      PyExc_BaseException, nullptr);
        if (created == nullptr) die_while_reporting("Failed to initialize new exception type.");
        g_panic_exception = created;
    }
    return g_panic_exception;
}

PyObject* panic_exception_type_if_created() noexcept { return g_panic_exception; }

void raise_panic(std::string_view message) noexcept { set_error(panic_exception_type(), message); }

void die_while_reporting(std::string_view reason) noexcept {
    if (PyErr_Occurred()) PyErr_Print();
    std::fprintf(stderr, "norvik_auth: uncaught panic at ffi boundary: %.*s\n",
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace norvik_auth::binding
