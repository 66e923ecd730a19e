// Attributes and attribute collections against the test server: real data (base64 values, language
// options, mixed letter case), adding under new and existing names (the merge keeps the exact bytes),
// deleting, the routes by which deletions and disposal travel through the tree, refusals that change
// nothing (real and injected), enumeration over a snapshot, CopyTo, and a closed connection.
#include <gtest/gtest.h>

#include <ldap.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <varnel/ldap.hpp>

#include "value_attribute_support.hpp"

namespace Varnel::Ldap {
namespace {

using testing::bytesOf;
using testing::ldifNames;
using testing::ModelTest;
using testing::RecordingLdapApi;
using testing::sorted;
using testing::textOf;

using Strings = std::vector<std::string>;
using Values = std::vector<ByteArray>;

constexpr int kAdd = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
constexpr int kDelete = LDAP_MOD_DELETE | LDAP_MOD_BVALUES;

class AttributeTest : public ModelTest {
protected:
    static Strings names(AttributeCollection& attributes) {
        Strings out;
        for (int i = 0; i < attributes.get_Count(); ++i) out.push_back(attributes.get_Item(i)->get_Name());
        return out;
    }
    static Strings texts(Attribute& attribute) {
        Strings out;
        auto values = attribute.get_Values();
        for (auto v : *values) out.push_back(v->get_StringValue());
        return out;
    }
    static Strings without(Strings list, const std::string& name) {
        std::erase(list, name);
        return list;
    }
};

// ---- real data -----------------------------------------------------------------------------------------

TEST_F(AttributeTest, NamesWithLanguageOptionsAreFoundInAnyLetterCase) {
    const auto ldif = server.ldapsearch(server.langSuffix(), "base", "(objectClass=*)");
    auto attributes = entryAt(server.langSuffix())->get_Attributes();
    // The collection lists the names as the server sent them, in its order.
    EXPECT_EQ(names(*attributes), ldifNames(ldif));

    struct Case {
        Strings spellings;  // all name the same attribute
        Strings values;
    };
    const Case cases[] = {
        {{"name;lang-en-US", "NAME;LANG-EN-US", "Name;Lang-En-Us"}, {"Billy Ray", "Billy Bob"}},
        // The server lists options in its own order: sn;lang-en-gb;lang-en-us.
        {{"sn;lang-en-gb;lang-en-us", "SN;lang-en-GB;lang-en-US", "Sn;LANG-EN-GB;Lang-en-us"}, {"Billy Ray"}},
        {{"CN;lang-en-US", "cn;lang-en-us", "Cn;Lang-En-Us"}, {"Billy Ray"}},
        {{"o;lang-x;lang-xx;lang-y;lang-yy;lang-z;lang-zz", "O;LANG-X;LANG-XX;LANG-Y;LANG-YY;LANG-Z;LANG-ZZ"},
         {"Example, Inc."}},
        {{"sn", "SN", "sN"}, {"Ray"}},
        {{"name", "NAME"}, {"Billy Ray"}},
        {{"o", "O"}, {"Example, Inc."}},
        {{"DC", "dc"}, {"example"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spellings[0]);
        auto first = attributes->get_Item(c.spellings[0]);
        ASSERT_NE(first, nullptr);
        for (const auto& spelling : c.spellings) {
            EXPECT_EQ(attributes->get_Item(spelling).get(), first.get()) << spelling;
            EXPECT_EQ((*attributes)[spelling].get(), first.get()) << spelling;
            EXPECT_TRUE(attributes->Exists(spelling)) << spelling;
        }
        EXPECT_EQ(texts(*first), c.values);
        // The name is the server's spelling.
        bool listed = false;
        for (const auto& n : ldifNames(ldif)) listed = listed || n == first->get_Name();
        EXPECT_TRUE(listed) << first->get_Name();
    }
    // Options are part of the name: these are other names, which the entry does not have.
    for (const std::string missing : {"cn", "sn;lang-en-GB", "name;lang-en", "name;lang-en-US;lang-en-GB", "nosuch"}) {
        EXPECT_EQ(attributes->get_Item(missing), nullptr) << missing;
        EXPECT_FALSE(attributes->Exists(missing)) << missing;
    }
    EXPECT_NE(attributes->get_Item("sn").get(), attributes->get_Item("sn;lang-en-gb;lang-en-us").get());
    EXPECT_NE(attributes->get_Item("o").get(),
              attributes->get_Item("O;LANG-X;LANG-XX;LANG-Y;LANG-YY;LANG-Z;LANG-ZZ").get());
}

TEST_F(AttributeTest, Base64AndNonAsciiValuesHoldTheServersBytes) {
    const std::string barbara = "cn=Barbara Jensen,ou=Information Technology Division,ou=People,dc=example,dc=com";
    const std::string division = "ou=Information Technology Division,ou=People,dc=example,dc=com";
    const std::string bjorn = "cn=Bjorn Jensen,ou=Information Technology Division,ou=People,dc=example,dc=com";

    // sn:: IEplbnNlbiA= is " Jensen ", spaces kept.
    auto sn = entryAt(barbara)->get_Attributes()->get_Item("sn");
    EXPECT_EQ(texts(*sn), Strings{" Jensen "});
    EXPECT_EQ(testing::memoryValues(*sn), serverValues(barbara, "sn"));
    EXPECT_EQ(texts(*entryAt(barbara)->get_Attributes()->get_Item("cn")), (Strings{"Barbara Jensen", "Babs Jensen"}));

    // Two long base64 descriptions of non-ASCII UTF-8 text.
    auto description = entryAt(division)->get_Attributes()->get_Item("description");
    const auto expected = serverValues(division, "description");
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(testing::memoryValues(*description), expected);
    for (int i = 0; i < 2; ++i) {
        const auto& bytes = expected[static_cast<std::size_t>(i)];
        EXPECT_GT(bytes.size(), 1000u);
        EXPECT_NE(std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x80; }), bytes.end());
        EXPECT_EQ(description->get_Values()->get_Item(i)->get_StringValue(), textOf(bytes));
    }

