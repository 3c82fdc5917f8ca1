// The chat record carried by the `chat` member of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value whose texts live in a TextArena; copies share them. `type_` is `type`
/// in Python.
struct WebAppChat {
    std::int64_t id = 0;
    std::string_view type_;
    std::string_view title;
    std::optional<std::string_view> username;
    std::optional<std::string_view> photo_url;

    /// Decodes one complete JSON text (object or array form) into `into` (fresh on entry),
    /// its texts into `texts`; throws JsonError, leaving a partial result.
    static void from_json(std::string_view json, WebAppChat& into, TextArena& texts);

    /// Appends `WebAppChat { id: .., .. }`.
    void append_text_form(std::string& out) const;
};

void append_text_value(std::string& out, const WebAppChat& chat);

}  // namespace norvik_auth::webapp_data
