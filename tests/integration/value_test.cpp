// Values and value collections against the test server: which modify request each change sends (recorded),
// what the server then holds (ldapsearch), refusals that change nothing (real and injected), encodings,
// binary and zero-length values, files, the guards, enumeration, CopyTo, and a closed connection.
#include <gtest/gtest.h>

#include <ldap.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <varnel/ldap.hpp>

#include "value_attribute_support.hpp"

namespace Varnel::Ldap {
namespace {

using testing::bytesOf;
using testing::LdapCall;
using testing::ModelTest;
using testing::RecordingLdapApi;
using testing::sorted;
using testing::textOf;

using Strings = std::vector<std::string>;
using Values = std::vector<ByteArray>;

constexpr int kAdd = LDAP_MOD_ADD | LDAP_MOD_BVALUES;          // 0x80
constexpr int kDelete = LDAP_MOD_DELETE | LDAP_MOD_BVALUES;    // 0x81
constexpr int kReplace = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;  // 0x82

class ValueTest : public ModelTest {
protected:
    std::shared_ptr<Value> valueOf(Entry& entry, const std::string& attribute, int index) {
        return entry.get_Attributes()->get_Item(attribute)->get_Values()->get_Item(index);
    }

    /// Exactly one server call was made: `function` on `dn`.
    LdapCall onlyChange(const std::string& function, const std::string& dn) {
        const auto changes = serverChanges();
        EXPECT_EQ(changes.size(), 1u);
        if (changes.empty()) return {};
        EXPECT_EQ(changes[0].function, function);
        EXPECT_EQ(changes[0].dn, dn);
        return changes[0];
    }
};

// ---- the request each change sends ---------------------------------------------------------------------

TEST_F(ValueTest, ChangingTheOnlyValueSendsOneReplaceWithTheNewBytes) {
    const auto dn = addPerson("Solo", "sn: S\ntitle: before\n");
    auto value = valueOf(*entryAt(dn), "title", 0);

    api->clear();
    value->set_StringValue("after");
    const auto call = onlyChange("ldap_modify_ext_s", dn);
    ASSERT_EQ(call.mods.size(), 1u);
    EXPECT_EQ(call.mods[0].op, kReplace);
    EXPECT_EQ(call.mods[0].type, "title");
    EXPECT_EQ(call.mods[0].values, Strings{"after"});
    EXPECT_EQ(value->get_StringValue(), "after");
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("after")});

    api->clear();
    value->set_BinaryValue(bytesOf("binary after"));
    EXPECT_EQ(onlyChange("ldap_modify_ext_s", dn).mods.at(0).values, Strings{"binary after"});
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("binary after")});
    EXPECT_EQ(value->get_BinaryValue(), bytesOf("binary after"));
}

TEST_F(ValueTest, SettingTheBytesAlreadyHeldSendsNothing) {
    const auto dn = addPerson("Same", "sn: S\ntitle: held\ndescription: one\ndescription: two\n");
    auto entry = entryAt(dn);
    auto single = valueOf(*entry, "title", 0);
    auto multi = valueOf(*entry, "description", 1);
    // Another client changes the server's copy; the comparison is with the bytes held, so nothing is sent.
    server.ldapmodify("dn: " + dn + "\nchangetype: modify\nreplace: title\ntitle: elsewhere\n");

    api->clear();
    single->set_StringValue("held");
    single->set_BinaryValue(bytesOf("held"));
    multi->set_StringValue("two");
    multi->set_BinaryValue(bytesOf("two"));
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_EQ(single->get_StringValue(), "held");
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("elsewhere")});
}

