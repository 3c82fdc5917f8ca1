// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#include "lib/form_urlencoded.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "lib/percent_decode.hpp"
#include "util/byte_scan.hpp"
#include "util/utf8.hpp"

namespace norvik_auth::lib {
namespace {

using util::bytes_equal;
using util::first_flagged;
using util::kEveryByte;
using util::kHighBits;
using util::load_word;

// ASCII bytes that decode to themselves: everything below 0x80 except '+' and '%'.
constexpr std::array<bool, 256> make_plain_table() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x80; ++c) table[c] = c != '+' && c != '%';
    return table;
}
constexpr std::array<bool, 256> kIsPlain = make_plain_table();

// Inputs up to this size reserve the worst case outright; typical init data is about 600 bytes.
constexpr std::size_t kCountAbove = 1024;

/// How many bytes of `bytes` are at or above 0x80.
std::size_t count_non_ascii(std::string_view bytes) {
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        // One bit per byte, summed by the multiplication into the top byte (no popcount needed).
        const std::uint64_t ones = (load_word(bytes.data() + i) >> 7) & kEveryByte;
        count += static_cast<std::size_t>((ones * kEveryByte) >> 56);
    }
    for (; i < bytes.size(); ++i) count += static_cast<unsigned char>(bytes[i]) >> 7;
    return count;
}

/// Offset of the first byte of `bytes` that does not decode to itself: '+', '%' or non-ASCII.
std::size_t first_special(std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t word = load_word(bytes.data() + i);
        const std::uint64_t flags =
            (word & kHighBits) | bytes_equal(word, '+') | bytes_equal(word, '%');
        if (flags != 0) return i + first_flagged(flags);
    }
    while (i < bytes.size() && kIsPlain[static_cast<unsigned char>(bytes[i])]) ++i;
    return i;
}

/// The raw name and value of the next non-empty '&'-separated sequence from `position` on
/// (advanced past it); false when none is left. Only the first '=' splits.
bool next_raw_pair(std::string_view input, std::size_t& position, std::string_view& name,
                   std::string_view& value) {
    while (position <= input.size()) {
        std::size_t stop = input.find('&', position);
        if (stop == std::string_view::npos) stop = input.size();
        const std::string_view sequence = input.substr(position, stop - position);
        position = stop + 1;
        if (sequence.empty()) continue;
        const std::size_t equals = sequence.find('=');
        name = sequence.substr(0, equals);
        value = equals == std::string_view::npos ? std::string_view() : sequence.substr(equals + 1);
        return true;
    }
    return false;
}

/// Decodes one name or value, appending the result to `out`; returns false, appending
/// nothing, when `raw` is already its own decoded form.
bool decode_component(std::string_view raw, std::pmr::string& out) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(raw.data());
    const auto* const end = begin + raw.size();
    // Most names and many values are plain ASCII without '+' or '%': they stay as they are.
    const unsigned char* p = begin + first_special(raw);
    if (p == end) return false;

    const std::size_t start = out.size();
    const auto prefix = static_cast<std::size_t>(p - begin);
    const std::string_view rest = raw.substr(prefix);
    if (rest.find_first_of("+%") == std::string_view::npos) {
        // Only non-ASCII bytes: keep the text unless it is not UTF-8.
        const std::size_t bad = util::first_ill_formed(rest);
        if (bad == rest.size()) return false;
        out.append(raw.substr(0, prefix + bad));
        util::append_repaired(rest.substr(bad), out);
        return true;
    }

    out.resize(start + raw.size());
    std::memcpy(out.data() + start, raw.data(), prefix);
    char* const written = percent_decode(rest, out.data() + start + prefix);
    out.resize(static_cast<std::size_t>(written - out.data()));
    const std::string_view decoded(out.data() + start, out.size() - start);
    const std::size_t bad = util::first_ill_formed(decoded);
    if (bad == decoded.size()) return true;
    // Rare: repair the tail from a copy, since `out` is rewritten in place.
    const std::string tail(decoded.substr(bad));
    out.resize(start + bad);
    util::append_repaired(tail, out);
    return true;
}

}  // namespace

DecodedForm::DecodedForm(std::string_view input, std::pmr::memory_resource* memory)
    : decoded_(memory), pairs_(memory) {
    // Views into the buffer are kept, so it must never grow: room for the worst case is reserved
    // once. A decoded part never has more bytes than its raw form, except that a raw byte at or
    // above 0x80 may become the three bytes of U+FFFD. Short inputs take three times their size
    // rather than a count.
    decoded_.reserve(input.size() <= kCountAbove ? 3 * input.size()
                                                 : input.size() + 2 * count_non_ascii(input));
    // Typical init data has fewer than a dozen pairs; more only cost a regrowth or two.
    pairs_.reserve(12);
    std::size_t position = 0;
    std::string_view name;
    std::string_view value;
    while (next_raw_pair(input, position, name, value)) {
        const std::string_view decoded_name = add_part(name);
        pairs_.push_back({decoded_name, add_part(value)});
    }
}

std::string_view DecodedForm::add_part(std::string_view raw) {
    const std::size_t offset = decoded_.size();
    if (!decode_component(raw, decoded_)) return raw;
    return std::string_view(decoded_.data() + offset, decoded_.size() - offset);
}

}  // namespace norvik_auth::lib
