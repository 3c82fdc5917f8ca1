// The Python face of a record's fields: read-only getters made from its table, and __repr__.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "binding/call_wrapper.hpp"
#include "binding/record_object.hpp"
#include "webapp_data/text_form.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::binding {
namespace record_attributes_detail {

// Each attribute read converts the stored value anew; nested records are handed out as new
// instances that share the texts and keep their owner alive. Empty with the exception set.
inline PyRef to_python(std::int64_t value, PyObject*) { return built(PyLong_FromLongLong(value)); }
inline PyRef to_python(std::uint64_t value, PyObject*) {
    return built(PyLong_FromUnsignedLongLong(value));
}
inline PyRef to_python(bool value, PyObject*) { return PyRef::borrow(value ? Py_True : Py_False); }
inline PyRef to_python(std::string_view text, PyObject*) {
    return built(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
inline PyRef to_python(const webapp_data::WebAppUser& user, PyObject* text_owner) {
    return new_record_object<webapp_data::WebAppUser>(text_owner, user);
}
inline PyRef to_python(const webapp_data::WebAppChat& chat, PyObject* text_owner) {
    return new_record_object<webapp_data::WebAppChat>(text_owner, chat);
}
template <class T>
PyRef to_python(const std::optional<T>& value, PyObject* text_owner) {
    return value ? to_python(*value, text_owner) : PyRef::borrow(Py_None);
}

/// The instance that keeps the texts of `self`'s record alive.
template <class Record>
PyObject* text_owner_of(PyObject* self) {
    PyObject* const owner = as_record_object<Record>(self)->text_owner;
    return owner != nullptr ? owner : self;
}

template <class Field>
PyObject* get_attribute(PyObject* self, void*) {
    using Record = typename Field::Record;
    return call_wrapper([&]() -> PyRef {
        SharedRead read;
        if (!read.begin(as_record_object<Record>(self)->borrow_count)) return {};
        return to_python(as_record_object<Record>(self)->record.*Field::member,
                         text_owner_of<Record>(self));
    });
}

}  // namespace record_attributes_detail

/// The getters of `Record`'s Python attributes, one per field of its table, null-terminated.
template <class Record>
PyGetSetDef* attribute_table() {
    static auto table = std::apply(
        [](const auto&... field) {
            return std::array<PyGetSetDef, sizeof...(field) + 1>{
                PyGetSetDef{field.attribute.data(),
                            &record_attributes_detail::get_attribute<
                                std::remove_cvref_t<decltype(field)>>,
                            nullptr, nullptr, nullptr}...,
                PyGetSetDef{}};
        },
        Record::fields());
    return table.data();
}

/// __repr__: the record's one-line text form.
template <class Record>
PyObject* record_repr(PyObject* self) {
    return call_wrapper([&]() -> PyRef {
        SharedRead read;
        if (!read.begin(as_record_object<Record>(self)->borrow_count)) return {};
        std::string text;
        webapp_data::append_text_value(text, as_record_object<Record>(self)->record);
        return built(
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

}  // namespace norvik_auth::binding
