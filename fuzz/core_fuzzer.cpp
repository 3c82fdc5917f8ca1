// libFuzzer entry over the plain C++ core: form decoding, init-data parsing, records, text forms,
// the kernels and the signature.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "lib/form_scan.hpp"
#include "lib/hmac_sha256.hpp"
#include "lib/kernels.hpp"
#include "lib/form_urlencoded.hpp"
#include "lib/init_data_parser.hpp"
#include "lib/percent_decode.hpp"
#include "lib/sha256.hpp"
#include "lib/signature.hpp"
#include "webapp_data/json_error.hpp"
#include "webapp_data/json_reader.hpp"
#include "webapp_data/json_stops.hpp"
#include "webapp_data/record_decoder.hpp"
#include "webapp_data/text_form.hpp"
#include "webapp_data/webapp_chat.hpp"
#include "webapp_data/webapp_init_data.hpp"
#include "webapp_data/webapp_user.hpp"

namespace {

using norvik_auth::webapp_data::JsonError;
using norvik_auth::webapp_data::JsonReader;
using norvik_auth::webapp_data::WebAppChat;
using norvik_auth::webapp_data::WebAppInitData;
using norvik_auth::webapp_data::WebAppUser;

/// Stops the run with a message; libFuzzer saves the input that got here.
[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void require(bool holds, const char* what) {
    if (!holds) broken(what);
}

/// Strict UTF-8 (no overlongs, surrogates or values above U+10FFFF), written independently of
/// the decoder under test so that the two cannot share a mistake.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr std::array<std::uint32_t, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF) return false;
        if (code >= 0xD800 && code <= 0xDFFF) return false;
        i += length;
    }
    return true;
}

struct FormPair {
    std::string name;
    std::string value;
};

/// Valid UTF-8 as it is, each maximal ill-formed subsequence as U+FFFD: a byte that can start no
/// sequence on its own, else the lead byte with the continuation bytes that could still have
/// completed it. Written independently of the decoder under test.
std::string repair_utf8(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        std::size_t good = 1;  // bytes of the sequence that fit
        while (good < length && i + good < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[i + good]);
            const bool fits = good == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            if (!fits) break;
            ++good;
        }
        if (good == length) {
            out.append(bytes.substr(i, length));
        } else {
            out += "\xEF\xBF\xBD";
        }
        i += good;
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/// One name or value the plainest way: '+' to space, then "%XX" escapes, then UTF-8 repair.
std::string reference_component(std::string_view raw) {
    std::string spaced(raw);
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    std::string bytes;
    for (std::size_t i = 0; i < spaced.size(); ++i) {
        if (spaced[i] == '%' && i + 2 < spaced.size() &&
            hex_digit(spaced[i + 1]) >= 0 && hex_digit(spaced[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_digit(spaced[i + 1]) * 16 + hex_digit(spaced[i + 2]));
            i += 2;
        } else {
            bytes += spaced[i];
        }
    }
    return repair_utf8(bytes);
}

/// The pairs of a form the plainest way: split on '&', skip empty sequences, split at the
/// first '='.
std::vector<FormPair> reference_form(std::string_view input) {
    std::vector<FormPair> pairs;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t stop = input.find('&', start);
        if (stop == std::string_view::npos) stop = input.size();
        const std::string_view sequence = input.substr(start, stop - start);
        start = stop + 1;
        if (sequence.empty()) continue;
        const std::size_t equals = sequence.find('=');
        if (equals == std::string_view::npos) {
            pairs.push_back({reference_component(sequence), ""});
        } else {
            pairs.push_back({reference_component(sequence.substr(0, equals)),
                             reference_component(sequence.substr(equals + 1))});
        }
    }
    return pairs;
}

/// A repr must be one line of valid UTF-8 and the same every time it is asked for.
template <class Record>
void check_text_form(const Record& record) {
    std::string first;
    std::string second;
    norvik_auth::webapp_data::append_text_value(first, record);
    norvik_auth::webapp_data::append_text_value(second, record);
    require(first == second, "text form differs between two calls");
    require(is_valid_utf8(first), "text form is not valid UTF-8");
    require(first.find('\n') == std::string::npos, "text form spans lines");
}

