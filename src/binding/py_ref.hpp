// The one owner of Python object references: every Py_DECREF of the module happens here.
#pragma once

#include <Python.h>

#include <utility>

namespace norvik_auth::binding {

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
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

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