TEST_F(ValueTest, ChangingOneOfThreeValuesSendsAddThenDeleteInOneRequest) {
    const auto dn = addPerson("Three", "sn: S\ndescription: alpha\ndescription: bravo\ndescription: charlie\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();
    auto second = values->get_Item(1);

    api->clear();
    second->set_StringValue("beta");
    const auto call = onlyChange("ldap_modify_s", dn);
    EXPECT_TRUE(api->callsTo("ldap_modify_ext_s").empty());
    ASSERT_EQ(call.mods.size(), 2u);
    EXPECT_EQ(call.mods[0].op, kAdd);
    EXPECT_EQ(call.mods[0].type, "description");
    EXPECT_EQ(call.mods[0].values, Strings{"beta"});
    EXPECT_EQ(call.mods[1].op, kDelete);
    EXPECT_EQ(call.mods[1].type, "description");
    EXPECT_EQ(call.mods[1].values, Strings{"bravo"});

    // The value keeps its place in memory; the server holds the same set.
    EXPECT_EQ(values->get_Count(), 3);
    EXPECT_EQ(values->get_Item(1).get(), second.get());
    const Values expected{bytesOf("alpha"), bytesOf("beta"), bytesOf("charlie")};
    EXPECT_EQ(sorted(serverValues(dn, "description")), sorted(expected));
    EXPECT_EQ(sorted({values->get_Item(0)->get_BinaryValue(), values->get_Item(1)->get_BinaryValue(),
                      values->get_Item(2)->get_BinaryValue()}),
              sorted(expected));
}

TEST_F(ValueTest, DeletingAValueSendsOneDeleteOfTheCachedBytesAndRetiresTheObject) {
    const auto dn = addPerson("Two", "sn: S\ndescription: alpha\ndescription: bravo\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();
    auto gone = values->get_Item(0);
    auto kept = values->get_Item(1);

    api->clear();
    gone->Delete();
    const auto call = onlyChange("ldap_modify_s", dn);
    ASSERT_EQ(call.mods.size(), 1u);
    EXPECT_EQ(call.mods[0].op, kDelete);
    EXPECT_EQ(call.mods[0].type, "description");
    EXPECT_EQ(call.mods[0].values, Strings{"alpha"});
    EXPECT_EQ(values->get_Count(), 1);
    EXPECT_EQ(values->get_Item(0).get(), kept.get());
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("bravo")});

    const auto in = writeFile("in", bytesOf("from file"));
    const auto out = (files / "out").string();
    api->clear();
    for (const auto& [name, op] : testing::valueOperations(in, out)) testing::expectDeleted([&] { op(*gone); }, name);
    EXPECT_TRUE(api->calls().empty()) << "a deleted value reached libldap";
    EXPECT_FALSE(std::filesystem::exists(out));

    // One value left: its change now uses the replace form.
    api->clear();
    kept->set_StringValue("charlie");
    EXPECT_EQ(onlyChange("ldap_modify_ext_s", dn).mods.at(0).op, kReplace);
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("charlie")});

    // A deleted value can still be disposed; from then on it reports disposal.
    gone->Dispose();
    gone->Dispose();
    for (const auto& [name, op] : testing::valueOperations(in, out)) testing::expectDisposed([&] { op(*gone); }, name);
}

TEST_F(ValueTest, BinaryValueHandsOutCopies) {
    const auto dn = addPerson("Copies", "sn: S\ntitle: original\n");
    auto value = valueOf(*entryAt(dn), "title", 0);
    auto copy = value->get_BinaryValue();
    copy[0] = 'X';
    EXPECT_EQ(value->get_StringValue(), "original");

    ByteArray mine = bytesOf("mine");
    value->set_BinaryValue(mine);
    mine[0] = 'X';
    EXPECT_EQ(value->get_BinaryValue(), bytesOf("mine"));
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("mine")});
}

// ---- refusals ------------------------------------------------------------------------------------------

// Each change the value classes can send, refused in turn without reaching the server: afterwards every
// object reports what it did before, an enumerator made before still walks, and the server is untouched.
TEST_F(ValueTest, EveryRefusedRequestLeavesObjectsAndServerUnchanged) {
    const auto dn = addPerson("Refused",
                              "sn: S\ntitle: solo\ndescription: alpha\ndescription: bravo\n"
                              "description: charlie\n");
    const auto file = writeFile("new", bytesOf("from file"));
    auto entry = entryAt(dn);
    auto attributes = entry->get_Attributes();
    auto title = attributes->get_Item("title");
    auto description = attributes->get_Item("description");
    auto solo = title->get_Values()->get_Item(0);
    auto many = description->get_Values();
    std::vector<std::shared_ptr<Value>> held;
    for (auto v : *many) held.push_back(v);

    struct Case {
        const char* name;
        const char* function;
        std::function<void()> op;
    };
    const Case cases[] = {
        {"set_StringValue, replace form", "ldap_modify_ext_s", [&] { solo->set_StringValue("new"); }},
        {"set_StringValue, add-and-remove form", "ldap_modify_s", [&] { held[1]->set_StringValue("new"); }},
        {"set_BinaryValue, replace form", "ldap_modify_ext_s", [&] { solo->set_BinaryValue(bytesOf("new")); }},
        {"set_BinaryValue, add-and-remove form", "ldap_modify_s", [&] { held[0]->set_BinaryValue(bytesOf("new")); }},
        {"ReadFromFile, replace form", "ldap_modify_ext_s", [&] { solo->ReadFromFile(file); }},
        {"ReadFromFile, add-and-remove form", "ldap_modify_s", [&] { held[2]->ReadFromFile(file); }},
        {"Delete of one of three values", "ldap_modify_s", [&] { held[2]->Delete(); }},
        {"Delete of the only value", "ldap_modify_s", [&] { solo->Delete(); }},
        {"ValueCollection::Add text", "ldap_modify_s", [&] { many->Add(std::string("delta")); }},
        {"ValueCollection::Add bytes", "ldap_modify_s", [&] { many->Add(bytesOf("delta")); }},
        {"ValueCollection::AddFromFile", "ldap_modify_s", [&] { many->AddFromFile(file); }},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto walker = many->GetEnumerator();
        ASSERT_TRUE(walker->MoveNext());
        expectInjectedRefusalChangesNothing(c.op, LDAP_UNWILLING_TO_PERFORM, c.function, *attributes, dn, c.name);
        EXPECT_FALSE(title->get_IsDeleted());
        EXPECT_FALSE(description->get_IsDeleted());
        EXPECT_EQ(solo->get_StringValue(), "solo");
        for (std::size_t i = 0; i < held.size(); ++i)
            EXPECT_EQ(many->get_Item(static_cast<int>(i)).get(), held[i].get());
        EXPECT_NO_THROW(walker->MoveNext()) << "the list changed";
    }

    // The objects still work after all those refusals.
    held[1]->set_StringValue("beta");
    many->Add(std::string("delta"));
    solo->Delete();
    EXPECT_EQ(sorted(serverValues(dn, "description")),
              sorted({bytesOf("alpha"), bytesOf("beta"), bytesOf("charlie"), bytesOf("delta")}));
    EXPECT_TRUE(serverValues(dn, "title").empty());
    EXPECT_FALSE(attributes->Exists("title"));
}