/// The form decoder must agree with the plain reference, and every decoded text must be valid
/// UTF-8.
std::vector<FormPair> check_form(std::string_view input) {
    const norvik_auth::lib::DecodedForm form(input);
    std::vector<FormPair> pairs = reference_form(input);
    require(form.pairs().size() == pairs.size(), "form decoder and reference count other pairs");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        require(form.pairs()[i].name == pairs[i].name && form.pairs()[i].value == pairs[i].value,
                "form decoder and reference disagree");
    }
    // Every '&' of the input ends a sequence, so there can never be more pairs than sequences.
    require(pairs.size() <= static_cast<std::size_t>(std::count(input.begin(), input.end(), '&')) + 1,
            "more pairs than '&'-separated sequences");
    for (const FormPair& decoded : pairs) {
        require(is_valid_utf8(decoded.name), "decoded name is not valid UTF-8");
        require(is_valid_utf8(decoded.value), "decoded value is not valid UTF-8");
    }
    return pairs;
}

/// The signed text rebuilt from the pairs in the plainest way: last value wins, sort, join.
std::string expected_data_check_string(const std::vector<FormPair>& pairs) {
    std::map<std::string, std::string> last;
    for (const FormPair& pair : pairs) last[pair.name] = pair.value;
    std::vector<std::string> lines;
    for (const auto& [name, value] : last) {
        if (name != "hash" && !value.empty()) lines.push_back(name + "=" + value);
    }
    std::sort(lines.begin(), lines.end());  // std::string compares chars as unsigned bytes
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += lines[i];
    }
    return joined;
}

/// Whether every line of that text stands for one pair: no included name holds '=' or a line
/// feed and no included value a line feed.
bool expected_unambiguous(const std::vector<FormPair>& pairs) {
    std::map<std::string, std::string> last;
    for (const FormPair& pair : pairs) last[pair.name] = pair.value;
    for (const auto& [name, value] : last) {
        if (name == "hash" || value.empty()) continue;
        if (name.find_first_of("=\n") != std::string::npos) return false;
        if (value.find('\n') != std::string::npos) return false;
    }
    return true;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

/// The lowercase hex of a digest, the plainest way.
std::string lower_hex(const norvik_auth::lib::Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

bool starts_with_one_of(std::string_view text, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view prefix) { return text.starts_with(prefix); });
}

void check_init_data(std::string_view input, const std::vector<FormPair>& pairs) {
    WebAppInitData data;
    const auto parsed = norvik_auth::lib::parse_init_data(input, data);
    if (!parsed) {
        const std::string& message = parsed.failure().message;
        require(is_valid_utf8(message), "failure message is not valid UTF-8");
        require(message == "Hash is required" ||
                    starts_with_one_of(message, {"Unable to parse user: Error(",
                                                 "Unable to parse receiver: Error(",
                                                 "Unable to parse chat: Error(",
                                                 "Unable to parse auth_date: ParseIntError { kind: ",
                                                 "Unable to parse can_send_after: ParseIntError { kind: "}),
                "failure message of an unknown shape");
        return;
    }
    const auto hash = std::find_if(pairs.rbegin(), pairs.rend(),
                                   [](const FormPair& pair) { return pair.name == "hash"; });
    require(hash != pairs.rend(), "parsed without a hash");
    require(data.hash == hash->value, "hash is not the value of the last hash pair");
    require(data.data_check_string == expected_data_check_string(pairs),
            "data-check string is not the sorted lines of the last values");
    require(data.data_check_string_unambiguous == expected_unambiguous(pairs),
            "data-check string judged (un)ambiguous wrongly");
    check_text_form(data);
    if (data.user) check_text_form(*data.user);
    if (data.receiver) check_text_form(*data.receiver);
    if (data.chat) check_text_form(*data.chat);

    // A signature made here under a key of any length is accepted exactly when the data-check
    // string is unambiguous; with one digit changed, never.
    const norvik_auth::lib::Digest secret = norvik_auth::lib::derive_secret_key(input);
    const std::string signature =
        lower_hex(norvik_auth::lib::hmac_sha256(secret, bytes_of(data.data_check_string)));
    data.hash = signature;
    require(norvik_auth::lib::signed_with(data, secret) == data.data_check_string_unambiguous,
            "signature under a derived key judged wrongly");
    std::string changed = signature;
    changed[input.size() % 64] = changed[input.size() % 64] == '0' ? '1' : '0';
    data.hash = changed;
    require(!norvik_auth::lib::signed_with(data, secret), "changed signature accepted");
}

