// Entries and entry collections against the test server: deletion and the deleted guard on everything below
// the entry, Move and Rename with the DN texts they build and what the server then holds, the rewritten
// naming value, refusals (real, injected, version 2, the empty DN, no connection) that change nothing, item
// access after deletions, fail-fast enumeration, disposal of one entry, and CopyTo's argument errors.
#include <gtest/gtest.h>
#include <ldap.h>

#include <algorithm>
#include <climits>
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
using testing::expectDeleted;
using testing::expectDisposed;
using testing::expectLdapException;
using testing::expectNotConnected;
using testing::expectOutOfBounds;
using testing::expectRefused;
using testing::expectThrowsExactly;

using Strings = std::vector<std::string>;
using Values = std::vector<ByteArray>;

const std::string kInvalidDn = "The object's distinguished name is invalid.";
const std::string kRenameV3Only = "Entry.Rename method is only available on LDAPv3 servers.";

/// A DN with every separator written as ", ", as the entry builds it.
std::string spaced(const std::string& dn) {
    std::string out;
    for (char c : dn) {
        out += c;
        if (c == ',') out += ' ';
    }
    return out;
}

class EntryTest : public testing::DirectoryTest {
protected:
    static Strings texts(Attribute& attribute) {
        Strings out;
        for (auto v : *attribute.get_Values()) out.push_back(v->get_StringValue());
        return out;
    }
    static Strings sortedTexts(const Values& values) {
        Strings out;
        for (const auto& v : values) out.emplace_back(v.begin(), v.end());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string subtreeLdif() { return server.ldapsearch(base, "sub", "(objectClass=*)"); }
    std::vector<testing::LdapCall> renames() const { return api->callsTo("ldap_rename_ext_s"); }
};

// ---- Delete --------------------------------------------------------------------------------------------

TEST_F(EntryTest, DeleteRetiresTheEntryAndEveryObjectObtainedBelowIt) {
    const auto dn = addPerson("Gone", base, "description: one\ndescription: two\n");
    auto entries = client->Search(base, "(objectClass=*)", Scope::SubTree);
    ASSERT_EQ(entries->get_Count(), 2);
    std::shared_ptr<Entry> entry;
    for (auto e : *entries)
        if (e->get_DN() == dn) entry = e;
    ASSERT_NE(entry, nullptr);
    auto attributes = entry->get_Attributes();
    auto attribute = attributes->get_Item("description");
    auto values = attribute->get_Values();
    auto value = values->get_Item(1);

    api->clear();
    entry->Delete();
    ASSERT_EQ(serverChanges().size(), 1u);
    EXPECT_EQ(serverChanges()[0].function, "ldap_delete_s");
    EXPECT_EQ(serverChanges()[0].dn, dn);
    EXPECT_FALSE(serverEntry(dn).has_value());

    api->clear();
    const std::string missing = "/nonexistent-varnel-dir/file";
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"Entry::get_DN", [&] { entry->get_DN(); }},
        {"Entry::get_Attributes", [&] { entry->get_Attributes(); }},
        {"Entry::Delete", [&] { entry->Delete(); }},
        {"Entry::Move", [&] { entry->Move(base); }},
        {"Entry::Rename", [&] { entry->Rename("cn=Back"); }},
        {"AttributeCollection::Exists", [&] { attributes->Exists("cn"); }},
        {"AttributeCollection::get_Count", [&] { attributes->get_Count(); }},
        {"AttributeCollection::get_Item(name)", [&] { attributes->get_Item("cn"); }},
        {"AttributeCollection::get_Item(index)", [&] { attributes->get_Item(0); }},
        {"AttributeCollection::GetEnumerator", [&] { attributes->GetEnumerator(); }},
        {"AttributeCollection::Add", [&] { attributes->Add("title", "t"); }},
        {"AttributeCollection::AddFromFile", [&] { attributes->AddFromFile("title", missing); }},
        {"Attribute::get_Name", [&] { attribute->get_Name(); }},
        {"Attribute::get_Values", [&] { attribute->get_Values(); }},
        {"Attribute::Delete", [&] { attribute->Delete(); }},
        {"ValueCollection::get_Count", [&] { values->get_Count(); }},
        {"ValueCollection::get_Item", [&] { values->get_Item(0); }},
        {"ValueCollection::GetEnumerator", [&] { values->GetEnumerator(); }},
        {"ValueCollection::Add(text)", [&] { values->Add(std::string("three")); }},
        {"ValueCollection::Add(bytes)", [&] { values->Add(bytesOf("three")); }},
        {"ValueCollection::AddFromFile", [&] { values->AddFromFile(missing); }},
        {"Value::Delete", [&] { value->Delete(); }},
        {"Value::get_StringValue", [&] { value->get_StringValue(); }},
        {"Value::set_StringValue", [&] { value->set_StringValue("2"); }},
        {"Value::get_BinaryValue", [&] { value->get_BinaryValue(); }},
        {"Value::set_BinaryValue", [&] { value->set_BinaryValue(bytesOf("2")); }},
        {"Value::get_RawByteSize", [&] { value->get_RawByteSize(); }},
        {"Value::ReadFromFile", [&] { value->ReadFromFile(missing); }},
        {"Value::WriteToFile", [&] { value->WriteToFile(missing); }},
    };
    for (const auto& [name, operation] : operations) expectDeleted(operation, name);
    EXPECT_TRUE(attribute->get_IsDeleted());
    EXPECT_TRUE(api->calls().empty()) << api->calls().front().function;

    // The collection no longer lists it, but still counts what the server returned.
    EXPECT_EQ(entries->get_Count(), 2);
    EXPECT_EQ(entries->get_Item(0)->get_DN(), base);
    expectOutOfBounds([&] { entries->get_Item(1); });
    EXPECT_NO_THROW(entry->Dispose());
    expectDisposed([&] { entry->get_DN(); });
}

