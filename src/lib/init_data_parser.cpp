// From an init-data query string to a WebAppInitData with its data-check string.
#include "lib/init_data_parser.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/abort.hpp"
#include "lib/data_check_string.hpp"
#include "lib/decimal_u64.hpp"
#include "lib/field_map.hpp"
#include "webapp_data/json_error.hpp"
#include "webapp_data/record_decoder.hpp"

namespace norvik_auth::lib {
namespace {

using webapp_data::JsonError;
using webapp_data::TextArena;
using webapp_data::WebAppChat;
using webapp_data::WebAppInitData;
using webapp_data::WebAppUser;

/// Decodes a JSON-valued member straight into its place in the record; the member's name goes
/// into the message of a failure.
template <class Record>
void decode_record(const std::string_view* value, std::string_view member,
                   std::optional<Record>& out, TextArena& texts) {
    if (value == nullptr) return;
    try {
        webapp_data::from_json(*value, out.emplace(), texts);
    } catch (const JsonError& error) {
        throw Abort("Unable to parse " + std::string(member) + ": " + error.debug_text());
    }
}

/// Stores straight into the record's field: an optional returned by value travels through
/// memory as two differently sized stores, and reading it back as one word stalls.
void decode_integer(const std::string_view* value, std::string_view member,
                    std::optional<std::uint64_t>& out) {
    if (value == nullptr) return;
    const DecimalU64 number = parse_decimal_u64(*value);
    if (number.error) {
        throw Abort("Unable to parse " + std::string(member) + ": " +
                    std::string(parse_int_error_text(*number.error)));
    }
    out = number.value;
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

}  // namespace

WebAppInitData parse_init_data(std::string_view query) {
    WebAppInitData data;
    FieldMap fields(query);
    TextArena& texts = data.texts;
    // One allocation for all the texts of the record.
    texts.reserve(text_room(fields, data_check_string_size(fields.entries())));

    // The data-check string first: the values then view their copies in it. Building it
    // cannot fail on the input.
    const DataCheckString signed_text = build_data_check_string(fields.entries(), texts);
    data.data_check_string = signed_text.text;
    data.data_check_string_unambiguous = signed_text.unambiguous;

    // The lookups run in this fixed order, so the earliest bad member is the one reported.
    data.query_id = decode_text(fields.find(Field::QueryId), texts);
    decode_record(fields.find(Field::User), "user", data.user, texts);
    decode_record(fields.find(Field::Receiver), "receiver", data.receiver, texts);
    decode_record(fields.find(Field::Chat), "chat", data.chat, texts);
    data.chat_type = decode_text(fields.find(Field::ChatType), texts);
    data.chat_instance = decode_text(fields.find(Field::ChatInstance), texts);
    decode_integer(fields.find(Field::AuthDate), "auth_date", data.auth_date);
    const std::string_view* const hash = fields.find(Field::Hash);
    if (hash == nullptr) throw Abort("Hash is required");
    data.hash = texts.copy(*hash);
    data.start_param = decode_text(fields.find(Field::StartParam), texts);
    decode_integer(fields.find(Field::CanSendAfter), "can_send_after", data.can_send_after);
    return data;
}

}  // namespace norvik_auth::lib
