// How the module's logic gives up a call: an exception carrying the caller-visible message.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace norvik_auth::lib {

/// Reaches Python as PanicException with exactly this message.
class Abort : public std::exception {
public:
    explicit Abort(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace norvik_auth::lib
