// The init-data members: the last value of each name, and the ten known fields among them.
#pragma once

#include <array>
#include <cstddef>
#include <memory_resource>
#include <span>
#include <string_view>
#include <vector>

#include "lib/form_urlencoded.hpp"

namespace norvik_auth::lib {

/// The members that are fields of the record, in the order they are looked up.
enum class Field {
    QueryId,
    User,
    Receiver,
    Chat,
    ChatType,
    ChatInstance,
    AuthDate,
    Hash,
    StartParam,
    CanSendAfter,
};
inline constexpr std::size_t kFieldCount = 10;

using FieldEntry = FormPairView;

/// Decodes a query and keeps one entry per distinct name, holding the value of that name's
/// last pair. Names are compared as exact bytes. Views live as long as the map and the query.
class FieldMap {
public:
    explicit FieldMap(std::string_view query);

    /// The value of `field`, or nullptr when no pair has its name.
    const std::string_view* find(Field field) const;
    /// One entry per distinct name, in no particular order. Callers may point an entry's views
    /// at copies of the same text (find() then gives the copy), but not reorder the entries.
    std::span<FieldEntry> entries() { return entries_; }

private:
    void keep_last_of_each_name();

    // The decoded parts (reserved at up to three times the input's size) and pairs of typical
    // init data fit here, on the caller's stack.
    std::array<std::byte, 4096> scratch_;
    std::pmr::monotonic_buffer_resource memory_{scratch_.data(), scratch_.size()};
    DecodedForm form_;
    std::pmr::vector<FieldEntry>& entries_ = form_.pairs();
    // The entry of each field, or nullptr.
    std::array<const FieldEntry*, kFieldCount> fields_{};
};

}  // namespace norvik_auth::lib
