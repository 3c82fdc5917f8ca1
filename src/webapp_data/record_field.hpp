// One field of a record as data: its member and the names it goes by.
#pragma once

#include <string_view>

namespace norvik_auth::webapp_data {

template <class T>
struct MemberPointerTraits;
template <class Record, class Value>
struct MemberPointerTraits<Value Record::*> {
    using record = Record;
    using value = Value;
};

/// A field of a record: the member, the JSON member name, the label in the text form and the
/// Python attribute. Each record lists its fields once, in declaration order, as a tuple of
/// these; decoding, the text form and the Python getters all read that one table. The names
/// are literals, so each is also a null-terminated C string.
template <auto Member>
struct RecordField {
    using Record = typename MemberPointerTraits<decltype(Member)>::record;
    using Value = typename MemberPointerTraits<decltype(Member)>::value;
    static constexpr auto member = Member;

    std::string_view json_name;
    std::string_view label;
    std::string_view attribute;

    /// A field known by one name everywhere.
    constexpr explicit RecordField(std::string_view name)
        : json_name(name), label(name), attribute(name) {}
    constexpr RecordField(std::string_view json, std::string_view text_label,
                          std::string_view python_attribute)
        : json_name(json), label(text_label), attribute(python_attribute) {}
};

}  // namespace norvik_auth::webapp_data