    // userPassword:: Ympvcm4= is "bjorn".
    EXPECT_EQ(texts(*entryAt(bjorn)->get_Attributes()->get_Item("userPassword")), Strings{"bjorn"});

    // Every attribute of every entry of test.ldif equals what the server holds.
    auto entries = client->Search(server.suffix(), "(objectClass=*)", Scope::SubTree);
    int checked = 0;
    for (auto entry : *entries) {
        if (entry->get_DN().find("ou=tests") != std::string::npos) continue;
        const auto ldif = server.ldapsearch(entry->get_DN(), "base", "(objectClass=*)");
        auto attributes = entry->get_Attributes();
        EXPECT_EQ(names(*attributes), ldifNames(ldif)) << entry->get_DN();
        for (auto attribute : *attributes)
            EXPECT_EQ(testing::memoryValues(*attribute), testing::ldifValues(ldif, attribute->get_Name()))
                << entry->get_DN() << " " << attribute->get_Name();
        ++checked;
    }
    EXPECT_GE(checked, 19);
}

TEST_F(AttributeTest, MissingNamesAndPositionsOutsideTheCollection) {
    const auto dn = addPerson("Lookups", "sn: S\ntitle: t\n");
    auto attributes = entryAt(dn)->get_Attributes();
    const int count = attributes->get_Count();
    EXPECT_EQ(attributes->get_Item("description"), nullptr);
    EXPECT_EQ((*attributes)["description"], nullptr);
    EXPECT_FALSE(attributes->Exists("description"));
    for (int index : {-1, count, count + 1, INT_MIN, INT_MAX}) {
        testing::expectOutOfBounds([&] { attributes->get_Item(index); }, std::to_string(index));
        testing::expectOutOfBounds([&] { (*attributes)[index]; }, "operator[] " + std::to_string(index));
    }
    EXPECT_EQ(attributes->get_Count(), count);
    EXPECT_FALSE(attributes->get_IsSynchronized());
    EXPECT_EQ(&attributes->get_SyncRoot(), attributes.get());
}

// An entry with many attributes: lookups, deletion and merging stay right past the size at which the
// store starts to index names.
TEST_F(AttributeTest, ALargeStoreFindsRemovesAndMergesByName) {
    const Strings extra = {"title", "description", "telephoneNumber", "mail", "l", "st", "street", "postalCode",
                           "ou", "employeeNumber", "employeeType", "departmentNumber", "displayName", "givenName",
                           "initials", "mobile", "pager", "roomNumber", "carLicense", "homePhone",
                           "businessCategory", "postalAddress", "facsimileTelephoneNumber"};
    std::string ldif = "sn: S\n";
    for (const auto& name : extra) ldif += name + ": " + name + "-value\n";
    const auto dn = addPerson("Wide", ldif);
    auto attributes = entryAt(dn)->get_Attributes();
    ASSERT_GT(attributes->get_Count(), 24);
    EXPECT_EQ(names(*attributes), ldifNames(server.ldapsearch(dn, "base", "(objectClass=*)")));
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return s;
    };
    for (const auto& name : extra) {
        SCOPED_TRACE(name);
        auto attribute = attributes->get_Item(upper(name));
        ASSERT_NE(attribute, nullptr);
        EXPECT_EQ(attribute->get_Name(), name);
        EXPECT_EQ(texts(*attribute), Strings{name + "-value"});
    }
    EXPECT_EQ(attributes->get_Item("audio"), nullptr);  // a name no entry of the result has
    EXPECT_FALSE(attributes->Exists("secretary"));