TEST_F(ValueTest, RealRefusalsCarryTheResultCodeAndChangeNothing) {
    const auto dn = addPerson("Real", "sn: S\ndescription: alpha\ndescription: bravo\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();
    auto second = values->get_Item(1);

    // description matches without regard to case: the server already holds this value.
    testing::expectRefused([&] { second->set_StringValue("ALPHA"); }, LDAP_TYPE_OR_VALUE_EXISTS);
    testing::expectRefused([&] { values->Add(std::string("Alpha")); }, LDAP_TYPE_OR_VALUE_EXISTS);
    EXPECT_EQ(second->get_StringValue(), "bravo");
    EXPECT_EQ(values->get_Count(), 2);

    // Another client removed the value: deleting it is refused and the object stays live.
    server.ldapmodify("dn: " + dn + "\nchangetype: modify\ndelete: description\ndescription: bravo\n");
    testing::expectRefused([&] { second->Delete(); }, LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(values->get_Count(), 2);
    EXPECT_EQ(second->get_StringValue(), "bravo");
    EXPECT_EQ(serverValues(dn, "description"), Values{bytesOf("alpha")});
}

// ---- encodings -----------------------------------------------------------------------------------------

TEST_F(ValueTest, TextUsesTheClientsEncodingOfTheMoment) {
    const auto dn = addPerson("Encoded", "sn: S\ndescription: caf\xC3\xA9\nuserPassword: plain\n");
    auto entry = entryAt(dn);
    auto text = valueOf(*entry, "description", 0);
    auto octets = valueOf(*entry, "userPassword", 0);
    EXPECT_EQ(text->get_StringValue(), "caf\xC3\xA9");
    EXPECT_EQ(text->get_RawByteSize(), 5);

    client->set_Encoding(Encoding::ForName("ISO-8859-1"));
    // The same cached bytes, decoded anew: C3 and A9 are two Latin-1 characters.
    EXPECT_EQ(text->get_StringValue(), "caf\xC3\x83\xC2\xA9");
    EXPECT_EQ(text->get_BinaryValue(), bytesOf("caf\xC3\xA9"));

    // Writing encodes with it too: U+00F1 is the one byte F1.
    api->clear();
    octets->set_StringValue("\xC3\xB1");
    EXPECT_EQ(api->callsTo("ldap_modify_ext_s").at(0).mods.at(0).values, Strings{"\xF1"});
    EXPECT_EQ(serverValues(dn, "userPassword"), Values{ByteArray{0xF1}});
    EXPECT_EQ(octets->get_BinaryValue(), ByteArray{0xF1});
    // A character Latin-1 cannot hold is refused before anything is sent, never replaced by a stand-in byte.
    api->clear();
    EXPECT_THROW(octets->set_StringValue("\xE2\x82\xAC"), ArgumentException);
    EXPECT_TRUE(api->callsTo("ldap_modify_ext_s").empty());
    EXPECT_EQ(octets->get_BinaryValue(), ByteArray{0xF1});
    // A lone F1 is not UTF-8, so the server refuses it for a directory string; nothing changes.
    const auto refused = testing::expectRefused([&] { text->set_StringValue("\xC3\xB1"); }, LDAP_INVALID_SYNTAX);
    ASSERT_TRUE(refused && refused->get_DiagnosticMessage());
    EXPECT_NE(refused->get_DiagnosticMessage()->find("invalid per syntax"), std::string::npos)
        << *refused->get_DiagnosticMessage();
    EXPECT_EQ(text->get_BinaryValue(), bytesOf("caf\xC3\xA9"));
    // The next failure that libldap finds on its own, before anything reaches the server, carries no
    // diagnostic text: in particular not the server's text for the refusal before it.
    const auto local = testing::expectRefused([&] { client->Search(dn, "((("); }, LDAP_FILTER_ERROR, "bad filter");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->get_DiagnosticMessage(), std::nullopt);

    client->set_Encoding(Encoding::ForName("UTF-16LE"));
    octets->set_StringValue("AB");
    EXPECT_EQ(serverValues(dn, "userPassword"), Values{(ByteArray{'A', 0, 'B', 0})});
    EXPECT_EQ(octets->get_StringValue(), "AB");

    client->set_Encoding(Encoding::UTF8());
    EXPECT_EQ(octets->get_StringValue(), std::string("A\0B\0", 4));
    EXPECT_EQ(text->get_StringValue(), "caf\xC3\xA9");
}

TEST_F(ValueTest, ZeroBytesInsideAValueAreCharactersLikeAnyOther) {
    const auto dn = addPerson("Nul", "sn: S\nuserPassword:: QQBC\n");
    auto value = valueOf(*entryAt(dn), "userPassword", 0);
    EXPECT_EQ(value->get_BinaryValue(), (ByteArray{0x41, 0x00, 0x42}));
    const auto text = value->get_StringValue();
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text, std::string("A\0B", 3));

    value->set_StringValue(std::string("B\0A", 3));
    EXPECT_EQ(serverValues(dn, "userPassword"), Values{(ByteArray{0x42, 0x00, 0x41})});
}

