// Taking a WebAppInitData argument: the instance checked and read in place.
#include "binding/init_data_argument.hpp"

#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {
namespace {

using webapp_data::WebAppInitData;

/// The instance, after its type was checked; the reference is ours.
PyRef checked_instance(PyObject* object, const char* name) {
    if (!PyObject_TypeCheck(object, record_class<WebAppInitData>())) {
        throw_error(PyExc_TypeError, std::string("argument '") + name +
                                         "': " + conversion_error_text(object, "WebAppInitData"));
    }
    return PyRef::borrow(object);
}

}  // namespace

InitDataArgument::InitDataArgument(PyObject* object, const char* name)
    : object_(checked_instance(object, name)),
      read_(as_record_object<WebAppInitData>(object_.get())->borrow_count) {}

}  // namespace norvik_auth::binding
