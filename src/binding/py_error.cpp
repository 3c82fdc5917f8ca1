// Taking, raising and rewriting Python exceptions for the binding layer.
#include "binding/py_error.hpp"

#include "binding/panic_exception.hpp"

namespace norvik_auth::binding {
namespace {

/// Moves the pending exception out of the indicator as one normalised instance.
PyRef take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyRef::steal(PyErr_GetRaisedException());
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_traceback = PyRef::steal(traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    return PyRef::steal(value);
#endif
}

/// Makes `exception` (an instance) pending again, as it was.
void restore_exception(PyRef exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.get();
    PyErr_Restore(PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(value))).release(),
                  exception.release(), PyException_GetTraceback(value));
#endif
}

/// A PanicException raised by code outside the module during one of its host calls: report it
/// on stderr and fail the call with a fresh one with the same message.
void resume_panic() {
    PyRef exception = take_exception();
    std::string message = "Unwrapped panic from Python code";
    if (PyRef text = PyRef::steal(PyObject_Str(exception.get()))) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
            message.assign(utf8, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    PySys_WriteStderr(
        "norvik_auth: a PanicException raised by Python code was caught inside a native call;\n"
        "norvik_auth: the call is aborted with the same message. Its Python traceback:\n");
    restore_exception(std::move(exception));
    PyErr_PrintEx(0);
    raise_panic(message);
}

bool pending_is_panic() {
    PyObject* panic = panic_exception_type();
    return panic != nullptr && PyErr_Occurred() == panic;
}

}  // namespace

void pass_on_pending_error() {
    if (!PyErr_Occurred()) {
        set_error(PyExc_SystemError, "attempted to fetch exception but none was set");
    } else if (pending_is_panic()) {
        resume_panic();
    }
}

bool drop_pending_error() {
    if (pending_is_panic()) {
        resume_panic();
        return false;
    }
    PyErr_Clear();
    return true;
}

void report_build_failure() {
    if (PyErr_Occurred()) PyErr_Print();
    raise_panic("Python API call failed");
}

void set_error(PyObject* type, std::string_view message) {
    // Both calls fail only when memory runs out; their MemoryError is then what stays pending.
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) return;
    set_error(type, text);
}

void set_error(PyObject* type, const PyRef& message) {
    PyRef instance = PyRef::steal(PyObject_CallOneArg(type, message.get()));
    if (!instance) return;
    PyErr_SetObject(type, instance.get());
}

void raise_panic(std::string_view message) {
    PyObject* const panic = panic_exception_type();
    if (panic == nullptr) die_while_reporting("Failed to initialize new exception type.");
    set_error(panic, message);
}

PyRef raise_failure(const util::Failure& failure) {
    raise_panic(failure.message);
    return {};
}

void set_error_caused_by_pending(PyObject* type, std::string_view message) {
    if (!PyErr_Occurred()) {
        pass_on_pending_error();
        return;
    }
    PyRef cause = take_exception();
    set_error(type, message);
    PyRef raised = take_exception();
    PyException_SetCause(raised.get(), cause.release());
    restore_exception(std::move(raised));
}

std::optional<std::string> text_attribute(PyObject* object, const char* name,
                                          std::string_view fallback) {
    const PyRef value = PyRef::steal(PyObject_GetAttrString(object, name));
    Py_ssize_t size = 0;
    const char* utf8 = value && PyUnicode_Check(value.get())
                           ? PyUnicode_AsUTF8AndSize(value.get(), &size)
                           : nullptr;
    if (utf8 == nullptr) {
        if (!drop_pending_error()) return std::nullopt;
        return std::string(fallback);
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::optional<std::string> conversion_error_text(PyObject* object, std::string_view target) {
    const std::optional<std::string> type_name =
        text_attribute(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__",
                       "<failed to extract type name>");
    if (!type_name) return std::nullopt;
    std::string text = "'";
    text += *type_name;
    text += "' object cannot be converted to '";
    text += target;
    text += '\'';
    return text;
}

void prefix_argument_error(const char* name) {
    if (PyErr_Occurred() != PyExc_TypeError) return;  // identity: subclasses pass as is
    PyRef original = take_exception();
    PyRef cause = PyRef::steal(PyException_GetCause(original.get()));
    PyRef message = checked(PyUnicode_FromFormat("argument '%s': %S", name, original.get()));
    if (!message) return;
    PyRef replacement = checked(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return;
    // Only the old exception's cause is carried over; the old exception itself is not attached.
    PyException_SetCause(replacement.get(), cause.release());
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace norvik_auth::binding
