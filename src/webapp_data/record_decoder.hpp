// Decoding a record from JSON, driven by a table of its members.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
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

namespace norvik_auth::webapp_data {

/// Decodes one complete JSON text (object or array form) into `into`, which is fresh on entry,
/// by the record's table of fields; its texts go into `texts`. Throws JsonError, leaving a
/// partial record.
template <class Record>
void from_json(std::string_view json, Record& into, TextArena& texts) {
    const auto bindings = std::apply(
        [&](const auto&... field) {
            return std::array<FieldBinding, sizeof...(field)>{
                FieldBinding{field.json_name, &(into.*field.member)}...};
        },
        Record::fields());
    decode_record(json, Record::kName, bindings, texts);
}

}  // namespace norvik_auth::webapp_data
