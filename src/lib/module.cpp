// PyInit_norvik_auth: one module object per process, its classes and functions in a fixed order.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "binding/call_wrapper.hpp"
#include "binding/functions.hpp"
#include "binding/py_error.hpp"
#include "binding/record_types.hpp"

namespace norvik_auth::lib {
namespace {

using binding::built;
using binding::checked;
using binding::PyRef;

// Class objects and the cached module are shared process-wide, so only the first interpreter
// that starts importing may own them; the claim is never given up.
std::atomic<std::int64_t> g_claiming_interpreter{-1};
PyObject* g_cached_module = nullptr;  // never released

PyModuleDef g_module_definition = {
    PyModuleDef_HEAD_INIT,
    "norvik_auth",
    "",       // __doc__ is the empty text
    0,        // no per-module state
    nullptr,  // functions are added by the module body, each listed in __all__
    nullptr,  // single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

/// Appends `name` to the module's __all__ (made on first use) and sets the attribute.
void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all_name = built(PyUnicode_InternFromString("__all__"));
    PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) binding::throw_pending_error();
        PyErr_Clear();
        all = built(PyList_New(0));
        if (PyObject_SetAttr(module, all_name.get(), all.get()) < 0) binding::throw_pending_error();
    }
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), name) < 0) {
        PyErr_Clear();
        throw Abort("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) binding::throw_pending_error();
}

void run_module_body(PyObject* module) {
    for (const auto which :
         {binding::RecordClass::User, binding::RecordClass::Chat, binding::RecordClass::InitData}) {
        PyTypeObject* type = binding::record_class_for_import(which);
        PyRef name = built(PyUnicode_FromString(binding::record_class_name(which)));
        add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type));
    }
    PyRef dunder_name = built(PyUnicode_InternFromString("__name__"));
    for (PyMethodDef* definition : binding::module_functions()) {
        PyRef module_name = checked(PyModule_GetNameObject(module));
        PyRef function = checked(PyCMethod_New(definition, module, module_name.get(), nullptr));
        PyRef name = checked(PyObject_GetAttr(function.get(), dunder_name.get()));
        if (!PyUnicode_Check(name.get())) {
            binding::throw_error(PyExc_TypeError,
                                 binding::conversion_error_text(name.get(), "PyString"));
        }
        add_to_module(module, name.get(), function.get());
    }
}

PyRef initialise_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) binding::throw_pending_error();
    std::int64_t unclaimed = -1;
    if (!g_claiming_interpreter.compare_exchange_strong(unclaimed, interpreter) &&
        unclaimed != interpreter) {
        binding::throw_error(PyExc_ImportError,
                             "norvik_auth does not support subinterpreters yet: it can be imported "
                             "in one interpreter per process (see \"Subinterpreters\" in its "
                             "README)");
    }
    if (g_cached_module != nullptr) return PyRef::borrow(g_cached_module);

    PyRef module = checked(PyModule_Create2(&g_module_definition, 1013));
    run_module_body(module.get());
    if (g_cached_module == nullptr) g_cached_module = PyRef::borrow(module.get()).release();
    return PyRef::borrow(g_cached_module);
}

}  // namespace
}  // namespace norvik_auth::lib

PyMODINIT_FUNC PyInit_norvik_auth() {
    return norvik_auth::binding::call_wrapper(norvik_auth::lib::initialise_module);
}
