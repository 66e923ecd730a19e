// Client::Search and Client::AddNewEntry against the test server: scopes, attribute lists, size limits,
// empty results, what each protocol version sends (time limit, size limit), the count read once, the whole
// of test.ldif walked through the model, and entry creation with its refusals and its read-back.
#include <gtest/gtest.h>
#include <ldap.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <varnel/ldap.hpp>
#include <vector>

#include "entry_search_support.hpp"

namespace Varnel::Ldap {
namespace {

using testing::bytesOf;
using testing::dnSet;
using testing::dnsOf;
using testing::expectLdapException;
using testing::expectNotConnected;
using testing::expectOutOfBounds;
using testing::expectRefused;
using testing::expectThrowsExactly;
using testing::parseLdif;
using testing::triplesOf;

using Strings = std::vector<std::string>;
using DnSet = std::set<std::string>;

class SearchTest : public testing::DirectoryTest {
protected:
    /// base; two people and a unit directly below it; a third person below that unit.
    void addSmallTree() {
        ann = addPerson("Ann", base, "description: first\ntitle: boss\n");
        bob = addPerson("Bob", base, "description: second\n");
        unit = addUnit("Sub", base);
        cid = addPerson("Cid", unit);
    }
    static DnSet asSet(const Strings& dns) { return DnSet(dns.begin(), dns.end()); }
    static std::set<std::string> attributeNames(Entry& entry) {
        std::set<std::string> out;
        for (auto a : *entry.get_Attributes()) out.insert(testing::lowerAscii(a->get_Name()));
        return out;
    }

