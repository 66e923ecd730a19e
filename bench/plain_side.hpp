// The workloads as the plainest correct libldap code (and ICU where it sorts).
#pragma once

#include <cstdint>
#include <string>

#include "bench_common.hpp"
#include "library_side.hpp"
#include "timing.hpp"

typedef struct ldap LDAP;

namespace VarnelBench {

/// The libldap and ICU this process runs with, as they report themselves.
std::string plainVersions();

class PlainSide {
public:
    /// Connects and binds (LDAPv3, simple bind) as the configured user.
    explicit PlainSide(const Config& config);
    ~PlainSide();
    PlainSide(const PlainSide&) = delete;
    PlainSide& operator=(const PlainSide&) = delete;

    RunResult readAll();
    RunResult sortByName();
    RunResult modify(const std::string& token, std::uint64_t generation);
    /// The W1 search and the release of its result, nothing read: the part both sides of W1 share.
    Timing searchOnly();

    /// W4 reference: what a first walk costs libldap itself on a fresh result of `base` (the search is not
    /// timed): ldap_count_entries, then ldap_get_dn for every entry.
    RunResult countAndReadDns(const std::string& base);

    /// After a W3 run: how many of the selected entries hold exactly the texts of that run (read back with
    /// a fresh search, untimed).
    std::size_t countWritten(const std::string& token, std::uint64_t generation);

private:
    Config m_config;
    LDAP* m_ld = nullptr;
};

}  // namespace VarnelBench