    const int count = attributes->get_Count();
    attributes->get_Item("pager")->Delete();
    EXPECT_EQ(attributes->get_Count(), count - 1);
    EXPECT_FALSE(attributes->Exists("Pager"));
    EXPECT_TRUE(serverValues(dn, "pager").empty());
    EXPECT_EQ(attributes->get_Item("roomNumber")->get_Name(), "roomNumber");  // the others are still found

    auto merged = attributes->Add("MOBILE", "second");
    EXPECT_EQ(merged.get(), attributes->get_Item("mobile").get());
    EXPECT_EQ(texts(*merged), (Strings{"mobile-value", "second"}));
    auto added = attributes->Add("Pager", "again");
    EXPECT_EQ(attributes->get_Count(), count);
    EXPECT_EQ(attributes->get_Item("PAGER").get(), added.get());
    EXPECT_EQ(names(*attributes).back(), "Pager");
    EXPECT_EQ(serverValues(dn, "pager"), Values{bytesOf("again")});
}

// The attributes are read from the entry message in one pass; a message that cannot be read further ends
// the collection where it stops, and a message that cannot be read at all gives an empty one.
TEST_F(AttributeTest, AnEntryMessageThatStopsPartwayGivesTheAttributesReadUpToThere) {
    const auto dn = addPerson("Partway", "sn: S\ntitle: t\ndescription: d\n");
    const Strings all = ldifNames(server.ldapsearch(dn, "base", "(objectClass=*)"));
    ASSERT_GE(all.size(), 4u);
    for (int stop = 1; stop <= 3; ++stop) {
        SCOPED_TRACE(stop);
        auto entry = entryAt(dn);
        api->failCall("ldap_get_attribute_ber", stop, LDAP_DECODING_ERROR);
        auto attributes = entry->get_Attributes();
        EXPECT_EQ(names(*attributes), Strings(all.begin(), all.begin() + (stop - 1)));
    }
    auto entry = entryAt(dn);
    api->failCall("ldap_get_dn_ber", 1, LDAP_DECODING_ERROR);
    EXPECT_EQ(entry->get_Attributes()->get_Count(), 0);
    EXPECT_EQ(api->pendingFaults(), 0u);
}

// ---- adding --------------------------------------------------------------------------------------------

TEST_F(AttributeTest, AddUnderANewNameCreatesItOnTheServerAndAppendsIt) {
    const auto dn = addPerson("NewName", "sn: S\n");
    const auto file = writeFile("phone", bytesOf("+1 555 0100"));
    auto attributes = entryAt(dn)->get_Attributes();

    struct Case {
        const char* name;  // in the caller's letter case
        std::function<std::shared_ptr<Attribute>()> add;
        const char* text;
    };
    const Case cases[] = {
        {"Description", [&] { return attributes->Add("Description", "first words"); }, "first words"},
        {"TelephoneNumber", [&] { return attributes->AddFromFile("TelephoneNumber", file); }, "+1 555 0100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = names(*attributes);
        api->clear();
        auto added = c.add();
        const auto changes = serverChanges();
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].function, "ldap_modify_s");
        EXPECT_EQ(changes[0].dn, dn);
        ASSERT_EQ(changes[0].mods.size(), 1u);
        EXPECT_EQ(changes[0].mods[0].op, kAdd);
        EXPECT_EQ(changes[0].mods[0].type, c.name);
        EXPECT_EQ(changes[0].mods[0].values, Strings{c.text});

        EXPECT_EQ(added->get_Name(), c.name);
        EXPECT_EQ(texts(*added), Strings{c.text});
        auto expectedNames = before;
        expectedNames.push_back(c.name);
        EXPECT_EQ(names(*attributes), expectedNames);
        EXPECT_EQ(attributes->get_Item(attributes->get_Count() - 1).get(), added.get());
        std::shared_ptr<Attribute> last;
        for (auto a : *attributes) last = a;
        EXPECT_EQ(last.get(), added.get());
        EXPECT_EQ(serverValues(dn, c.name), Values{bytesOf(c.text)});
    }
    // The new attribute writes through like one read from the server.
    attributes->get_Item("description")->get_Values()->get_Item(0)->set_StringValue("changed");
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("changed")});
}

