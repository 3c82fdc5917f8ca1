// PyInit_norvik_auth: one module object per process, its classes and functions in a fixed order.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "binding/call_wrapper.hpp"
#include "binding/functions.hpp"
#include "binding/panic_exception.hpp"
#include "binding/py_error.hpp"
#include "binding/record_classes.hpp"

#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
// CPython 3.12's own test whether the current interpreter may load a single-phase module, its
// overrides included; exported, but declared only among the internal headers.
extern "C" PyAPI_FUNC(int) _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);
#endif

namespace norvik_auth::binding {
namespace {

// Class objects and the cached module are shared process-wide, so only the first interpreter
// that starts importing may own them; the claim is never given up.
std::atomic<std::int64_t> g_claiming_interpreter{-1};
PyObject* g_cached_module = nullptr;  // never released

PyModuleDef g_module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "norvik_auth",
    .m_doc = "",  // __doc__ is the empty text
    .m_size = 0,
    .m_methods = nullptr,  // the body adds the functions, each listed in __all__
    .m_slots = nullptr,    // single-phase initialisation
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

/// Appends `name` to the module's __all__ (made on first use) and sets the attribute; false
/// with the exception set.
bool add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all_name = built(PyUnicode_InternFromString("__all__"));
    if (!all_name) return false;
    PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            pass_on_pending_error();
            return false;
        }
        PyErr_Clear();
        all = built(PyList_New(0));
        if (!all) return false;
        if (PyObject_SetAttr(module, all_name.get(), all.get()) < 0) {
            pass_on_pending_error();
            return false;
        }
    }
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), name) < 0) {
        PyErr_Clear();
        raise_panic("could not append __name__ to __all__");
        return false;
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        pass_on_pending_error();
        return false;
    }
    return true;
}

bool run_module_body(PyObject* module) {
    for (const auto which :
         {RecordClass::User, RecordClass::Chat, RecordClass::InitData}) {
        PyTypeObject* type = record_class_for_import(which);
        if (type == nullptr) return false;
        PyRef name = built(PyUnicode_FromString(record_class_name(which)));
        if (!name || !add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type))) {
            return false;
        }
    }
    PyRef dunder_name = built(PyUnicode_InternFromString("__name__"));
    if (!dunder_name) return false;
    for (PyMethodDef* definition : module_functions()) {
        PyRef module_name = checked(PyModule_GetNameObject(module));
        if (!module_name) return false;
        PyRef function = checked(PyCMethod_New(definition, module, module_name.get(), nullptr));
        if (!function) return false;
        PyRef name = checked(PyObject_GetAttr(function.get(), dunder_name.get()));
        if (!name) return false;
        if (!PyUnicode_Check(name.get())) {
            const std::optional<std::string> text = conversion_error_text(name.get(), "PyString");
            if (text) set_error(PyExc_TypeError, *text);
            return false;
        }
        if (!add_to_module(module, name.get(), function.get())) return false;
    }
    return true;
}

PyRef initialise_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
        pass_on_pending_error();
        return {};
    }
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
    // 3.12 runs this function even in an interpreter that may not load single-phase modules (one
    // with its own GIL) and refuses the module only afterwards. Refused here first, with the same
    // ImportError, such an interpreter never claims the module, and another one can still import
    // it. From 3.13 on, CPython runs this function in the main interpreter in any case.
    if (_PyImport_CheckSubinterpIncompatibleExtensionAllowed(g_module_definition.m_name) < 0) {
        pass_on_pending_error();
        return {};
    }
#endif
    std::int64_t unclaimed = -1;
    if (!g_claiming_interpreter.compare_exchange_strong(unclaimed, interpreter) &&
        unclaimed != interpreter) {
        set_error(PyExc_ImportError,
                  "norvik_auth does not support subinterpreters yet: it can be imported in one "
                  "interpreter per process (see \"Subinterpreters\" in its README)");
        return {};
    }
    if (g_cached_module != nullptr) return PyRef::borrow(g_cached_module);

    // Made now rather than on first need, so that failing to make it fails the import
    // instead of a later call.
    if (!create_panic_exception_type()) {
        set_error_caused_by_pending(
            PyExc_ImportError,
            "norvik_auth cannot start: its PanicException class was not created");
        return {};
    }
    PyRef module = checked(PyModule_Create2(&g_module_definition, 1013));
    if (!module || !run_module_body(module.get())) return {};
    if (g_cached_module == nullptr) g_cached_module = PyRef::borrow(module.get()).release();
    return PyRef::borrow(g_cached_module);
}

}  // namespace
}  // namespace norvik_auth::binding

PyMODINIT_FUNC PyInit_norvik_auth() {
    return norvik_auth::binding::call_wrapper(norvik_auth::binding::initialise_module);
}
