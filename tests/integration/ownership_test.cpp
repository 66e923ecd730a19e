// Ownership of one search's objects: the result chain is released exactly once, any object a caller keeps
// keeps its parents, the chain and the connection alive and keeps working, the connection of a client
// dropped without Dispose goes with the last object of its searches, and disposing a collection retires
// everything under it.
#include <gtest/gtest.h>
#include <ldap.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <varnel/ldap.hpp>
#include <vector>

#include "client/client_access.hpp"
#include "entry_search_support.hpp"
#include "model/search_result.hpp"

namespace Varnel::Ldap {
namespace {

using testing::bytesOf;
using testing::expectDeleted;
using testing::expectDisposed;
using testing::expectNotConnected;
using testing::expectThrowsExactly;

using Values = std::vector<ByteArray>;

class OwnershipTest : public testing::DirectoryTest {
protected:
    /// A person with a two-valued description, and the handles of a search that reaches every level of it.
    struct Handles {
        std::shared_ptr<EntryCollection> entries;
        std::shared_ptr<Entry> entry;
        std::shared_ptr<AttributeCollection> attributes;
        std::shared_ptr<Attribute> attribute;
        std::shared_ptr<ValueCollection> values;
        std::shared_ptr<Value> value;
        std::shared_ptr<Value> second;
    };
    Handles searchPerson(const std::string& dn) {
        Handles h;
        h.entries = client->Search(dn, "(objectClass=*)", Scope::Base);
        h.entry = h.entries->get_Item(0);
        h.attributes = h.entry->get_Attributes();
        h.attribute = h.attributes->get_Item("description");
        h.values = h.attribute->get_Values();
        h.value = h.values->get_Item(0);
        h.second = h.values->get_Item(1);
        return h;
    }
};

// ---- SearchResult --------------------------------------------------------------------------------------

TEST_F(OwnershipTest, SearchResultReleasesARealChainExactlyOnce) {
    LDAP* ld = ClientAccess::connection(*client)->GetLDAP();
    ASSERT_NE(ld, nullptr);
    for (int disposals : {0, 1, 2, 3}) {
        SCOPED_TRACE(disposals);
        LDAPMessage* chain = nullptr;
        ASSERT_EQ(api->ldap_search_ext_s(ld, server.suffix().c_str(), LDAP_SCOPE_ONELEVEL, "(objectClass=*)", nullptr,
                                         0, nullptr, nullptr, nullptr, 0, &chain),
                  LDAP_SUCCESS);
        ASSERT_NE(chain, nullptr);
        {
            SearchResult result(*api, chain);
            EXPECT_EQ(result.GetMessageW(), chain);
            EXPECT_GT(api->ldap_count_entries(ld, result.GetMessageW()), 1);
            for (int i = 0; i < disposals; ++i) {
                result.Dispose();
                EXPECT_EQ(releases(chain), 1u) << "after Dispose " << i + 1;
                expectDisposed([&] { result.GetMessageW(); });
            }
            if (disposals == 0) {
                EXPECT_EQ(releases(chain), 0u);
            }
        }
        EXPECT_EQ(releases(chain), 1u) << "after destruction";
    }
}

TEST_F(OwnershipTest, SearchResultWithoutAChainReleasesNothing) {
    api->clear();
    {
        SearchResult result(*api, nullptr);
        EXPECT_EQ(result.GetMessageW(), nullptr);
        result.Dispose();
        expectDisposed([&] { result.GetMessageW(); });
    }
    EXPECT_EQ(api->count("ldap_msgfree"), 0u);
}

// ---- the tree ------------------------------------------------------------------------------------------

TEST_F(OwnershipTest, AnyOneHandleKeepsTheWholeSearchAliveAndTheChainGoesWithTheLast) {
    const auto dn = addPerson("Keeper", base, "description: first\ndescription: second\n");

    // Each case keeps one handle, drops all others, still uses the kept one, then drops it.
    using Keep = std::function<std::function<void()>(Handles&)>;
    struct Case {
        const char* kept;
        Keep keep;
    };
    const Case cases[] = {
        {"entry collection",
         [](Handles& h) {
             return [e = h.entries] {
                 EXPECT_EQ(
                     e->get_Item(0)->get_Attributes()->get_Item("sn")->get_Values()->get_Item(0)->get_StringValue(),
                     "Keeper");
             };
         }},
        {"entry",
         [](Handles& h) { return [e = h.entry] { EXPECT_TRUE(e->get_Attributes()->Exists("description")); }; }},
        {"attribute collection",
         [](Handles& h) {
             return [a = h.attributes] { EXPECT_EQ(a->get_Item("description")->get_Name(), "description"); };
         }},
        {"attribute", [](Handles& h) { return [a = h.attribute] { EXPECT_EQ(a->get_Values()->get_Count(), 2); }; }},
        {"value collection",
         [](Handles& h) { return [v = h.values] { EXPECT_EQ(v->get_Item(1)->get_StringValue(), "second"); }; }},
        {"value", [](Handles& h) { return [v = h.value] { EXPECT_EQ(v->get_StringValue(), "first"); }; }},
        {"entry enumerator",
         [](Handles& h) {
             std::shared_ptr<Enumerator<Entry>> e = h.entries->GetEnumerator();
             return [e] {
                 ASSERT_TRUE(e->MoveNext());
                 EXPECT_EQ(
                     e->get_Current()->get_Attributes()->get_Item("cn")->get_Values()->get_Item(0)->get_StringValue(),
                     "Keeper");
                 EXPECT_FALSE(e->MoveNext());
             };
         }},
        {"attribute enumerator",
         [](Handles& h) {
             std::shared_ptr<Enumerator<Attribute>> e = h.attributes->GetEnumerator();
             return [e] {
                 int n = 0;
                 while (e->MoveNext()) n += e->get_Current()->get_Values()->get_Count();
                 EXPECT_GE(n, 5);  // objectClass, cn, sn, two descriptions
             };
         }},
        {"value enumerator",
         [](Handles& h) {
             std::shared_ptr<Enumerator<Value>> e = h.values->GetEnumerator();
             return [e] {
                 ASSERT_TRUE(e->MoveNext());
                 ASSERT_TRUE(e->MoveNext());
                 EXPECT_EQ(e->get_Current()->get_StringValue(), "second");
             };
         }},
        {"range-for iterator",
         [](Handles& h) {
             auto it = std::make_shared<EnumeratorIterator<Value>>(h.values->begin());
             return [it] { EXPECT_EQ((**it)->get_StringValue(), "first"); };
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        api->clear();
        auto h = searchPerson(dn);
        const void* chain = lastChain();
        auto use = c.keep(h);
        h = Handles{};
        EXPECT_EQ(releases(chain), 0u);
        use();
        EXPECT_EQ(releases(chain), 0u);
        use = nullptr;  // the last handle goes with the function
        EXPECT_EQ(releases(chain), 1u);
    }
}

TEST_F(OwnershipTest, ACollectionNeverReadReleasesItsChainWhenDropped) {
    addPerson("Unread", base);
    api->clear();
    auto entries = client->Search(base, "(objectClass=*)");
    const void* chain = lastChain();
    entries.reset();
    EXPECT_EQ(releases(chain), 1u);
    EXPECT_EQ(api->count("ldap_first_entry"), 0u);  // nothing was built
}

TEST_F(OwnershipTest, ValuesKeptAloneWriteThroughAndTheirDeletionsTravelUpTheDroppedTree) {
    const auto dn = addPerson("Alone", base, "description: a\ndescription: b\ntitle: kept\n");
    auto h = searchPerson(dn);
    const void* chain = lastChain();
    auto a = h.value;
    auto b = h.second;
    h = Handles{};
    client.reset();  // dropped without Dispose: the connection stays with the objects
    EXPECT_EQ(api->count("ldap_unbind"), 0u);

    // With two values held by the collection, a change is an addition and a deletion in one request.
    api->clear();
    a->set_StringValue("a2");
    ASSERT_EQ(api->count("ldap_modify_s"), 1u);
    EXPECT_EQ(api->callsTo("ldap_modify_s")[0].mods.size(), 2u);
    auto description = serverValues(dn, "description");
    std::sort(description.begin(), description.end());
    EXPECT_EQ(description, (Values{bytesOf("a2"), bytesOf("b")}));

    // Deleting a reaches the value collection, which drops it: b is now the only value, so its change is a
    // replace.
    a->Delete();
    expectDeleted([&] { a->get_StringValue(); });
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("b")});
    api->clear();
    b->set_StringValue("b2");
    ASSERT_EQ(api->count("ldap_modify_ext_s"), 1u);
    EXPECT_EQ(api->callsTo("ldap_modify_ext_s")[0].mods.at(0).op, LDAP_MOD_REPLACE | LDAP_MOD_BVALUES);
    EXPECT_EQ(api->count("ldap_modify_s"), 0u);
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("b2")});

