// The text the init-data signature covers, built from the decoded pairs.
#include "lib/data_check_string.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "lib/kernels.hpp"
#include "util/byte_order.hpp"
#include "util/byte_scan.hpp"

#ifdef NORVIK_SSE2
#include <emmintrin.h>
#endif

namespace norvik_auth::lib {
namespace {

/// Walks the line name + "=" + value of a pair without building it.
class LineCursor {
public:
    explicit LineCursor(const FieldEntry& entry) : pieces_{entry.name, "=", entry.value} {
        skip_empty();
    }
    bool done() const { return index_ == pieces_.size(); }
    std::string_view chunk() const { return pieces_[index_]; }
    void advance(std::size_t count) {
        pieces_[index_].remove_prefix(count);
        skip_empty();
    }

private:
    void skip_empty() {
        while (index_ < pieces_.size() && pieces_[index_].empty()) ++index_;
    }

    std::array<std::string_view, 3> pieces_;
    std::size_t index_ = 0;
};

/// Bytewise order of the two lines as unsigned bytes; a proper prefix sorts first.
bool line_less(const FieldEntry& a, const FieldEntry& b) {
    // Usually the names differ within their common length, which settles it; most often in
    // their first byte.
    const std::size_t common = std::min(a.name.size(), b.name.size());
    if (common != 0 && a.name[0] != b.name[0]) {
        return static_cast<unsigned char>(a.name[0]) < static_cast<unsigned char>(b.name[0]);
    }
    const int names = a.name.substr(0, common).compare(b.name.substr(0, common));
    if (names != 0) return names < 0;
    LineCursor left(a);
    LineCursor right(b);
    while (!left.done() && !right.done()) {
        const std::size_t count = std::min(left.chunk().size(), right.chunk().size());
        // char_traits<char> compares as unsigned char.
        const int order = left.chunk().substr(0, count).compare(right.chunk().substr(0, count));
        if (order != 0) return order < 0;
        left.advance(count);
        right.advance(count);
    }
    return left.done() && !right.done();
}

bool makes_line(const FieldEntry& entry) {
    return !entry.value.empty() && !util::same_bytes(entry.name, "hash");
}

// Up to this many lines are ordered by rank on a key of their first bytes; more by a sort.
constexpr std::size_t kRankedLines = 16;

/// The first eight bytes of the line of `entry` as a number that orders like them (missing
/// bytes count as zero). Where two keys differ, their lines are ordered the same way; equal
/// keys leave the order to line_less.
std::uint64_t line_key(const FieldEntry& entry) {
    // Most names have eight bytes or more: one load, in the order that compares as the bytes.
    if (entry.name.size() >= 8) {
        return util::big_endian_value(util::load_word(entry.name.data()));
    }
    std::uint64_t key = 0;
    unsigned taken = 0;
    for (const std::string_view piece : {entry.name, std::string_view("="), entry.value}) {
        for (std::size_t i = 0; i < piece.size() && taken < 8; ++i, ++taken) {
            key = key << 8 | static_cast<unsigned char>(piece[i]);
        }
    }
    return key << (8 * (8 - taken));  // at least the '=' was taken
}

/// Writes `line` at `out`; its value then views the copy. Returns the end of what was written.
char* write_line(FieldEntry& line, char* out) {
    std::memcpy(out, line.name.data(), line.name.size());
    out += line.name.size();
    *out++ = '=';
    std::memcpy(out, line.value.data(), line.value.size());
    line.value = std::string_view(out, line.value.size());
    return out + line.value.size();
}

/// Writes `lines` into `out` (room for all of them) joined by line feeds, in line order: each
/// line's place is the number of lines before it, counted on the keys without a branch per
/// pair; the rare lines that share a key are placed with line_less, ties by input position.
void write_ranked(std::span<FieldEntry* const> lines, char* out) {
    const std::size_t count = lines.size();
    std::array<std::uint64_t, kRankedLines> keys;
    for (std::size_t i = 0; i < count; ++i) keys[i] = line_key(*lines[i]);
    std::array<FieldEntry*, kRankedLines> ordered;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t before = 0;
        std::size_t same = 0;
        for (std::size_t j = 0; j < count; ++j) {
            before += keys[j] < keys[i];
            same += keys[j] == keys[i];
        }
        if (same > 1) {
            for (std::size_t j = 0; j < count; ++j) {
                if (j == i || keys[j] != keys[i]) continue;
                const bool less = line_less(*lines[j], *lines[i]);
                before += less || (j < i && !line_less(*lines[i], *lines[j]));
            }
        }
        ordered[before] = lines[i];
    }
    for (std::size_t k = 0; k < count; ++k) {
        if (k != 0) *out++ = '\n';
        out = write_line(*ordered[k], out);
    }
}

/// Writes `lines` into `out` joined by line feeds, in line order, by sorting them in place.
void write_sorted(std::span<FieldEntry*> lines, char* out) {
    std::sort(lines.begin(), lines.end(),
              [](const FieldEntry* a, const FieldEntry* b) { return line_less(*a, *b); });
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k != 0) *out++ = '\n';
        out = write_line(*lines[k], out);
    }
}

