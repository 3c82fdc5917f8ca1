// PLACEHOLDER (owner: main).
#include "webapp_data/webapp_user.hpp"
#include "webapp_data/json_error.hpp"
namespace norvik_auth::webapp_data {
WebAppUser WebAppUser::from_json(std::string_view) { throw JsonError("not yet", 1, 0); }
void WebAppUser::append_text_form(std::string& out) const { out += "WebAppUser { }"; }
void append_text_value(std::string& out, const WebAppUser& u) { u.append_text_form(out); }
}
