// Shared by the value and attribute tests: a fixture that gives each test its own subtree and a client on
// the recording LdapApi, readers of what the server really holds (through ldapsearch, independent of the
// library), snapshots of what the objects report, and exact-exception checks.
#pragma once

#include <gtest/gtest.h>

#include <ldap.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include <varnel/ldap.hpp>

#include "model_expectations.hpp"
#include "recording_ldap_api.hpp"
#include "slapd_fixture.hpp"
#include "test_client.hpp"

namespace Varnel::Ldap::testing {

inline bool sameNameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

/// One attribute line of unwrapped LDIF (ldapsearch -LLL -o ldif-wrap=no): its description and its bytes.
struct LdifLine {
    std::string name;
    ByteArray value;
};

inline std::vector<LdifLine> ldifLines(const std::string& ldif) {
    std::vector<LdifLine> out;
    std::istringstream in(ldif);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == ' ') continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        LdifLine l{line.substr(0, colon), {}};
        if (sameNameAscii(l.name, "dn")) continue;
        std::string_view rest(line);
        rest.remove_prefix(colon + 1);
        const bool b64 = !rest.empty() && rest.front() == ':';
        if (b64) rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        l.value = b64 ? decodeBase64(rest) : bytesOf(rest);
        out.push_back(std::move(l));
    }
    return out;
}

/// The values of the attribute description `name` (letter case ignored, options must match) in the LDIF.
inline std::vector<ByteArray> ldifValues(const std::string& ldif, const std::string& name) {
    std::vector<ByteArray> out;
    for (auto& l : ldifLines(ldif))
        if (sameNameAscii(l.name, name)) out.push_back(std::move(l.value));
    return out;
}

/// The attribute descriptions in the LDIF, each once, in the order the server listed them.
inline std::vector<std::string> ldifNames(const std::string& ldif) {
    std::vector<std::string> out;
    for (const auto& l : ldifLines(ldif)) {
        bool seen = false;
        for (const auto& n : out) seen = seen || sameNameAscii(n, l.name);
        if (!seen) out.push_back(l.name);
    }
    return out;
}

/// What the objects report about one attribute, read without changing anything.
struct AttributeState {
    std::string name;
    std::vector<ByteArray> values;
    friend bool operator==(const AttributeState&, const AttributeState&) = default;
};

inline std::vector<ByteArray> memoryValues(Attribute& attribute) {
    std::vector<ByteArray> out;
    auto values = attribute.get_Values();
    for (std::int32_t i = 0; i < values->get_Count(); ++i) {
        auto v = values->get_Item(i);
        EXPECT_EQ(v->get_RawByteSize(), static_cast<std::int32_t>(v->get_BinaryValue().size()));
        out.push_back(v->get_BinaryValue());
    }
    return out;
}

inline std::vector<AttributeState> snapshot(AttributeCollection& attributes) {
    std::vector<AttributeState> out;
    for (std::int32_t i = 0; i < attributes.get_Count(); ++i) {
        auto a = attributes.get_Item(i);
        EXPECT_FALSE(a->get_IsDeleted());
        EXPECT_EQ(attributes.get_Item(a->get_Name()).get(), a.get());
        out.push_back({a->get_Name(), memoryValues(*a)});
    }
    return out;
}

inline std::vector<ByteArray> sorted(std::vector<ByteArray> v) {
    std::sort(v.begin(), v.end());
    return v;
}


/// Every public operation of a value but Dispose, for the guard tests; `readFile` must exist.
inline std::vector<std::pair<std::string, std::function<void(Value&)>>> valueOperations(const std::string& readFile,
                                                                                        const std::string& writeFile) {
    return {
        {"Delete", [](Value& v) { v.Delete(); }},
        {"ReadFromFile", [readFile](Value& v) { v.ReadFromFile(readFile); }},
        {"WriteToFile", [writeFile](Value& v) { v.WriteToFile(writeFile); }},
        {"get_BinaryValue", [](Value& v) { v.get_BinaryValue(); }},
        {"set_BinaryValue", [](Value& v) { v.set_BinaryValue(bytesOf("guarded")); }},
        {"get_StringValue", [](Value& v) { v.get_StringValue(); }},
        {"set_StringValue", [](Value& v) { v.set_StringValue("guarded"); }},
        {"get_RawByteSize", [](Value& v) { v.get_RawByteSize(); }},
    };
}

