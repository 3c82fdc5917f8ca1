// The user record: its members as data, JSON decoding and text form.
#include "webapp_data/webapp_user.hpp"

#include <array>

#include "webapp_data/record_decoder.hpp"
#include "webapp_data/text_form.hpp"

namespace norvik_auth::webapp_data {

void WebAppUser::from_json(std::string_view json, WebAppUser& user, TextArena& texts) {
    const std::array<FieldBinding, 10> fields{{
        {"id", &user.id},
        {"is_bot", &user.is_bot},
        {"first_name", &user.first_name},
        {"last_name", &user.last_name},
        {"username", &user.username},
        {"language_code", &user.language_code},
        {"is_premium", &user.is_premium},
        {"added_to_attachment_menu", &user.added_to_attachment_menu},
        {"allows_write_to_pm", &user.allows_write_to_pm},
        {"photo_url", &user.photo_url},
    }};
    decode_record(json, "WebAppUser", fields, texts);
}

void WebAppUser::append_text_form(std::string& out) const {
    out += "WebAppUser { id: ";
    append_text_value(out, id);
    out += ", is_bot: ";
    append_text_value(out, is_bot);
    out += ", first_name: ";
    append_text_value(out, first_name);
    out += ", last_name: ";
    append_text_value(out, last_name);
    out += ", username: ";
    append_text_value(out, username);
    out += ", language_code: ";
    append_text_value(out, language_code);
    out += ", is_premium: ";
    append_text_value(out, is_premium);
    out += ", added_to_attachment_menu: ";
    append_text_value(out, added_to_attachment_menu);
    out += ", allows_write_to_pm: ";
    append_text_value(out, allows_write_to_pm);
    out += ", photo_url: ";
    append_text_value(out, photo_url);
    out += " }";
}

void append_text_value(std::string& out, const WebAppUser& user) { user.append_text_form(out); }

}  // namespace norvik_auth::webapp_data