TEST_F(EntryTest, DeleteThatTheServerAcceptedSucceedsWhateverWasDisposedBelowTheEntry) {
    struct Case {
        const char* disposed;
        std::function<void(AttributeCollection&, Attribute&, ValueCollection&, Value&)> dispose;
    };
    const Case cases[] = {
        {"attribute collection", [](AttributeCollection& a, Attribute&, ValueCollection&, Value&) { a.Dispose(); }},
        {"attribute", [](AttributeCollection&, Attribute& a, ValueCollection&, Value&) { a.Dispose(); }},
        {"value collection", [](AttributeCollection&, Attribute&, ValueCollection& v, Value&) { v.Dispose(); }},
        {"value", [](AttributeCollection&, Attribute&, ValueCollection&, Value& v) { v.Dispose(); }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disposed);
        const auto dn = addPerson("Disposed" + std::to_string(n++), base, "description: d\n");
        auto entries = client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
        std::shared_ptr<Entry> entry;
        for (auto e : *entries)
            if (e->get_DN() == dn) entry = e;
        ASSERT_NE(entry, nullptr);
        auto attributes = entry->get_Attributes();
        auto sn = attributes->get_Item("sn");
        auto description = attributes->get_Item("description");
        auto values = description->get_Values();
        auto value = values->get_Item(0);
        c.dispose(*attributes, *description, *values, *value);

        EXPECT_NO_THROW(entry->Delete());
        EXPECT_FALSE(serverEntry(dn).has_value());
        expectDeleted([&] { entry->get_DN(); }, "the entry");
        for (const auto& listed : testing::dnsOf(*entries)) EXPECT_NE(listed, dn);
        // What was not retired by the caller is now deleted.
        if (std::string(c.disposed) != "attribute collection") {
            expectDeleted([&] { attributes->get_Count(); }, "its attribute collection");
            expectDeleted([&] { sn->get_Values(); }, "another attribute");
        }
    }
}

TEST_F(EntryTest, DeletingAnEntryWhoseAttributesWereNeverReadCreatesNoAttributes) {
    const auto dn = addPerson("Unread", base);
    auto entry = entryAt(dn);
    api->clear();
    entry->Delete();
    expectDeleted([&] { entry->get_Attributes(); });
    EXPECT_EQ(api->count("ldap_get_attribute_ber"), 0u);
    EXPECT_FALSE(serverEntry(dn).has_value());
}

