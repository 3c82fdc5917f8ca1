// The parsed init data: typed fields, the signature, and the text the signature covers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>

#include "webapp_data/record_field.hpp"
#include "webapp_data/text_arena.hpp"
#include "webapp_data/webapp_chat.hpp"
#include "webapp_data/webapp_user.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value holding its nested records by value and every text of itself and of
/// them in its own arena; it can be moved, not copied.
struct WebAppInitData {
    static constexpr std::string_view kName = "WebAppInitData";

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

    /// The fields that Python sees, in declaration order; the data-check string is not one.
    static constexpr auto fields();
};

constexpr auto WebAppInitData::fields() {
    return std::tuple{
        RecordField<&WebAppInitData::query_id>("query_id"),
        RecordField<&WebAppInitData::user>("user"),
        RecordField<&WebAppInitData::receiver>("receiver"),
        RecordField<&WebAppInitData::chat>("chat"),
        RecordField<&WebAppInitData::chat_type>("chat_type"),
        RecordField<&WebAppInitData::chat_instance>("chat_instance"),
        RecordField<&WebAppInitData::start_param>("start_param"),
        RecordField<&WebAppInitData::can_send_after>("can_send_after"),
        RecordField<&WebAppInitData::auth_date>("auth_date"),
        RecordField<&WebAppInitData::hash>("hash"),
    };
}

}  // namespace norvik_auth::webapp_data
