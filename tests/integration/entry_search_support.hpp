// Shared by the ownership, entry and search tests: a fixture that gives each test its own subtree and a root
// client on the recording LdapApi, an LDIF reader for what ldapsearch prints (independent of the library),
// a reader of what the model reports, and exact-exception checks.
#pragma once

#include <gtest/gtest.h>
#include <ldap.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <typeinfo>
#include <varnel/ldap.hpp>
#include <vector>

#include "model_expectations.hpp"
#include "recording_ldap_api.hpp"
#include "slapd_fixture.hpp"
#include "test_client.hpp"

namespace Varnel::Ldap::testing {

inline std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

/// One entry of LDIF as ldapsearch -LLL prints it.
struct LdifEntry {
    std::string dn;
    std::vector<std::pair<std::string, ByteArray>> lines;  // attribute description, value bytes

    std::vector<ByteArray> values(const std::string& name) const {
        std::vector<ByteArray> out;
        for (const auto& [n, v] : lines)
            if (lowerAscii(n) == lowerAscii(name)) out.push_back(v);
        return out;
    }
};

/// Parses LDIF: folded lines are joined, "::" values are base64, "#" lines are comments.
inline std::vector<LdifEntry> parseLdif(const std::string& ldif) {
    std::vector<std::string> logical;
    {
        std::istringstream in(ldif);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] == ' ' && !logical.empty() && !logical.back().empty()) {
                logical.back() += line.substr(1);
            } else {
                logical.push_back(line);
            }
        }
    }
    std::vector<LdifEntry> out;
    bool open = false;
    for (const auto& line : logical) {
        if (line.empty()) {
            open = false;
            continue;
        }
        if (line[0] == '#') continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = line.substr(0, colon);
        std::string_view rest(line);
        rest.remove_prefix(colon + 1);
        const bool b64 = !rest.empty() && rest.front() == ':';
        if (b64) rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        ByteArray value = b64 ? decodeBase64(rest) : bytesOf(rest);
        if (!open) {
            EXPECT_EQ(lowerAscii(name), "dn") << "LDIF entry without dn line: " << line;
            out.push_back({std::string(value.begin(), value.end()), {}});
            open = true;
        } else {
            out.back().lines.emplace_back(name, std::move(value));
        }
    }
    return out;
}

/// (dn, attribute description in lower case, value bytes): what an entry holds, as a set.
using Triple = std::tuple<std::string, std::string, ByteArray>;
using Triples = std::set<Triple>;

inline Triples triplesOf(const std::vector<LdifEntry>& entries) {
    Triples out;
    for (const auto& e : entries)
        for (const auto& [name, value] : e.lines) out.emplace(e.dn, lowerAscii(name), value);
    return out;
}

/// Walks an entry through the model: every attribute, every value.
inline Triples triplesOf(Entry& entry) {
    Triples out;
    const std::string dn = entry.get_DN();
    auto attributes = entry.get_Attributes();
    for (auto attribute : *attributes) {
        const std::string name = lowerAscii(attribute->get_Name());
        for (auto value : *attribute->get_Values()) out.emplace(dn, name, value->get_BinaryValue());
    }
    return out;
}

/// The bytes of every value of an attribute, in the collection's order.
inline std::vector<ByteArray> memoryValuesOf(Attribute& attribute) {
    std::vector<ByteArray> out;
    for (auto value : *attribute.get_Values()) out.push_back(value->get_BinaryValue());
    return out;
}

inline Triples triplesOf(EntryCollection& entries) {
    Triples out;
    for (auto entry : entries) out.merge(triplesOf(*entry));
    return out;
}

/// The DNs of the entries listed, in list order (get_Count stays the server's count after deletions).
inline std::vector<std::string> dnsOf(EntryCollection& entries) {
    std::vector<std::string> out;
    for (auto entry : entries) out.push_back(entry->get_DN());
    return out;
}

inline std::set<std::string> dnSet(const std::vector<LdifEntry>& entries) {
    std::set<std::string> out;
    for (const auto& e : entries) out.insert(e.dn);
    return out;
}


// ---- fixture

/// Each test gets its own subtree below ou=tests and a root client on a recording LdapApi.
class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = server.uniqueSubtree(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    /// Adds ou=<ou>,<parent> and returns its DN.
    std::string addUnit(const std::string& ou, const std::string& parent) {
        const std::string dn = "ou=" + ou + "," + parent;
        server.ldapadd("dn: " + dn + "\nobjectClass: organizationalUnit\nou: " + ou + "\n");
        return dn;
    }
    /// Adds cn=<cn>,<parent> as an inetOrgPerson; `body` holds further attribute lines.
    std::string addPerson(const std::string& cn, const std::string& parent, const std::string& body = "") {
        const std::string dn = "cn=" + cn + "," + parent;
        server.ldapadd("dn: " + dn + "\nobjectClass: inetOrgPerson\ncn: " + cn + "\nsn: " + cn + "\n" + body);
        return dn;
    }

    /// What the server holds at `dn` (ldapsearch as root); nullopt when there is no such entry.
    std::optional<LdifEntry> serverEntry(const std::string& dn) {
        auto entries = parseLdif(server.ldapsearch(dn, "base", "(objectClass=*)"));
        if (entries.empty()) return std::nullopt;
        EXPECT_EQ(entries.size(), 1u);
        return entries.front();
    }
    /// The values of attribute `name` of `dn` on the server.
    std::vector<ByteArray> serverValues(const std::string& dn, const std::string& name) {
        auto entry = serverEntry(dn);
        return entry ? entry->values(name) : std::vector<ByteArray>{};
    }

    /// The entry `dn`, read by a fresh base search of the client.
    std::shared_ptr<Entry> entryAt(const std::string& dn) {
        auto entries = client->Search(dn, "(objectClass=*)", Scope::Base);
        EXPECT_EQ(entries->get_Count(), 1) << dn;
        return entries->get_Item(0);
    }

    /// The server-changing calls recorded since the last clear (add, modify, delete, rename).
    std::vector<LdapCall> serverChanges() const {
        std::vector<LdapCall> out;
        for (const auto& c : api->calls())
            if (RecordingLdapApi::isServerChange(c.function)) out.push_back(c);
        return out;
    }
    /// The searches recorded since the last clear, on either path.
    std::size_t searches() const { return api->count("ldap_search_ext_s") + api->count("ldap_search_st"); }
    /// How often the chain `message` was released.
    std::size_t releases(const void* message) const {
        std::size_t n = 0;
        for (const auto& c : api->callsTo("ldap_msgfree")) n += c.returned == message ? 1 : 0;
        return n;
    }
    /// The chain the last search returned.
    const void* lastChain() const {
        const void* chain = nullptr;
        for (const auto& c : api->calls())
            if (c.function == "ldap_search_ext_s" || c.function == "ldap_search_st") chain = c.returned;
        EXPECT_NE(chain, nullptr);
        return chain;
    }

    SlapdServer& server = SlapdServer::instance();
    std::shared_ptr<RecordingLdapApi> api = std::make_shared<RecordingLdapApi>();
    std::unique_ptr<Client> client = rootClient(api);
    std::string base;
};

}  // namespace Varnel::Ldap::testing
