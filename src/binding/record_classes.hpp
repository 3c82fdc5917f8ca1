// The Python classes WebAppUser, WebAppChat and WebAppInitData around the C++ records.
#pragma once

#include <Python.h>

namespace norvik_auth::binding {

enum class RecordClass { User, Chat, InitData };

/// The class's bare name, e.g. "WebAppUser".
const char* record_class_name(RecordClass which);

/// The class object for the module body, created on first use and kept for the process; a
/// failure is null with RuntimeError "An error occurred while initializing class <name>" set.
PyTypeObject* record_class_for_import(RecordClass which);

}  // namespace norvik_auth::binding
