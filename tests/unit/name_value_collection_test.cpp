// Attribute names without regard to letter case, and the collection of a new entry's attributes built on them.
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <varnel/ldap/name_value_collection.hpp>
#include <vector>

#include "foundation/name_key.hpp"

namespace Varnel::Ldap {
namespace {

using Values = std::vector<std::string>;
using Items = std::vector<std::pair<std::string, Values>>;

Items itemsOf(const NameValueCollection& nvc) {
    return Items(nvc.begin(), nvc.end());
}

TEST(NameKeyTest, NamesMatchWithoutRegardToLetterCase) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"objectClass", "OBJECTCLASS", true},
        {"cn", "CN", true},
        {"cn", "sn", false},
        {"cn", "cn;lang-de", false},
        {"cn", "c", false},
        {"", "", true},
        {"Stra\u00dfe", "STRASSE", true},                  // full folding: U+00DF is "ss"
        {"\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89", true},  // É/é
        {"\xce\xa3\xce\xaf\xcf\x83\xcf\x85\xcf\x86\xce\xbf\xcf\x82",
         "\xcf\x83\xce\xaf\xcf\x83\xcf\x85\xcf\x86\xce\xbf\xcf\x83",
         true},                       // Greek capital, final and medial sigma fold alike
        {"k", "\xe2\x84\xaa", true},  // the Kelvin sign folds to ASCII "k": ASCII must meet non-ASCII
        {"\xc3\xa9", "e", false},
        // Malformed names are not decoded: different bytes stay different names.
        {"a\xff", "a\xfe", false},
        {"A\xff", "a\xff", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(sameName(c.a, c.b), c.same);
        EXPECT_EQ(foldName(c.a) == foldName(c.b), c.same) << "the keys agree with sameName";
    }
}

TEST(NameKeyTest, AsciiNamesFoldTheSameInEveryLocale) {
    const icu::Locale previous = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("tr"), status);
    ASSERT_TRUE(U_SUCCESS(status));
    // Turkish lower-cases I to dotless i; an LDAP attribute name is not Turkish text.
    EXPECT_EQ(foldName("TITLE"), "title");
    EXPECT_TRUE(sameName("UID", "uid"));
    icu::Locale::setDefault(previous, status);
}

TEST(NameValueCollectionTest, KeepsFirstSpellingAndOrderAndMergesLetterCase) {
    NameValueCollection nvc;
    nvc.Add("objectClass", "top");
    nvc.Add("cn", "Ann");
    nvc.Add("OBJECTCLASS", "person");
    nvc.Add("mail", Values{"a@x", "b@x"});
    nvc.Add("CN", "Annie");
    nvc.Add("Mail", Values{"c@x"});
    nvc.Add("cn", "Ann");  // an equal value is kept: the server decides about duplicates
    EXPECT_EQ(
        itemsOf(nvc),
        (Items{{"objectClass", {"top", "person"}}, {"cn", {"Ann", "Annie", "Ann"}}, {"mail", {"a@x", "b@x", "c@x"}}}));
    EXPECT_EQ(nvc.get_Count(), 3u);
    EXPECT_EQ(nvc.GetKey(1), "cn");
    EXPECT_EQ(nvc.GetValues(2), (Values{"a@x", "b@x", "c@x"}));
    ASSERT_NE(nvc.GetValues("ObjectClass"), nullptr);
    EXPECT_EQ(*nvc.GetValues("ObjectClass"), (Values{"top", "person"}));
    EXPECT_EQ(nvc.GetValues("sn"), nullptr);
    EXPECT_THROW(nvc.GetKey(3), std::out_of_range);
    EXPECT_THROW(nvc.GetValues(std::size_t{3}), std::out_of_range);
}

TEST(NameValueCollectionTest, NonAsciiNamesMergeByCaseFolding) {
    const NameValueCollection nvc{
        {"Stra\u00dfe", "1"}, {"STRASSE", "2"}, {"\xc3\x89t\xc3\xa9", "3"}, {"\xc3\xa9t\xc3\xa9", "4"}};
    EXPECT_EQ(itemsOf(nvc), (Items{{"Stra\u00dfe", {"1", "2"}}, {"\xc3\x89t\xc3\xa9", {"3", "4"}}}));
}

TEST(NameValueCollectionTest, EmptyValueListRecordsTheNameAlone) {
    NameValueCollection nvc;
    nvc.Add("cn", Values{});
    EXPECT_EQ(itemsOf(nvc), (Items{{"cn", {}}}));
    nvc.Add("CN", "Ann");
    EXPECT_EQ(itemsOf(nvc), (Items{{"cn", {"Ann"}}}));
}

TEST(NameValueCollectionTest, AddsItsOwnValuesSafely) {
    NameValueCollection nvc{{"cn", "Ann"}, {"cn", "Annie"}};
    // Under the same name: a range of the vector it is inserted into.
    nvc.Add("CN", *nvc.GetValues("cn"));
    EXPECT_EQ(*nvc.GetValues("cn"), (Values{"Ann", "Annie", "Ann", "Annie"}));
    // Under new names: each addition may move the collection's storage and the values with it.
    for (int i = 0; i < 40; ++i) nvc.Add("name" + std::to_string(i), *nvc.GetValues("cn"));
    EXPECT_EQ(nvc.get_Count(), 41u);
    EXPECT_EQ(nvc.GetValues(40), (Values{"Ann", "Annie", "Ann", "Annie"}));
    // A single value of its own.
    nvc.Add("cn", nvc.GetValues(0).front());
    EXPECT_EQ(nvc.GetValues(0).back(), "Ann");
}

}  // namespace
}  // namespace Varnel::Ldap
