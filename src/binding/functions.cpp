// get_secret_key, parse_webapp_data and validate_webapp_data: bind, convert, call the core, convert
// back.
#include "binding/functions.hpp"

#include <optional>
#include <string_view>
#include <utility>

#include "binding/argument_conversion.hpp"
#include "binding/arguments.hpp"
#include "binding/call_wrapper.hpp"
#include "binding/init_data_argument.hpp"
#include "binding/record_object.hpp"
#include "lib/init_data_parser.hpp"
#include "lib/signature.hpp"
#include "util/secure_wipe.hpp"

namespace norvik_auth::binding {
namespace {

constexpr Signature<2> kValidateWebappData{"validate_webapp_data()", {"webapp_data", "secret_key"}};
constexpr Signature<1> kGetSecretKey{"get_secret_key()", {"bot_token"}};
constexpr Signature<1> kParseWebappData{"parse_webapp_data()", {"webapp_data"}};

PyRef new_byte_list(const lib::Digest& digest) {
    PyRef list = built(PyList_New(static_cast<Py_ssize_t>(digest.size())));
    if (!list) return {};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        // Small integers are shared by the interpreter, so this allocates nothing.
        PyRef item = built(PyLong_FromLong(digest[i]));
        if (!item) return {};
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

PyObject* validate_webapp_data(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return call_wrapper([&]() -> PyRef {
        const auto bound = bind_arguments(kValidateWebappData, args, nargs, kwnames);
        if (!bound) return {};
        const auto [webapp_data, secret_key] = *bound;
        // The record is taken first: the key's conversion may run the caller's Python code.
        InitDataArgument init_data;
        if (!init_data.take(webapp_data, "webapp_data")) return {};
        KeyBytes key;
        if (!key.take(secret_key, "secret_key")) return {};
        const bool signed_with_key = lib::signed_with(init_data.record(), key.bytes());
        return PyRef::borrow(signed_with_key ? Py_True : Py_False);
    });
}

PyObject* get_secret_key(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_wrapper([&]() -> PyRef {
        const auto bound = bind_arguments(kGetSecretKey, args, nargs, kwnames);
        if (!bound) return {};
        const auto [bot_token] = *bound;
        const std::optional<std::string_view> token = utf8_argument(bot_token, "bot_token");
        if (!token) return {};
        lib::Digest key = lib::derive_secret_key(*token);
        PyRef list = new_byte_list(key);
        // The list holds the key as Python integers now; this copy goes.
        util::secure_wipe(key.data(), key.size());
        return list;
    });
}

PyObject* parse_webapp_data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_wrapper([&]() -> PyRef {
        const auto bound = bind_arguments(kParseWebappData, args, nargs, kwnames);
        if (!bound) return {};
        const auto [webapp_data] = *bound;
        const std::optional<std::string_view> text = utf8_argument(webapp_data, "webapp_data");
        if (!text) return {};
        webapp_data::WebAppInitData record;
        const util::Outcome<void> parsed = lib::parse_init_data(*text, record);
        if (!parsed) return raise_failure(parsed.failure());
        // The instance is made only for a record that parsed; the record moves into it.
        return new_record_object<webapp_data::WebAppInitData>(nullptr, std::move(record));
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