/// Records only ever see decoded form values, which are valid UTF-8; other bytes are skipped.
template <class Record>
void check_record(std::string_view json) {
    if (!is_valid_utf8(json)) return;
    norvik_auth::webapp_data::TextArena texts;
    Record record;
    JsonError error;
    if (norvik_auth::webapp_data::from_json(json, record, texts, error)) {
        check_text_form(record);
        return;
    }
    require(error.line() >= 1, "JSON error line is not 1-based");
    require(!error.message().empty(), "JSON error without a message");
    const std::string text = error.debug_text();
    require(text.starts_with("Error(\"") && text.ends_with(")"), "JSON error text shape");
    require(is_valid_utf8(text), "JSON error text is not valid UTF-8");
}

/// Every kernel of the table that this processor runs, not only the ones the module picked,
/// must agree with its reference: from every offset of the first 64 bytes, on the whole rest
/// and, for the block searches, on blocks of every size.
struct KernelChecks {
    std::string_view input;

    void operator()(const char* name, const norvik_auth::lib::PercentDecodeEntry& kernel) const {
        std::string got(input.size(), '\0');
        std::string want(input.size(), '\0');
        for (std::size_t skip = 0; skip < 64 && skip <= input.size(); ++skip) {
            const std::string_view raw = input.substr(skip);
            const char* const got_end = kernel.run(raw, got.data());
            const char* const want_end = kernel.reference(raw, want.data());
            require(std::string_view(got.data(), static_cast<std::size_t>(got_end - got.data())) ==
                        std::string_view(want.data(), static_cast<std::size_t>(want_end - want.data())),
                    name);
        }
    }

    void operator()(const char* name, const norvik_auth::lib::FormScanEntry& kernel) const {
        if (kernel.run.block_stops == kernel.reference.block_stops &&
            kernel.run.component_needs == kernel.reference.component_needs) {
            return;  // the reference itself
        }
        for (std::size_t start = 0; start < 64 && start <= input.size(); ++start) {
            const std::string_view rest = input.substr(start);
            const std::size_t block = std::min(rest.size(), norvik_auth::lib::kStopBlock);
            const auto stops = kernel.run.block_stops(rest.data(), block);
            const auto expected_stops = kernel.reference.block_stops(rest.data(), block);
            require(stops.ampersands == expected_stops.ampersands &&
                        stops.equals == expected_stops.equals,
                    name);
            for (const std::size_t length : {rest.size(), rest.size() / 2, std::size_t{15},
                                             std::size_t{16}, std::size_t{17}, std::size_t{70}}) {
                const std::string_view raw = rest.substr(0, std::min(length, rest.size()));
                const auto needs = kernel.run.component_needs(raw);
                const auto expected = kernel.reference.component_needs(raw);
                require(needs.first_special == expected.first_special &&
                            needs.has_escape == expected.has_escape,
                        name);
            }
        }
    }

    void operator()(const char* name, const norvik_auth::lib::JsonBlockStopsEntry& kernel) const {
        for (std::size_t start = 0; start < 64 && start <= input.size(); ++start) {
            const std::string_view rest = input.substr(start);
            for (std::size_t size = 0; size <= std::min<std::size_t>(rest.size(), 64); ++size) {
                require(kernel.run(rest.data(), size) == kernel.reference(rest.data(), size), name);
            }
        }
    }

    void operator()(const char* name, const norvik_auth::lib::JsonPlainRunEntry& kernel) const {
        for (std::size_t at = 0; at <= std::min<std::size_t>(input.size(), 192); ++at) {
            require(kernel.run(input.substr(at)) == kernel.reference(input.substr(at)), name);
        }
    }

