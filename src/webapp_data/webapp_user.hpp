// The user record carried by the `user` and `receiver` members of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvik_auth::webapp_data {

/// An immutable value; copying it copies every text.
struct WebAppUser {
    std::int64_t id = 0;
    std::optional<bool> is_bot;
    std::string first_name;
    std::optional<std::string> last_name;
    std::optional<std::string> username;
    std::optional<std::string> language_code;
    std::optional<bool> is_premium;
    std::optional<bool> added_to_attachment_menu;
    std::optional<bool> allows_write_to_pm;
    std::optional<std::string> photo_url;

    /// Decodes one complete JSON text (object or array form); throws JsonError.
    static WebAppUser from_json(std::string_view json);
    /// As above, into `into` (fresh on entry); on failure it holds a partial result.
    static void from_json(std::string_view json, WebAppUser& into);

    /// Appends `WebAppUser { id: .., .. }`.
    void append_text_form(std::string& out) const;
};

void append_text_value(std::string& out, const WebAppUser& user);

}  // namespace norvik_auth::webapp_data