// ---- empty and zero-length values ----------------------------------------------------------------------

TEST_F(ValueTest, NoBytesAreRefusedBeforeAnythingIsSent) {
    const auto dn = addPerson("Empty", "sn: S\ntitle: solo\ndescription: alpha\ndescription: bravo\n");
    const auto empty = writeFile("empty", {});
    auto attributes = entryAt(dn)->get_Attributes();
    auto solo = attributes->get_Item("title")->get_Values()->get_Item(0);
    auto many = attributes->get_Item("description")->get_Values();
    auto first = many->get_Item(0);

    struct Case {
        const char* name;
        std::function<void()> op;
    };
    const Case cases[] = {
        {"set_StringValue, one value", [&] { solo->set_StringValue(""); }},
        {"set_StringValue, two values", [&] { first->set_StringValue(""); }},
        {"set_BinaryValue, one value", [&] { solo->set_BinaryValue({}); }},
        {"set_BinaryValue, two values", [&] { first->set_BinaryValue({}); }},
        {"ReadFromFile, one value", [&] { solo->ReadFromFile(empty); }},
        {"ReadFromFile, two values", [&] { first->ReadFromFile(empty); }},
        {"ValueCollection::Add text", [&] { many->Add(std::string()); }},
        {"ValueCollection::Add bytes", [&] { many->Add(ByteArray{}); }},
        {"ValueCollection::AddFromFile", [&] { many->AddFromFile(empty); }},
        {"AttributeCollection::Add, new name", [&] { attributes->Add("carLicense", ""); }},
        {"AttributeCollection::Add, existing name", [&] { attributes->Add("description", ""); }},
        {"AttributeCollection::AddFromFile, new name", [&] { attributes->AddFromFile("carLicense", empty); }},
        {"AttributeCollection::AddFromFile, existing name", [&] { attributes->AddFromFile("title", empty); }},
    };
    const auto before = testing::snapshot(*attributes);
    const auto serverBefore = server.ldapsearch(dn, "base", "(objectClass=*)");
    for (const auto& c : cases) {
        api->clear();
        testing::expectThrowsExactly<IndexOutOfRangeException>(c.op, c.name);
        EXPECT_TRUE(serverChanges().empty()) << c.name;
        EXPECT_EQ(testing::snapshot(*attributes), before) << c.name;
    }
    EXPECT_EQ(server.ldapsearch(dn, "base", "(objectClass=*)"), serverBefore);
}