    /// The digest is the input's first 32 bytes (zero-padded); the hex texts tried are the right
    /// one, the right one with the byte the input picks changed to the input's next byte, and
    /// the 64 input bytes after the digest.
    void operator()(const char* name, const norvik_auth::lib::SignatureHexEntry& kernel) const {
        norvik_auth::lib::Digest digest{};
        std::copy_n(input.begin(), std::min(input.size(), digest.size()), digest.begin());
        const std::string hex = lower_hex(digest);
        std::vector<std::string> texts{hex};
        if (input.size() >= 2) {
            std::string changed = hex;
            changed[static_cast<unsigned char>(input[0]) % 64] = input[1];
            texts.push_back(changed);
        }
        if (input.size() >= 96) texts.emplace_back(input.substr(32, 64));
        for (const std::string& text : texts) {
            const bool expected = text == hex;
            require(kernel.run(digest, text.data()) == expected, name);
            require(kernel.reference(digest, text.data()) == expected, name);
        }
    }

    /// SHA-256 from every offset of the first 16 bytes, the kernels' widest load (of the next
    /// 130 bytes, enough for the padding to fall anywhere in a block or spill into another, and
    /// once of the whole rest: the kernel matrix covers every size), HMAC under a key whose
    /// size the input's first byte picks, and both block functions alone from a state of the
    /// input's bytes: on every whole block, and on the first 64 bytes as words, alone and as
    /// both blocks of a pair.
    void operator()(const char* name, const norvik_auth::lib::Sha256Entry& kernel) const {
        using norvik_auth::lib::Sha256State;
        using norvik_auth::lib::sha256;
        const std::span<const std::uint8_t> bytes = bytes_of(input);
        for (std::size_t skip = 0; skip < 16 && skip <= bytes.size(); ++skip) {
            const auto rest = bytes.subspan(skip);
            const auto head = rest.first(std::min<std::size_t>(rest.size(), 130));
            require(sha256(head, kernel.run) == sha256(head, kernel.reference), name);
            if (skip == 0) {
                require(sha256(rest, kernel.run) == sha256(rest, kernel.reference), name);
            }
        }
        if (bytes.empty()) return;
        const std::size_t key_size = bytes[0] % bytes.size();
        const auto key = bytes.first(key_size);
        const auto message = bytes.subspan(key_size);
        require(norvik_auth::lib::hmac_sha256(key, message, kernel.run) ==
                    norvik_auth::lib::hmac_sha256(key, message, kernel.reference),
                name);
        Sha256State run_state{};
        for (std::size_t i = 0; i < 32 && i < bytes.size(); ++i) {
            run_state[i / 4] = run_state[i / 4] << 8 | bytes[i];
        }
        Sha256State reference_state = run_state;
        kernel.run.blocks(run_state, bytes.data(), bytes.size() / 64);
        kernel.reference.blocks(reference_state, bytes.data(), bytes.size() / 64);
        require(run_state == reference_state, name);
        norvik_auth::lib::Sha256Words words;
        norvik_auth::lib::load_words(bytes.first(std::min<std::size_t>(bytes.size(), 64)), words);
        kernel.run.words(run_state, words);
        kernel.reference.words(reference_state, words);
        require(run_state == reference_state, name);
        Sha256State run_second = run_state;
        Sha256State reference_second = reference_state;
        kernel.run.word_pair(run_state, words, run_second, words);
        kernel.reference.word_pair(reference_state, words, reference_second, words);
        require(run_state == reference_state && run_second == reference_second, name);
    }

    void operator()(const char* name, const norvik_auth::lib::SeparatorCountEntry& kernel) const {
        if (kernel.run == kernel.reference) return;
        for (std::size_t start = 0; start < 64 && start <= input.size(); ++start) {
            const auto got = kernel.run(input.substr(start));
            const auto want = kernel.reference(input.substr(start));
            require(got.feeds == want.feeds && got.equals == want.equals, name);
        }
    }
};

