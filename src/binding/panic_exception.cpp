// PanicException: how an abort of the module's own logic reaches Python.
#include "binding/panic_exception.hpp"

#include <cstdio>
#include <cstdlib>

namespace norvik_auth::binding {
namespace {

// Created once, under the interpreter lock, and never released: instances may outlive any call.
PyObject* g_panic_exception = nullptr;

constexpr const char kPanicDoc[] =
    "\nRaised when native code called from Python aborts; its only argument is the message "
    "describing the failure.\n\nLike SystemExit, it derives from BaseException, so it usually "
    "propagates all the way up the stack and stops the interpreter.\n";

}  // namespace

bool create_panic_exception_type() {
    if (g_panic_exception != nullptr) return true;
    // Not under norvik_auth: the class is no attribute of that module and must not look like
    // one.
    g_panic_exception = PyErr_NewExceptionWithDoc("norvik_binding.PanicException", kPanicDoc,
                                                  PyExc_BaseException, nullptr);
    return g_panic_exception != nullptr;
}

PyObject* panic_exception_type() noexcept { return g_panic_exception; }

void die_while_reporting(std::string_view reason) noexcept {
    if (PyErr_Occurred()) PyErr_Print();
    std::fprintf(stderr, "norvik_auth: uncaught panic at ffi boundary: %.*s\n",
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace norvik_auth::binding
