// PLACEHOLDER (owner: main).
#include "webapp_data/webapp_init_data.hpp"
namespace norvik_auth::webapp_data {
void WebAppInitData::append_text_form(std::string& out) const { out += "WebAppInitData { }"; }
}