TEST_F(EntryTest, DeletionsShrinkTheListButNotTheCountAndStopRunningEnumerations) {
    const auto a = addPerson("A", base);
    const auto b = addPerson("B", base);
    const auto c = addPerson("C", base);
    auto entries = client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
    ASSERT_EQ(entries->get_Count(), 3);
    auto first = entries->get_Item(0);
    auto second = entries->get_Item(1);
    auto third = entries->get_Item(2);
    EXPECT_EQ(entries->get_Item(0).get(), first.get());  // the same object each time
    EXPECT_EQ((*entries)[2].get(), third.get());

    auto running = entries->GetEnumerator();
    ASSERT_TRUE(running->MoveNext());
    EXPECT_EQ(running->get_Current().get(), first.get());
    second->Delete();
    expectThrowsExactly<InvalidOperationException>([&] { running->MoveNext(); }, "enumerator");

    EXPECT_EQ(entries->get_Count(), 3);
    EXPECT_EQ(entries->get_Item(0).get(), first.get());
    EXPECT_EQ(entries->get_Item(1).get(), third.get());
    for (int index : {-1, 2, 3, INT_MIN, INT_MAX})
        expectOutOfBounds([&] { entries->get_Item(index); }, std::to_string(index));
    Strings walked;
    for (auto e : *entries) walked.push_back(e->get_DN());
    EXPECT_EQ(walked, (Strings{first->get_DN(), third->get_DN()}));

    // Range-for fails fast the same way.
    expectThrowsExactly<InvalidOperationException>(
        [&] {
            for (auto e : *entries) e->Delete();
        },
        "range-for");
    EXPECT_EQ(entries->get_Count(), 3);
    EXPECT_EQ(entries->get_Item(0).get(), third.get());
    EXPECT_EQ(testing::dnSet(testing::parseLdif(server.ldapsearch(base, "one", "(objectClass=inetOrgPerson)"))),
              std::set<std::string>{third->get_DN()});
    EXPECT_TRUE(third->get_DN() == a || third->get_DN() == b || third->get_DN() == c);
}

// ---- Move and Rename -----------------------------------------------------------------------------------

TEST_F(EntryTest, RenameAndMoveBuildTheirDnsAndTheServerFollows) {
    const auto staff = addUnit("Staff", base);
    const auto board = addUnit("Board", base);
    const auto dn = addPerson("Ann", staff, "title: clerk\n");
    auto entry = entryAt(dn);
    auto cn = entry->get_Attributes()->get_Item("cn");
    ASSERT_EQ(texts(*cn), Strings{"Ann"});

    api->clear();
    entry->Rename("cn=Anna");
    ASSERT_EQ(renames().size(), 1u);
    EXPECT_EQ(renames()[0].dn, dn);
    EXPECT_EQ(renames()[0].newRdn, "cn=Anna");
    EXPECT_EQ(renames()[0].newParent, std::nullopt);
    EXPECT_EQ(renames()[0].deleteOldRdn, 1);
    EXPECT_EQ(entry->get_DN(), "cn=Anna, " + spaced(staff));
    EXPECT_FALSE(serverEntry(dn).has_value());
    EXPECT_EQ(serverValues("cn=Anna," + staff, "cn"), Values{bytesOf("Anna")});
    // The cached naming value follows the server's.
    EXPECT_EQ(texts(*cn), Strings{"Anna"});
    EXPECT_EQ(texts(*entry->get_Attributes()->get_Item("title")), Strings{"clerk"});

    api->clear();
    entry->Move(board);
    ASSERT_EQ(renames().size(), 1u);
    EXPECT_EQ(renames()[0].dn, "cn=Anna, " + spaced(staff));
    EXPECT_EQ(renames()[0].newRdn, "cn=Anna");
    EXPECT_EQ(renames()[0].newParent, board);
    EXPECT_EQ(renames()[0].deleteOldRdn, 1);
    EXPECT_EQ(entry->get_DN(), "cn=Anna, " + board);
    EXPECT_FALSE(serverEntry("cn=Anna," + staff).has_value());
    EXPECT_EQ(serverValues("cn=Anna," + board, "title"), Values{bytesOf("clerk")});
    EXPECT_EQ(texts(*cn), Strings{"Anna"});

    // The DN the entry built addresses it on the server.
    api->clear();
    entry->Delete();
    EXPECT_EQ(serverChanges().at(0).dn, "cn=Anna, " + board);
    EXPECT_FALSE(serverEntry("cn=Anna," + board).has_value());
}

