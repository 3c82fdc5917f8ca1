// PLACEHOLDER (owner: main).
#include "webapp_data/webapp_chat.hpp"
#include "webapp_data/json_error.hpp"
namespace norvik_auth::webapp_data {
WebAppChat WebAppChat::from_json(std::string_view) { throw JsonError("not yet", 1, 0); }
void WebAppChat::append_text_form(std::string& out) const { out += "WebAppChat { }"; }
void append_text_value(std::string& out, const WebAppChat& c) { c.append_text_form(out); }
}