// userPassword and jpegPhoto take zero-length values on this server: such a value is an empty byte array
// that reads, writes to a file, changes and deletes like any other.
TEST_F(ValueTest, ZeroLengthValueFromTheServerIsAnEmptyByteArray) {
    const auto dn = addPerson("ZeroLength", "sn: S\nuserPassword:\nuserPassword: secret\njpegPhoto:\n");
    ASSERT_EQ(sorted(serverValues(dn, "userPassword")), sorted({ByteArray{}, bytesOf("secret")}));
    auto entry = entryAt(dn);
    auto passwords = entry->get_Attributes()->get_Item("userPassword")->get_Values();
    ASSERT_EQ(passwords->get_Count(), 2);
    auto empty = passwords->get_Item(0)->get_RawByteSize() == 0 ? passwords->get_Item(0) : passwords->get_Item(1);
    EXPECT_EQ(empty->get_RawByteSize(), 0);
    EXPECT_EQ(empty->get_BinaryValue(), ByteArray{});
    EXPECT_EQ(empty->get_StringValue(), "");

    const auto out = writeFile("out", bytesOf("longer content that must go"));
    empty->WriteToFile(out);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(readBytes(out), ByteArray{});

    api->clear();
    empty->Delete();
    const auto call = api->callsTo("ldap_modify_s").at(0);
    ASSERT_EQ(call.mods.size(), 1u);
    EXPECT_EQ(call.mods[0].op, kDelete);
    EXPECT_EQ(call.mods[0].values, Strings{""});
    EXPECT_EQ(serverValues(dn, "userPassword"), Values{bytesOf("secret")});
    EXPECT_EQ(passwords->get_Count(), 1);

    auto photo = valueOf(*entry, "jpegPhoto", 0);
    EXPECT_EQ(photo->get_BinaryValue(), ByteArray{});
    const auto bytes = binaryPhoto();
    api->clear();
    photo->set_BinaryValue(bytes);
    EXPECT_EQ(api->callsTo("ldap_modify_ext_s").at(0).mods.at(0).op, kReplace);
    EXPECT_EQ(serverValues(dn, "jpegPhoto"), Values{bytes});
    EXPECT_EQ(photo->get_BinaryValue(), bytes);
}

// ---- files and binary values ---------------------------------------------------------------------------

TEST_F(ValueTest, BinaryValueTravelsThroughFilesUnchanged) {
    const auto dn = addPerson("Photo", "sn: S\n");
    const auto first = binaryPhoto(0);
    const auto second = binaryPhoto(101);
    ASSERT_NE(first, second);
    const auto firstFile = writeFile("first.jpg", first);
    const auto secondFile = writeFile("second.jpg", second);

    auto attributes = entryAt(dn)->get_Attributes();
    auto photo = attributes->AddFromFile("jpegPhoto", firstFile);
    auto value = photo->get_Values()->get_Item(0);
    EXPECT_EQ(value->get_BinaryValue(), first);
    EXPECT_EQ(value->get_RawByteSize(), static_cast<std::int32_t>(first.size()));
    EXPECT_EQ(serverValues(dn, "jpegPhoto"), Values{first});

    // Over a longer file: afterwards it holds exactly the value's bytes.
    ByteArray longer = first;
    longer.insert(longer.end(), 1000, 0x55);
    const auto out = writeFile("out.jpg", longer);
    value->WriteToFile(out);
    EXPECT_EQ(readBytes(out), first);

    api->clear();
    value->ReadFromFile(secondFile);
    const auto call = api->callsTo("ldap_modify_ext_s").at(0);
    EXPECT_EQ(call.mods.at(0).op, kReplace);
    EXPECT_EQ(call.mods.at(0).values, Strings{textOf(second)});
    EXPECT_EQ(value->get_BinaryValue(), second);
    EXPECT_EQ(serverValues(dn, "jpegPhoto"), Values{second});
    value->WriteToFile(out);
    EXPECT_EQ(readBytes(out), second);

    // Read back by a new search: the same bytes.
    EXPECT_EQ(valueOf(*entryAt(dn), "jpegPhoto", 0)->get_BinaryValue(), second);
}

TEST_F(ValueTest, FileErrorsComeBeforeAnyServerCall) {
    const auto dn = addPerson("Files", "sn: S\ntitle: solo\n");
    auto value = valueOf(*entryAt(dn), "title", 0);
    auto values = entryAt(dn)->get_Attributes()->get_Item("title")->get_Values();
    const auto missing = (files / "missing").string();
    api->clear();
    testing::expectThrowsExactly<std::filesystem::filesystem_error>([&] { value->ReadFromFile(missing); });
    testing::expectThrowsExactly<std::filesystem::filesystem_error>([&] { values->AddFromFile(missing); });
    testing::expectThrowsExactly<std::filesystem::filesystem_error>(
        [&] { value->WriteToFile((files / "no-such-folder" / "out").string()); });
    EXPECT_TRUE(serverChanges().empty());
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(value->get_StringValue(), "solo");
    EXPECT_EQ(values->get_Count(), 1);
}

