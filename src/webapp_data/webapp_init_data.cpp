// The text form of parsed init data; the data-check string is deliberately left out.
#include "webapp_data/webapp_init_data.hpp"

#include "webapp_data/text_form.hpp"

namespace norvik_auth::webapp_data {

void WebAppInitData::append_text_form(std::string& out) const {
    out += "WebAppInitData { query_id: ";
    append_text_value(out, query_id);
    out += ", user: ";
    append_text_value(out, user);
    out += ", receiver: ";
    append_text_value(out, receiver);
    out += ", chat: ";
    append_text_value(out, chat);
    out += ", chat_type: ";
    append_text_value(out, chat_type);
    out += ", chat_instance: ";
    append_text_value(out, chat_instance);
    out += ", start_param: ";
    append_text_value(out, start_param);
    out += ", can_send_after: ";
    append_text_value(out, can_send_after);
    out += ", auth_date: ";
    append_text_value(out, auth_date);
    out += ", hash: ";
    append_text_value(out, hash);
    out += " }";
}

}  // namespace norvik_auth::webapp_data