TEST_F(EntryTest, ObjectsObtainedBeforeAMoveOrRenameAddressTheEntryWhereItNowIs) {
    const auto other = addUnit("Other", base);
    const auto dn = addPerson("Bea", base, "description: d1\ndescription: d2\ntitle: t\n");
    auto entry = entryAt(dn);
    auto attributes = entry->get_Attributes();
    auto description = attributes->get_Item("description");
    auto title = attributes->get_Item("title")->get_Values()->get_Item(0);

    entry->Rename("cn=Beatrix");
    entry->Move(other);
    const std::string now = "cn=Beatrix," + other;
    ASSERT_TRUE(serverEntry(now).has_value());

    title->set_StringValue("t2");
    EXPECT_EQ(serverValues(now, "title"), Values{bytesOf("t2")});
    description->get_Values()->get_Item(0)->Delete();
    EXPECT_EQ(serverValues(now, "description"), Values{bytesOf("d2")});
    description->get_Values()->Add("d3");
    EXPECT_EQ(sortedTexts(serverValues(now, "description")), (Strings{"d2", "d3"}));
    attributes->Add("roomNumber", "101");
    EXPECT_EQ(serverValues(now, "roomNumber"), Values{bytesOf("101")});
    attributes->get_Item("title")->Delete();
    EXPECT_TRUE(serverValues(now, "title").empty());
}

TEST_F(EntryTest, RenameRewritesTheCachedNamingValueOnlyWhereItIsHeld) {
    struct Case {
        const char* name;
        Strings attributes;         // what the search asks for
        bool readBefore;            // attributes read before the rename
        std::string body;           // further lines of the entry
        std::optional<Strings> cn;  // the cached cn afterwards; absent: not held
    };
    const Case cases[] = {
        {"read before", {}, true, "", Strings{"Renamed"}},
        {"first read after", {}, false, "", Strings{"Renamed"}},
        {"second value kept", {}, true, "cn: Other\n", Strings{"Renamed", "Other"}},
        {"naming attribute not asked for", {"sn"}, true, "", std::nullopt},
        {"naming attribute not asked for, read after", {"sn"}, false, "", std::nullopt},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cn = "Old" + std::to_string(n++);
        const auto dn = addPerson(cn, base, c.body);
        auto entries = client->Search(dn, "(objectClass=*)", Scope::Base, c.attributes);
        auto entry = entries->get_Item(0);
        if (c.readBefore) entry->get_Attributes();
        EXPECT_NO_THROW(entry->Rename("cn=Renamed" + cn));
        EXPECT_EQ(entry->get_DN(), spaced("cn=Renamed" + cn + "," + base));
        const auto held = serverEntry("cn=Renamed" + cn + "," + base);
        ASSERT_TRUE(held.has_value());
        auto attribute = entry->get_Attributes()->get_Item("cn");
        if (c.cn) {
            ASSERT_NE(attribute, nullptr);
            Strings expected;
            for (const auto& v : *c.cn) expected.push_back(v == "Renamed" ? "Renamed" + cn : v);
            EXPECT_EQ(texts(*attribute), expected);
            EXPECT_EQ(sortedTexts(held->values("cn")), sortedTexts(testing::memoryValuesOf(*attribute)));
        } else {
            EXPECT_EQ(attribute, nullptr);
        }
    }
}

TEST_F(EntryTest, RenameWhoseOldTextIsNotHeldSucceedsAndLeavesTheCacheAlone) {
    // The DN spells the naming value in another letter case than the value the entry holds.
    const auto dn = "cn=carl," + base;
    server.ldapadd("dn: " + dn + "\nobjectClass: inetOrgPerson\ncn: Carl\nsn: C\n");
    auto entry = entryAt(dn);
    auto cn = entry->get_Attributes()->get_Item("cn");
    EXPECT_NO_THROW(entry->Rename("cn=Dora"));
    EXPECT_EQ(entry->get_DN(), spaced("cn=Dora," + base));
    EXPECT_EQ(serverValues("cn=Dora," + base, "cn"), Values{bytesOf("Dora")});
    EXPECT_EQ(texts(*cn), Strings{"Carl"});
}

TEST_F(EntryTest, RenameOnAVersion2ConnectionIsRefusedWithoutARequest) {
    const auto dn = addPerson("Vee", base);
    auto recording = std::make_shared<testing::RecordingLdapApi>();
    auto v2 = testing::newClient(recording);
    v2->set_ProtocolVersion(ProtocolVersion::Version2);
    v2->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    auto entry = v2->Search(dn, "(objectClass=*)", Scope::Base)->get_Item(0);
    auto cn = entry->get_Attributes()->get_Item("cn");
    recording->clear();
    expectLdapException([&] { entry->Rename("cn=Vera"); }, kRenameV3Only);
    EXPECT_EQ(recording->count("ldap_rename_ext_s"), 0u);
    EXPECT_EQ(entry->get_DN(), dn);
    EXPECT_EQ(texts(*cn), Strings{"Vee"});
    EXPECT_TRUE(serverEntry(dn).has_value());
}