// ---- value collection ----------------------------------------------------------------------------------

TEST_F(ValueTest, CollectionLoadsTheServersValuesInTheServersOrder) {
    const std::string group = "cn=All Staff,ou=Groups,dc=example,dc=com";
    const auto expected = serverValues(group, "member");
    ASSERT_EQ(expected.size(), 11u);
    auto values = entryAt(group)->get_Attributes()->get_Item("member")->get_Values();
    ASSERT_EQ(values->get_Count(), 11);
    std::vector<Value*> byIndex;
    for (int i = 0; i < values->get_Count(); ++i) {
        EXPECT_EQ(values->get_Item(i)->get_BinaryValue(), expected[static_cast<std::size_t>(i)]);
        byIndex.push_back(values->get_Item(i).get());
    }
    std::vector<Value*> walked;
    for (auto v : *values) walked.push_back(v.get());
    EXPECT_EQ(walked, byIndex);
    EXPECT_FALSE(values->get_IsSynchronized());
    EXPECT_EQ(&values->get_SyncRoot(), values.get());
}

TEST_F(ValueTest, AddAppendsOnlyWhatTheServerAccepted) {
    const auto dn = addPerson("Adds", "sn: S\ndescription: alpha\n");
    const auto file = writeFile("delta", bytesOf("delta"));
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();

    struct Case {
        const char* name;
        std::function<std::shared_ptr<Value>()> add;
        const char* text;
    };
    const Case cases[] = {
        {"text", [&] { return values->Add(std::string("bravo")); }, "bravo"},
        {"bytes", [&] { return values->Add(bytesOf("charlie")); }, "charlie"},
        {"file", [&] { return values->AddFromFile(file); }, "delta"},
    };
    Values expected{bytesOf("alpha")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        api->clear();
        auto added = c.add();
        const auto call = onlyChange("ldap_modify_s", dn);
        ASSERT_EQ(call.mods.size(), 1u);
        EXPECT_EQ(call.mods[0].op, kAdd);
        EXPECT_EQ(call.mods[0].type, "description");
        EXPECT_EQ(call.mods[0].values, Strings{c.text});
        expected.push_back(bytesOf(c.text));
        EXPECT_EQ(values->get_Count(), static_cast<int>(expected.size()));
        EXPECT_EQ(values->get_Item(values->get_Count() - 1).get(), added.get());
        EXPECT_EQ(added->get_StringValue(), c.text);
        EXPECT_EQ(sorted(serverValues(dn, "description")), sorted(expected));
    }
    // An added value is a value like the others: with four values its change is add-and-remove.
    api->clear();
    values->get_Item(3)->set_StringValue("echo");
    EXPECT_EQ(onlyChange("ldap_modify_s", dn).mods.at(1).values, Strings{"delta"});
}

