// The chat record carried by the `chat` member of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvik_auth::webapp_data {

/// An immutable value; copying it copies every text. `type_` is `type` in Python.
struct WebAppChat {
    std::int64_t id = 0;
    std::string type_;
    std::string title;
    std::optional<std::string> username;
    std::optional<std::string> photo_url;

    /// Decodes one complete JSON text (object or array form); throws JsonError.
    static WebAppChat from_json(std::string_view json);
    /// As above, into `into` (fresh on entry); on failure it holds a partial result.
    static void from_json(std::string_view json, WebAppChat& into);

    /// Appends `WebAppChat { id: .., .. }`.
    void append_text_form(std::string& out) const;
};

void append_text_value(std::string& out, const WebAppChat& chat);

}  // namespace norvik_auth::webapp_data