TEST_F(AttributeTest, AddUnderAnExistingNameMergesIntoTheAttributeHeld) {
    const auto dn = addPerson("Merge", "sn: S\ndescription: alpha\n");
    auto attributes = entryAt(dn)->get_Attributes();
    auto held = attributes->get_Item("description");
    const auto count = attributes->get_Count();

    api->clear();
    auto merged = attributes->Add("DESCRIPTION", "bravo");
    ASSERT_EQ(serverChanges().size(), 1u);
    EXPECT_EQ(serverChanges()[0].mods.at(0).type, "DESCRIPTION");
    EXPECT_EQ(merged.get(), held.get());
    EXPECT_EQ(merged->get_Name(), "description");
    EXPECT_EQ(attributes->get_Count(), count);
    EXPECT_EQ(texts(*held), (Strings{"alpha", "bravo"}));
    EXPECT_EQ(sorted(serverValues(dn, "description")), sorted({bytesOf("alpha"), bytesOf("bravo")}));

    // The merged value belongs to the attribute held: it changes (add-and-remove, two values) and deletes.
    auto bravo = held->get_Values()->get_Item(1);
    api->clear();
    bravo->set_StringValue("beta");
    EXPECT_EQ(api->callsTo("ldap_modify_s").at(0).mods.at(1).values, Strings{"bravo"});
    bravo->Delete();
    EXPECT_EQ(held->get_Values()->get_Count(), 1);
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("alpha")});
}

// The server takes the file's bytes; the value listed under the attribute held must hold the same bytes,
// also when they are not text in the client's encoding.
TEST_F(AttributeTest, AddFromFileUnderAnExistingNameKeepsTheFilesExactBytes) {
    const auto dn = addPerson("MergeBinary", "sn: S\nuserPassword: first-secret\n");
    const auto bytes = binaryPhoto();
    const auto file = writeFile("secret.bin", bytes);
    auto attributes = entryAt(dn)->get_Attributes();
    auto held = attributes->get_Item("userPassword");

    auto merged = attributes->AddFromFile("USERPASSWORD", file);
    EXPECT_EQ(merged.get(), held.get());
    auto values = held->get_Values();
    ASSERT_EQ(values->get_Count(), 2);
    auto added = values->get_Item(1);
    EXPECT_EQ(added->get_BinaryValue(), bytes);
    EXPECT_EQ(added->get_RawByteSize(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(sorted(serverValues(dn, "userPassword")), sorted({bytesOf("first-secret"), bytes}));
    const auto out = (files / "out.bin").string();
    added->WriteToFile(out);
    EXPECT_EQ(readBytes(out), bytes);

    // Deleting it sends exactly those bytes, and the server finds the value by them.
    api->clear();
    added->Delete();
    EXPECT_EQ(api->callsTo("ldap_modify_s").at(0).mods.at(0).values, Strings{textOf(bytes)});
    EXPECT_EQ(serverValues(dn, "userPassword"), Values{bytesOf("first-secret")});
}

TEST_F(AttributeTest, RealRefusalsChangeNothing) {
    const auto dn = addPerson("Refusals", "sn: S\ndescription: alpha\n");
    auto attributes = entryAt(dn)->get_Attributes();
    const auto before = testing::snapshot(*attributes);
    const auto serverBefore = server.ldapsearch(dn, "base", "(objectClass=*)");

    testing::expectRefused([&] { attributes->Add("description", "ALPHA"); }, LDAP_TYPE_OR_VALUE_EXISTS);
    testing::expectRefused([&] { attributes->Add("noSuchAttributeType", "x"); }, LDAP_UNDEFINED_TYPE);
    // The naming attribute and a required one cannot go.
    testing::expectRefused([&] { attributes->get_Item("cn")->Delete(); }, LDAP_NAMING_VIOLATION);
    testing::expectRefused([&] { attributes->get_Item("sn")->Delete(); }, LDAP_OBJECT_CLASS_VIOLATION);

    EXPECT_EQ(testing::snapshot(*attributes), before);
    EXPECT_FALSE(attributes->Exists("noSuchAttributeType"));
    EXPECT_FALSE(attributes->get_Item("cn")->get_IsDeleted());
    EXPECT_EQ(server.ldapsearch(dn, "base", "(objectClass=*)"), serverBefore);
}

// ---- deleting and the routes through the tree ----------------------------------------------------------

TEST_F(AttributeTest, DeleteSendsOneValuelessDeleteAndMarksEveryValueDeleted) {
    const auto dn = addPerson("DeleteAttr",
                              "sn: S\ndescription: alpha\ndescription: bravo\ndescription: charlie\n"
                              "title: t\n");
    const auto in = writeFile("in", bytesOf("x"));
    const auto out = (files / "out").string();
    auto attributes = entryAt(dn)->get_Attributes();
    const auto namesBefore = names(*attributes);
    auto description = attributes->get_Item("description");
    auto values = description->get_Values();
    std::vector<std::shared_ptr<Value>> held;
    for (auto v : *values) held.push_back(v);
    auto snapshotWalker = attributes->GetEnumerator();

    api->clear();
    description->Delete();
    const auto changes = serverChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].function, "ldap_modify_s");
    EXPECT_EQ(changes[0].dn, dn);
    ASSERT_EQ(changes[0].mods.size(), 1u);
    EXPECT_EQ(changes[0].mods[0].op, LDAP_MOD_DELETE);
    EXPECT_EQ(changes[0].mods[0].type, "description");
    EXPECT_TRUE(changes[0].mods[0].valuesNull);
    EXPECT_TRUE(serverValues(dn, "description").empty());

    EXPECT_TRUE(description->get_IsDeleted());
    api->clear();
    testing::expectDeleted([&] { description->get_Name(); }, "get_Name");
    testing::expectDeleted([&] { description->get_Values(); }, "get_Values");
    testing::expectDeleted([&] { description->Delete(); }, "second Delete");
    EXPECT_TRUE(api->calls().empty());

    EXPECT_EQ(names(*attributes), without(namesBefore, "description"));
    EXPECT_FALSE(attributes->Exists("description"));
    EXPECT_EQ(attributes->get_Item("description"), nullptr);

    for (const auto& v : held)
        for (const auto& [name, op] : testing::valueOperations(in, out)) testing::expectDeleted([&] { op(*v); }, name);
    testing::expectDeleted([&] { values->get_Count(); }, "value collection");
    // CopyTo applies no guard: it still yields every value.
    std::vector<std::shared_ptr<Value>> array(3);
    values->CopyTo(array, 0);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(array[i].get(), held[i].get());

    // An enumerator made before still yields the deleted attribute.
    bool yielded = false;
    while (snapshotWalker->MoveNext()) yielded = yielded || snapshotWalker->get_Current().get() == description.get();
    EXPECT_TRUE(yielded);

    // A deleted attribute can be disposed; then it reports disposal.
    description->Dispose();
    testing::expectDisposed([&] { description->get_IsDeleted(); }, "get_IsDeleted");
}

