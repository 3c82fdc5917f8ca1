// The instances of the three record classes: their layout, shared reads, and making new ones.
#pragma once

#include <Python.h>

#include <memory>
#include <type_traits>
#include <utility>

#include "binding/py_error.hpp"
#include "binding/py_ref.hpp"

namespace norvik_auth::binding {

/// The instance layout: the record lives inside the Python object, built and destroyed in place.
template <class Record>
struct RecordObject {
    PyObject ob_base;
    Py_ssize_t borrow_count;  // readers in progress; -1 would mean an exclusive hold (never taken)
    // The instance whose arena holds this record's texts (a nested record handed out by its
    // init data keeps that alive), or null when the record owns them itself.
    PyObject* text_owner;
    Record record;
};

template <class Record>
RecordObject<Record>* as_record_object(PyObject* self) {
    return reinterpret_cast<RecordObject<Record>*>(self);
}

/// Counts one reader of an instance from begin() for as long as it lives. No operation of the
/// module ever takes an exclusive hold, so the failure is there for the count's meaning only.
class SharedRead {
public:
    SharedRead() = default;
    SharedRead(const SharedRead&) = delete;
    SharedRead& operator=(const SharedRead&) = delete;
    ~SharedRead() {
        if (borrow_count_ != nullptr) --*borrow_count_;
    }

    /// False, with RuntimeError "Already mutably borrowed" set, on an exclusive hold.
    [[nodiscard]] bool begin(Py_ssize_t& borrow_count) {
        if (borrow_count == -1) {
            set_error(PyExc_RuntimeError, "Already mutably borrowed");
            return false;
        }
        ++borrow_count;
        borrow_count_ = &borrow_count;
        return true;
    }

private:
    Py_ssize_t* borrow_count_ = nullptr;
};

/// The class of `Record`'s instances. It was made at import; should it be missing, null with
/// PanicException "failed to create type object for <name>" set.
template <class Record>
PyTypeObject* record_class();

/// A new instance whose record is constructed in place from `args`; `text_owner` (may be
/// null) is kept alive for as long as the instance. Empty with the exception set.
template <class Record, class... Args>
PyRef new_record_object(PyObject* text_owner, Args&&... args) {
    PyTypeObject* type = record_class<Record>();
    if (type == nullptr) return {};
    // tp_alloc zeroes the memory and takes the reference to the heap type that tp_dealloc drops.
    PyRef object = built(type->tp_alloc(type, 0));
    if (!object) return {};
    auto* instance = as_record_object<Record>(object.get());
    instance->borrow_count = 0;
    instance->text_owner = PyRef::borrow(text_owner).release();
    // Records are views into an arena: making one cannot fail, so the instance is never left
    // half-built.
    static_assert(std::is_nothrow_constructible_v<Record, Args&&...>);
    std::construct_at(&instance->record, std::forward<Args>(args)...);
    return object;
}

}  // namespace norvik_auth::binding
