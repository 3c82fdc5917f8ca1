// PanicException: how an abort of the module's own logic reaches Python.
#pragma once

#include <Python.h>

#include <string_view>

namespace norvik_auth::binding {

/// Creates the PanicException class (a BaseException, like SystemExit) unless it exists; made
/// at import and kept for the life of the process. False, with the exception set, on failure.
bool create_panic_exception_type();

/// The class, or null before the import created it (no instance can exist before it does).
PyObject* panic_exception_type() noexcept;

/// Ends the process: a failure happened while a failure was being reported.
[[noreturn]] void die_while_reporting(std::string_view reason) noexcept;

}  // namespace norvik_auth::binding
