// Every kernel of the build checked against a plain model written here (for SHA-256, NIST's
// and the HMAC vectors' published answers) and against the table's own reference: every size
// 0..300 at every offset of the first two 64-byte blocks, over byte mixes that reach each
// branch, plus seeded random inputs. Each input sits at the very end of its own allocation, so a
// sanitizer or valgrind sees any read past it.
//
//   kernel_matrix           checks every kernel; one line per kernel, then a summary line
//   kernel_matrix --list    one line per kernel: name, needed feature, "runs" or "lacks"
//   kernel_matrix --only NAME[,NAME...] [--seed N] [--offsets N] [--data DIR]
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "known_answers.hpp"
#include "lib/hmac_sha256.hpp"
#include "lib/kernels.hpp"
#include "lib/sha256.hpp"

// Where tests/data is; the build names it, --data overrides it.
#ifndef NORVIK_TEST_DATA_DIR
#define NORVIK_TEST_DATA_DIR "tests/data"
#endif

namespace {

using namespace norvik_auth::lib;

constexpr std::size_t kMaxSize = 300;
constexpr std::size_t kBlock = 64;

/// `bytes` copied to the end of an allocation of `offset + size` bytes aligned to 64, so the
/// copy starts `offset` bytes into a block and nothing readable follows it.
class Placed {
public:
    Placed(std::string_view bytes, std::size_t offset)
        : size_(offset + bytes.size()),
          base_(static_cast<char*>(::operator new(size_ == 0 ? 1 : size_, std::align_val_t{64}))),
          view_(base_ + offset, bytes.size()) {
        if (!bytes.empty()) std::memcpy(base_ + offset, bytes.data(), bytes.size());
    }
    Placed(const Placed&) = delete;
    Placed& operator=(const Placed&) = delete;
    ~Placed() { ::operator delete(base_, std::align_val_t{64}); }
    std::string_view view() const { return view_; }

private:
    std::size_t size_;
    char* base_;
    std::string_view view_;
};

// ---- The models: the plainest statement of what each family computes. ----

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string model_percent_decode(std::string_view raw) {
    std::string spaced(raw);
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    std::string out;
    for (std::size_t i = 0; i < spaced.size(); ++i) {
        const auto c = static_cast<unsigned char>(spaced[i]);
        if (c == '%' && i + 2 < spaced.size()) {
            const int high = hex_value(static_cast<unsigned char>(spaced[i + 1]));
            const int low = hex_value(static_cast<unsigned char>(spaced[i + 2]));
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += spaced[i];
    }
    return out;
}

BlockStops model_block_stops(std::string_view block) {
    BlockStops stops{0, 0};
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (block[i] == '&') stops.ampersands |= std::uint64_t{1} << i;
        if (block[i] == '=') stops.equals |= std::uint64_t{1} << i;
    }
    return stops;
}

ComponentNeeds model_component_needs(std::string_view raw) {
    ComponentNeeds needs{raw.size(), false};
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const bool escape = c == '+' || c == '%';
        if ((escape || c >= 0x80) && needs.first_special == raw.size()) needs.first_special = i;
        needs.has_escape |= escape;
    }
    return needs;
}

bool ends_plain_run(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

std::uint64_t model_json_stops(std::string_view block) {
    std::uint64_t stops = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (ends_plain_run(static_cast<unsigned char>(block[i]))) stops |= std::uint64_t{1} << i;
    }
    return stops;
}

