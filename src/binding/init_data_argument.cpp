// Taking a WebAppInitData argument: the instance checked and read in place.
#include "binding/init_data_argument.hpp"

#include <optional>
#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {

bool InitDataArgument::take(PyObject* object, const char* name) {
    using webapp_data::WebAppInitData;
    PyTypeObject* const type = record_class<WebAppInitData>();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(object, type)) {
        const std::optional<std::string> text = conversion_error_text(object, "WebAppInitData");
        if (text) set_error(PyExc_TypeError, std::string("argument '") + name + "': " + *text);
        return false;
    }
    object_ = PyRef::borrow(object);
    return read_.begin(as_record_object<WebAppInitData>(object)->borrow_count);
}

}  // namespace norvik_auth::binding
