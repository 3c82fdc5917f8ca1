// The Python classes WebAppUser, WebAppChat and WebAppInitData around the C++ records.
#pragma once

#include <Python.h>

#include "binding/py_ref.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::binding {

enum class RecordClass { User, Chat, InitData };

/// The class's bare name, e.g. "WebAppUser".
const char* record_class_name(RecordClass which);

/// The class object for the module body, created on first use and kept for the process; a
/// failure is a RuntimeError "An error occurred while initializing class <name>" (PyError).
PyTypeObject* record_class_for_import(RecordClass which);

/// A new WebAppInitData instance holding an empty record, to be filled in place before the
/// instance is handed to anyone.
PyRef new_init_data_object();
/// The record inside a WebAppInitData instance.
webapp_data::WebAppInitData& init_data_record(PyObject* object);

/// A shared read of a WebAppInitData argument: the record cannot change while this lives.
class InitDataArgument {
public:
    /// Throws PyError with "argument '<name>': '<type>' object cannot be converted to
    /// 'WebAppInitData'" for any other object.
    InitDataArgument(PyObject* object, const char* name);
    InitDataArgument(const InitDataArgument&) = delete;
    InitDataArgument& operator=(const InitDataArgument&) = delete;
    ~InitDataArgument();

    const webapp_data::WebAppInitData& record() const;

private:
    PyRef object_;
};

}  // namespace norvik_auth::binding
