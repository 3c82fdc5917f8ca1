// The init-data members: the last value of each name, and the ten known fields among them.
#include "lib/field_map.hpp"

#include <algorithm>
#include <numeric>
#include <optional>

#include "util/byte_scan.hpp"

namespace norvik_auth::lib {
namespace {

/// The field a member name stands for, if any. The names are compared a word at a time, inline
/// wherever this lands.
std::optional<Field> field_named(std::string_view name) {
    using util::same_bytes;
    switch (name.size()) {
        case 4:
            if (same_bytes(name, "user")) return Field::User;
            if (same_bytes(name, "chat")) return Field::Chat;
            if (same_bytes(name, "hash")) return Field::Hash;
            break;
        case 8:
            if (same_bytes(name, "query_id")) return Field::QueryId;
            if (same_bytes(name, "receiver")) return Field::Receiver;
            break;
        case 9:
            if (same_bytes(name, "chat_type")) return Field::ChatType;
            if (same_bytes(name, "auth_date")) return Field::AuthDate;
            break;
        case 11:
            if (same_bytes(name, "start_param")) return Field::StartParam;
            break;
        case 13:
            if (same_bytes(name, "chat_instance")) return Field::ChatInstance;
            break;
        case 14:
            if (same_bytes(name, "can_send_after")) return Field::CanSendAfter;
            break;
        default:
            break;
    }
    return std::nullopt;
}

// Up to this many pairs, repeated names are found by comparing each pair with the later ones;
// beyond it by sorting, so that a flood of pairs costs n log n.
constexpr std::size_t kQuadraticLimit = 16;

}  // namespace

FieldMap::FieldMap(std::string_view query) : form_(query, &memory_) {
    keep_last_of_each_name();
    for (const FieldEntry& entry : entries_) {
        if (const auto field = field_named(entry.name)) {
            fields_[static_cast<std::size_t>(*field)] = &entry;
        }
    }
}

const std::string_view* FieldMap::find(Field field) const {
    const FieldEntry* const entry = fields_[static_cast<std::size_t>(field)];
    return entry != nullptr ? &entry->value : nullptr;
}

// A later pair replaces the value of an earlier pair of the same name.
void FieldMap::keep_last_of_each_name() {
    const std::size_t count = entries_.size();
    std::size_t kept = 0;
    if (count <= kQuadraticLimit) {
        // Compacts in place, keeping input order: entry i survives unless a later one shares
        // its name.
        for (std::size_t i = 0; i < count; ++i) {
            bool replaced = false;
            for (std::size_t j = i + 1; j < count && !replaced; ++j) {
                replaced = util::same_bytes(entries_[j].name, entries_[i].name);
            }
            if (replaced) continue;
            if (kept != i) entries_[kept] = entries_[i];  // usually nothing moves
            ++kept;
        }
    } else {
        std::vector<std::size_t> order(count);
        std::iota(order.begin(), order.end(), std::size_t{0});
        // Equal names end up adjacent, in input order; the last of each run wins.
        std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
            return entries_[a].name < entries_[b].name;
        });
        std::pmr::vector<FieldEntry> survivors(entries_.get_allocator());
        survivors.reserve(count);
        for (std::size_t k = 0; k < count; ++k) {
            if (k + 1 < count && entries_[order[k + 1]].name == entries_[order[k]].name) continue;
            survivors.push_back(entries_[order[k]]);
        }
        entries_ = std::move(survivors);
        kept = entries_.size();
    }
    entries_.resize(kept);
}

}  // namespace norvik_auth::lib