TEST_F(EntryTest, TheEmptyDnOfTheRootDseIsRefusedByMoveAndRename) {
    auto rootDse = client->Search("", "(objectClass=*)", Scope::Base);
    ASSERT_EQ(rootDse->get_Count(), 1);
    auto entry = rootDse->get_Item(0);
    ASSERT_EQ(entry->get_DN(), "");
    api->clear();
    expectLdapException([&] { entry->Move(base); }, kInvalidDn, "Move");
    expectLdapException([&] { entry->Rename("cn=Root"); }, kInvalidDn, "Rename");
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_EQ(entry->get_DN(), "");
}

TEST_F(EntryTest, RefusedDeleteMoveAndRenameChangeNothing) {
    const auto unit = addUnit("Parent", base);
    addPerson("Child", unit);
    const auto dn = addPerson("Stay", base);
    addPerson("Sibling", base);
    auto entries = client->Search(base, "(objectClass=*)", Scope::OneLevel);
    std::shared_ptr<Entry> stay, parent;
    for (auto e : *entries) {
        if (e->get_DN() == dn) stay = e;
        if (e->get_DN() == unit) parent = e;
    }
    ASSERT_NE(stay, nullptr);
    ASSERT_NE(parent, nullptr);
    auto cn = stay->get_Attributes()->get_Item("cn");

    struct Case {
        const char* name;
        std::shared_ptr<Entry> entry;
        std::function<void(Entry&)> change;
        int rc;
        bool injected;
    };
    const Case cases[] = {
        {"delete a unit with a child", parent, [](Entry& e) { e.Delete(); }, LDAP_NOT_ALLOWED_ON_NONLEAF, false},
        {"rename onto a sibling", stay, [](Entry& e) { e.Rename("cn=Sibling"); }, LDAP_ALREADY_EXISTS, false},
        {"move below a missing parent", stay, [&](Entry& e) { e.Move("ou=Missing," + base); }, LDAP_NO_SUCH_OBJECT,
         false},
        {"delete, injected", stay, [](Entry& e) { e.Delete(); }, LDAP_BUSY, true},
        {"rename, injected", stay, [](Entry& e) { e.Rename("cn=Elsewhere"); }, LDAP_UNWILLING_TO_PERFORM, true},
        {"move, injected", stay, [&](Entry& e) { e.Move(unit); }, LDAP_INSUFFICIENT_ACCESS, true},
    };
    const auto before = subtreeLdif();
    const auto listed = testing::dnsOf(*entries);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dnBefore = c.entry->get_DN();
        api->clear();
        if (c.injected) api->failServerChange(1, c.rc);
        expectRefused([&] { c.change(*c.entry); }, c.rc);
        EXPECT_EQ(serverChanges().size(), 1u);
        EXPECT_EQ(c.entry->get_DN(), dnBefore);
        EXPECT_EQ(testing::dnsOf(*entries), listed);
        EXPECT_EQ(texts(*cn), Strings{"Stay"});
        EXPECT_EQ(subtreeLdif(), before);
    }
    // Still fully usable.
    stay->Rename("cn=Stayed");
    EXPECT_TRUE(serverEntry("cn=Stayed," + base).has_value());
}

TEST_F(EntryTest, WithoutAConnectionEntriesRefuseServerCallsAndChangeNothing) {
    const auto dn = addPerson("Offline", base);
    auto entry = entryAt(dn);
    client->Disconnect();
    api->clear();
    expectNotConnected([&] { entry->Delete(); }, "Delete");
    expectNotConnected([&] { entry->Move(base); }, "Move");
    expectNotConnected([&] { entry->Rename("cn=Online"); }, "Rename");
    expectNotConnected([&] { entry->get_Attributes(); }, "get_Attributes reads the message through the handle");
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_EQ(entry->get_DN(), dn);
    EXPECT_TRUE(serverEntry(dn).has_value());

    // A new connection of the same client serves the entry again.
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    EXPECT_EQ(texts(*entry->get_Attributes()->get_Item("sn")), Strings{"Offline"});
    entry->Delete();
    EXPECT_FALSE(serverEntry(dn).has_value());
}

// ---- item access and disposal of one entry -------------------------------------------------------------

