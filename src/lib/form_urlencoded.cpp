// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#include "lib/form_urlencoded.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "lib/form_scan.hpp"
#include "lib/percent_decode.hpp"
#include "util/byte_scan.hpp"
#include "util/utf8.hpp"

namespace norvik_auth::lib {
namespace {

using util::kEveryByte;
using util::load_word;

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
    const FormScanner& scanner = form_scanner();
    const auto part = [&](std::string_view raw) {
        const ComponentNeeds needs = scanner.component_needs(raw);
        return add_part(raw, needs.first_special, needs.has_escape);
    };
    constexpr std::size_t kInName = static_cast<std::size_t>(-1);
    std::size_t start = 0;         // where the current sequence starts
    std::size_t equals = kInName;  // its first '=', once seen
    // A raw '&' ends a sequence (empty ones are skipped) and its first '=' ends the name. Each
    // part is written straight into its pair: a pair copied whole from two separately written
    // halves would stall on the store-to-load path.
    const auto end_sequence = [&](std::size_t end) {
        if (equals == kInName) {
            if (end != start) pairs_.push_back({part(input.substr(start, end - start)), {}});
        } else {
            FormPairView& pair = pairs_.emplace_back();
            pair.name = part(input.substr(start, equals - start));
            pair.value = part(input.substr(equals + 1, end - equals - 1));
        }
        start = end + 1;
        equals = kInName;
    };
    // The separators are found a block at a time and walked bit by bit: the block searches do
    // not wait on where the previous sequence ended, so the processor runs them ahead.
    for (std::size_t base = 0; base < input.size(); base += kStopBlock) {
        const BlockStops stops =
            scanner.block_stops(input.data() + base, std::min(kStopBlock, input.size() - base));
        for (std::uint64_t pending = stops.ampersands | stops.equals; pending != 0;
             pending &= pending - 1) {
            const auto bit = static_cast<unsigned>(std::countr_zero(pending));
            if (stops.ampersands >> bit & 1) {
                end_sequence(base + bit);
            } else if (equals == kInName) {
                equals = base + bit;
            }
        }
    }
    end_sequence(input.size());
}

std::string_view DecodedForm::add_part(std::string_view raw, std::size_t prefix,
                                       bool has_escape) {
    const std::size_t offset = decoded_.size();
    if (!decode_component(raw, prefix, has_escape, decoded_)) return raw;
    return std::string_view(decoded_.data() + offset, decoded_.size() - offset);
}

}  // namespace norvik_auth::lib
