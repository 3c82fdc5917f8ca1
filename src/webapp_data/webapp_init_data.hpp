// The parsed init data: typed fields, the signature, and the text the signature covers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "webapp_data/webapp_chat.hpp"
#include "webapp_data/text_arena.hpp"
#include "webapp_data/webapp_user.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value holding its nested records by value and every text of itself and of
/// them in its own arena; it can be moved, not copied.
struct WebAppInitData {
    std::optional<std::string_view> query_id;
    std::optional<WebAppUser> user;
    std::optional<WebAppUser> receiver;
    std::optional<WebAppChat> chat;
    std::optional<std::string_view> chat_type;
    std::optional<std::string_view> chat_instance;
    std::optional<std::string_view> start_param;
    std::optional<std::uint64_t> can_send_after;
    std::optional<std::uint64_t> auth_date;
    std::string_view hash;
    /// Never shown to Python and left out of the text form; only the signature check reads it.
    std::string_view data_check_string;
    /// Whether each line of the data-check string stands for exactly one pair: no included
    /// name holds '=' or a line feed, and no included value a line feed. Genuine init data
    /// never does; folded lines would let one signature cover other pairs.
    bool data_check_string_unambiguous = true;
    TextArena texts;

    /// Appends `WebAppInitData { query_id: .., .., hash: ".." }` (no data-check string).
    void append_text_form(std::string& out) const;
};

}  // namespace norvik_auth::webapp_data