TEST_F(EntryTest, AnEntryDisposedOnItsOwnStaysListedAndRefuses) {
    addPerson("One", base);
    addPerson("Two", base);
    auto entries = client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
    auto one = entries->get_Item(0);
    auto attributes = one->get_Attributes();
    EXPECT_EQ(one->get_Attributes().get(), attributes.get());  // the same collection each time
    // Read once: each reading of an entry's attributes starts one iteration state (a DN alone needs none).
    const auto reads = api->callsTo("ldap_get_dn_ber");
    EXPECT_EQ(std::count_if(reads.begin(), reads.end(), [](const auto& c) { return c.returned != nullptr; }), 1);
    one->Dispose();
    EXPECT_EQ(entries->get_Item(0).get(), one.get());
    expectDisposed([&] { one->get_DN(); }, "get_DN");
    expectDisposed([&] { one->Delete(); }, "Delete");
    expectDisposed([&] { attributes->get_Count(); }, "its attributes");
    EXPECT_NO_THROW(entries->get_Item(1)->get_DN());
    EXPECT_FALSE(entries->get_IsSynchronized());
    EXPECT_EQ(&entries->get_SyncRoot(), entries.get());
}

// ---- CopyTo --------------------------------------------------------------------------------------------

TEST_F(EntryTest, CopyToChecksItsArgumentsBeforeWritingAnything) {
    for (const auto* cn : {"X", "Y", "Z"}) addPerson(cn, base);
    enum class Outcome { Copied, OutOfRange, NoRoom, NegativeIndex };
    struct Case {
        std::size_t length;
        std::int32_t index;
        Outcome outcome;
    };
    const Case cases[] = {
        {3, 0, Outcome::Copied},         {5, 2, Outcome::Copied},         {4, 1, Outcome::Copied},
        {2, 0, Outcome::NoRoom},         {4, 2, Outcome::NoRoom},         {3, 1, Outcome::NoRoom},
        {3, 3, Outcome::OutOfRange},     {0, 0, Outcome::OutOfRange},     {3, INT_MAX, Outcome::OutOfRange},
        {4, -1, Outcome::NegativeIndex}, {2, -1, Outcome::NegativeIndex}, {3, INT_MIN, Outcome::NegativeIndex},
        {1, -1, Outcome::NoRoom},  // a negative start widens the room it measures, and too little is reported first
    };
    // A collection whose entries were never asked for copies all of them.
    for (const auto& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length) + " index " + std::to_string(c.index));
        auto entries = client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
        std::vector<std::shared_ptr<Entry>> array(c.length);
        auto copy = [&] { entries->CopyTo(array, c.index); };
        switch (c.outcome) {
            case Outcome::Copied:
                copy();
                break;
            case Outcome::OutOfRange:
                expectThrowsExactly<ArgumentOutOfRangeException>(copy);
                break;
            case Outcome::NoRoom:
                expectThrowsExactly<ArgumentException>(copy);
                break;
            case Outcome::NegativeIndex:
                expectThrowsExactly<IndexOutOfRangeException>(copy);
                break;
        }
        for (std::size_t i = 0; i < c.length; ++i) {
            const bool written = c.outcome == Outcome::Copied && i >= static_cast<std::size_t>(c.index) &&
                                 i < static_cast<std::size_t>(c.index) + 3;
            if (written) {
                EXPECT_EQ(array[i].get(), entries->get_Item(static_cast<std::int32_t>(i) - c.index).get()) << i;
            } else {
                EXPECT_EQ(array[i], nullptr) << i;
            }
        }
    }
    // After a deletion the list is one shorter: three places are then enough from index 1.
    auto entries = client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
    entries->get_Item(0)->Delete();
    std::vector<std::shared_ptr<Entry>> array(3);
    entries->CopyTo(array, 1);
    EXPECT_EQ(array[0], nullptr);
    EXPECT_EQ(array[1].get(), entries->get_Item(0).get());
    EXPECT_EQ(array[2].get(), entries->get_Item(1).get());

    // An empty collection: a start at the end is out of range even for an empty array.
    auto none = client->Search(base, "(cn=Nobody)");
    std::vector<std::shared_ptr<Entry>> empty;
    expectThrowsExactly<ArgumentOutOfRangeException>([&] { none->CopyTo(empty, 0); });
    std::vector<std::shared_ptr<Entry>> one(1);
    EXPECT_NO_THROW(none->CopyTo(one, 0));
    EXPECT_EQ(one[0], nullptr);
}

}  // namespace
}  // namespace Varnel::Ldap
