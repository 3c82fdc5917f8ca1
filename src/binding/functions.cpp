// get_secret_key, parse_webapp_data and validate_webapp_data: bind, convert, call the core, convert
// back.
#include "binding/functions.hpp"

#include "binding/argument_conversion.hpp"
#include "binding/arguments.hpp"
#include "binding/call_wrapper.hpp"
#include "binding/init_data_argument.hpp"
#include "binding/record_object.hpp"
#include "binding/signer.hpp"
#include "lib/init_data_parser.hpp"
#include "lib/signature.hpp"

namespace norvik_auth::binding {
namespace {

constexpr Signature<2> kValidateWebappData{"validate_webapp_data()", {"webapp_data", "secret_key"}};
constexpr Signature<1> kGetSecretKey{"get_secret_key()", {"bot_token"}};
constexpr Signature<1> kParseWebappData{"parse_webapp_data()", {"webapp_data"}};

PyRef new_byte_list(const lib::Digest& digest) {
    PyRef list = built(PyList_New(static_cast<Py_ssize_t>(digest.size())));
    for (std::size_t i = 0; i < digest.size(); ++i) {
        // Small integers are shared by the interpreter, so this allocates nothing.
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        built(PyLong_FromLong(digest[i])).release());
    }
    return list;
}

PyObject* validate_webapp_data(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return call_wrapper([&] {
        const auto [webapp_data, secret_key] =
            bind_arguments(kValidateWebappData, args, nargs, kwnames);
        // The record is taken first: the key's conversion may run the caller's Python code.
        const InitDataArgument init_data(webapp_data, "webapp_data");
        const KeyBytes key(secret_key, "secret_key");
        const bool matches = signer().signed_with(init_data.record(), key.bytes());
        return PyRef::borrow(matches ? Py_True : Py_False);
    });
}

PyObject* get_secret_key(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_wrapper([&] {
        const auto [bot_token] = bind_arguments(kGetSecretKey, args, nargs, kwnames);
        return new_byte_list(signer().derive_secret_key(utf8_argument(bot_token, "bot_token")));
    });
}

PyObject* parse_webapp_data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_wrapper([&] {
        const auto [webapp_data] = bind_arguments(kParseWebappData, args, nargs, kwnames);
        const std::string_view text = utf8_argument(webapp_data, "webapp_data");
        // The instance is made only for a record that parsed; the record moves into it.
        return new_record_object<webapp_data::WebAppInitData>(nullptr,
                                                              lib::parse_init_data(text));
    });
}

template <auto Function>
PyCFunction as_method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// The docstrings are signature blocks only: __text_signature__ is set and __doc__ stays None.
PyMethodDef g_validate_webapp_data{"validate_webapp_data", as_method<&validate_webapp_data>(),
                                   METH_FASTCALL | METH_KEYWORDS,
                                   "validate_webapp_data(webapp_data, secret_key)\n--\n\n"};
PyMethodDef g_get_secret_key{"get_secret_key", as_method<&get_secret_key>(),
                             METH_FASTCALL | METH_KEYWORDS, "get_secret_key(bot_token)\n--\n\n"};
PyMethodDef g_parse_webapp_data{"parse_webapp_data", as_method<&parse_webapp_data>(),
                                METH_FASTCALL | METH_KEYWORDS,
                                "parse_webapp_data(webapp_data)\n--\n\n"};

}  // namespace

std::array<PyMethodDef*, 3> module_functions() {
    return {&g_validate_webapp_data, &g_get_secret_key, &g_parse_webapp_data};
}

}  // namespace norvik_auth::binding
