// What checking a signature costs in the core: SHA-256 per 64-byte block in each kernel this
// processor runs, HMAC-SHA-256 of one message against its block count times the chosen kernel's
// cost, and the compare of the computed signature with a hash by where the two first differ.
//
//   signature_cost [--rounds N] [--goal X] < message
//
// make bench hands it the typical data-check string.
//
// Every side is timed in each of N rounds, in turn (each round starts with another side), as a
// loop of calls sized to about 10 ms. Figures are medians over the rounds; the HMAC's ratio is
// the median of the per-round ratios, which holds on a busy machine where times drift.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/hmac_sha256.hpp"
#include "lib/kernels.hpp"
#include "lib/sha256.hpp"

namespace {

using namespace norvik_auth::lib;
using Clock = std::chrono::steady_clock;

// Keeps every result alive for the optimiser.
volatile std::uint32_t g_sink = 0;

struct Side {
    explicit Side(std::function<void()> timed) : call(std::move(timed)) {}
    std::function<void()> call;
    std::size_t calls = 1;
    std::vector<double> ns;  // per call, one per round
};

double seconds_of(const Side& side) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < side.calls; ++i) side.call();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void time_rounds(std::vector<Side>& sides, int rounds) {
    for (Side& side : sides) {
        while (seconds_of(side) < 0.01) side.calls *= 2;
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            Side& side = sides[(k + static_cast<std::size_t>(round)) % sides.size()];
            side.ns.push_back(seconds_of(side) * 1e9 / static_cast<double>(side.calls));
        }
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// Blocks compressed by HMAC-SHA-256 of a message of `size` bytes: the two pads, the message
/// with its padding after the inner pad, and the inner digest with its padding.
std::size_t hmac_blocks(std::size_t size) { return 2 + (size + 9 + 63) / 64 + 1; }

}  // namespace

int main(int argc, char** argv) {
    int rounds = 15;
    double goal = 1.15;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--goal" && i + 1 < argc) {
            goal = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: signature_cost [--rounds N] [--goal X] < message\n");
            return 2;
        }
    }
    std::string message;
    for (int c; (c = std::getchar()) != EOF;) message += static_cast<char>(c);
    const std::span<const std::uint8_t> message_bytes(
        reinterpret_cast<const std::uint8_t*>(message.data()), message.size());

    // 64 blocks of varied bytes compressed in one call: a block's cost in a long run.
    std::vector<std::uint8_t> blocks(64 * kSha256BlockSize);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const std::size_t block_count = blocks.size() / kSha256BlockSize;

    const Sha256Entry& chosen = chosen_kernel<Sha256Entry>();
    std::vector<Side> sides;
    std::vector<const Kernel*> timed;
    std::size_t chosen_side = 0;
    for (const Kernel& kernel : kernel_table()) {
        const auto* entry = std::get_if<Sha256Entry>(&kernel.entry);
        if (entry == nullptr) continue;
        if (!kernel.runs_here()) {
            std::printf("  %-20s  not run: this processor lacks %s\n", kernel.name, kernel.feature);
            continue;
        }
        if (entry == &chosen) chosen_side = sides.size();
        timed.push_back(&kernel);
        sides.emplace_back([entry, &blocks, block_count] {
            Sha256State state = kSha256Initial;
            entry->run.blocks(state, blocks.data(), block_count);
            g_sink = g_sink + state[0];
        });
    }
    // Each HMAC's key takes a byte of the one before, so that calls run one after another as
    // validations do, rather than overlapping in the processor.
    std::array<std::uint8_t, 32> key{0x5e, 0x11, 0xa0, 0x3c};
    const std::size_t hmac_side = sides.size();
    sides.emplace_back([&] {
        const Digest digest = hmac_sha256(key, message_bytes);
        key[31] = digest[0];
    });
    // The compare as validation runs it, the chosen kernel on the message's digest, against the
    // right hex and against hashes right up to a position and wrong from there on.
    const SignatureHexEntry& compare = chosen_kernel<SignatureHexEntry>();
    const Digest digest = hmac_sha256(key, message_bytes);
    std::string right;
    for (const std::uint8_t byte : digest) {
        static constexpr char kDigits[] = "0123456789abcdef";
        right += kDigits[byte >> 4];
        right += kDigits[byte & 15];
    }
    constexpr std::array<std::size_t, 8> kFirstDifferences{0, 1, 15, 16, 31, 32, 48, 63};
    std::vector<std::string> hashes{right};
    for (const std::size_t at : kFirstDifferences) {
        std::string wrong = right;
        for (std::size_t i = at; i < wrong.size(); ++i) wrong[i] = wrong[i] == '0' ? '1' : '0';
        hashes.push_back(wrong);
    }
    const std::size_t compare_side = sides.size();
    for (const std::string& hash : hashes) {
        sides.emplace_back(
            [&compare, &digest, &hash] { g_sink = g_sink + compare.run(digest, hash.data()); });
    }
    time_rounds(sides, rounds);

    std::printf("SHA-256 per 64-byte block (%zu blocks a call), median of %d rounds:\n",
                block_count, rounds);
    for (std::size_t k = 0; k < timed.size(); ++k) {
        const double ns = median(sides[k].ns) / static_cast<double>(block_count);
        std::printf("  %-20s  %6.1f ns  %6.0f MB/s%s\n", timed[k]->name, ns, 64e3 / ns,
                    k == chosen_side ? "  (the module's choice)" : "");
    }
    const std::size_t hmac_block_count = hmac_blocks(message.size());
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const double block_ns = sides[chosen_side].ns[static_cast<std::size_t>(round)] /
                                static_cast<double>(block_count);
        ratios.push_back(sides[hmac_side].ns[static_cast<std::size_t>(round)] /
                         (static_cast<double>(hmac_block_count) * block_ns));
    }
    const double hmac_ns = median(sides[hmac_side].ns);
    const double ratio = median(ratios);
    const double per_block = hmac_ns / static_cast<double>(hmac_block_count);
    std::printf(
        "HMAC-SHA-256, 32-byte key, %zu-byte message: %.1f ns for %zu blocks (%.1f ns a "
        "block)\n",
        message.size(), hmac_ns, hmac_block_count, per_block);
    std::printf("goal: HMAC : blocks x chosen kernel's block  %.3f  <= %g  %s\n", ratio, goal,
                ratio <= goal ? "met" : "MISSED");

    const char* compare_name = "";
    for (const Kernel& kernel : kernel_table()) {
        const auto* entry = std::get_if<SignatureHexEntry>(&kernel.entry);
        if (entry == &compare) compare_name = kernel.name;
    }
    std::printf("signature compare (%s), median ns by where the hash first differs:\n ",
                compare_name);
    double fastest = 1e300;
    double slowest = 0;
    for (std::size_t k = 0; k < hashes.size(); ++k) {
        const double ns = median(sides[compare_side + k].ns);
        fastest = std::min(fastest, ns);
        slowest = std::max(slowest, ns);
        if (k == 0) {
            std::printf(" equal %.2f", ns);
        } else {
            std::printf(" | %zu: %.2f", kFirstDifferences[k - 1], ns);
        }
    }
    std::printf("\n  slowest - fastest: %.2f ns\n", slowest - fastest);
    return 0;
}