// Once the server has removed the attribute, a value collection the caller disposed must not make Delete
// report a failure or leave the attribute listed.
TEST_F(AttributeTest, DeleteSucceedsWhenTheCallerDisposedTheValues) {
    const auto dn = addPerson("DeleteDisposed", "sn: S\ndescription: alpha\ntitle: t\n");
    auto attributes = entryAt(dn)->get_Attributes();
    auto description = attributes->get_Item("description");
    description->get_Values()->Dispose();
    EXPECT_NO_THROW(description->Delete());
    EXPECT_TRUE(serverValues(dn, "description").empty());
    EXPECT_TRUE(description->get_IsDeleted());
    EXPECT_FALSE(attributes->Exists("description"));
}

TEST_F(AttributeTest, DeletingTheOnlyValueRemovesTheAttributeOnce) {
    const auto dn = addPerson("LastValue", "sn: S\ntitle: only\ndescription: alpha\ncarLicense: XYZ\n");
    auto attributes = entryAt(dn)->get_Attributes();
    const auto namesBefore = names(*attributes);
    auto title = attributes->get_Item("title");
    auto values = title->get_Values();
    auto only = values->get_Item(0);

    api->clear();
    EXPECT_NO_THROW(only->Delete());
    const auto changes = serverChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].mods.at(0).op, kDelete);
    EXPECT_EQ(changes[0].mods.at(0).values, Strings{"only"});
    EXPECT_TRUE(serverValues(dn, "title").empty());

    // Gone from the collection exactly once: every other attribute is still there, in order.
    EXPECT_EQ(names(*attributes), without(namesBefore, "title"));
    EXPECT_FALSE(attributes->Exists("title"));
    EXPECT_EQ(attributes->get_Item("title"), nullptr);
    EXPECT_TRUE(title->get_IsDeleted());
    testing::expectDeleted([&] { title->get_Values(); }, "attribute");
    testing::expectDeleted([&] { values->get_Count(); }, "value collection");
    testing::expectDeleted([&] { only->get_StringValue(); }, "value");
    api->clear();
    testing::expectDeleted([&] { values->Add(std::string("late")); }, "Add to the deleted collection");
    EXPECT_TRUE(api->calls().empty());

    // The rest of the entry is untouched and still writes through.
    attributes->get_Item("carLicense")->get_Values()->get_Item(0)->set_StringValue("ABC");
    EXPECT_EQ(serverValues(dn, "carLicense"), Values{bytesOf("ABC")});
    // A new attribute of the removed name can be added again.
    auto again = attributes->Add("title", "again");
    EXPECT_NE(again.get(), title.get());
    EXPECT_EQ(texts(*attributes->get_Item("title")), Strings{"again"});
}

