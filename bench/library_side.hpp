// The workloads as a user of the library writes them: public API only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <varnel/ldap.hpp>

#include "bench_common.hpp"
#include "timing.hpp"

namespace VarnelBench {

struct RunResult {
    Checksum checksum;
    Timing timing;
};

class LibrarySide {
public:
    /// Connects and binds as the configured user.
    explicit LibrarySide(const Config& config);
    ~LibrarySide();
    LibrarySide(const LibrarySide&) = delete;
    LibrarySide& operator=(const LibrarySide&) = delete;

    /// The library's own three lines: vendor, product, version.
    std::string about() { return m_client.About(); }

    /// W1: every byte of every value of every attribute of every entry, search included.
    RunResult readAll();
    /// W2: the same search ordered by sn, then givenName; a hash of the DNs in the order handed out.
    RunResult sortByName();
    /// W3: one write-through replacement of the description of each selected entry; the time is that of the
    /// walk and the writes, after the search has returned.
    RunResult modify(const std::string& token, std::uint64_t generation);

    /// W4: all entries of `base` (search only; nothing built yet).
    std::shared_ptr<Varnel::Ldap::EntryCollection> searchAll(const std::string& base);
    /// W4: for (i = 0; i < get_Count(); ++i) get_Item(i).
    static RunResult indexLoop(Varnel::Ldap::EntryCollection& entries, int walks = 1);
    /// W4: the enumerator's walk over the same collection.
    static RunResult enumeratorWalk(Varnel::Ldap::EntryCollection& entries, int walks = 1);

private:
    Config m_config;
    Varnel::Ldap::Client m_client;
};

}  // namespace VarnelBench
