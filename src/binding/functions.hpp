// The three module functions as the interpreter calls them.
#pragma once

#include <Python.h>

#include <array>

namespace norvik_auth::binding {

/// Descriptors of validate_webapp_data, get_secret_key and parse_webapp_data, in registration
/// order; static, so they outlive every function object made from them.
std::array<PyMethodDef*, 3> module_functions();

}  // namespace norvik_auth::binding