std::size_t model_plain_run(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && !ends_plain_run(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

std::string lower_hex(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

// ---- Inputs. ----

std::string printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes.substr(0, 96)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    if (bytes.size() > 96) out += "...";
    return out;
}

/// Byte mixes: each reaches other branches of the kernels.
struct Mix {
    const char* name;
    std::string_view alphabet;  // drawn from uniformly; empty for any byte
    unsigned plain_odds;        // 1 in this many bytes is drawn, the rest are 'a'; 1 for all
};

using namespace std::string_view_literals;
constexpr Mix kMixes[] = {
    {"escapes", "%%%+09afAFgGz &=\x80\xff"sv, 1},
    {"escape-runs", "%%%%%%4a"sv, 1},
    {"sparse-form", "09aF%+&=\x80\xc3\xff"sv, 16},
    {"json", "\"\\\x00\x1f\x20\x7f\x80\xff/a"sv, 1},
    {"sparse-json", "\"\\\x00\x01\x1f\x80\xe2\xff"sv, 24},
    {"lines", "\n=\n=ab"sv, 1},
    {"any-byte", ""sv, 1},
};

std::string draw(const Mix& mix, std::size_t size, std::mt19937_64& random) {
    std::string bytes(size, 'a');
    for (char& byte : bytes) {
        if (mix.plain_odds > 1 && random() % mix.plain_odds != 0) continue;
        byte = mix.alphabet.empty()
                   ? static_cast<char>(random() & 0xFF)
                   : mix.alphabet[static_cast<std::size_t>(random() % mix.alphabet.size())];
    }
    return bytes;
}

struct Options {
    std::uint64_t seed = 20;
    std::size_t offsets = 2 * kBlock;  // every offset of the first two blocks
    std::size_t random_inputs = 3000;
    std::string data_dir = NORVIK_TEST_DATA_DIR;
};

/// Calls `check(bytes, offset)` on every input of the matrix; stops at the first failure, whose
/// description it returns (empty when all pass). `max_size` caps sizes for block kernels.
template <class Check>
std::string each_input(const Options& options, std::size_t max_size, Check check) {
    std::mt19937_64 random(options.seed);
    for (const Mix& mix : kMixes) {
        // One text per mix, cut at every offset and size: neighbouring inputs share bytes, so
        // a given byte is seen at every position of a block.
        const std::string text = draw(mix, options.offsets + max_size, random);
        for (std::size_t offset = 0; offset < options.offsets; ++offset) {
            for (std::size_t size = 0; size <= max_size; ++size) {
                const Placed input(std::string_view(text).substr(offset, size), offset % kBlock);
                std::string failure = check(input.view());
                if (!failure.empty()) {
                    return failure + " (mix " + mix.name + ", offset " + std::to_string(offset) +
                           ", size " + std::to_string(size) + "): \"" + printable(input.view()) +
                           "\"";
                }
            }
        }
    }
    // One special byte in a plain run, at every position of every size.
    constexpr std::string_view kSpecials = "%+&=\x80\"\\\x00\x1f\n"sv;
    for (std::size_t size = 1; size <= max_size; ++size) {
        for (std::size_t at = 0; at < size; ++at) {
            std::string bytes(size, 'a');
            bytes[at] = kSpecials[(size + at) % kSpecials.size()];
            const Placed input(bytes, (size + at) % kBlock);
            std::string failure = check(input.view());
            if (!failure.empty()) return failure + ": \"" + printable(input.view()) + "\"";
        }
    }
    for (std::size_t n = 0; n < options.random_inputs; ++n) {
        const Mix& mix = kMixes[n % std::size(kMixes)];
        const std::size_t size = static_cast<std::size_t>(random() % (max_size + 1));
        const Placed input(draw(mix, size, random), static_cast<std::size_t>(random() % kBlock));
        std::string failure = check(input.view());
        if (!failure.empty()) {
            return failure + " (random input " + std::to_string(n) + "): \"" +
                   printable(input.view()) + "\"";
        }
    }
    return {};
}

// ---- One check per family. ----

std::string check(const PercentDecodeEntry& kernel, const Options& options) {
    return each_input(options, kMaxSize, [&](std::string_view raw) -> std::string {
        const std::string expected = model_percent_decode(raw);
        // Exactly the room the contract promises, so a write past it is seen too.
        std::vector<char> room(raw.size());
        const auto written = [&](char* end) {
            return std::string(room.data(), static_cast<std::size_t>(end - room.data()));
        };
        if (written(kernel.reference(raw, room.data())) != expected) return "reference disagrees";
        const std::string got = written(kernel.run(raw, room.data()));
        if (got != expected) {
            const auto differ = static_cast<std::size_t>(
                std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
                got.begin());
            const std::size_t from = differ < 8 ? 0 : differ - 8;
            return "output differs at byte " + std::to_string(differ) + ": wrote \"" +
                   printable(std::string_view(got).substr(from)) + "\", want \"" +
                   printable(std::string_view(expected).substr(from)) + "\" from byte " +
                   std::to_string(from);
        }
        return {};
    });
}

std::string check(const FormScanEntry& kernel, const Options& options) {
    std::string failure = each_input(options, kBlock, [&](std::string_view block) -> std::string {
        const BlockStops expected = model_block_stops(block);
        const auto same = [&](BlockStops stops) {
            return stops.ampersands == expected.ampersands && stops.equals == expected.equals;
        };
        if (!same(kernel.reference.block_stops(block.data(), block.size()))) {
            return "reference block stops disagree";
        }
        if (!same(kernel.run.block_stops(block.data(), block.size()))) return "block stops differ";
        return {};
    });
    if (!failure.empty()) return failure;
    return each_input(options, kMaxSize, [&](std::string_view raw) -> std::string {
        const ComponentNeeds expected = model_component_needs(raw);
        const auto same = [&](ComponentNeeds needs) {
            return needs.first_special == expected.first_special &&
                   needs.has_escape == expected.has_escape;
        };
        if (!same(kernel.reference.component_needs(raw))) return "reference needs disagree";
        const ComponentNeeds got = kernel.run.component_needs(raw);
        if (!same(got)) {
            return "needs {" + std::to_string(got.first_special) + ", " +
                   std::to_string(got.has_escape) + "}, want {" +
                   std::to_string(expected.first_special) + ", " +
                   std::to_string(expected.has_escape) + "}";
        }
        return {};
    });
}

std::string check(const JsonBlockStopsEntry& kernel, const Options& options) {
    return each_input(options, kBlock, [&](std::string_view block) -> std::string {
        const std::uint64_t expected = model_json_stops(block);
        if (kernel.reference(block.data(), block.size()) != expected) return "reference disagrees";
        const std::uint64_t got = kernel.run(block.data(), block.size());
        if (got != expected) {
            char text[64];
            std::snprintf(text, sizeof text, "stops %016llx, want %016llx",
                          static_cast<unsigned long long>(got),
                          static_cast<unsigned long long>(expected));
            return text;
        }
        return {};
    });
}

std::string check(const JsonPlainRunEntry& kernel, const Options& options) {
    return each_input(options, kMaxSize, [&](std::string_view text) -> std::string {
        const std::size_t expected = model_plain_run(text);
        if (kernel.reference(text) != expected) return "reference disagrees";
        const std::size_t got = kernel.run(text);
        if (got != expected) {
            return "run " + std::to_string(got) + ", want " + std::to_string(expected);
        }
        return {};
    });
}

/// Equal, and differing at every position by another digit, by the other case, by a byte that
/// is no digit; for random digests and ones of every nibble, each text at every alignment.
std::string check(const SignatureHexEntry& kernel, const Options& options) {
    std::mt19937_64 random(options.seed);
    std::vector<Digest> digests;
    for (int fill = 0; fill < 256; fill += 17) {
        Digest digest;
        digest.fill(static_cast<std::uint8_t>(fill));
        digests.push_back(digest);
    }
    for (int n = 0; n < 64; ++n) {
        Digest digest;
        for (auto& byte : digest) byte = static_cast<std::uint8_t>(random());
        digests.push_back(digest);
    }
    std::size_t alignment = 0;
    for (const Digest& digest : digests) {
        const std::string hex = lower_hex(digest);
        const auto judge = [&](const std::string& text, bool expected) -> std::string {
            const Placed hash(text, alignment++ % kBlock);
            if (kernel.reference(digest, hash.view().data()) != expected) return "reference disagrees";
            if (kernel.run(digest, hash.view().data()) != expected) {
                return std::string(expected ? "refused" : "accepted") + " \"" + printable(text) +
                       "\" for digest " + hex;
            }
            return {};
        };
        std::string failure = judge(hex, true);
        std::string upper = hex;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (failure.empty()) failure = judge(upper, upper == hex);
        for (std::size_t at = 0; at < hex.size() && failure.empty(); ++at) {
            const char c = hex[at];
            const char changes[] = {c == 'f' ? '0' : static_cast<char>(c == '9' ? 'a' : c + 1),
                                    static_cast<char>(std::toupper(static_cast<unsigned char>(c))),
                                    '\0', static_cast<char>(c ^ 0x80), 'g'};
            for (const char change : changes) {
                if (change == c) continue;
                std::string text = hex;
                text[at] = change;
                failure = judge(text, false);
                if (!failure.empty()) break;
            }
        }
        if (!failure.empty()) return failure;
    }
    return {};
}

/// Also texts long enough for the vector counters to be summed before they wrap (255 steps).
std::string check(const SeparatorCountEntry& kernel, const Options& options) {
    const auto judge = [&](std::string_view text) -> std::string {
        const SeparatorCounts expected{
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '='))};
        const auto same = [&](SeparatorCounts counts) {
            return counts.feeds == expected.feeds && counts.equals == expected.equals;
        };
        if (!same(kernel.reference(text))) return "reference disagrees";
        const SeparatorCounts got = kernel.run(text);
        if (!same(got)) {
            return "counts {" + std::to_string(got.feeds) + ", " + std::to_string(got.equals) +
                   "}, want {" + std::to_string(expected.feeds) + ", " +
                   std::to_string(expected.equals) + "}";
        }
        return {};
    };
    std::string failure = each_input(options, kMaxSize, judge);
    for (const std::size_t size : {255 * 16 - 1, 255 * 16, 255 * 16 + 15, 255 * 16 + 16, 3 * 255 * 16 + 7}) {
        for (const char fill : {'\n', '=', 'a'}) {
            if (!failure.empty()) return failure;
            std::string text(size, fill);
            text[size / 2] = fill == '\n' ? '=' : '\n';
            const Placed placed(text, size % kBlock);
            failure = judge(placed.view());
            if (!failure.empty()) failure += " (size " + std::to_string(size) + ")";
        }
    }
    return failure;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

/// Every published answer under `kernel`: NIST's messages, and the HMAC tags, a valid one
/// matching the start of the digest's hex (Wycheproof truncates some), an invalid one not.
std::string check_known_answers(const Sha256Kernel& kernel, const std::string& data_dir) {
    using namespace known_answers;
    struct File {
        Read read;
        std::size_t count;
        bool keyed;  // HMAC, else plain SHA-256
    };
    const File files[] = {
        {read_shavs(data_dir + "/nist-cavp-shavs/SHA256ShortMsg.rsp"), 65, false},
        {read_shavs(data_dir + "/nist-cavp-shavs/SHA256LongMsg.rsp"), 64, false},
        {read_wycheproof_mac(data_dir + "/hmac/hmac_sha256_test.json"), 174, true},
        {read_nist_hmac_examples(data_dir + "/hmac/nist_hmac_sha256_examples.json"), 3, true},
    };
    for (const File& file : files) {
        if (!file.read.error.empty()) return file.read.error;
        if (file.read.vectors.size() != file.count) {
            return "read " + std::to_string(file.read.vectors.size()) + " vectors, want " +
                   std::to_string(file.count) + ", from " +
                   (file.read.vectors.empty() ? data_dir : file.read.vectors.front().name);
        }
        for (const Vector& vector : file.read.vectors) {
            const std::string hex = lower_hex(file.keyed
                                                  ? hmac_sha256(vector.key, vector.message, kernel)
                                                  : sha256(vector.message, kernel));
            if (hex.starts_with(vector.tag) != vector.valid) {
                return vector.name + ": got " + hex +
                       (vector.valid ? ", want " : ", must not match ") + vector.tag;
            }
        }
    }
    return {};
}

/// The published answers; then the digest, and HMAC under the input's first third as the key,
/// of every input of the matrix, of long random messages, and the block functions alone
/// (blocks, words, a pair of word blocks) from random states, each against the reference.
std::string check(const Sha256Entry& kernel, const Options& options) {
    std::string failure = check_known_answers(kernel.run, options.data_dir);
    if (!failure.empty()) return failure;
    const auto judge = [&](std::string_view text) -> std::string {
        const std::span<const std::uint8_t> bytes = bytes_of(text);
        if (sha256(bytes, kernel.run) != sha256(bytes, kernel.reference)) return "digest differs";
        const auto key = bytes.first(bytes.size() / 3);
        const auto message = bytes.subspan(bytes.size() / 3);
        if (hmac_sha256(key, message, kernel.run) != hmac_sha256(key, message, kernel.reference)) {
            return "HMAC differs";
        }
        return {};
    };
    failure = each_input(options, kMaxSize, judge);
    if (!failure.empty()) return failure;
    std::mt19937_64 random(options.seed);
    for (int n = 0; n < 40 && failure.empty(); ++n) {
        const std::size_t size = 1000 + static_cast<std::size_t>(random() % 70000);
        const Placed input(draw(kMixes[std::size(kMixes) - 1], size, random),
                           static_cast<std::size_t>(random() % kBlock));
        failure = judge(input.view());
        if (!failure.empty()) {
            failure += " (long random input " + std::to_string(n) + ", size " +
                       std::to_string(size) + ")";
        }
    }
    for (int n = 0; n < 2000 && failure.empty(); ++n) {
        Sha256State run_state;
        for (std::uint32_t& word : run_state) word = static_cast<std::uint32_t>(random());
        Sha256State reference_state = run_state;
        const std::size_t count = 1 + static_cast<std::size_t>(random() % 8);
        const Placed blocks(draw(kMixes[std::size(kMixes) - 1], count * kBlock, random),
                            static_cast<std::size_t>(random() % kBlock));
        const auto* data = reinterpret_cast<const std::uint8_t*>(blocks.view().data());
        kernel.run.blocks(run_state, data, count);
        kernel.reference.blocks(reference_state, data, count);
        if (run_state != reference_state) failure = "blocks differ from a random state";
        Sha256Words words;
        for (std::uint32_t& word : words) word = static_cast<std::uint32_t>(random());
        kernel.run.words(run_state, words);
        kernel.reference.words(reference_state, words);
        if (failure.empty() && run_state != reference_state) {
            failure = "words differ from a random state";
        }
        // A pair: the second block from the state the first one left.
        Sha256State run_second = run_state;
        Sha256State reference_second = reference_state;
        Sha256Words second_words;
        for (std::uint32_t& word : second_words) word = static_cast<std::uint32_t>(random());
        kernel.run.word_pair(run_state, words, run_second, second_words);
        kernel.reference.word_pair(reference_state, words, reference_second, second_words);
        if (failure.empty() && (run_state != reference_state || run_second != reference_second)) {
            failure = "word pair differs from a random state";
        }
    }
    return failure;
}

std::string check_kernel(const Kernel& kernel, const Options& options) {
    return std::visit([&](const auto& entry) { return check(entry, options); }, kernel.entry);
}

std::vector<std::string> split(std::string_view list) {
    std::vector<std::string> names;
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        if (comma > 0) names.emplace_back(list.substr(0, comma));
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return names;
}

int usage() {
    std::fprintf(stderr, "usage: kernel_matrix [--list] [--only NAME[,NAME...]] [--seed N] [--offsets N] [--data DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool list = false;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--list") {
            list = true;
        } else if (arg == "--only" && has_value) {
            only = split(argv[++i]);
        } else if (arg == "--seed" && has_value) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--data" && has_value) {
            options.data_dir = argv[++i];
        } else if (arg == "--offsets" && has_value) {
            options.offsets = std::clamp<std::size_t>(std::strtoull(argv[++i], nullptr, 10), 1, 2 * kBlock);
        } else {
            return usage();
        }
    }
    const auto table = kernel_table();
    if (list) {
        for (const Kernel& kernel : table) {
            std::printf("%s\t%s\t%s\n", kernel.name, *kernel.feature ? kernel.feature : "-",
                        kernel.runs_here() ? "runs" : "lacks");
        }
        return 0;
    }
    for (const std::string& name : only) {
        if (std::none_of(table.begin(), table.end(), [&](const Kernel& k) { return name == k.name; })) {
            std::fprintf(stderr, "no kernel named %s\n", name.c_str());
            return 2;
        }
    }
    int passed = 0;
    int failed = 0;
    std::string skipped;
    for (const Kernel& kernel : table) {
        if (!only.empty() && std::find(only.begin(), only.end(), kernel.name) == only.end()) continue;
        // The family must match the name's first part, or the table is mislabelled.
        const std::string family = kKernelFamilies[kernel.entry.index()];
        if (std::string_view(kernel.name).substr(0, family.size() + 1) != family + "/") {
            std::printf("FAIL %s: listed in family %s\n", kernel.name, family.c_str());
            ++failed;
            continue;
        }
        if (!kernel.runs_here()) {
            std::printf("SKIP %s: this processor lacks %s\n", kernel.name, kernel.feature);
            skipped += skipped.empty() ? "" : ", ";
            skipped += kernel.name;
            continue;
        }
        const std::string failure = check_kernel(kernel, options);
        if (failure.empty()) {
            std::printf("PASS %s\n", kernel.name);
            ++passed;
        } else {
            std::printf("FAIL %s: %s\n", kernel.name, failure.c_str());
            ++failed;
        }
        std::fflush(stdout);
    }
    std::printf("kernel matrix: %d passed, %d failed, %zu skipped%s%s%s\n", passed, failed,
                skipped.empty() ? std::size_t{0}
                                : static_cast<std::size_t>(std::count(skipped.begin(), skipped.end(), ',') + 1),
                skipped.empty() ? "" : " (", skipped.c_str(), skipped.empty() ? "" : ")");
    return failed == 0 ? 0 : 1;
}
