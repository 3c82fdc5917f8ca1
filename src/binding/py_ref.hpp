// The one owner of Python object references: every Py_DECREF of the module happens here.
#pragma once

#include <Python.h>

#include <utility>

namespace norvik_auth::binding {

/// Whether this thread may touch the interpreter. Every call into the module holds the lock for
/// its whole length; the one exception is a thread that the runtime ends at exit (a daemon
/// thread waking up during finalisation): it unwinds through our frames without the lock, and
/// then nothing may be released or raised. Its references are left to the ending process.
/// The thread state that holds the lock must be this thread's: before 3.13 it is one global,
/// which a thread waiting for the lock sees set to another thread's state. (PyGILState_Check
/// will not do: it answers yes late in finalisation, and in subinterpreters it never looks.)
inline bool holds_interpreter_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    PyThreadState* const current = PyThreadState_GetUnchecked();
#else
    PyThreadState* const current = _PyThreadState_UncheckedGet();
#endif
    return current != nullptr && current->thread_id == PyThread_get_thread_ident();
}

/// Owns at most one strong reference and drops it when destroyed; moves, never copies.
class PyRef {
public:
    PyRef() = default;
    /// Takes over a new reference (may be null).
    static PyRef steal(PyObject* object) { return PyRef(object); }
    /// Adds a reference to a borrowed object (may be null).
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    // Releasing can run Python code (a finaliser), during which the runtime may end this
    // thread: that forced unwind has to leave the destructor, so it is not noexcept.
    ~PyRef() noexcept(false) {
        if (object_ != nullptr && holds_interpreter_lock()) Py_DECREF(object_);
    }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    /// Hands the reference to the caller (usually the interpreter).
    PyObject* release() { return std::exchange(object_, nullptr); }
    void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit PyRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace norvik_auth::binding