TEST_F(ValueTest, GetItemOutsideTheCollectionIsOutOfBounds) {
    const auto dn = addPerson("Bounds", "sn: S\ndescription: alpha\ndescription: bravo\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();
    for (int index : {-1, 2, 3, INT_MIN, INT_MAX}) {
        testing::expectOutOfBounds([&] { values->get_Item(index); }, std::to_string(index));
        testing::expectOutOfBounds([&] { (*values)[index]; }, "operator[] " + std::to_string(index));
    }
    EXPECT_EQ(values->get_Count(), 2);
}

TEST_F(ValueTest, EnumeratorFailsFastOnceTheListChanged) {
    const auto dn = addPerson("Walk", "sn: S\ndescription: alpha\ndescription: bravo\ndescription: charlie\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();

    auto e = values->GetEnumerator();
    testing::expectThrowsExactly<InvalidOperationException>([&] { e->get_Current(); }, "before the first MoveNext");
    ASSERT_TRUE(e->MoveNext());
    EXPECT_EQ(e->get_Current().get(), values->get_Item(0).get());
    values->get_Item(2)->Delete();
    testing::expectThrowsExactly<InvalidOperationException>([&] { e->MoveNext(); }, "after a deletion");

    auto afterAdd = values->GetEnumerator();
    ASSERT_TRUE(afterAdd->MoveNext());
    values->Add(std::string("delta"));
    testing::expectThrowsExactly<InvalidOperationException>([&] { afterAdd->MoveNext(); }, "after an addition");

    // Range-for fails the same way when the loop deletes.
    testing::expectThrowsExactly<InvalidOperationException>(
        [&] {
            for (auto v : *values) v->Delete();
        },
        "range-for deleting");
    EXPECT_EQ(values->get_Count(), 2);

    // Unchanged, it walks to the end, and reading past the end fails.
    auto full = values->GetEnumerator();
    int seen = 0;
    while (full->MoveNext()) ++seen;
    EXPECT_EQ(seen, 2);
    EXPECT_FALSE(full->MoveNext());
    testing::expectThrowsExactly<InvalidOperationException>([&] { full->get_Current(); }, "after the end");
}

TEST_F(ValueTest, CopyToChecksItsArgumentsBeforeWritingAnything) {
    const auto dn = addPerson("CopyTo", "sn: S\ndescription: alpha\ndescription: bravo\n");
    auto values = entryAt(dn)->get_Attributes()->get_Item("description")->get_Values();
    auto a = values->get_Item(0);
    auto b = values->get_Item(1);

    enum class Outcome { Copied, OutOfRange, Argument, Index };
    struct Case {
        std::size_t length;
        int index;
        Outcome outcome;
    };
    const Case cases[] = {
        {5, 0, Outcome::Copied},     {5, 3, Outcome::Copied},      {2, 0, Outcome::Copied},
        {5, 4, Outcome::Argument},   {1, 0, Outcome::Argument},    {5, 5, Outcome::OutOfRange},
        {5, 6, Outcome::OutOfRange}, {0, 0, Outcome::OutOfRange},  {5, INT_MAX, Outcome::OutOfRange},
        {5, -1, Outcome::Index},     {5, INT_MIN, Outcome::Index},
    };
    for (const auto& c : cases) {
        const std::string where = "length " + std::to_string(c.length) + ", index " + std::to_string(c.index);
        std::vector<std::shared_ptr<Value>> array(c.length);
        auto call = [&] { values->CopyTo(array, c.index); };
        switch (c.outcome) {
            case Outcome::Copied:
                ASSERT_NO_THROW(call()) << where;
                for (std::size_t i = 0; i < c.length; ++i) {
                    const auto at = static_cast<std::size_t>(c.index);
                    Value* expected = i == at ? a.get() : i == at + 1 ? b.get() : nullptr;
                    EXPECT_EQ(array[i].get(), expected) << where << ", slot " << i;
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
}

TEST_F(ValueTest, DisposingTheCollectionDisposesItsValuesAndNothingAbove) {
    const auto dn = addPerson("Disposed", "sn: S\ndescription: alpha\ndescription: bravo\n");
    const auto file = writeFile("in", bytesOf("x"));
    const auto out = (files / "out").string();
    auto attribute = entryAt(dn)->get_Attributes()->get_Item("description");
    auto values = attribute->get_Values();
    auto held = values->get_Item(0);

    api->clear();
    values->Dispose();
    values->Dispose();
    for (const auto& [name, op] : testing::valueOperations(file, out))
        testing::expectDisposed([&] { op(*held); }, name);
    const std::pair<const char*, std::function<void()>> guarded[] = {
        {"get_Count", [&] { values->get_Count(); }},         {"get_Item", [&] { values->get_Item(0); }},
        {"GetEnumerator", [&] { values->GetEnumerator(); }}, {"Add text", [&] { values->Add(std::string("x")); }},
        {"Add bytes", [&] { values->Add(bytesOf("x")); }},   {"AddFromFile", [&] { values->AddFromFile(file); }},
    };
    for (const auto& [name, op] : guarded) testing::expectDisposed(op, name);
    EXPECT_TRUE(api->calls().empty());
    EXPECT_FALSE(values->get_IsSynchronized());
    EXPECT_EQ(&values->get_SyncRoot(), values.get());
    // CopyTo applies no guard: it still hands out the (disposed) values.
    std::vector<std::shared_ptr<Value>> array(2);
    values->CopyTo(array, 0);
    EXPECT_EQ(array[0].get(), held.get());

    // The attribute above is not disposed, and hands out the same collection.
    EXPECT_EQ(attribute->get_Name(), "description");
    EXPECT_FALSE(attribute->get_IsDeleted());
    EXPECT_EQ(attribute->get_Values().get(), values.get());
    EXPECT_EQ(sorted(serverValues(dn, "description")), sorted({bytesOf("alpha"), bytesOf("bravo")}));
}

TEST_F(ValueTest, DisposingAValueRetiresThatValueOnly) {
    const auto dn = addPerson("OneDisposed", "sn: S\ndescription: alpha\ndescription: bravo\n");
    const auto file = writeFile("in", bytesOf("x"));
    const auto out = (files / "out").string();
    auto attribute = entryAt(dn)->get_Attributes()->get_Item("description");
    auto values = attribute->get_Values();
    auto gone = values->get_Item(0);
    auto kept = values->get_Item(1);

    api->clear();
    gone->Dispose();
    EXPECT_TRUE(api->calls().empty());
    for (const auto& [name, op] : testing::valueOperations(file, out))
        testing::expectDisposed([&] { op(*gone); }, name);
    // It stays listed, so its sibling still counts two values and changes in the add-and-remove form.
    EXPECT_EQ(values->get_Count(), 2);
    EXPECT_EQ(values->get_Item(0).get(), gone.get());
    api->clear();
    kept->set_StringValue("beta");
    EXPECT_EQ(onlyChange("ldap_modify_s", dn).mods.size(), 2u);
    EXPECT_EQ(kept->get_StringValue(), "beta");
    EXPECT_EQ(attribute->get_Name(), "description");
    EXPECT_EQ(sorted(serverValues(dn, "description")), sorted({bytesOf("alpha"), bytesOf("beta")}));
}

TEST_F(ValueTest, AValueKeepsItsSearchAndConnectionAlive) {
    const auto dn = addPerson("Alive", "sn: S\ntitle: before\n");
    std::shared_ptr<Value> value;
    {
        auto own = testing::rootClient();
        auto entries = own->Search(dn, "(objectClass=*)", Scope::Base);
        value = entries->get_Item(0)->get_Attributes()->get_Item("title")->get_Values()->get_Item(0);
    }  // the client, the collection, the entry and the attribute handles are gone
    EXPECT_EQ(value->get_StringValue(), "before");
    value->set_StringValue("after");
    EXPECT_EQ(serverValues(dn, "title"), Values{bytesOf("after")});
    value->Delete();
    EXPECT_TRUE(serverValues(dn, "title").empty());
}

// ---- a closed connection -------------------------------------------------------------------------------

TEST_F(ValueTest, AfterTheConnectionIsClosedServerCallsAreRefusedAndCachedDataStillReads) {
    const auto dn = addPerson("Closed", "sn: S\ntitle: solo\ndescription: alpha\ndescription: bravo\n");
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
        auto solo = attributes->get_Item("title")->get_Values()->get_Item(0);
        auto many = attributes->get_Item("description")->get_Values();
        auto first = many->get_Item(0);
        const auto before = testing::snapshot(*attributes);
        const auto serverBefore = server.ldapsearch(dn, "base", "(objectClass=*)");
        close(*own);
        recording->clear();

        const std::pair<const char*, std::function<void()>> ops[] = {
            {"Delete, only value", [&] { solo->Delete(); }},
            {"Delete, one of two", [&] { first->Delete(); }},
            {"set_StringValue, replace", [&] { solo->set_StringValue("new"); }},
            {"set_StringValue, add-and-remove", [&] { first->set_StringValue("new"); }},
            {"set_BinaryValue, replace", [&] { solo->set_BinaryValue(bytesOf("new")); }},
            {"set_BinaryValue, add-and-remove", [&] { first->set_BinaryValue(bytesOf("new")); }},
            {"ReadFromFile, replace", [&] { solo->ReadFromFile(file); }},
            {"ReadFromFile, add-and-remove", [&] { first->ReadFromFile(file); }},
            {"Add text", [&] { many->Add(std::string("new")); }},
            {"Add bytes", [&] { many->Add(bytesOf("new")); }},
            {"AddFromFile", [&] { many->AddFromFile(file); }},
        };
        for (const auto& [name, op] : ops) {
            testing::expectNotConnected(op, name);
            EXPECT_EQ(testing::snapshot(*attributes), before) << name;
        }
        EXPECT_TRUE(recording->calls().empty()) << "libldap was called without a connection";

        // What is held still reads, also into a file.
        EXPECT_EQ(solo->get_StringValue(), "solo");
        const auto out = (files / (std::string(how) + ".out")).string();
        first->WriteToFile(out);
        EXPECT_EQ(readBytes(out), first->get_BinaryValue());
        std::vector<Value*> walked;
        for (auto v : *many) walked.push_back(v.get());
        EXPECT_EQ(walked, (std::vector<Value*>{first.get(), many->get_Item(1).get()}));
        EXPECT_EQ(server.ldapsearch(dn, "base", "(objectClass=*)"), serverBefore);
    }
}

}  // namespace
}  // namespace Varnel::Ldap
