// Binding positional and keyword arguments to parameters, with the interpreter's usual messages.
#include "binding/arguments.hpp"

#include <optional>
#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {
namespace {

/// Index of the parameter named `keyword`, or parameters.size(); a name without UTF-8 matches
/// none. Empty when the call must fail.
std::optional<std::size_t> find_parameter(std::span<const char* const> parameters,
                                          PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (utf8 == nullptr) {
        if (!drop_pending_error()) return std::nullopt;
        return parameters.size();
    }
    const std::string_view name(utf8, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (name == parameters[i]) return i;
    }
    return parameters.size();
}

void set_missing_error(std::string_view full_name, std::span<const char* const> parameters,
                       std::span<PyObject*> slots) {
    std::size_t missing = 0;
    for (PyObject* slot : slots) missing += slot == nullptr ? 1 : 0;
    std::string message(full_name);
    message += " missing " + std::to_string(missing) + " required positional ";
    message += missing == 1 ? "argument: " : "arguments: ";
    std::size_t listed = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) message += listed + 1 == missing ? " and " : ", ";
        message += '\'';
        message += parameters[i];
        message += '\'';
        ++listed;
    }
    set_error(PyExc_TypeError, message);
}

}  // namespace

bool bind_slots(const char* full_name, std::span<const char* const> parameters,
                std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) {
    const auto positional = static_cast<std::size_t>(nargs);
    if (positional > parameters.size()) {
        set_error(PyExc_TypeError,
                  std::string(full_name) + " takes " + std::to_string(parameters.size()) +
                      " positional arguments but " + std::to_string(positional) + " were given");
        return false;
    }
    for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i];

    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const std::optional<std::size_t> index = find_parameter(parameters, keyword);
        if (!index) return false;
        if (*index == parameters.size()) {
            const PyRef message = checked(PyUnicode_FromFormat(
                "%s got an unexpected keyword argument '%S'", full_name, keyword));
            if (message) set_error(PyExc_TypeError, message);
            return false;
        }
        if (slots[*index] != nullptr) {
            set_error(PyExc_TypeError, std::string(full_name) +
                                           " got multiple values for argument '" +
                                           parameters[*index] + "'");
            return false;
        }
        slots[*index] = args[positional + static_cast<std::size_t>(k)];
    }

    for (PyObject* slot : slots) {
        if (slot == nullptr) {
            set_missing_error(full_name, parameters, slots);
            return false;
        }
    }
    return true;
}

}  // namespace norvik_auth::binding
