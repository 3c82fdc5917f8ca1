// The user record carried by the `user` and `receiver` members of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value whose texts live in a TextArena; copies share them.
struct WebAppUser {
    std::int64_t id = 0;
    std::optional<bool> is_bot;
    std::string_view first_name;
    std::optional<std::string_view> last_name;
    std::optional<std::string_view> username;
    std::optional<std::string_view> language_code;
    std::optional<bool> is_premium;
    std::optional<bool> added_to_attachment_menu;
    std::optional<bool> allows_write_to_pm;
    std::optional<std::string_view> photo_url;

    /// Decodes one complete JSON text (object or array form) into `into` (fresh on entry),
    /// its texts into `texts`; throws JsonError, leaving a partial result.
    static void from_json(std::string_view json, WebAppUser& into, TextArena& texts);

    /// Appends `WebAppUser { id: .., .. }`.
    void append_text_form(std::string& out) const;
};

void append_text_value(std::string& out, const WebAppUser& user);

}  // namespace norvik_auth::webapp_data
