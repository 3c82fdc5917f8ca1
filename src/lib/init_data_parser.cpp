// From an init-data query string to a WebAppInitData with its data-check string.
#include "lib/init_data_parser.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "lib/abort.hpp"
#include "lib/data_check_string.hpp"
#include "lib/decimal_u64.hpp"
#include "lib/field_map.hpp"
#include "webapp_data/json_error.hpp"

namespace norvik_auth::lib {
namespace {

using webapp_data::JsonError;
using webapp_data::WebAppChat;
using webapp_data::WebAppInitData;
using webapp_data::WebAppUser;

/// Decodes a JSON-valued member; the member's name goes into the message of a failure.
template <class Record>
std::optional<Record> decode_record(const std::string* value, std::string_view member) {
    if (value == nullptr) return std::nullopt;
    try {
        return Record::from_json(*value);
    } catch (const JsonError& error) {
        throw Abort("Unable to parse " + std::string(member) + ": " + error.debug_text());
    }
}

std::optional<std::uint64_t> decode_integer(const std::string* value, std::string_view member) {
    if (value == nullptr) return std::nullopt;
    const DecimalU64 number = parse_decimal_u64(*value);
    if (number.error) {
        throw Abort("Unable to parse " + std::string(member) + ": " +
                    std::string(parse_int_error_text(*number.error)));
    }
    return number.value;
}

std::optional<std::string> take_text(std::string* value) {
    if (value == nullptr) return std::nullopt;
    return std::move(*value);
}

}  // namespace

WebAppInitData parse_init_data(std::string_view query) {
    FieldEntries fields = collect_fields(query);

    // The lookups run in this fixed order, so the earliest bad member is the one reported.
    std::string* const query_id = find_field(fields, "query_id");
    WebAppInitData data;
    data.user = decode_record<WebAppUser>(find_field(fields, "user"), "user");
    data.receiver = decode_record<WebAppUser>(find_field(fields, "receiver"), "receiver");
    data.chat = decode_record<WebAppChat>(find_field(fields, "chat"), "chat");
    std::string* const chat_type = find_field(fields, "chat_type");
    std::string* const chat_instance = find_field(fields, "chat_instance");
    data.auth_date = decode_integer(find_field(fields, "auth_date"), "auth_date");
    std::string* const hash = find_field(fields, "hash");
    if (hash == nullptr) throw Abort("Hash is required");
    std::string* const start_param = find_field(fields, "start_param");
    data.can_send_after = decode_integer(find_field(fields, "can_send_after"), "can_send_after");

    data.data_check_string = build_data_check_string(fields);

    // The texts move into the record only now: the data-check string above still read them.
    data.query_id = take_text(query_id);
    data.chat_type = take_text(chat_type);
    data.chat_instance = take_text(chat_instance);
    data.start_param = take_text(start_param);
    data.hash = std::move(*hash);
    return data;
}

}  // namespace norvik_auth::lib
