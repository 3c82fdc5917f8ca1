// The user record carried by the `user` and `receiver` members of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>

#include "webapp_data/record_field.hpp"
#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value whose texts live in a TextArena; copies share them.
struct WebAppUser {
    static constexpr std::string_view kName = "WebAppUser";

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

    /// The fields in declaration order (also the order of the JSON array form).
    static constexpr auto fields();
};

constexpr auto WebAppUser::fields() {
    return std::tuple{
        RecordField<&WebAppUser::id>("id"),
        RecordField<&WebAppUser::is_bot>("is_bot"),
        RecordField<&WebAppUser::first_name>("first_name"),
        RecordField<&WebAppUser::last_name>("last_name"),
        RecordField<&WebAppUser::username>("username"),
        RecordField<&WebAppUser::language_code>("language_code"),
        RecordField<&WebAppUser::is_premium>("is_premium"),
        RecordField<&WebAppUser::added_to_attachment_menu>("added_to_attachment_menu"),
        RecordField<&WebAppUser::allows_write_to_pm>("allows_write_to_pm"),
        RecordField<&WebAppUser::photo_url>("photo_url"),
    };
}

}  // namespace norvik_auth::webapp_data
