// PLACEHOLDER (owner: helper C).
#include "webapp_data/text_form.hpp"
namespace norvik_auth::webapp_data {
void append_quoted(std::string& out, std::string_view text) { out += '"'; out += text; out += '"'; }
void append_text_value(std::string& out, std::int64_t v) { out += std::to_string(v); }
void append_text_value(std::string& out, std::uint64_t v) { out += std::to_string(v); }
void append_text_value(std::string& out, bool v) { out += v ? "true" : "false"; }
}
