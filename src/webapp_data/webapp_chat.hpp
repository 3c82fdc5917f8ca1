// The chat record carried by the `chat` member of init data.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>

#include "webapp_data/record_field.hpp"
#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

/// An immutable value whose texts live in a TextArena; copies share them.
struct WebAppChat {
    static constexpr std::string_view kName = "WebAppChat";

    std::int64_t id = 0;
    std::string_view type_;
    std::string_view title;
    std::optional<std::string_view> username;
    std::optional<std::string_view> photo_url;

    /// The fields in declaration order (also the order of the JSON array form).
    static constexpr auto fields();
};

constexpr auto WebAppChat::fields() {
    return std::tuple{
        RecordField<&WebAppChat::id>("id"),
        // The one field with two names: the JSON member and the label keep the underscore
        // ("type" is an unknown member), the Python attribute does not.
        RecordField<&WebAppChat::type_>("type_", "type_", "type"),
        RecordField<&WebAppChat::title>("title"),
        RecordField<&WebAppChat::username>("username"),
        RecordField<&WebAppChat::photo_url>("photo_url"),
    };
}

}  // namespace norvik_auth::webapp_data
