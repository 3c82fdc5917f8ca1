// PanicException: how an abort of the module's own logic reaches Python.
#pragma once

#include <Python.h>

#include <string_view>

namespace norvik_auth::binding {

/// The PanicException class, created on first use and kept for the life of the process.
PyObject* panic_exception_type() noexcept;

/// The class if it exists yet, else null (no instance can exist before the class does).
PyObject* panic_exception_type_if_created() noexcept;

/// Sets a pending PanicException whose only argument is `message` (UTF-8).
void raise_panic(std::string_view message) noexcept;

/// Ends the process: a failure happened while a failure was being reported.
[[noreturn]] void die_while_reporting(std::string_view reason) noexcept;

}  // namespace norvik_auth::binding