    // Deleting the last value travels through the attribute to the attribute collection.
    b->Delete();
    expectDeleted([&] { b->get_BinaryValue(); });
    EXPECT_TRUE(serverValues(dn, "description").empty());
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("kept")});

    EXPECT_EQ(api->count("ldap_unbind"), 0u);
    EXPECT_EQ(releases(chain), 0u);
    a.reset();
    EXPECT_EQ(api->count("ldap_unbind"), 0u);
    b.reset();
    EXPECT_EQ(api->count("ldap_unbind"), 1u);
    EXPECT_EQ(releases(chain), 1u);
}

TEST_F(OwnershipTest, TheConnectionOfADroppedClientGoesWithItsLastObject) {
    addPerson("Conn", base);
    struct Case {
        const char* name;
        bool clientFirst;
    };
    for (const Case c : {Case{"client dropped first", true}, Case{"objects dropped first", false}}) {
        SCOPED_TRACE(c.name);
        auto recording = std::make_shared<testing::RecordingLdapApi>();
        auto owner = testing::rootClient(recording);
        auto first = owner->Search(base, "(objectClass=*)");
        auto second = owner->Search(base, "(cn=Conn)", Scope::OneLevel);
        auto entry = second->get_Item(0);
        second.reset();
        if (c.clientFirst) {
            owner.reset();
            EXPECT_EQ(recording->count("ldap_unbind"), 0u);
            // Still connected: a collection that was never read builds its entries now.
            EXPECT_EQ(first->get_Count(), 2);
            EXPECT_EQ(first->get_Item(1)->get_DN(), "cn=Conn," + base);
            first.reset();
            EXPECT_EQ(recording->count("ldap_unbind"), 0u);
            EXPECT_EQ(entry->get_Attributes()->get_Item("sn")->get_Values()->get_Item(0)->get_StringValue(), "Conn");
            entry.reset();
            EXPECT_EQ(recording->count("ldap_unbind"), 1u);
        } else {
            first.reset();
            entry.reset();
            EXPECT_EQ(recording->count("ldap_unbind"), 0u);
            owner.reset();
            EXPECT_EQ(recording->count("ldap_unbind"), 1u);
        }
    }
}

