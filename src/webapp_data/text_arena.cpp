// One owner for all the texts of a parsed record.
#include "webapp_data/text_arena.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace norvik_auth::webapp_data {
namespace {

// Blocks added without a reservation grow geometrically from this size.
constexpr std::size_t kMinimumBlock = 256;

}  // namespace

TextArena::TextArena(TextArena&& other) noexcept
    : last_(std::exchange(other.last_, nullptr)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      left_(std::exchange(other.left_, 0)),
      last_size_(std::exchange(other.last_size_, 0)) {}

TextArena& TextArena::operator=(TextArena&& other) noexcept {
    if (this != &other) {
        release();
        last_ = std::exchange(other.last_, nullptr);
        cursor_ = std::exchange(other.cursor_, nullptr);
        left_ = std::exchange(other.left_, 0);
        last_size_ = std::exchange(other.last_size_, 0);
    }
    return *this;
}

TextArena::~TextArena() { release(); }

void TextArena::release() noexcept {
    while (last_ != nullptr) {
        Block* const previous = last_->previous;
        ::operator delete(last_);
        last_ = previous;
    }
    cursor_ = nullptr;
    left_ = 0;
    last_size_ = 0;
}

void TextArena::add_block(std::size_t size) {
    if (size > static_cast<std::size_t>(-1) - sizeof(Block)) throw std::bad_alloc();
    void* const memory = ::operator new(sizeof(Block) + size);
    Block* const block = ::new (memory) Block{last_, size};
    last_ = block;
    cursor_ = reinterpret_cast<char*>(block + 1);
    left_ = size;
    last_size_ = size;
}

void TextArena::reserve(std::size_t size) {
    if (size > left_) add_block(size);
}

char* TextArena::allocate(std::size_t size) {
    if (size > left_) add_block(std::max({size, kMinimumBlock, 2 * last_size_}));
    char* const start = cursor_;
    cursor_ += size;
    left_ -= size;
    return start;
}

bool TextArena::holds(std::string_view text) const {
    // Compared as addresses: the text may come from anywhere.
    const auto first = reinterpret_cast<std::uintptr_t>(text.data());
    for (const Block* block = last_; block != nullptr; block = block->previous) {
        const auto start = reinterpret_cast<std::uintptr_t>(block + 1);
        if (first >= start && first - start <= block->size &&
            text.size() <= block->size - (first - start)) {
            return true;
        }
    }
    return false;
}

std::string_view TextArena::copy(std::string_view text) {
    if (text.empty()) return std::string_view("", 0);
    char* const start = allocate(text.size());
    std::memcpy(start, text.data(), text.size());
    return {start, text.size()};
}

}  // namespace norvik_auth::webapp_data
