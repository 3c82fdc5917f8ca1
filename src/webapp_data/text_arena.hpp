// One owner for all the texts of a parsed record: they are copied into a few large blocks
// instead of each getting an allocation of its own.
#pragma once

#include <cstddef>
#include <string_view>

namespace norvik_auth::webapp_data {

/// Append-only storage for texts. What it hands out never moves and lives as long as the
/// arena (or the arena it is moved into).
class TextArena {
public:
    TextArena() = default;
    TextArena(TextArena&& other) noexcept;
    TextArena& operator=(TextArena&& other) noexcept;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;
    ~TextArena();

    /// Makes sure the next `size` bytes fit in the current block, so that copies adding up to
    /// that much cost no further allocation.
    void reserve(std::size_t size);
    /// `size` bytes of storage to write into.
    char* allocate(std::size_t size);
    /// A copy of `text` kept here.
    std::string_view copy(std::string_view text);
    /// Whether `text` lies wholly in storage handed out here (and so lives as long as it).
    bool holds(std::string_view text) const;
    /// `text` itself when it lies here already, else a copy kept here.
    std::string_view keep(std::string_view text) { return holds(text) ? text : copy(text); }

private:
    struct Block {
        Block* previous;
        std::size_t size;
        // The block's bytes follow the header.
    };

    void add_block(std::size_t size);
    void release() noexcept;

    Block* last_ = nullptr;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
    std::size_t last_size_ = 0;
};

}  // namespace norvik_auth::webapp_data
