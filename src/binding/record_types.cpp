// Heap types for the three records: read-only getters, __repr__, no constructor, no subclassing.
#include "binding/record_types.hpp"

#include <memory>
#include <string>
#include <type_traits>

#include "binding/call_wrapper.hpp"
#include "binding/py_error.hpp"

namespace norvik_auth::binding {
namespace {

using webapp_data::WebAppChat;
using webapp_data::WebAppInitData;
using webapp_data::WebAppUser;

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

/// Raises the borrow counter for the duration of one read of an instance.
template <class Record>
class SharedRead {
public:
    explicit SharedRead(PyObject* self) : object_(as_record_object<Record>(self)) {
        if (object_->borrow_count == -1)
            throw_error(PyExc_RuntimeError, "Already mutably borrowed");
        ++object_->borrow_count;
    }
    SharedRead(const SharedRead&) = delete;
    SharedRead& operator=(const SharedRead&) = delete;
    ~SharedRead() { --object_->borrow_count; }
    const Record& record() const { return object_->record; }

private:
    RecordObject<Record>* object_;
};

template <class Record>
struct ClassInfo;
template <>
struct ClassInfo<WebAppUser> {
    static constexpr RecordClass kWhich = RecordClass::User;
};
template <>
struct ClassInfo<WebAppChat> {
    static constexpr RecordClass kWhich = RecordClass::Chat;
};
template <>
struct ClassInfo<WebAppInitData> {
    static constexpr RecordClass kWhich = RecordClass::InitData;
};

// Filled once per process and never released: instances and the module refer to them forever.
PyTypeObject* g_classes[3] = {nullptr, nullptr, nullptr};

PyTypeObject*& class_slot(RecordClass which) { return g_classes[static_cast<int>(which)]; }

template <class Record>
PyTypeObject* get_or_create_class();

/// The class for making or checking instances; failing to create it here is fatal for the call.
template <class Record>
PyTypeObject* class_for_instances() {
    if (PyTypeObject* existing = class_slot(ClassInfo<Record>::kWhich)) return existing;
    try {
        return get_or_create_class<Record>();
    } catch (const PyError&) {
        PyErr_Print();
        throw lib::Abort(std::string("failed to create type object for ") +
                         record_class_name(ClassInfo<Record>::kWhich));
    }
}

/// A new instance whose record is constructed in place from `args`; `text_owner` (may be
/// null) is kept alive for as long as the instance.
template <class Record, class... Args>
PyRef new_record_object(PyObject* text_owner, Args&&... args) {
    PyTypeObject* type = class_for_instances<Record>();
    // tp_alloc zeroes the memory and takes the reference to the heap type that tp_dealloc drops.
    PyRef object = built(type->tp_alloc(type, 0));
    auto* instance = as_record_object<Record>(object.get());
    instance->borrow_count = 0;
    instance->text_owner = PyRef::borrow(text_owner).release();
    // Records are views into an arena: making one cannot fail, so the instance is never left
    // half-built.
    static_assert(std::is_nothrow_constructible_v<Record, Args&&...>);
    std::construct_at(&instance->record, std::forward<Args>(args)...);
    return object;
}

/// The instance that keeps the texts of `self`'s record alive.
template <class Record>
PyObject* text_owner_of(PyObject* self) {
    PyObject* const owner = as_record_object<Record>(self)->text_owner;
    return owner != nullptr ? owner : self;
}

// Each attribute read converts the stored value anew; nested records are handed out as copies
// that share the texts and keep alive their owner.
PyRef to_python(std::int64_t value, PyObject*) { return built(PyLong_FromLongLong(value)); }
PyRef to_python(std::uint64_t value, PyObject*) {
    return built(PyLong_FromUnsignedLongLong(value));
}
PyRef to_python(bool value, PyObject*) { return PyRef::borrow(value ? Py_True : Py_False); }
PyRef to_python(std::string_view text, PyObject*) {
    return built(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
PyRef to_python(const WebAppUser& user, PyObject* text_owner) {
    return new_record_object<WebAppUser>(text_owner, user);
}
PyRef to_python(const WebAppChat& chat, PyObject* text_owner) {
    return new_record_object<WebAppChat>(text_owner, chat);
}
template <class T>
PyRef to_python(const std::optional<T>& value, PyObject* text_owner) {
    return value ? to_python(*value, text_owner) : PyRef::borrow(Py_None);
}

template <class T>
struct MemberOf;
template <class Record, class Field>
struct MemberOf<Field Record::*> {
    using type = Record;
};

template <auto Member>
PyObject* get_attribute(PyObject* self, void*) {
    using Record = typename MemberOf<decltype(Member)>::type;
    return call_wrapper([&] {
        const SharedRead<Record> read(self);
        return to_python(read.record().*Member, text_owner_of<Record>(self));
    });
}

template <auto Member>
constexpr PyGetSetDef attribute(const char* name) {
    return {name, &get_attribute<Member>, nullptr, nullptr, nullptr};
}

template <class Record>
PyObject* record_repr(PyObject* self) {
    return call_wrapper([&] {
        const SharedRead<Record> read(self);
        std::string text;
        read.record().append_text_form(text);
        return built(
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    return call_wrapper([&]() -> PyRef {
        const std::optional<std::string> name =
            text_attribute(reinterpret_cast<PyObject*>(type), "__name__");
        const std::string message = "No constructor defined for " + name.value_or("<unknown>");
        throw_error(PyExc_TypeError, message);
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

// The one place where the chat's `type_` field becomes the Python attribute `type`.
PyGetSetDef g_user_attributes[] = {
    attribute<&WebAppUser::id>("id"),
    attribute<&WebAppUser::is_bot>("is_bot"),
    attribute<&WebAppUser::first_name>("first_name"),
    attribute<&WebAppUser::last_name>("last_name"),
    attribute<&WebAppUser::username>("username"),
    attribute<&WebAppUser::language_code>("language_code"),
    attribute<&WebAppUser::is_premium>("is_premium"),
    attribute<&WebAppUser::added_to_attachment_menu>("added_to_attachment_menu"),
    attribute<&WebAppUser::allows_write_to_pm>("allows_write_to_pm"),
    attribute<&WebAppUser::photo_url>("photo_url"),
    {},
};
PyGetSetDef g_chat_attributes[] = {
    attribute<&WebAppChat::id>("id"),
    attribute<&WebAppChat::type_>("type"),
    attribute<&WebAppChat::title>("title"),
    attribute<&WebAppChat::username>("username"),
    attribute<&WebAppChat::photo_url>("photo_url"),
    {},
};
PyGetSetDef g_init_data_attributes[] = {
    attribute<&WebAppInitData::query_id>("query_id"),
    attribute<&WebAppInitData::user>("user"),
    attribute<&WebAppInitData::receiver>("receiver"),
    attribute<&WebAppInitData::chat>("chat"),
    attribute<&WebAppInitData::chat_type>("chat_type"),
    attribute<&WebAppInitData::chat_instance>("chat_instance"),
    attribute<&WebAppInitData::start_param>("start_param"),
    attribute<&WebAppInitData::can_send_after>("can_send_after"),
    attribute<&WebAppInitData::auth_date>("auth_date"),
    attribute<&WebAppInitData::hash>("hash"),
    {},  // data_check_string stays hidden
};

struct ClassDescription {
    const char* name;
    const char* spec_name;  // "builtins." keeps the module word out: __module__ reads "builtins"
    PyGetSetDef* attributes;
};

// Indexed by RecordClass.
const ClassDescription kClasses[] = {
    {"WebAppUser", "builtins.WebAppUser", g_user_attributes},
    {"WebAppChat", "builtins.WebAppChat", g_chat_attributes},
    {"WebAppInitData", "builtins.WebAppInitData", g_init_data_attributes},
};

const ClassDescription& describe(RecordClass which) { return kClasses[static_cast<int>(which)]; }

template <class Record>
PyTypeObject* get_or_create_class() {
    constexpr RecordClass which = ClassInfo<Record>::kWhich;
    if (PyTypeObject* existing = class_slot(which)) return existing;
    PyType_Slot slots[] = {
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_new, reinterpret_cast<void*>(&refuse_new)},
        {Py_tp_repr, reinterpret_cast<void*>(&record_repr<Record>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&record_dealloc<Record>)},
        {Py_tp_getset, describe(which).attributes},
        {0, nullptr},
    };
    // Default flags only: no subclassing, no cyclic GC, no instance dict, no weak references.
    PyType_Spec spec = {describe(which).spec_name, static_cast<int>(sizeof(RecordObject<Record>)),
                        0, Py_TPFLAGS_DEFAULT, slots};
    PyRef created = checked(PyType_FromSpec(&spec));
    // Creation can run arbitrary code (the collector), so a class may have appeared meanwhile.
    if (PyTypeObject* existing = class_slot(which)) return existing;
    class_slot(which) = reinterpret_cast<PyTypeObject*>(created.release());
    return class_slot(which);
}

}  // namespace

const char* record_class_name(RecordClass which) { return describe(which).name; }

PyTypeObject* record_class_for_import(RecordClass which) {
    try {
        switch (which) {
            case RecordClass::User:
                return get_or_create_class<WebAppUser>();
            case RecordClass::Chat:
                return get_or_create_class<WebAppChat>();
            case RecordClass::InitData:
                return get_or_create_class<WebAppInitData>();
        }
    } catch (const PyError&) {
        throw_error_caused_by_pending(
            PyExc_RuntimeError,
            std::string("An error occurred while initializing class ") + record_class_name(which));
    }
    return nullptr;
}

PyRef new_init_data_object() { return new_record_object<WebAppInitData>(nullptr); }

WebAppInitData& init_data_record(PyObject* object) {
    return as_record_object<WebAppInitData>(object)->record;
}

InitDataArgument::InitDataArgument(PyObject* object, const char* name) {
    if (!PyObject_TypeCheck(object, class_for_instances<WebAppInitData>())) {
        throw_error(PyExc_TypeError, std::string("argument '") + name +
                                         "': " + conversion_error_text(object, "WebAppInitData"));
    }
    auto* instance = as_record_object<WebAppInitData>(object);
    if (instance->borrow_count == -1) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    // Records never change once built, so reading in place under a shared read (with our own
    // reference keeping the instance alive) is as safe as the copy it replaces, and costs nothing.
    ++instance->borrow_count;
    object_ = PyRef::borrow(object);
}

InitDataArgument::~InitDataArgument() {
    --as_record_object<WebAppInitData>(object_.get())->borrow_count;
}

const WebAppInitData& InitDataArgument::record() const {
    return as_record_object<WebAppInitData>(object_.get())->record;
}

}  // namespace norvik_auth::binding