// ---- fixture

/// Each test gets its own subtree below ou=tests, a root client on a recording LdapApi, and a folder for
/// value files that is removed afterwards.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = server.uniqueSubtree(::testing::UnitTest::GetInstance()->current_test_info()->name());
        files =
            std::filesystem::temp_directory_path() / ("varnel-values-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(files);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(files, ec);
    }

    /// Adds cn=<cn>,<base> as an inetOrgPerson; `body` holds its other attribute lines (sn is required).
    std::string addPerson(const std::string& cn, const std::string& body) {
        const std::string dn = "cn=" + cn + "," + base;
        server.ldapadd("dn: " + dn + "\nobjectClass: inetOrgPerson\ncn: " + cn + "\n" + body);
        return dn;
    }

    /// The entry `dn`, read by a fresh base search of the client.
    std::shared_ptr<Entry> entryAt(const std::string& dn) {
        auto entries = client->Search(dn, "(objectClass=*)", Scope::Base);
        EXPECT_EQ(entries->get_Count(), 1) << dn;
        return entries->get_Item(0);
    }

    /// What the server holds for attribute `name` of `dn`, in its order.
    std::vector<ByteArray> serverValues(const std::string& dn, const std::string& name) {
        return ldifValues(server.ldapsearch(dn, "base", "(objectClass=*)", {name}), name);
    }

    /// The server-changing calls recorded since the last clear (add, modify, delete, rename).
    std::vector<LdapCall> serverChanges() const {
        std::vector<LdapCall> out;
        for (const auto& c : api->calls())
            if (RecordingLdapApi::isServerChange(c.function)) out.push_back(c);
        return out;
    }

    /// Runs `change` with the next server change refused with `rc` without reaching the server: exactly
    /// that one request, of `function`, is sent, the refusal carries `rc`, and neither what the objects of
    /// `attributes` report nor what the server holds for `dn` changes.
    void expectInjectedRefusalChangesNothing(const std::function<void()>& change, int rc, const std::string& function,
                                             AttributeCollection& attributes, const std::string& dn,
                                             const std::string& what) {
        const auto before = snapshot(attributes);
        const auto serverBefore = server.ldapsearch(dn, "base", "(objectClass=*)");
        api->clear();
        api->failServerChange(1, rc);
        expectRefused(change, rc, what);
        EXPECT_EQ(api->pendingFaults(), 0u);
        const auto changes = serverChanges();
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].function, function);
        EXPECT_TRUE(changes[0].injected);
        EXPECT_EQ(snapshot(attributes), before);
        EXPECT_EQ(server.ldapsearch(dn, "base", "(objectClass=*)"), serverBefore);
    }

    std::string writeFile(const std::string& name, const ByteArray& bytes) {
        const auto path = files / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    static ByteArray readBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return ByteArray(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    /// A few kilobytes shaped like a JPEG, holding every byte value 0..255 (so not valid UTF-8).
    static ByteArray binaryPhoto(std::uint8_t salt = 0) {
        ByteArray b{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
        for (int round = 0; round < 12; ++round)
            for (int i = 0; i < 256; ++i) b.push_back(static_cast<std::uint8_t>((i * 7 + round + salt) & 0xFF));
        b.push_back(0xFF);
        b.push_back(0xD9);
        return b;
    }

    SlapdServer& server = SlapdServer::instance();
    std::shared_ptr<RecordingLdapApi> api = std::make_shared<RecordingLdapApi>();
    std::unique_ptr<Client> client = rootClient(api);
    std::string base;
    std::filesystem::path files;
};

}  // namespace Varnel::Ldap::testing
