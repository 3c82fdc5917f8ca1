// The text the init-data signature covers, built from the decoded pairs.
#include "lib/data_check_string.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

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

bool makes_line(const FieldEntry& entry) { return entry.name != "hash" && !entry.value.empty(); }

}  // namespace

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
    // The entries that make a line move to the front and are sorted there, in place.
    const auto lines_end = std::partition(entries.begin(), entries.end(), makes_line);
    std::sort(entries.begin(), lines_end, line_less);

    char* const text = texts.allocate(size);
    char* out = text;
    bool names_unambiguous = true;
    for (auto line = entries.begin(); line != lines_end; ++line) {
        if (line != entries.begin()) *out++ = '\n';
        names_unambiguous = names_unambiguous && line->name.find('=') == std::string_view::npos;
        out = std::copy(line->name.begin(), line->name.end(), out);
        *out++ = '=';
        out = std::copy(line->value.begin(), line->value.end(), out);
    }
    // With no '=' in any name, every line splits where its pair did; then each line feed must
    // be one of the separators, or some name or value holds one. memchr finds them fast.
    const auto separators = static_cast<std::size_t>(lines_end - entries.begin()) - 1;
    std::size_t feeds = 0;
    for (const char* p = text; feeds <= separators; ++p, ++feeds) {
        const auto left = static_cast<std::size_t>(text + size - p);
        p = static_cast<const char*>(std::memchr(p, '\n', left));
        if (p == nullptr) break;
    }
    return {{text, size}, names_unambiguous && feeds == separators};
}

}  // namespace norvik_auth::lib
