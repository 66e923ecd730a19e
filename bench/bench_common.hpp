// What both sides of the benchmark share: the server to talk to, the workloads' parameters and the checksum
// that each run reports, so that the runner can refuse a result whose two sides did not do the same work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VarnelBench {

/// The server and the data, as the runner was told on its command line.
struct Config {
    std::string host = "127.0.0.1";
    int port = 389;
    std::string bindDn;
    std::string password;
    std::string peopleBase;  // the unit of realistic entries (W1, W2, W3)
    std::string scaleBase10k;  // the units of the index-loop runs (W4)
    std::string scaleBase100k;
    std::string filter = "(objectClass=inetOrgPerson)";
    std::string modifyFilter;  // picks the W3 entries
    std::size_t modifyCount = 2000;

    std::string uri() const { return "ldap://" + host + ":" + std::to_string(port) + "/"; }
};

/// What one run saw. Both sides of a workload must report equal checksums.
struct Checksum {
    std::uint64_t entries = 0;
    std::uint64_t attributes = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;    // number of bytes touched (DNs, attribute names, values)
    std::uint64_t byteSum = 0;  // the sum of those bytes
    std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a over an ordered sequence (DNs), where order matters

    void touch(const void* data, std::size_t size) noexcept {
        const auto* p = static_cast<const std::uint8_t*>(data);
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < size; ++i) sum += p[i];
        byteSum += sum;
        bytes += size;
    }
    void touch(std::string_view text) noexcept { touch(text.data(), text.size()); }

    void mix(const void* data, std::size_t size) noexcept {
        const auto* p = static_cast<const std::uint8_t*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash ^= p[i];
            hash *= 0x100000001b3ULL;
        }
        hash ^= 0xff;  // separator, so that "ab","c" and "a","bc" differ
        hash *= 0x100000001b3ULL;
    }
    void mix(std::string_view text) noexcept { mix(text.data(), text.size()); }

    friend bool operator==(const Checksum&, const Checksum&) = default;
    std::string str() const;
};

/// The new description of the i-th W3 entry in run `generation`; `token` makes texts of different benchmark
/// processes differ, so that no run ever writes the text an entry already holds.
std::string modifyText(const std::string& token, std::uint64_t generation, std::size_t i);

}  // namespace VarnelBench
