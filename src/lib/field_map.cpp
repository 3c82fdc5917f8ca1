// The init-data members as a map from name to the value of the name's last pair.
#include "lib/field_map.hpp"

#include <utility>

#include "lib/form_pair_reader.hpp"

namespace norvik_auth::lib {

FieldEntries collect_fields(std::string_view query) {
    // Pairs are taken one at a time, so repeated names cost no memory beyond their one entry.
    FieldEntries fields;
    FormPairReader reader(query);
    FormPair pair;
    while (reader.next(pair)) {
        const auto [entry, inserted] = fields.try_emplace(std::move(pair.name), std::move(pair.value));
        if (!inserted) entry->second = std::move(pair.value);
    }
    return fields;
}

std::string* find_field(FieldEntries& fields, std::string_view name) {
    const auto entry = fields.find(name);
    return entry == fields.end() ? nullptr : &entry->second;
}

}  // namespace norvik_auth::lib