// Chosen at load from the kernel table; called once per parse.
const SeparatorCountFn kCountSeparators = chosen_kernel<SeparatorCountEntry>().run;

}  // namespace

namespace kernels {

SeparatorCounts separator_counts_bytewise(std::string_view text) {
    SeparatorCounts counts;
    for (const char c : text) {
        counts.feeds += c == '\n';
        counts.equals += c == '=';
    }
    return counts;
}

#ifdef NORVIK_SSE2
/// Sixteen bytes a step, the rest a byte at a time.
SeparatorCounts separator_counts_sse2(std::string_view text) {
    SeparatorCounts counts;
    std::size_t i = 0;
    // Each matching lane subtracts -1 from its byte counter; the counters are summed before
    // any of them can wrap.
    while (text.size() - i >= 16) {
        __m128i feeds = _mm_setzero_si128();
        __m128i equals = _mm_setzero_si128();
        for (std::size_t steps = 0; steps < 255 && text.size() - i >= 16; ++steps, i += 16) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            feeds = _mm_sub_epi8(feeds, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
            equals = _mm_sub_epi8(equals, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')));
        }
        const auto total = [](__m128i counters) {
            const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
            return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                   static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        };
        counts.feeds += total(feeds);
        counts.equals += total(equals);
    }
    for (; i < text.size(); ++i) {
        counts.feeds += text[i] == '\n';
        counts.equals += text[i] == '=';
    }
    return counts;
}
#endif

}  // namespace kernels

std::size_t data_check_string_size(std::span<const FieldEntry> entries) {
    std::size_t size = 0;
    for (const FieldEntry& entry : entries) {
        if (makes_line(entry)) size += entry.name.size() + 1 + entry.value.size() + 1;
    }
    return size == 0 ? 0 : size - 1;  // no line feed after the last line
}

DataCheckString build_data_check_string(std::span<FieldEntry> entries,
                                        webapp_data::TextArena& texts) {
    const std::size_t size = data_check_string_size(entries);
    if (size == 0) return {std::string_view("", 0), true};
    // The entries stay where they are: the lines are ordered as pointers to them.
    std::array<FieldEntry*, kRankedLines> few;
    std::vector<FieldEntry*> many;
    std::size_t count = 0;
    for (FieldEntry& entry : entries) {
        if (!makes_line(entry)) continue;
        if (count < kRankedLines) {
            few[count] = &entry;
        } else {
            if (many.empty()) many.assign(few.begin(), few.end());
            many.push_back(&entry);
        }
        ++count;
    }
    char* const text = texts.allocate(size);
    if (count <= kRankedLines) {
        write_ranked(std::span<FieldEntry* const>(few.data(), count), text);
    } else {
        write_sorted(many, text);
    }
    const std::span<FieldEntry* const> lines =
        count <= kRankedLines ? std::span<FieldEntry* const>(few.data(), count)
                              : std::span<FieldEntry* const>(many);
    // Every line splits where its pair did when each line feed is a separator and no name
    // holds '='. One count over the text settles the usual case: a line feed per separator and
    // an '=' per line, so none elsewhere. Else the names are looked at one by one.
    const SeparatorCounts counts = kCountSeparators(std::string_view(text, size));
    bool names_unambiguous = counts.equals == lines.size();
    if (!names_unambiguous) {
        names_unambiguous = std::none_of(lines.begin(), lines.end(), [](const FieldEntry* line) {
            return line->name.find('=') != std::string_view::npos;
        });
    }
    return {{text, size}, names_unambiguous && counts.feeds == lines.size() - 1};
}

}  // namespace norvik_auth::lib
