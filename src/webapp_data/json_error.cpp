// PLACEHOLDER (owner: main). Temporary so that the module links while the decoder is written.
#include "webapp_data/json_error.hpp"
namespace norvik_auth::webapp_data {
std::string JsonError::debug_text() const { return "Error(\"" + message_ + "\")"; }
}