TEST_F(OwnershipTest, ClientDisposeClosesTheConnectionUnderLiveObjects) {
    const auto dn = addPerson("Closed", base, "description: d\ndescription: e\n");
    auto entries = client->Search(base, "(objectClass=*)");
    auto h = searchPerson(dn);
    client->Dispose();
    EXPECT_EQ(api->count("ldap_unbind"), 1u);
    api->clear();
    // What is in memory still reads; what needs the server, or the handle, is refused.
    EXPECT_EQ(h.value->get_StringValue(), "d");
    EXPECT_EQ(h.entry->get_DN(), dn);
    expectNotConnected([&] { h.value->set_StringValue("f"); }, "set_StringValue");
    expectNotConnected([&] { h.second->Delete(); }, "Value::Delete");
    expectNotConnected([&] { h.entry->Delete(); }, "Delete");
    expectNotConnected([&] { entries->get_Item(0); }, "get_Item of an unread collection");
    expectNotConnected([&] { entries->get_Count(); }, "get_Count of an uncounted collection");
    EXPECT_TRUE(api->calls().empty()) << api->calls().front().function;
    EXPECT_EQ(h.value->get_StringValue(), "d");
    EXPECT_EQ(h.values->get_Count(), 2);
    EXPECT_EQ(serverValues(dn, "description"), (Values{bytesOf("d"), bytesOf("e")}));
    h = Handles{};
    entries.reset();
    EXPECT_EQ(api->count("ldap_unbind"), 0u);  // released once, by Dispose
}

