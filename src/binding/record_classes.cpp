// Heap types for the three records: read-only getters, __repr__, no constructor, no subclassing.
#include "binding/record_classes.hpp"

#include <memory>
#include <optional>
#include <string>

#include "binding/call_wrapper.hpp"
#include "binding/py_error.hpp"
#include "binding/record_attributes.hpp"
#include "binding/record_object.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::binding {
namespace {

using webapp_data::WebAppChat;
using webapp_data::WebAppInitData;
using webapp_data::WebAppUser;

template <class Record>
constexpr RecordClass kWhich = RecordClass::User;
template <>
constexpr RecordClass kWhich<WebAppChat> = RecordClass::Chat;
template <>
constexpr RecordClass kWhich<WebAppInitData> = RecordClass::InitData;

// Filled once per process and never released: instances and the module refer to them forever.
PyTypeObject* g_classes[3] = {nullptr, nullptr, nullptr};

PyTypeObject*& class_slot(RecordClass which) { return g_classes[static_cast<int>(which)]; }

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    return call_wrapper([&]() -> PyRef {
        const std::optional<std::string> name =
            text_attribute(reinterpret_cast<PyObject*>(type), "__name__", "<unknown>");
        if (name) set_error(PyExc_TypeError, "No constructor defined for " + *name);
        return {};
    });
}

template <class Record>
void record_dealloc(PyObject* self) {
    dealloc_wrapper(self, [self] {
        // Heap-type instances own a reference to their class, released after the memory.
        const PyRef type = PyRef::steal(reinterpret_cast<PyObject*>(Py_TYPE(self)));
        const PyRef text_owner = PyRef::steal(as_record_object<Record>(self)->text_owner);
        std::destroy_at(&as_record_object<Record>(self)->record);
        Py_TYPE(self)->tp_free(self);
    });
}

/// The class, made unless it exists; null with the exception set.
template <class Record>
PyTypeObject* get_or_create_class() {
    if (PyTypeObject* existing = class_slot(kWhich<Record>)) return existing;
    // "builtins." keeps the module word out of the name: __module__ reads "builtins".
    const std::string spec_name = "builtins." + std::string(Record::kName);
    PyType_Slot slots[] = {
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_new, reinterpret_cast<void*>(&refuse_new)},
        {Py_tp_repr, reinterpret_cast<void*>(&record_repr<Record>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&record_dealloc<Record>)},
        {Py_tp_getset, attribute_table<Record>()},
        {0, nullptr},
    };
    // Default flags only: no subclassing, no cyclic GC, no instance dict, no weak references.
    PyType_Spec spec = {
        .name = spec_name.c_str(),
        .basicsize = static_cast<int>(sizeof(RecordObject<Record>)),
        .itemsize = 0,
        .flags = Py_TPFLAGS_DEFAULT,
        .slots = slots,
    };
    PyRef created = checked(PyType_FromSpec(&spec));
    if (!created) return nullptr;
    // Creation can run arbitrary code (the collector), so a class may have appeared meanwhile.
    if (PyTypeObject* existing = class_slot(kWhich<Record>)) return existing;
    class_slot(kWhich<Record>) = reinterpret_cast<PyTypeObject*>(created.release());
    return class_slot(kWhich<Record>);
}

}  // namespace

const char* record_class_name(RecordClass which) {
    switch (which) {
        case RecordClass::User: return WebAppUser::kName.data();
        case RecordClass::Chat: return WebAppChat::kName.data();
        case RecordClass::InitData: return WebAppInitData::kName.data();
    }
    return "<unknown>";
}

PyTypeObject* record_class_for_import(RecordClass which) {
    PyTypeObject* created = nullptr;
    switch (which) {
        case RecordClass::User: created = get_or_create_class<WebAppUser>(); break;
        case RecordClass::Chat: created = get_or_create_class<WebAppChat>(); break;
        case RecordClass::InitData: created = get_or_create_class<WebAppInitData>(); break;
    }
    if (created == nullptr) {
        set_error_caused_by_pending(
            PyExc_RuntimeError,
            std::string("An error occurred while initializing class ") + record_class_name(which));
    }
    return created;
}

template <class Record>
PyTypeObject* record_class() {
    if (PyTypeObject* existing = class_slot(kWhich<Record>)) return existing;
    if (PyTypeObject* created = get_or_create_class<Record>()) return created;
    PyErr_Print();
    raise_panic("failed to create type object for " + std::string(Record::kName));
    return nullptr;
}

template PyTypeObject* record_class<WebAppUser>();
template PyTypeObject* record_class<WebAppChat>();
template PyTypeObject* record_class<WebAppInitData>();

}  // namespace norvik_auth::binding
