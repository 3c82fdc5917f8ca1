// Taking a WebAppInitData argument: the instance checked and read in place.
#pragma once

#include <Python.h>

#include "binding/py_ref.hpp"
#include "binding/record_object.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::binding {

/// A shared read of a WebAppInitData argument: the record cannot change while this lives.
class InitDataArgument {
public:
    InitDataArgument() = default;

    /// Takes `object`; false with "argument '<name>': '<type>' object cannot be converted to
    /// 'WebAppInitData'" set for any other object.
    [[nodiscard]] bool take(PyObject* object, const char* name);

    /// Only after take() succeeded.
    const webapp_data::WebAppInitData& record() const {
        return as_record_object<webapp_data::WebAppInitData>(object_.get())->record;
    }

private:
    // Records never change once built, so reading in place under a shared read (with our own
    // reference keeping the instance alive) is as safe as a copy, and costs nothing. The read
    // ends before the reference is dropped.
    PyRef object_;
    SharedRead read_;
};

}  // namespace norvik_auth::binding