TEST_F(AttributeTest, DisposingAnAttributeReachesItsValuesAndNothingElse) {
    const auto dn = addPerson("DisposeAttr", "sn: S\ndescription: alpha\ndescription: bravo\ntitle: t\n");
    const auto in = writeFile("in", bytesOf("x"));
    const auto out = (files / "out").string();
    auto attributes = entryAt(dn)->get_Attributes();
    auto description = attributes->get_Item("description");
    auto values = description->get_Values();
    std::vector<std::shared_ptr<Value>> held;
    for (auto v : *values) held.push_back(v);
    auto title = attributes->get_Item("title");
    auto titleValue = title->get_Values()->get_Item(0);
    const auto count = attributes->get_Count();

    api->clear();
    description->Dispose();
    description->Dispose();
    EXPECT_TRUE(api->calls().empty());

    for (const auto& v : held)
        for (const auto& [name, op] : testing::valueOperations(in, out)) testing::expectDisposed([&] { op(*v); }, name);
    testing::expectDisposed([&] { values->get_Count(); }, "value collection");
    const std::pair<const char*, std::function<void()>> guarded[] = {
        {"Delete", [&] { description->Delete(); }},
        {"get_IsDeleted", [&] { description->get_IsDeleted(); }},
        {"get_Name", [&] { description->get_Name(); }},
        {"get_Values", [&] { description->get_Values(); }},
    };
    for (const auto& [name, op] : guarded) testing::expectDisposed(op, name);

    // Still listed by its collection, which is not disposed; its sibling is untouched.
    EXPECT_EQ(attributes->get_Count(), count);
    EXPECT_EQ(attributes->get_Item("description").get(), description.get());
    EXPECT_EQ(title->get_Name(), "title");
    EXPECT_EQ(titleValue->get_StringValue(), "t");
    titleValue->set_StringValue("still works");
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("still works")});
    EXPECT_EQ(sorted(serverValues(dn, "description")), sorted({bytesOf("alpha"), bytesOf("bravo")}));
}

TEST_F(AttributeTest, DisposingTheCollectionReachesEveryObjectBelowIt) {
    const auto dn = addPerson("DisposeAll", "sn: S\ndescription: alpha\ntitle: t\n");
    const auto file = writeFile("in", bytesOf("x"));
    auto entry = entryAt(dn);
    auto attributes = entry->get_Attributes();
    std::vector<std::shared_ptr<Attribute>> held;
    std::vector<std::shared_ptr<ValueCollection>> collections;
    std::vector<std::shared_ptr<Value>> values;
    for (auto a : *attributes) {
        held.push_back(a);
        collections.push_back(a->get_Values());
        for (auto v : *collections.back()) values.push_back(v);
    }

    attributes->Dispose();
    attributes->Dispose();
    const std::pair<const char*, std::function<void()>> guarded[] = {
        {"get_Count", [&] { attributes->get_Count(); }},
        {"get_Item by name", [&] { attributes->get_Item("title"); }},
        {"get_Item by position", [&] { attributes->get_Item(0); }},
        {"Exists", [&] { attributes->Exists("title"); }},
        {"GetEnumerator", [&] { attributes->GetEnumerator(); }},
        {"Add", [&] { attributes->Add("carLicense", "x"); }},
        {"AddFromFile", [&] { attributes->AddFromFile("carLicense", file); }},
    };
    api->clear();
    for (const auto& [name, op] : guarded) testing::expectDisposed(op, name);
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_FALSE(attributes->get_IsSynchronized());
    EXPECT_EQ(&attributes->get_SyncRoot(), attributes.get());
    for (const auto& a : held) testing::expectDisposed([&] { a->get_Name(); }, "attribute");
    for (const auto& c : collections) testing::expectDisposed([&] { c->get_Count(); }, "value collection");
    for (const auto& v : values) testing::expectDisposed([&] { v->get_StringValue(); }, "value");

    // The entry above is not disposed.
    EXPECT_EQ(entry->get_DN(), dn);
    EXPECT_TRUE(serverValues(dn, "carLicense").empty());
}

TEST_F(AttributeTest, RenameRewritesTheCachedNamingValue) {
    const auto dn = addPerson("Before", "sn: S\ncn: Other Name\n");
    auto entry = entryAt(dn);
    auto cn = entry->get_Attributes()->get_Item("cn");
    ASSERT_EQ(sorted(testing::memoryValues(*cn)), sorted({bytesOf("Before"), bytesOf("Other Name")}));
    api->clear();
    entry->Rename("cn=After");
    EXPECT_TRUE(api->callsTo("ldap_modify_s").empty());
    EXPECT_TRUE(api->callsTo("ldap_modify_ext_s").empty());
    const auto renamed = "cn=After," + base;
    EXPECT_EQ(sorted(testing::memoryValues(*cn)), sorted(serverValues(renamed, "cn")));
    EXPECT_EQ(sorted(testing::memoryValues(*cn)), sorted({bytesOf("After"), bytesOf("Other Name")}));
}

