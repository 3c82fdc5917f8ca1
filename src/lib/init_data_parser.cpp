// From an init-data query string to a WebAppInitData with its data-check string.
#include "lib/init_data_parser.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/data_check_string.hpp"
#include "lib/decimal_u64.hpp"
#include "lib/field_map.hpp"
#include "webapp_data/json_error.hpp"
#include "webapp_data/record_decoder.hpp"

namespace norvik_auth::lib {
namespace {

using util::Failure;
using util::Outcome;
using webapp_data::JsonError;
using webapp_data::TextArena;
using webapp_data::WebAppChat;
using webapp_data::WebAppInitData;
using webapp_data::WebAppUser;

/// "Unable to parse <member>: ", with room for a detail of about `detail_size` bytes: each
/// message is worded in one string.
std::string unable_to_parse(std::string_view member, std::size_t detail_size) {
    constexpr std::string_view kPrefix = "Unable to parse ";
    std::string message;
    message.reserve(kPrefix.size() + member.size() + 2 + detail_size);
    message.append(kPrefix).append(member).append(": ", 2);
    return message;
}

[[gnu::cold]] Failure unable_to_parse(std::string_view member, const JsonError& error) {
    // The detail is `Error("<message>", line: L, column: C)`.
    Failure failure{unable_to_parse(member, error.message().size() + 64)};
    error.append_debug_text(failure.message);
    return failure;
}

[[gnu::cold]] Failure unable_to_parse(std::string_view member, ParseIntErrorKind kind) {
    const std::string_view detail = parse_int_error_text(kind);
    Failure failure{unable_to_parse(member, detail.size())};
    failure.message += detail;
    return failure;
}

/// Decodes a JSON-valued member straight into its place in the record; the member's name goes
/// into the message of a failure. The record's texts without escapes view the member's value.
template <class Record>
Outcome<void> decode_json_member(std::string_view value, std::string_view member,
                            std::optional<Record>& out, TextArena& texts) {
    JsonError error;
    if (webapp_data::from_json(value, out.emplace(), texts, error)) return {};
    return unable_to_parse(member, error);
}

/// Stores straight into the record's field: an optional returned by value travels through
/// memory as two differently sized stores, and reading it back as one word stalls.
Outcome<void> decode_integer(std::string_view value, std::string_view member,
                             std::optional<std::uint64_t>& out) {
    const auto number = parse_decimal_u64(value);
    if (!number) return unable_to_parse(member, number.failure());
    out = number.value();
    return {};
}

/// The text itself when it lies in the record's texts already (the data-check string holds
/// every non-empty value but the hash's), else a copy kept there.
std::optional<std::string_view> decode_text(const std::string_view* value, TextArena& texts) {
    if (value == nullptr) return std::nullopt;
    return texts.keep(*value);
}

/// Room for every text the record can keep: the data-check string, which the text fields and
/// the texts without escapes inside the JSON members view, the hash, and the texts with escapes
/// (never longer than their JSON member).
std::size_t text_room(const FieldMap& fields, std::size_t data_check_size) {
    std::size_t room = data_check_size;
    for (const Field field : {Field::User, Field::Receiver, Field::Chat, Field::Hash}) {
        if (const std::string_view* value = fields.find(field)) room += value->size();
    }
    return room;
}

/// Converts the members whose conversion can fail, in the fixed order of the lookups, so that
/// the earliest bad member is the one reported: the JSON records, `auth_date`, the presence of
/// `hash`, and `can_send_after`. An absent member costs its lookup alone.
Outcome<void> convert_members(const FieldMap& fields, WebAppInitData& data) {
    TextArena& texts = data.texts;
    if (const std::string_view* user = fields.find(Field::User)) {
        if (auto decoded = decode_json_member(*user, "user", data.user, texts); !decoded) {
            return decoded;
        }
    }
    if (const std::string_view* receiver = fields.find(Field::Receiver)) {
        if (auto decoded = decode_json_member(*receiver, "receiver", data.receiver, texts);
            !decoded) {
            return decoded;
        }
    }
    if (const std::string_view* chat = fields.find(Field::Chat)) {
        if (auto decoded = decode_json_member(*chat, "chat", data.chat, texts); !decoded) {
            return decoded;
        }
    }
    if (const std::string_view* auth_date = fields.find(Field::AuthDate)) {
        if (auto decoded = decode_integer(*auth_date, "auth_date", data.auth_date); !decoded) {
            return decoded;
        }
    }
    if (fields.find(Field::Hash) == nullptr) return Failure{"Hash is required"};
    if (const std::string_view* can_send_after = fields.find(Field::CanSendAfter)) {
        return decode_integer(*can_send_after, "can_send_after", data.can_send_after);
    }
    return {};
}

/// The value of `field`, or nothing.
std::string_view value_of(const FieldMap& fields, Field field) {
    const std::string_view* const value = fields.find(field);
    return value != nullptr ? *value : std::string_view();
}

/// Moves the texts of a decoded record onto the copy of its member's value.
template <class Record>
void rebase_record(std::optional<Record>& record, std::string_view decoded_from,
                   const std::string_view* copy) {
    if (record) webapp_data::rebase_texts(*record, decoded_from, *copy);
}

}  // namespace

Outcome<void> parse_init_data(std::string_view query, WebAppInitData& data) {
    FieldMap fields(query);
    TextArena& texts = data.texts;
    // One allocation for all the texts of the record.
    texts.reserve(text_room(fields, data_check_string_size(fields.entries())));
    if (auto converted = convert_members(fields, data); !converted) return converted;

    // Only accepted input gets its data-check string, which cannot fail. The values then view
    // their copies in it, and so do the texts of the records once moved there.
    const std::array<std::string_view, 3> decoded_from = {
        value_of(fields, Field::User), value_of(fields, Field::Receiver),
        value_of(fields, Field::Chat)};
    const DataCheckString signed_text = build_data_check_string(fields.entries(), texts);
    data.data_check_string = signed_text.text;
    data.data_check_string_unambiguous = signed_text.unambiguous;
    rebase_record(data.user, decoded_from[0], fields.find(Field::User));
    rebase_record(data.receiver, decoded_from[1], fields.find(Field::Receiver));
    rebase_record(data.chat, decoded_from[2], fields.find(Field::Chat));

    data.query_id = decode_text(fields.find(Field::QueryId), texts);
    data.chat_type = decode_text(fields.find(Field::ChatType), texts);
    data.chat_instance = decode_text(fields.find(Field::ChatInstance), texts);
    data.hash = texts.copy(*fields.find(Field::Hash));
    data.start_param = decode_text(fields.find(Field::StartParam), texts);
    return {};
}

}  // namespace norvik_auth::lib
