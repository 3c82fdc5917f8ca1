// The chat record: its members as data, JSON decoding and text form.
#include "webapp_data/webapp_chat.hpp"

#include <array>

#include "webapp_data/record_decoder.hpp"
#include "webapp_data/text_form.hpp"

namespace norvik_auth::webapp_data {

void WebAppChat::from_json(std::string_view json, WebAppChat& chat, TextArena& texts) {
    // The member is "type_" with the underscore; "type" is an unknown member.
    const std::array<FieldBinding, 5> fields{{
        {"id", &chat.id},
        {"type_", &chat.type_},
        {"title", &chat.title},
        {"username", &chat.username},
        {"photo_url", &chat.photo_url},
    }};
    decode_record(json, "WebAppChat", fields, texts);
}

void WebAppChat::append_text_form(std::string& out) const {
    out += "WebAppChat { id: ";
    append_text_value(out, id);
    out += ", type_: ";
    append_text_value(out, type_);
    out += ", title: ";
    append_text_value(out, title);
    out += ", username: ";
    append_text_value(out, username);
    out += ", photo_url: ";
    append_text_value(out, photo_url);
    out += " }";
}

void append_text_value(std::string& out, const WebAppChat& chat) { chat.append_text_form(out); }

}  // namespace norvik_auth::webapp_data
