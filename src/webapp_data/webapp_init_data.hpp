// The parsed init data: typed fields, the signature, and the text the signature covers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "webapp_data/webapp_chat.hpp"
#include "webapp_data/webapp_user.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value holding its nested records by value.
struct WebAppInitData {
    std::optional<std::string> query_id;
    std::optional<WebAppUser> user;
    std::optional<WebAppUser> receiver;
    std::optional<WebAppChat> chat;
    std::optional<std::string> chat_type;
    std::optional<std::string> chat_instance;
    std::optional<std::string> start_param;
    std::optional<std::uint64_t> can_send_after;
    std::optional<std::uint64_t> auth_date;
    std::string hash;
    /// Never shown to Python and left out of the text form; only the signature check reads it.
    std::string data_check_string;

    /// Appends `WebAppInitData { query_id: .., .., hash: ".." }` (no data-check string).
    void append_text_form(std::string& out) const;
};

}  // namespace norvik_auth::webapp_data