    std::string ann, bob, unit, cid;
};

// ---- scopes, attribute lists, results ------------------------------------------------------------------

TEST_F(SearchTest, EachScopeFindsWhatTheServerFinds) {
    addSmallTree();
    struct Case {
        Scope scope;
        const char* ldapsearchScope;
        DnSet expected;
    };
    const Case cases[] = {
        {Scope::Base, "base", {base}},
        {Scope::OneLevel, "one", {ann, bob, unit}},
        {Scope::SubTree, "sub", {base, ann, bob, unit, cid}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ldapsearchScope);
        api->clear();
        auto entries = client->Search(base, "(objectClass=*)", c.scope);
        const auto search = api->callsTo("ldap_search_ext_s").at(0);
        EXPECT_EQ(search.scope, static_cast<int>(c.scope));
        EXPECT_EQ(search.dn, base);
        EXPECT_EQ(search.filter, "(objectClass=*)");
        EXPECT_EQ(search.attrsOnly, 0);
        EXPECT_EQ(entries->get_Count(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(asSet(dnsOf(*entries)), c.expected);
        EXPECT_EQ(asSet(dnsOf(*entries)),
                  dnSet(parseLdif(server.ldapsearch(base, c.ldapsearchScope, "(objectClass=*)"))));
    }
    // The short form searches the subtree for all attributes, with no time limit and the client's size limit.
    api->clear();
    client->set_SearchSizeLimit(77);
    auto entries = client->Search(base, "(cn=*)");
    const auto search = api->callsTo("ldap_search_ext_s").at(0);
    EXPECT_EQ(search.scope, LDAP_SCOPE_SUBTREE);
    EXPECT_TRUE(search.attrsNull);
    EXPECT_FALSE(search.timeLimit.has_value());
    EXPECT_EQ(search.sizeLimit, 77);
    EXPECT_EQ(asSet(dnsOf(*entries)), (DnSet{ann, bob, cid}));
}

TEST_F(SearchTest, AnEmptyAttributeListAsksForAllAttributesLikeAnAbsentOne) {
    addSmallTree();
    const auto all = parseLdif(server.ldapsearch(ann, "base", "(objectClass=*)"));
    ASSERT_EQ(all.size(), 1u);
    const auto expectedAll = triplesOf(all);

    struct Case {
        const char* name;
        std::function<std::shared_ptr<EntryCollection>()> search;
        bool attrsNull;
        Strings attrs;
    };
    const Case cases[] = {
        {"absent", [&] { return client->Search(ann, "(objectClass=*)", Scope::Base); }, true, {}},
        {"empty", [&] { return client->Search(ann, "(objectClass=*)", Scope::Base, Strings{}); }, true, {}},
        {"empty with timeout",
         [&] { return client->Search(ann, "(objectClass=*)", Scope::Base, Strings{}, 0); },
         true,
         {}},
        {"one name",
         [&] { return client->Search(ann, "(objectClass=*)", Scope::Base, Strings{"title"}); },
         false,
         {"title"}},
        {"two names, other case",
         [&] {
             return client->Search(ann, "(objectClass=*)", Scope::Base, Strings{"SN", "Description"});
         },
         false,
         {"SN", "Description"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        api->clear();
        auto entries = c.search();
        const auto search = api->callsTo("ldap_search_ext_s").at(0);
        EXPECT_EQ(search.attrsNull, c.attrsNull);
        EXPECT_EQ(search.attrs, c.attrs);
        ASSERT_EQ(entries->get_Count(), 1);
        const auto got = triplesOf(*entries->get_Item(0));
        if (c.attrsNull) {
            EXPECT_EQ(got, expectedAll);
        } else {
            const auto some = parseLdif(server.ldapsearch(ann, "base", "(objectClass=*)", c.attrs));
            EXPECT_EQ(got, triplesOf(some));
            EXPECT_EQ(attributeNames(*entries->get_Item(0)).size(), c.attrs.size());
        }
    }
}

TEST_F(SearchTest, ASearchMatchingNothingGivesAnEmptyCollection) {
    addSmallTree();
    auto entries = client->Search(base, "(cn=Nobody)");
    EXPECT_EQ(entries->get_Count(), 0);
    expectOutOfBounds([&] { entries->get_Item(0); });
    int seen = 0;
    for (auto e : *entries) seen += e ? 1 : 0;
    EXPECT_EQ(seen, 0);
    auto enumerator = entries->GetEnumerator();
    EXPECT_FALSE(enumerator->MoveNext());
    std::vector<std::shared_ptr<Entry>> room(1);
    entries->CopyTo(room, 0);
    EXPECT_EQ(room[0], nullptr);

    // A base that does not exist is the server's refusal, and its result message is released.
    api->clear();
    expectRefused([&] { client->Search("ou=Missing," + base, "(objectClass=*)"); }, LDAP_NO_SUCH_OBJECT);
    const auto search = api->callsTo("ldap_search_ext_s").at(0);
    if (search.returned != nullptr) {
        EXPECT_EQ(releases(search.returned), 1u);
    }
}

TEST_F(SearchTest, SizeLimitExceededFailsUnlessIgnored) {
    const auto many = addUnit("Many", base);
    DnSet people;
    for (int i = 0; i < 12; ++i) people.insert(addPerson("P" + std::to_string(i), many));

    for (const auto version : {ProtocolVersion::Version3, ProtocolVersion::Version2}) {
        SCOPED_TRACE(static_cast<int>(version));
        auto recording = std::make_shared<testing::RecordingLdapApi>();
        auto c = testing::newClient(recording);
        c->set_ProtocolVersion(version);
        c->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
        c->set_SearchSizeLimit(10);

        recording->clear();
        expectRefused([&] { c->Search(many, "(objectClass=inetOrgPerson)", Scope::OneLevel); }, LDAP_SIZELIMIT_EXCEEDED,
                      "not ignored");
        expectRefused([&] { c->Search(many, "(objectClass=inetOrgPerson)", Scope::OneLevel, Strings{}, 0, false); },
                      LDAP_SIZELIMIT_EXCEEDED, "false");
        // Both failed searches released what they returned.
        for (const auto& call : recording->calls()) {
            if ((call.function == "ldap_search_ext_s" || call.function == "ldap_search_st") && call.returned) {
                std::size_t n = 0;
                for (const auto& f : recording->callsTo("ldap_msgfree")) n += f.returned == call.returned ? 1 : 0;
                EXPECT_EQ(n, 1u);
            }
        }

        auto entries = c->Search(many, "(objectClass=inetOrgPerson)", Scope::OneLevel, Strings{"cn"}, 0, true);
        EXPECT_EQ(entries->get_Count(), 10);
        const auto dns = dnsOf(*entries);
        EXPECT_EQ(asSet(dns).size(), 10u);
        for (const auto& dn : dns) EXPECT_TRUE(people.count(dn)) << dn;

        // Within the limit nothing is refused.
        c->set_SearchSizeLimit(12);
        EXPECT_EQ(asSet(dnsOf(*c->Search(many, "(objectClass=inetOrgPerson)", Scope::OneLevel))), people);
    }
}

TEST_F(SearchTest, SearchNeedsAConnectionAndALiveClient) {
    client->Disconnect();
    api->clear();
    expectNotConnected([&] { client->Search(base, "(objectClass=*)"); }, "after Disconnect");
    expectNotConnected([&] { client->Search(base, "(objectClass=*)", Scope::Base, Strings{"cn"}, 5, true); },
                       "full form");
    EXPECT_EQ(searches(), 0u);
    client->Dispose();
    if (auto e = expectThrowsExactly<ObjectDisposedException>([&] { client->Search(base, "(objectClass=*)"); })) {
        EXPECT_EQ(e->get_Message(), std::optional<std::string>("Cannot perform this operation on a disposed object."));
    }
    EXPECT_EQ(searches(), 0u);
}

// ---- what is sent --------------------------------------------------------------------------------------

TEST_F(SearchTest, TimeoutsAndSizeLimitsTravelAsEachVersionExpects) {
    addSmallTree();
    struct Case {
        ProtocolVersion version;
        int timeout;
        int sizeLimit;
        std::optional<long> seconds;  // absent: no time limit
    };
    const Case cases[] = {
        {ProtocolVersion::Version3, 0, 0, std::nullopt}, {ProtocolVersion::Version3, -5, 7, std::nullopt},
        {ProtocolVersion::Version3, 30, 0, 30},          {ProtocolVersion::Version3, 1, 3, 1},
        {ProtocolVersion::Version2, 0, 0, std::nullopt}, {ProtocolVersion::Version2, -5, 7, std::nullopt},
        {ProtocolVersion::Version2, 30, 0, 30},          {ProtocolVersion::Version2, 1, 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("version " + std::to_string(static_cast<int>(c.version)) + " timeout " +
                     std::to_string(c.timeout) + " size limit " + std::to_string(c.sizeLimit));
        auto recording = std::make_shared<testing::RecordingLdapApi>();
        auto v = testing::newClient(recording);
        v->set_ProtocolVersion(c.version);
        v->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
        v->set_SearchSizeLimit(c.sizeLimit);
        recording->clear();
        auto entries = v->Search(base, "(cn=Ann)", Scope::SubTree, Strings{"cn"}, c.timeout, true);
        EXPECT_EQ(dnsOf(*entries), Strings{ann});

        std::vector<std::string> sizeOptions;  // the order of option setting and searching
        for (const auto& call : recording->calls()) {
            if (call.function == "ldap_set_option" && call.option == LDAP_OPT_SIZELIMIT)
                sizeOptions.push_back("set " + std::to_string(call.optionValue.value_or(-1)));
            if (call.function == "ldap_search_st" || call.function == "ldap_search_ext_s")
                sizeOptions.push_back(call.function);
        }
        const bool v2 = c.version == ProtocolVersion::Version2;
        const char* function = v2 ? "ldap_search_st" : "ldap_search_ext_s";
        ASSERT_EQ(recording->count(function), 1u);
        const auto search = recording->callsTo(function)[0];
        if (c.seconds) {
            ASSERT_TRUE(search.timeLimit.has_value());
            EXPECT_EQ(search.timeLimit->sec, *c.seconds);
            EXPECT_EQ(search.timeLimit->usec, 0);
        } else {
            EXPECT_FALSE(search.timeLimit.has_value());
        }
        EXPECT_EQ(search.attrsOnly, 0);
        if (v2) {
            EXPECT_EQ(sizeOptions, (Strings{"set " + std::to_string(c.sizeLimit), "ldap_search_st"}));
            EXPECT_EQ(recording->count("ldap_search_ext_s"), 0u);
        } else {
            EXPECT_EQ(sizeOptions, Strings{"ldap_search_ext_s"});
            EXPECT_EQ(search.sizeLimit, c.sizeLimit);
        }
    }
}

TEST_F(SearchTest, TheEntriesAreCountedOnceWithoutBuildingThem) {
    addSmallTree();
    api->clear();
    auto entries = client->Search(base, "(objectClass=*)");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(entries->get_Count(), 5);
    // One walk of the chain with libldap's traversal, which the later build reuses; no DN is read.
    EXPECT_EQ(api->count("ldap_first_entry"), 1u);
    EXPECT_EQ(api->count("ldap_next_entry"), 5u);
    EXPECT_EQ(api->count("ldap_get_dn_ber"), 0u);
    std::shared_ptr<Entry> leaf;
    for (int i = 0; i < 5; ++i)
        if (entries->get_Item(i)->get_DN() == bob) leaf = entries->get_Item(i);
    ASSERT_NE(leaf, nullptr);
    leaf->Delete();
    EXPECT_EQ(entries->get_Count(), 5);
    EXPECT_EQ(api->count("ldap_first_entry"), 1u);  // the build walked no chain again
    EXPECT_EQ(api->count("ldap_get_dn_ber"), 5u);   // one DN read per entry
    // Another search is counted on its own.
    EXPECT_EQ(client->Search(base, "(cn=Ann)")->get_Count(), 1);
    EXPECT_EQ(api->count("ldap_first_entry"), 2u);
}

// ---- real data -----------------------------------------------------------------------------------------

TEST_F(SearchTest, TheLoadedTestLdifReadsThroughTheModelAsLdapsearchPrintsIt) {
    const auto expected = parseLdif(server.ldapsearch(server.suffix(), "sub", "(objectClass=*)"));
    auto entries = client->Search(server.suffix(), "(objectClass=*)");
    EXPECT_EQ(entries->get_Count(), static_cast<int>(expected.size()));
    EXPECT_EQ(triplesOf(*entries), triplesOf(expected));
    // Nothing is lost by the set comparison: each entry's own values, in server order.
    std::size_t compared = 0;
    for (auto entry : *entries) {
        for (const auto& e : expected) {
            if (e.dn != entry->get_DN()) continue;
            ++compared;
            for (auto attribute : *entry->get_Attributes()) {
                std::vector<ByteArray> held;
                for (auto v : *attribute->get_Values()) held.push_back(v->get_BinaryValue());
                EXPECT_EQ(held, e.values(attribute->get_Name())) << e.dn << " " << attribute->get_Name();
            }
        }
    }
    EXPECT_EQ(compared, expected.size());
    // The file itself: every entry it names is there, base64 values decoded.
    const auto file = parseLdif(testing::readFile(testing::testdataPath("openldap/test.ldif")));
    ASSERT_GE(file.size(), 19u);
    const auto found = dnSet(expected);
    for (const auto& e : file) {
        EXPECT_TRUE(found.count(e.dn)) << e.dn;
    }
    const std::string barbara = "cn=Barbara Jensen,ou=Information Technology Division,ou=People,dc=example,dc=com";
    auto sn = client->Search(barbara, "(objectClass=*)", Scope::Base)->get_Item(0)->get_Attributes()->get_Item("sn");
    ASSERT_NE(sn, nullptr);
    EXPECT_EQ(sn->get_Values()->get_Item(0)->get_BinaryValue(), bytesOf(" Jensen "));  // sn:: IEplbnNlbiA=
}

// ---- AddNewEntry ---------------------------------------------------------------------------------------

TEST_F(SearchTest, AddNewEntrySendsOneAddAndReturnsTheEntryAsTheServerHoldsIt) {
    const std::string dn = "cn=New Person," + base;
    NameValueCollection attributes;
    attributes.Add("objectClass", "inetOrgPerson");
    attributes.Add("cn", "New Person");
    attributes.Add("sn", "Person");
    attributes.Add("description", Strings{"one", "two"});
    attributes.Add("CN", "Newbie");  // joins cn
    api->clear();
    auto entry = client->AddNewEntry(dn, attributes);

    ASSERT_EQ(serverChanges().size(), 1u);
    const auto add = serverChanges()[0];
    EXPECT_EQ(add.function, "ldap_add_s");
    EXPECT_EQ(add.dn, dn);
    ASSERT_EQ(add.mods.size(), 4u);
    const std::pair<const char*, Strings> mods[] = {{"objectClass", {"inetOrgPerson"}},
                                                    {"cn", {"New Person", "Newbie"}},
                                                    {"sn", {"Person"}},
                                                    {"description", {"one", "two"}}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(add.mods[i].op, LDAP_MOD_ADD) << i;
        EXPECT_EQ(add.mods[i].type, mods[i].first);
        EXPECT_EQ(add.mods[i].values, mods[i].second);
    }
    // Read back by one subtree search of the new DN for all attributes.
    ASSERT_EQ(searches(), 1u);
    const auto readBack = api->callsTo("ldap_search_ext_s").at(0);
    EXPECT_EQ(readBack.dn, dn);
    EXPECT_EQ(readBack.filter, "objectClass=*");
    EXPECT_EQ(readBack.scope, LDAP_SCOPE_SUBTREE);
    EXPECT_TRUE(readBack.attrsNull);
    EXPECT_FALSE(readBack.timeLimit.has_value());

    // The entry reports exactly what the server holds, including what it holds beyond what was sent.
    const auto held = serverEntry(dn);
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(entry->get_DN(), held->dn);
    EXPECT_EQ(triplesOf(*entry), triplesOf({*held}));
    // It writes through like any entry of a search.
    entry->get_Attributes()->get_Item("description")->get_Values()->get_Item(0)->set_StringValue("uno");
    auto description = serverValues(dn, "description");
    std::sort(description.begin(), description.end());
    EXPECT_EQ(description, (std::vector<ByteArray>{bytesOf("two"), bytesOf("uno")}));
    entry->Delete();
    EXPECT_FALSE(serverEntry(dn).has_value());
    testing::expectDeleted([&] { entry->get_DN(); });
}

TEST_F(SearchTest, AddNewEntryRefusedByTheServerReadsNothingBack) {
    addPerson("Taken", base);
    struct Case {
        const char* name;
        std::string dn;
        NameValueCollection attributes;
        int rc;
    };
    const Case cases[] = {
        {"required attribute missing",
         "cn=NoSn," + base,
         {{"objectClass", "inetOrgPerson"}, {"cn", "NoSn"}},
         LDAP_OBJECT_CLASS_VIOLATION},
        {"unknown attribute type",
         "cn=Odd," + base,
         {{"objectClass", "inetOrgPerson"}, {"cn", "Odd"}, {"sn", "O"}, {"noSuchAttributeType", "x"}},
         LDAP_UNDEFINED_TYPE},
        {"entry exists",
         "cn=Taken," + base,
         {{"objectClass", "inetOrgPerson"}, {"cn", "Taken"}, {"sn", "T"}},
         LDAP_ALREADY_EXISTS},
        {"parent missing",
         "cn=Orphan,ou=Nowhere," + base,
         {{"objectClass", "inetOrgPerson"}, {"cn", "Orphan"}, {"sn", "O"}},
         LDAP_NO_SUCH_OBJECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = server.ldapsearch(base, "sub", "(objectClass=*)");
        api->clear();
        expectRefused([&] { client->AddNewEntry(c.dn, c.attributes); }, c.rc);
        EXPECT_EQ(api->count("ldap_add_s"), 1u);
        EXPECT_EQ(searches(), 0u);
        EXPECT_EQ(server.ldapsearch(base, "sub", "(objectClass=*)"), before);
    }
    // Injected: the refusal is reported the same way and nothing is read back.
    api->clear();
    api->failCall("ldap_add_s", 1, LDAP_INSUFFICIENT_ACCESS);
    expectRefused(
        [&] {
            client->AddNewEntry("cn=Injected," + base,
                                {{"objectClass", "inetOrgPerson"}, {"cn", "Injected"}, {"sn", "I"}});
        },
        LDAP_INSUFFICIENT_ACCESS);
    EXPECT_EQ(searches(), 0u);
    EXPECT_FALSE(serverEntry("cn=Injected," + base).has_value());
}

TEST_F(SearchTest, AnEntryCreatedButNotReadableIsReportedAndStaysOnTheServer) {
    auto recording = std::make_shared<testing::RecordingLdapApi>();
    auto user = testing::userClient(recording);
    const std::string dn = "cn=Unseen " + base.substr(3, base.find(',') - 3) + "," + server.blindSubtree();
    recording->clear();
    expectLdapException(
        [&] {
            user->AddNewEntry(
                dn, {{"objectClass", "inetOrgPerson"}, {"cn", dn.substr(3, dn.find(',') - 3)}, {"sn", "Unseen"}});
        },
        std::string("The entry was created without errors, but it could not be retrieved from the directory."));
    EXPECT_EQ(recording->count("ldap_add_s"), 1u);
    EXPECT_EQ(recording->count("ldap_search_ext_s"), 1u);
    const auto held = serverEntry(dn);
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(held->values("sn"), std::vector<ByteArray>{bytesOf("Unseen")});
}

TEST_F(SearchTest, AddNewEntryRefusesBadArgumentsAndAMissingConnectionBeforeAnyCall) {
    const std::string dn = "cn=Never," + base;
    NameValueCollection emptyName{{"objectClass", "inetOrgPerson"}, {"cn", "Never"}, {"sn", "N"}};
    emptyName.Add("", "x");
    NameValueCollection noValues{{"objectClass", "inetOrgPerson"}, {"cn", "Never"}, {"sn", "N"}};
    noValues.Add("description", Strings{});
    for (const auto* attributes : {&emptyName, &noValues}) {
        api->clear();
        expectThrowsExactly<ArgumentException>([&] { client->AddNewEntry(dn, *attributes); });
        EXPECT_TRUE(api->calls().empty()) << api->calls().front().function;
    }
    client->Disconnect();
    api->clear();
    expectNotConnected([&] {
        client->AddNewEntry(dn, {{"objectClass", "inetOrgPerson"}, {"cn", "Never"}, {"sn", "N"}});
    });
    EXPECT_TRUE(api->calls().empty()) << api->calls().front().function;
    EXPECT_FALSE(serverEntry(dn).has_value());
}

}  // namespace
}  // namespace Varnel::Ldap