// ---- enumeration and CopyTo ----------------------------------------------------------------------------

TEST_F(AttributeTest, EnumeratorWalksTheAttributesHeldWhenItWasMade) {
    const auto dn = addPerson("Snapshot", "sn: S\ndescription: alpha\ntitle: t\n");
    auto attributes = entryAt(dn)->get_Attributes();
    std::vector<Attribute*> before;
    for (int i = 0; i < attributes->get_Count(); ++i) before.push_back(attributes->get_Item(i).get());
    auto walker = attributes->GetEnumerator();
    testing::expectThrowsExactly<InvalidOperationException>([&] { walker->get_Current(); }, "before MoveNext");

    auto description = attributes->get_Item("description");
    description->Delete();
    auto added = attributes->Add("carLicense", "XYZ");

    std::vector<Attribute*> walked;
    EXPECT_NO_THROW({
        while (walker->MoveNext()) walked.push_back(walker->get_Current().get());
    });
    EXPECT_EQ(walked, before);
    EXPECT_TRUE(description->get_IsDeleted());
    testing::expectThrowsExactly<InvalidOperationException>([&] { walker->get_Current(); }, "after the end");

    // Range-for changing the collection as it goes does not fail either.
    std::vector<Attribute*> ranged;
    EXPECT_NO_THROW({
        for (auto a : *attributes) {
            ranged.push_back(a.get());
            if (a->get_Name() == "title") a->Delete();
        }
    });
    EXPECT_EQ(ranged.size(), static_cast<std::size_t>(attributes->get_Count() + 1));
    EXPECT_EQ(ranged.back(), added.get());
}

TEST_F(AttributeTest, CopyToChecksItsArgumentsBeforeWritingAnything) {
    const auto dn = addPerson("CopyTo", "sn: S\n");
    auto attributes = entryAt(dn)->get_Attributes();
    const auto n = static_cast<std::size_t>(attributes->get_Count());
    ASSERT_GE(n, 3u);  // objectClass, cn, sn
    const int length = static_cast<int>(n) + 3;

    enum class Outcome { Copied, OutOfRange, Argument, Index };
    struct Case {
        int length;
        int index;
        Outcome outcome;
    };
    const Case cases[] = {
        {length, 0, Outcome::Copied},           {length, 3, Outcome::Copied},
        {length, 4, Outcome::Argument},         {static_cast<int>(n) - 1, 0, Outcome::Argument},
        {length, length, Outcome::OutOfRange},  {0, 0, Outcome::OutOfRange},
        {length, INT_MAX, Outcome::OutOfRange}, {length, -1, Outcome::Index},
        {length, INT_MIN, Outcome::Index},
    };
    for (const auto& c : cases) {
        const std::string where = "length " + std::to_string(c.length) + ", index " + std::to_string(c.index);
        std::vector<std::shared_ptr<Attribute>> array(static_cast<std::size_t>(c.length));
        auto call = [&] { attributes->CopyTo(array, c.index); };
        switch (c.outcome) {
            case Outcome::Copied:
                ASSERT_NO_THROW(call()) << where;
                for (int i = 0; i < c.length; ++i) {
                    const int k = i - c.index;
                    Attribute* expected = k >= 0 && k < static_cast<int>(n) ? attributes->get_Item(k).get() : nullptr;
                    EXPECT_EQ(array[static_cast<std::size_t>(i)].get(), expected) << where << ", slot " << i;
                }
                continue;
            case Outcome::OutOfRange:
                testing::expectThrowsExactly<ArgumentOutOfRangeException>(call, where);
                break;
            case Outcome::Argument:
                testing::expectThrowsExactly<ArgumentException>(call, where);
                break;
            case Outcome::Index:
                testing::expectThrowsExactly<IndexOutOfRangeException>(call, where);
                break;
        }
        for (const auto& slot : array) EXPECT_EQ(slot, nullptr) << where << ": written although it threw";
    }

    // An entry read without attributes has an empty collection: an empty array at 0 is still out of range.
    auto none = client->Search(dn, "(objectClass=*)", Scope::Base, {"1.1"})->get_Item(0)->get_Attributes();
    ASSERT_EQ(none->get_Count(), 0);
    testing::expectThrowsExactly<ArgumentOutOfRangeException>(
        [&] { none->CopyTo(std::span<std::shared_ptr<Attribute>>(), 0); });
    std::vector<std::shared_ptr<Attribute>> one(1);
    EXPECT_NO_THROW(none->CopyTo(one, 0));
    EXPECT_EQ(one[0], nullptr);
}

