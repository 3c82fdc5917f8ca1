// Decoding a record from JSON, driven by a table of its members.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "webapp_data/json_error.hpp"
#include "webapp_data/text_arena.hpp"

namespace norvik_auth::webapp_data {

class JsonReader;

/// Decoding one member's value into its place, by the member's type. Plain integers and texts
/// are required in the object form; optional ones may be left out or null. False when the
/// value is refused, the reader holding why. A text without escapes views the JSON text; an
/// unescaped one is kept in `texts`.
[[nodiscard]] bool decode_value(JsonReader& reader, std::int64_t& out, TextArena& texts);
[[nodiscard]] bool decode_value(JsonReader& reader, std::string_view& out, TextArena& texts);
[[nodiscard]] bool decode_value(JsonReader& reader, std::optional<bool>& out, TextArena& texts);
[[nodiscard]] bool decode_value(JsonReader& reader, std::optional<std::string_view>& out,
                                TextArena& texts);

/// One field of a record as the decoder sees it: its JSON name, whether the object form must
/// hold it, and how its value goes into the record (passed as `record`).
struct FieldDecoder {
    std::string_view name;
    bool required;
    bool (*decode)(JsonReader& reader, void* record, TextArena& texts);
};

/// Decodes `json` (object or array form) into `record` by its fields, in declaration order;
/// `record_name` is the type's name used in messages ("WebAppUser"); texts are kept as
/// from_json says. False when the text is refused, with `failure` saying why and where.
[[nodiscard]] bool decode_record(std::string_view json, std::string_view record_name,
                                 std::span<const FieldDecoder> fields, void* record,
                                 TextArena& texts, JsonError& failure);

template <class Record, auto Member>
bool decode_member(JsonReader& reader, void* record, TextArena& texts) {
    return decode_value(reader, static_cast<Record*>(record)->*Member, texts);
}

template <class T>
inline constexpr bool kRequiredValue = true;
template <class T>
inline constexpr bool kRequiredValue<std::optional<T>> = false;

/// The decoder's table of a record's fields, made at compile time from the record's own table.
template <class Record>
inline constexpr auto kFieldDecoders = std::apply(
    [](const auto&... field) {
        return std::array<FieldDecoder, sizeof...(field)>{FieldDecoder{
            field.json_name,
            kRequiredValue<typename std::remove_cvref_t<decltype(field)>::Value>,
            &decode_member<Record, std::remove_cvref_t<decltype(field)>::member>}...};
    },
    Record::fields());

/// Decodes one complete JSON text (object or array form) into `into`, which is fresh on entry,
/// by the record's table of fields. Its texts without escapes view `json` itself, so they live
/// as long as it (or as a copy that rebase_texts moves them onto); unescaped ones are kept in
/// `texts`. False when the text is refused, with `failure` saying why and where, and `into`
/// left partial.
template <class Record>
[[nodiscard]] bool from_json(std::string_view json, Record& into, TextArena& texts,
                             JsonError& failure) {
    return decode_record(json, Record::kName, kFieldDecoders<Record>, &into, texts, failure);
}

/// `text` moved onto the same bytes of `copy` when it lies within `json`, of which `copy` is a
/// copy.
inline void rebase_text(std::string_view& text, std::string_view json, std::string_view copy) {
    // Compared as addresses: the text may come from anywhere.
    const auto offset = reinterpret_cast<std::uintptr_t>(text.data()) -
                        reinterpret_cast<std::uintptr_t>(json.data());
    if (offset <= json.size() && text.size() <= json.size() - offset) {
        text = copy.substr(static_cast<std::size_t>(offset), text.size());
    }
}
inline void rebase_text(std::optional<std::string_view>& text, std::string_view json,
                        std::string_view copy) {
    if (text) rebase_text(*text, json, copy);
}
/// Other values hold no text.
template <class Value>
void rebase_text(Value&, std::string_view, std::string_view) {}

/// Moves the texts of a record decoded from `json` onto `copy`, a copy of `json`, so that they
/// live as long as the copy.
template <class Record>
void rebase_texts(Record& record, std::string_view json, std::string_view copy) {
    std::apply([&](const auto&... field) { (rebase_text(record.*field.member, json, copy), ...); },
               Record::fields());
}

}  // namespace norvik_auth::webapp_data
