// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#include "lib/form_urlencoded.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lib/percent_decode.hpp"
#include "util/byte_scan.hpp"
#include "util/utf8.hpp"

namespace norvik_auth::lib {
namespace {

using util::kEveryByte;
using util::load_word;

// What each byte means to the splitter: part of a component as it is, a byte that changes
// when decoded ('+', '%' and non-ASCII), or a separator.
enum ByteClass : std::uint8_t { kPlain, kSpecial, kAmpersand, kEquals };

constexpr std::array<std::uint8_t, 256> make_class_table() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0x80; c < 0x100; ++c) table[c] = kSpecial;
    table['+'] = kSpecial;
    table['%'] = kSpecial;
    table['&'] = kAmpersand;
    table['='] = kEquals;
    return table;
}
constexpr std::array<std::uint8_t, 256> kByteClass = make_class_table();

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

/// One name or value as the splitter found it: where it ends, where its first byte that
/// changes when decoded is (`end` when none), and whether it holds a '+' or '%'.
struct RawComponent {
    std::size_t end;
    std::size_t first_special;
    bool has_escape;
};

/// Scans from `from` to the first '&', or also '=' when `equals_ends` (a name), or to the end
/// of the input; one pass finds the end and what decoding the component needs.
RawComponent scan_component(std::string_view input, std::size_t from, bool equals_ends) {
    const std::size_t size = input.size();
    std::size_t special = size;  // none yet
    bool escape = false;
    std::size_t i = from;
#if defined(__SSE2__)
    // Sixteen bytes a step; the last step re-reads the input's final sixteen bytes and ignores
    // those before `i`, so no byte is looked at one at a time unless the input is that short.
    const auto* const data = reinterpret_cast<const __m128i*>(input.data());
    while (i < size && size >= 16) {
        const std::size_t base = std::min(i, size - 16);
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
            reinterpret_cast<const char*>(data) + base));
        __m128i stops = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&'));
        if (equals_ends) stops = _mm_or_si128(stops, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')));
        const __m128i escapes = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')),
                                             _mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')));
        const unsigned skipped = static_cast<unsigned>(i - base);
        const unsigned stop_bits = static_cast<unsigned>(_mm_movemask_epi8(stops)) >> skipped;
        unsigned escape_bits = static_cast<unsigned>(_mm_movemask_epi8(escapes)) >> skipped;
        // The sign bits are the non-ASCII bytes.
        unsigned special_bits =
            (escape_bits | static_cast<unsigned>(_mm_movemask_epi8(bytes)) >> skipped);
        if (stop_bits != 0) {
            const unsigned before = (stop_bits & (0u - stop_bits)) - 1;  // lanes before the stop
            special_bits &= before;
            escape_bits &= before;
        }
        if (special == size && special_bits != 0) {
            special = i + static_cast<std::size_t>(__builtin_ctz(special_bits));
        }
        escape = escape || escape_bits != 0;
        if (stop_bits != 0) {
            const std::size_t end = i + static_cast<std::size_t>(__builtin_ctz(stop_bits));
            return {end, special == size ? end : special, escape};
        }
        i = base + 16;
    }
#endif
    for (; i < size; ++i) {
        const std::uint8_t kind = kByteClass[static_cast<unsigned char>(input[i])];
        if (kind == kAmpersand || (kind == kEquals && equals_ends)) break;
        if (kind == kSpecial) {
            if (special == size) special = i;
            escape = escape || input[i] == '+' || input[i] == '%';
        }
    }
    return {i, special == size ? i : special, escape};
}

/// Decodes one name or value, appending the result to `out`; returns false, appending
/// nothing, when `raw` is already its own decoded form. `prefix` bytes come first that decode
/// to themselves; `has_escape`: whether `raw` holds a '+' or a '%'.
bool decode_component(std::string_view raw, std::size_t prefix, bool has_escape,
                      std::pmr::string& out) {
    // Most names and many values are plain ASCII without '+' or '%': they stay as they are.
    if (prefix == raw.size()) return false;

    const std::size_t start = out.size();
    const std::string_view rest = raw.substr(prefix);
    if (!has_escape) {
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
    // Split on raw '&' (empty sequences skipped) and the first '=' of each sequence. Each part
    // is written straight into its pair: a pair copied whole from two separate halves would
    // stall on the store-to-load path.
    std::size_t position = 0;
    while (position < input.size()) {
        const RawComponent name = scan_component(input, position, true);
        const std::string_view raw_name = input.substr(position, name.end - position);
        const bool has_value = name.end < input.size() && input[name.end] == '=';
        if (!has_value && raw_name.empty()) {
            position = name.end + 1;
            continue;
        }
        FormPairView& pair = pairs_.emplace_back();
        pair.name = add_part(raw_name, name.first_special - position, name.has_escape);
        if (!has_value) {
            position = name.end + 1;
            continue;
        }
        const std::size_t value_start = name.end + 1;
        const RawComponent value = scan_component(input, value_start, false);
        pair.value = add_part(input.substr(value_start, value.end - value_start),
                              value.first_special - value_start, value.has_escape);
        position = value.end + 1;
    }
}

std::string_view DecodedForm::add_part(std::string_view raw, std::size_t prefix,
                                       bool has_escape) {
    const std::size_t offset = decoded_.size();
    if (!decode_component(raw, prefix, has_escape, decoded_)) return raw;
    return std::string_view(decoded_.data() + offset, decoded_.size() - offset);
}

}  // namespace norvik_auth::lib