// ---- refusals and a closed connection ------------------------------------------------------------------

TEST_F(AttributeTest, EveryRefusedRequestLeavesObjectsAndServerUnchanged) {
    const auto dn = addPerson("Injected", "sn: S\ndescription: alpha\ndescription: bravo\ntitle: t\n");
    const auto file = writeFile("in", bytesOf("from file"));
    auto attributes = entryAt(dn)->get_Attributes();
    auto description = attributes->get_Item("description");
    auto descriptionValues = description->get_Values();

    struct Case {
        const char* name;
        std::function<void()> op;
    };
    const Case cases[] = {
        {"Attribute::Delete", [&] { description->Delete(); }},
        {"Add, new name", [&] { attributes->Add("carLicense", "XYZ"); }},
        {"Add, existing name", [&] { attributes->Add("Description", "charlie"); }},
        {"AddFromFile, new name", [&] { attributes->AddFromFile("carLicense", file); }},
        {"AddFromFile, existing name", [&] { attributes->AddFromFile("DESCRIPTION", file); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto valueWalker = descriptionValues->GetEnumerator();
        ASSERT_TRUE(valueWalker->MoveNext());
        expectInjectedRefusalChangesNothing(c.op, LDAP_INSUFFICIENT_ACCESS, "ldap_modify_s", *attributes, dn, c.name);
        EXPECT_FALSE(attributes->Exists("carLicense"));
        EXPECT_FALSE(description->get_IsDeleted());
        EXPECT_EQ(description->get_Values().get(), descriptionValues.get());
        EXPECT_NO_THROW(valueWalker->MoveNext()) << "the value list changed";
    }

    // Afterwards each of them goes through.
    attributes->Add("Description", "charlie");
    attributes->AddFromFile("carLicense", file);
    EXPECT_EQ(texts(*description), (Strings{"alpha", "bravo", "charlie"}));
    EXPECT_EQ(texts(*attributes->get_Item("carlicense")), Strings{"from file"});
    description->Delete();
    EXPECT_TRUE(serverValues(dn, "description").empty());
    EXPECT_EQ(serverValues(dn, "carLicense"), Values{bytesOf("from file")});
}

TEST_F(AttributeTest, AfterTheConnectionIsClosedServerCallsAreRefusedAndCachedDataStillReads) {
    const auto dn = addPerson("Closed", "sn: S\ndescription: alpha\ntitle: t\n");
    const auto file = writeFile("in", bytesOf("from file"));
    const std::pair<const char*, std::function<void(Client&)>> closes[] = {
        {"Disconnect", [](Client& c) { c.Disconnect(); }},
        {"Dispose", [](Client& c) { c.Dispose(); }},
    };
    for (const auto& [how, close] : closes) {
        SCOPED_TRACE(how);
        auto recording = std::make_shared<RecordingLdapApi>();
        auto own = testing::rootClient(recording);
        auto attributes = own->Search(dn, "(objectClass=*)", Scope::Base)->get_Item(0)->get_Attributes();
        auto description = attributes->get_Item("description");
        const auto before = testing::snapshot(*attributes);
        const auto serverBefore = server.ldapsearch(dn, "base", "(objectClass=*)");
        close(*own);
        recording->clear();

        const std::pair<const char*, std::function<void()>> ops[] = {
            {"Attribute::Delete", [&] { description->Delete(); }},
            {"Add, new name", [&] { attributes->Add("carLicense", "XYZ"); }},
            {"Add, existing name", [&] { attributes->Add("description", "bravo"); }},
            {"AddFromFile, new name", [&] { attributes->AddFromFile("carLicense", file); }},
            {"AddFromFile, existing name", [&] { attributes->AddFromFile("Title", file); }},
        };
        for (const auto& [name, op] : ops) {
            testing::expectNotConnected(op, name);
            EXPECT_EQ(testing::snapshot(*attributes), before) << name;
            EXPECT_FALSE(attributes->Exists("carLicense")) << name;
            EXPECT_FALSE(description->get_IsDeleted()) << name;
        }
        EXPECT_TRUE(recording->calls().empty()) << "libldap was called without a connection";
        EXPECT_EQ(texts(*description), Strings{"alpha"});
        EXPECT_EQ(server.ldapsearch(dn, "base", "(objectClass=*)"), serverBefore);
    }
}

}  // namespace
}  // namespace Varnel::Ldap