// ---- disposal ------------------------------------------------------------------------------------------

TEST_F(OwnershipTest, DisposingTheCollectionRetiresEveryObjectUnderIt) {
    const auto dn = addPerson("Retired", base, "description: one\ndescription: two\n");
    auto h = searchPerson(dn);
    std::shared_ptr<Enumerator<Entry>> entryEnumerator = h.entries->GetEnumerator();
    std::shared_ptr<Enumerator<Value>> valueEnumerator = h.values->GetEnumerator();
    api->clear();

    h.entries->Dispose();
    h.entries->Dispose();  // a second time does nothing more
    expectDisposed([&] { h.entries->get_Count(); }, "get_Count");
    expectDisposed([&] { h.entries->get_Item(0); }, "get_Item");
    expectDisposed([&] { h.entries->GetEnumerator(); }, "GetEnumerator");
    expectDisposed([&] { h.entries->SortBy("cn"); }, "SortBy");
    expectDisposed([&] { h.entries->ClearSort(); }, "ClearSort");
    {
        std::vector<std::shared_ptr<Entry>> room(2);
        expectDisposed([&] { h.entries->CopyTo(room, 0); }, "CopyTo");
        EXPECT_EQ(room[0], nullptr);
        expectThrowsExactly<ArgumentOutOfRangeException>([&] { h.entries->CopyTo(room, 2); }, "CopyTo past the end");
    }
    EXPECT_FALSE(h.entries->get_IsSynchronized());
    EXPECT_EQ(&h.entries->get_SyncRoot(), h.entries.get());
    expectThrowsExactly<InvalidOperationException>([&] { entryEnumerator->MoveNext(); }, "entry enumerator");

    expectDisposed([&] { h.entry->get_DN(); }, "Entry::get_DN");
    expectDisposed([&] { h.entry->get_Attributes(); }, "Entry::get_Attributes");
    expectDisposed([&] { h.entry->Delete(); }, "Entry::Delete");
    expectDisposed([&] { h.entry->Move(base); }, "Entry::Move");
    expectDisposed([&] { h.entry->Rename("cn=Other"); }, "Entry::Rename");
    expectDisposed([&] { h.attributes->Exists("cn"); }, "AttributeCollection::Exists");
    expectDisposed([&] { h.attributes->Add("title", "t"); }, "AttributeCollection::Add");
    expectDisposed([&] { h.attribute->get_Name(); }, "Attribute::get_Name");
    expectDisposed([&] { h.attribute->Delete(); }, "Attribute::Delete");
    expectDisposed([&] { h.values->get_Count(); }, "ValueCollection::get_Count");
    expectDisposed([&] { h.values->Add("three"); }, "ValueCollection::Add");
    expectDisposed([&] { h.value->get_StringValue(); }, "Value::get_StringValue");
    expectDisposed([&] { h.second->set_StringValue("2"); }, "Value::set_StringValue");
    expectDisposed([&] { h.second->Delete(); }, "Value::Delete");
    // The value enumerator hands out the retired value, which refuses.
    ASSERT_TRUE(valueEnumerator->MoveNext());
    expectDisposed([&] { valueEnumerator->get_Current()->get_RawByteSize(); }, "enumerated value");

    // Disposing a retired object again is harmless.
    EXPECT_NO_THROW(h.entry->Dispose());
    EXPECT_NO_THROW(h.attributes->Dispose());
    EXPECT_NO_THROW(h.attribute->Dispose());
    EXPECT_NO_THROW(h.values->Dispose());
    EXPECT_NO_THROW(h.value->Dispose());
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_EQ(serverValues(dn, "description"), (Values{bytesOf("one"), bytesOf("two")}));
}

}  // namespace
}  // namespace Varnel::Ldap
