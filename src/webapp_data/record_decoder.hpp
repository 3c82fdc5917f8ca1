// Decoding a record from JSON, driven by a table of its members.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

/// Where a member's value goes; the pointee's type is the member's type. Plain integers and
/// texts are required in the object form, optional ones may be left out.
using FieldTarget = std::variant<std::int64_t*, std::string_view*, std::optional<bool>*,
                                 std::optional<std::string_view>*>;

struct FieldBinding {
    std::string_view name;
    FieldTarget target;
};

/// Decodes `json` (object or array form) into the targets, in declaration order; `record_name`
/// is the type's name used in messages ("WebAppUser"); decoded texts are kept in `texts`.
/// Throws JsonError.
void decode_record(std::string_view json, std::string_view record_name,
                   std::span<const FieldBinding> fields, TextArena& texts);

}  // namespace norvik_auth::webapp_data