void check_kernels(std::string_view input) {
    for (const norvik_auth::lib::Kernel& kernel : norvik_auth::lib::kernel_table()) {
        if (!kernel.runs_here()) continue;
        const std::string what = std::string("kernel disagrees with its reference: ") + kernel.name;
        std::visit([&](const auto& entry) { KernelChecks{input}(what.c_str(), entry); },
                   kernel.entry);
    }
    // And the module's own choice of percent-decoder, by input size.
    std::string got(input.size(), '\0');
    std::string want(input.size(), '\0');
    for (std::size_t skip = 0; skip < 64 && skip <= input.size(); ++skip) {
        const std::string_view raw = input.substr(skip);
        const char* const got_end = norvik_auth::lib::percent_decode(raw, got.data());
        const char* const want_end = norvik_auth::lib::kernels::percent_decode_bytewise(raw, want.data());
        require(std::string_view(got.data(), static_cast<std::size_t>(got_end - got.data())) ==
                    std::string_view(want.data(), static_cast<std::size_t>(want_end - want.data())),
                "percent_decode disagrees with the bytewise reference");
    }
}

/// The key's bytes reach HMAC as they are, of any length (longer than a block is hashed
/// first): a signature made under a key taken from the input validates under it, and not with
/// one digit changed or in capitals. (Turning a key argument into bytes is binding code, which
/// needs the interpreter: the Python fuzzer covers it.)
void check_signature_keys(std::string_view input) {
    if (input.empty()) return;
    const std::size_t key_size = std::min<std::size_t>(static_cast<unsigned char>(input[0]), input.size() - 1);
    const std::span<const std::uint8_t> key = bytes_of(input.substr(1, key_size));
    const std::string_view message = input.substr(1 + key_size);
    // Through the reference block function; the module's own call takes the chosen one.
    const std::string hex = lower_hex(norvik_auth::lib::hmac_sha256(
        key, bytes_of(message), norvik_auth::lib::kSha256Portable));
    require(norvik_auth::lib::signature_matches(message, hex, key),
            "signature under an input key refused");
    std::string changed = hex;
    changed[message.size() % 64] = changed[message.size() % 64] == '0' ? '1' : '0';
    require(!norvik_auth::lib::signature_matches(message, changed, key),
            "changed signature accepted");
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    require(norvik_auth::lib::signature_matches(message, upper, key) == (upper == hex),
            "signature in capitals accepted");
}

/// The reader, which may keep the stops of one block, must find from every offset the run that
/// a plain search finds: stepped through one byte at a time, and from stop to stop as strings
/// are read. (The searches themselves are checked with every kernel.)
void check_json_stops(std::string_view input) {
    // The offset of the first stop at or after each offset, the size when none.
    std::vector<std::size_t> next_stop(input.size() + 1, input.size());
    for (std::size_t i = input.size(); i-- > 0;) {
        const auto c = static_cast<unsigned char>(input[i]);
        next_stop[i] = c == '"' || c == '\\' || c < 0x20 ? i : next_stop[i + 1];
    }
    JsonReader each_byte(input);
    JsonReader stop_to_stop(input);
    std::size_t at_stop = 0;
    for (std::size_t at = 0; at <= input.size(); ++at) {
        require(each_byte.plain_run_length() == next_stop[at] - at,
                "plain run at the cursor found wrongly (one byte a step)");
        each_byte.advance(1);
        if (at != at_stop) continue;
        const std::size_t run = stop_to_stop.plain_run_length();
        require(run == next_stop[at] - at, "plain run at the cursor found wrongly (stop to stop)");
        stop_to_stop.advance(run + 1);
        at_stop = at + run + 1;
    }
}

void check_quoting(std::string_view text) {
    if (!is_valid_utf8(text)) return;  // quoting takes valid UTF-8 only
    std::string quoted;
    norvik_auth::webapp_data::append_quoted(quoted, text);
    require(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"', "quotes missing");
    require(is_valid_utf8(quoted), "quoted text is not valid UTF-8");
    for (const char c : quoted) {
        require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control byte left unescaped");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Failures are values; anything thrown (memory running out) ends the run.
    const std::vector<FormPair> pairs = check_form(input);
    check_init_data(input, pairs);
    check_record<WebAppUser>(input);
    check_record<WebAppChat>(input);
    check_quoting(input);
    check_kernels(input);
    check_json_stops(input);
    check_signature_keys(input);
    return 0;
}
