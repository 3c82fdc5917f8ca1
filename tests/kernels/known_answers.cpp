// Published SHA-256 and HMAC-SHA-256 answers from tests/data, read as plain text: the files are
// regular enough that a scan for each member's name does, and the counts are checked by the
// caller, so a misread file cannot pass unnoticed.
#include "known_answers.hpp"

#include <cstdio>
#include <optional>
#include <string_view>

namespace known_answers {
namespace {

std::optional<std::string> contents(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string text;
    char chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

std::optional<std::vector<std::uint8_t>> from_hex(std::string_view hex) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

/// The text after `prefix` up to the end of the line, for the next line starting with it at or
/// after `at`; moves `at` past that line.
std::optional<std::string_view> line_value(std::string_view text, std::size_t& at,
                                           std::string_view prefix) {
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.starts_with(prefix)) return line.substr(prefix.size());
    }
    return std::nullopt;
}

/// The string value of the next member `name` at or after `at`; moves `at` past it. The values
/// read here hold no escapes.
std::optional<std::string_view> member(std::string_view text, std::size_t& at,
                                       std::string_view name) {
    std::size_t found = at;
    do {
        found = text.find(name, found + 1);
        if (found == std::string_view::npos) return std::nullopt;
    } while (text[found - 1] != '"' || found + name.size() >= text.size() ||
             text[found + name.size()] != '"');
    const std::size_t open = text.find('"', text.find(':', found + name.size() + 1));
    const std::size_t close = text.find('"', open + 1);
    if (open == std::string_view::npos || close == std::string_view::npos) return std::nullopt;
    at = close + 1;
    return text.substr(open + 1, close - open - 1);
}

Read failed(const std::string& path, const std::string& why) { return {{}, path + ": " + why}; }

}  // namespace

Read read_shavs(const std::string& path) {
    const auto text = contents(path);
    if (!text) return failed(path, "cannot be read");
    Read read;
    std::size_t at = 0;
    while (const auto length = line_value(*text, at, "Len = ")) {
        const auto message = line_value(*text, at, "Msg = ");
        const auto digest = line_value(*text, at, "MD = ");
        auto bytes = message ? from_hex(*message) : std::nullopt;
        if (!digest || !bytes)
            return failed(path, "entry Len = " + std::string(*length) + " unreadable");
        const unsigned long bits = std::stoul(std::string(*length));
        if (bits == 0) bytes->clear();  // "Msg = 00" stands for the empty message
        if (bits != 8 * bytes->size())
            return failed(path, "Len = " + std::string(*length) + " is not the message's");
        read.vectors.push_back({path + " Len = " + std::string(*length),
                                {},
                                std::move(*bytes),
                                std::string(*digest),
                                true});
    }
    return read;
}

Read read_wycheproof_mac(const std::string& path) {
    const auto text = contents(path);
    if (!text) return failed(path, "cannot be read");
    Read read;
    std::size_t at = 0;
    for (std::size_t test = text->find("\"tcId\""); test != std::string::npos;
         test = text->find("\"tcId\"", at)) {
        at = test;
        const auto number_start = text->find_first_of("0123456789", test);
        const std::string id = text->substr(number_start, text->find(',', test) - number_start);
        const auto key = member(*text, at, "key");
        const auto message = member(*text, at, "msg");
        const auto tag = member(*text, at, "tag");
        const auto result = member(*text, at, "result");
        auto key_bytes = key ? from_hex(*key) : std::nullopt;
        auto message_bytes = message ? from_hex(*message) : std::nullopt;
        if (!key_bytes || !message_bytes || !tag || !result)
            return failed(path, "tcId " + id + " unreadable");
        read.vectors.push_back({path + " tcId " + id, std::move(*key_bytes),
                                std::move(*message_bytes), std::string(*tag), *result == "valid"});
    }
    return read;
}

Read read_nist_hmac_examples(const std::string& path) {
    const auto text = contents(path);
    if (!text) return failed(path, "cannot be read");
    Read read;
    std::size_t at = 0;
    while (const auto key = member(*text, at, "key")) {
        const auto message = member(*text, at, "data_text");
        const auto tag = member(*text, at, "hmac_sha256");
        auto key_bytes = from_hex(*key);
        if (!message || !tag || !key_bytes) return failed(path, "an example is unreadable");
        read.vectors.push_back(
            {path + " example " + std::to_string(read.vectors.size() + 1), std::move(*key_bytes),
             std::vector<std::uint8_t>(message->begin(), message->end()), std::string(*tag), true});
    }
    return read;
}

}  // namespace known_answers
