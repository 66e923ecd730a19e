// Ordering the entries of a search against the test server: the collation of ICU's default locale
// (culture-sensitive, case-sensitive, lower case first), several keys and directions, absent values, the
// first value of a multi-valued attribute, deferral until entries are handed out, and failures while
// ordering that leave the list as it was.
#include <gtest/gtest.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <varnel/ldap.hpp>
#include <vector>

#include "recording_ldap_api.hpp"
#include "slapd_fixture.hpp"
#include "test_client.hpp"

namespace Varnel::Ldap {
namespace {

using testing::RecordingLdapApi;
using testing::SlapdServer;

using Strings = std::vector<std::string>;
using Texts = std::vector<std::optional<std::string>>;

constexpr auto Asc = SortDirection::Ascending;
constexpr auto Desc = SortDirection::Descending;

// ---- small helpers -----------------------------------------------------------------------------------

std::string base64Encode(std::string_view in) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += {digits[(n >> 18) & 63], digits[(n >> 12) & 63], digits[(n >> 6) & 63], digits[n & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned n = static_cast<unsigned char>(in[i]) << 16;
        out += {digits[(n >> 18) & 63], digits[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned n = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
        out += {digits[(n >> 18) & 63], digits[(n >> 12) & 63], digits[(n >> 6) & 63], '='};
    }
    return out;
}

std::string base64Decode(std::string_view in) {
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : in) {
        int d = -1;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+')
            d = 62;
        else if (c == '/')
            d = 63;
        if (d < 0) continue;
        acc = (acc << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

/// One LDIF attribute line; values that are not plain ASCII, or start with a space, go base64.
std::string ldifLine(const std::string& name, const std::string& value) {
    const bool plain =
        value.empty() || (value.front() != ' ' && value.front() != ':' && value.front() != '<' && value.back() != ' ' &&
                          std::all_of(value.begin(), value.end(), [](char c) {
                              return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
                          }));
    return plain ? name + ": " + value + "\n" : name + ":: " + base64Encode(value) + "\n";
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

/// An unwrapped LDIF (ldapsearch -LLL -o ldif-wrap=no) as DN -> attribute (lower case) -> values in the
/// server's order.
std::map<std::string, std::map<std::string, Strings>> parseLdif(const std::string& ldif) {
    std::map<std::string, std::map<std::string, Strings>> out;
    std::istringstream in(ldif);
    std::string line;
    std::string dn;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
        const std::string name = lowerAscii(line.substr(0, colon));
        std::string_view rest(line);
        rest.remove_prefix(colon + 1);
        const bool b64 = !rest.empty() && rest.front() == ':';
        if (b64) rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        std::string value = b64 ? base64Decode(rest) : std::string(rest);
        if (name == "dn") {
            dn = value;
            out[dn];
        } else {
            out[dn][name].push_back(std::move(value));
        }
    }
    return out;
}

/// Sets ICU's default locale for the lifetime of the object and restores the one before.
class DefaultLocale {
public:
    explicit DefaultLocale(const char* name) : m_saved(icu::Locale::getDefault()) { set(icu::Locale(name)); }
    ~DefaultLocale() { set(m_saved); }
    DefaultLocale(const DefaultLocale&) = delete;
    DefaultLocale& operator=(const DefaultLocale&) = delete;

private:
    static void set(const icu::Locale& locale) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
        EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    }
    icu::Locale m_saved;
};

/// Runs `f` and checks that it throws exactly `Expected` with `message`.
template <class Expected>
void expectExactThrow(const std::function<void()>& f, const std::string& message, const std::string& what) {
    try {
        f();
        ADD_FAILURE() << what << ": nothing thrown, expected " << typeid(Expected).name();
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(e), typeid(Expected)) << what << ": threw " << typeid(e).name() << " (" << e.what() << ")";
        EXPECT_EQ(std::string(e.what()), message) << what;
    }
}

const std::string kDisposed = "Cannot perform this operation on a disposed object.";
const std::string kOutOfBounds = "The parameter is out of bounds.";
const std::string kNotConnected = "Not connected to an LDAP server.";

// ---- the fixture ---------------------------------------------------------------------------------------

/// One attribute line of a person: name and value.
using Line = std::pair<std::string, std::string>;

class OrderingTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = server.uniqueSubtree(::testing::UnitTest::GetInstance()->current_test_info()->name());
        client = testing::rootClient(api);
    }

    /// Adds cn=<cn>,<base> as an inetOrgPerson with the given attribute lines (sn first: it is required).
    void addPerson(const std::string& cn, const std::vector<Line>& lines) {
        std::string ldif = "dn: cn=" + cn + "," + base + "\nobjectClass: inetOrgPerson\ncn: " + cn + "\n";
        for (const auto& [name, value] : lines) ldif += ldifLine(name, value);
        server.ldapadd(ldif);
    }
    /// Adds p0, p1, ... each with one sn value.
    void addSurnames(const Strings& surnames) {
        for (std::size_t i = 0; i < surnames.size(); ++i) addPerson("p" + std::to_string(i), {{"sn", surnames[i]}});
    }

    std::shared_ptr<EntryCollection> people() {
        return client->Search(base, "(objectClass=inetOrgPerson)", Scope::OneLevel);
    }

    /// The cn of an entry, from its DN (the tests' people have plain cn=<name> RDNs).
    static std::string cnOf(Entry& entry) {
        const std::string dn = entry.get_DN();
        return dn.substr(3, dn.find(',') - 3);
    }
    /// The entries' cns by index: the first get_Item applies a pending ordering.
    static Strings byIndex(EntryCollection& entries) {
        Strings out;
        for (int i = 0; i < entries.get_Count(); ++i) out.push_back(cnOf(*entries.get_Item(i)));
        return out;
    }
    /// The entries' cns as CopyTo delivers them (never applies an ordering). The array has get_Count slots,
    /// which deleted entries leave empty at the end.
    static Strings copied(EntryCollection& entries) {
        std::vector<std::shared_ptr<Entry>> array(static_cast<std::size_t>(entries.get_Count()));
        entries.CopyTo(array, 0);
        Strings out;
        for (const auto& e : array)
            if (e) out.push_back(cnOf(*e));
        return out;
    }
    /// The entries' cns by enumeration (applies a pending ordering).
    static Strings enumerated(EntryCollection& entries) {
        Strings out;
        for (const auto& e : entries) out.push_back(cnOf(*e));
        return out;
    }
    /// The first value of `name` of each entry by index, read through the model.
    static Texts firstValues(EntryCollection& entries, const std::string& name) {
        Texts out;
        for (int i = 0; i < entries.get_Count(); ++i) {
            auto attribute = entries.get_Item(i)->get_Attributes()->get_Item(name);
            if (attribute && attribute->get_Values()->get_Count() > 0)
                out.push_back(attribute->get_Values()->get_Item(0)->get_StringValue());
            else
                out.emplace_back();
        }
        return out;
    }
    static Strings sortedCopy(Strings s) {
        std::sort(s.begin(), s.end());
        return s;
    }

    std::size_t valueReads() const { return api->count("ldap_get_attribute_ber"); }

    SlapdServer& server = SlapdServer::instance();
    std::shared_ptr<RecordingLdapApi> api = std::make_shared<RecordingLdapApi>();
    std::unique_ptr<Client> client;
    std::string base;
    // Orderings run under en_US unless a test names another locale, whatever the environment says.
    DefaultLocale locale{"en_US"};
};

// ---- collation -----------------------------------------------------------------------------------------

// German puts the umlauts with their base letters, Swedish after z; neither is code-point order (which puts
// every capital before every small letter, and the accented capitals after z). Case-only and
// accent-only differences are never ties: an accent outranks case, and lower case comes first.
TEST_F(OrderingTest, TheDefaultLocaleDecidesTheOrderOfWords) {
    const Strings surnames = {"Zulu", "Öl", "zoe", "Ärger", "Zoë", "Bravo", "Åsa", "Zoe", "Alpha"};
    addSurnames(surnames);
    const Strings german = {"Alpha", "Ärger", "Åsa", "Bravo", "Öl", "zoe", "Zoe", "Zoë", "Zulu"};
    const Strings swedish = {"Alpha", "Bravo", "zoe", "Zoe", "Zoë", "Zulu", "Åsa", "Ärger", "Öl"};
    auto reversed = [](Strings s) {
        std::reverse(s.begin(), s.end());
        return s;
    };
    struct Case {
        const char* locale;
        SortDirection direction;
        Strings expected;
    };
    const Case cases[] = {
        {"de_DE", Asc, german},
        {"sv_SE", Asc, swedish},
        {"de_DE", Desc, reversed(german)},
        {"sv_SE", Desc, reversed(swedish)},
    };
    // One collection for all of them: each ordering starts from the order the one before left.
    auto entries = people();
    ASSERT_EQ(entries->get_Count(), static_cast<int>(surnames.size()));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + (c.direction == Asc ? " ascending" : " descending"));
        DefaultLocale scope(c.locale);
        entries->ClearSort();
        entries->SortBy("sn", c.direction);
        Texts expected(c.expected.begin(), c.expected.end());
        EXPECT_EQ(firstValues(*entries, "sn"), expected);
    }
}

// Characters that expand to many collation elements give keys far longer than their text; such texts must
// still compare in full, past the length a key usually has.
TEST_F(OrderingTest, TextsWithLongCollationKeysCompareInFull) {
    const std::string ligature = "\xEF\xB7\xBA";  // U+FDFA: one character, a whole phrase of collation elements
    const std::string three = ligature + ligature + ligature;
    addSurnames({three + " b", ligature + ligature, three + " a", three});
    const Texts expected = {ligature + ligature, three, three + " a", three + " b"};
    for (const char* name : {"en_US", "ar"}) {
        SCOPED_TRACE(name);
        DefaultLocale scope(name);
        auto entries = people();
        entries->SortBy("sn");
        EXPECT_EQ(firstValues(*entries, "sn"), expected);
    }
}

// ---- keys ----------------------------------------------------------------------------------------------

TEST_F(OrderingTest, TwoKeysInEitherDirectionWithAbsentValues) {
    addPerson("p1", {{"sn", "Doe"}, {"givenName", "John"}});
    addPerson("p2", {{"sn", "Doe"}, {"givenName", "Jane"}});
    addPerson("p3", {{"sn", "Adams"}, {"givenName", "Zed"}});
    addPerson("p4", {{"sn", "Doe"}});  // no givenName
    addPerson("p5", {{"sn", "Baker"}, {"givenName", "Amy"}});
    struct Case {
        std::string first;  // the names in several letter cases: the attribute collection's matching decides
        SortDirection firstDirection;
        std::string second;
        SortDirection secondDirection;
        Strings expected;
    };
    const Case cases[] = {
        // Absent values rank below every present one: first ascending, last descending.
        {"sn", Asc, "givenName", Asc, {"p3", "p5", "p4", "p2", "p1"}},
        {"SN", Asc, "GIVENNAME", Desc, {"p3", "p5", "p1", "p2", "p4"}},
        {"Sn", Desc, "givenname", Asc, {"p4", "p2", "p1", "p5", "p3"}},
        {"sN", Desc, "GivenName", Desc, {"p1", "p2", "p4", "p5", "p3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first + "/" + c.second);
        auto entries = people();
        entries->SortBy(c.first, c.firstDirection);
        entries->SortBy(c.second, c.secondDirection);
        EXPECT_EQ(byIndex(*entries), c.expected);
    }
}

// An absent value ranks below the empty text, when the server can hold one at all: most syntaxes refuse a
// value of zero length, an octet string does not.
TEST_F(OrderingTest, AnAbsentValueRanksBelowTheEmptyText) {
    addPerson("p1", {{"sn", "x"}, {"userPassword", "b"}});
    addPerson("p2", {{"sn", "x"}});
    try {
        addPerson("p3", {{"sn", "x"}, {"userPassword", ""}});
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the server holds no empty value: " << e.what();
    }
    const auto held = parseLdif(server.ldapsearch("cn=p3," + base, "base", "(objectClass=*)", {"userPassword"}));
    ASSERT_EQ(held.at("cn=p3," + base).at("userpassword"), Strings{""});

    auto entries = people();
    entries->SortBy("userPassword");
    EXPECT_EQ(byIndex(*entries), (Strings{"p2", "p3", "p1"}));
    EXPECT_EQ(firstValues(*entries, "userPassword"), (Texts{std::nullopt, "", "b"}));
    entries->ClearSort();
    entries->SortBy("userPassword", Desc);
    EXPECT_EQ(byIndex(*entries), (Strings{"p1", "p3", "p2"}));
}

// Keys that cannot separate two entries leave the decision to the keys after them: a name no entry has, an
// absent name, or a name that is already a key (in any direction and letter case).
TEST_F(OrderingTest, KeysThatDecideNothing) {
    addSurnames({"Doe", "Baker", "Doe", "Adams", "Carter"});
    const Texts ascending = {"Adams", "Baker", "Carter", "Doe", "Doe"};
    const Texts descending = {"Doe", "Doe", "Carter", "Baker", "Adams"};
    struct Key {
        std::optional<std::string> name;
        SortDirection direction;
    };
    struct Case {
        const char* what;
        std::vector<Key> keys;
        Texts expected;
    };
    const Case cases[] = {
        {"a name no entry has", {{"carLicense", Desc}, {"sn", Asc}}, ascending},
        {"an absent name", {{std::nullopt, Asc}, {"sn", Desc}}, descending},
        {"the same name reversed", {{"sn", Asc}, {"sn", Desc}}, ascending},
        {"the same name reversed in another case", {{"sn", Desc}, {"SN", Asc}}, descending},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto entries = people();
        for (const auto& k : c.keys) entries->SortBy(k.name, k.direction);
        EXPECT_EQ(firstValues(*entries, "sn"), c.expected);
    }

    // Alone, a key that no entry has orders nothing in particular, but the list keeps its entries.
    auto entries = people();
    const Strings before = copied(*entries);
    entries->SortBy("carLicense");
    EXPECT_EQ(sortedCopy(byIndex(*entries)), sortedCopy(before));

    // The one-argument form is the ascending one.
    auto oneArgument = people();
    oneArgument->SortBy("sn");
    EXPECT_EQ(firstValues(*oneArgument, "sn"), ascending);
}

// Only the first value counts, in the order of the value collection: the server's order, then values added
// through the model at the end. Built so that the smallest or the last value would give another order.
TEST_F(OrderingTest, AMultiValuedAttributeOrdersByItsFirstValue) {
    addPerson("p1", {{"sn", "x"}, {"description", "m"}, {"description", "a"}});
    addPerson("p2", {{"sn", "x"}, {"description", "k"}});
    addPerson("p3", {{"sn", "x"}, {"description", "z"}, {"description", "b"}});
    // The server keeps the values in the order they were given.
    const auto held = parseLdif(server.ldapsearch(base, "one", "(objectClass=inetOrgPerson)", {"description"}));
    ASSERT_EQ(held.at("cn=p1," + base).at("description"), (Strings{"m", "a"}));
    ASSERT_EQ(held.at("cn=p3," + base).at("description"), (Strings{"z", "b"}));

    auto entries = people();
    entries->SortBy("description");
    EXPECT_EQ(byIndex(*entries), (Strings{"p2", "p1", "p3"}));

    // p2 gains a value that would come first of all; it goes to the end of its values and changes nothing.
    auto p2 = entries->get_Item(0);
    ASSERT_EQ(cnOf(*p2), "p2");
    p2->get_Attributes()->get_Item("description")->get_Values()->Add(std::string("0"));
    // p1 loses its first value "m"; "a" is now its first.
    auto p1 = entries->get_Item(1);
    ASSERT_EQ(cnOf(*p1), "p1");
    p1->get_Attributes()->get_Item("description")->get_Values()->get_Item(0)->Delete();
    entries->ClearSort();
    entries->SortBy("DESCRIPTION");
    EXPECT_EQ(byIndex(*entries), (Strings{"p1", "p2", "p3"}));
    EXPECT_EQ(firstValues(*entries, "description"), (Texts{"a", "k", "z"}));
}

// ---- deferral ------------------------------------------------------------------------------------------

TEST_F(OrderingTest, OnlyHandingOutEntriesAppliesAnOrdering) {
    addSurnames({"b", "d", "a", "c"});
    auto entries = people();
    const Strings chain = copied(*entries);
    ASSERT_EQ(sortedCopy(chain), (Strings{"p0", "p1", "p2", "p3"}));
    const Strings sorted = {"p1", "p3", "p0", "p2"};  // sn descending
    ASSERT_NE(chain, sorted);

    api->clear();
    entries->SortBy("sn", Desc);
    EXPECT_EQ(entries->get_Count(), 4);
    EXPECT_EQ(copied(*entries), chain);
    expectExactThrow<LdapException>([&] { entries->get_Item(4); }, kOutOfBounds, "get_Item(Count)");
    expectExactThrow<LdapException>([&] { entries->get_Item(-1); }, kOutOfBounds, "get_Item(-1)");
    EXPECT_EQ(copied(*entries), chain);
    EXPECT_EQ(valueReads(), 0u) << "nothing is read before entries are handed out";

    EXPECT_EQ(cnOf(*entries->get_Item(0)), sorted[0]);
    EXPECT_EQ(copied(*entries), sorted);
    EXPECT_EQ(enumerated(*entries), sorted);

    // A deletion leaves a pending ordering pending; it then orders the entries that are left.
    entries->ClearSort();
    entries->SortBy("sn");
    entries->get_Item(1)->Delete();  // applies the ascending order first: p0 ("b") goes
    EXPECT_EQ(copied(*entries), (Strings{"p2", "p3", "p1"}));
    entries->SortBy("sn", Desc);
    entries->get_Item(1)->Delete();  // p3 ("c") goes: the ascending key still decides, nothing moved
    const auto left = parseLdif(server.ldapsearch(base, "one", "(objectClass=inetOrgPerson)", {"sn"}));
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(left.count("cn=p1," + base) + left.count("cn=p2," + base), 2u);
    entries->ClearSort();
    entries->SortBy("sn", Desc);
    EXPECT_EQ(copied(*entries), (Strings{"p2", "p1"})) << "a deletion applies no ordering";
    EXPECT_EQ(cnOf(*entries->get_Item(0)), "p1");
    EXPECT_EQ(enumerated(*entries), (Strings{"p1", "p2"}));
    EXPECT_EQ(entries->get_Count(), 4) << "the count is what the server returned";
    expectExactThrow<LdapException>([&] { entries->get_Item(2); }, kOutOfBounds, "get_Item past the entries left");
}

TEST_F(OrderingTest, ClearSortKeepsAnAppliedOrderAndAbandonsAPendingOne) {
    addSurnames({"b", "d", "a", "c"});
    const Strings ascending = {"p2", "p0", "p3", "p1"};
    const Strings descending = {"p1", "p3", "p0", "p2"};

    {
        SCOPED_TRACE("pending, never applied");
        auto entries = people();
        const Strings chain = copied(*entries);
        api->clear();
        entries->SortBy("sn", Desc);
        entries->ClearSort();
        EXPECT_EQ(enumerated(*entries), chain);
        EXPECT_EQ(byIndex(*entries), chain);
        EXPECT_EQ(api->count("ldap_get_attribute_ber"), 0u);
    }
    {
        SCOPED_TRACE("applied");
        auto entries = people();
        entries->SortBy("sn", Desc);
        entries->get_Item(0);
        entries->ClearSort();
        EXPECT_EQ(enumerated(*entries), descending);
    }
    {
        SCOPED_TRACE("applied, then another one pending");
        auto entries = people();
        entries->SortBy("sn");
        EXPECT_EQ(enumerated(*entries), ascending);
        entries->ClearSort();
        entries->SortBy("sn", Desc);
        entries->ClearSort();
        EXPECT_EQ(byIndex(*entries), ascending);
    }
}

TEST_F(OrderingTest, AnEnumeratorMadeBeforeAnAppliedOrderingFailsOnItsNextAdvance) {
    addSurnames({"b", "a", "c", "d"});
    auto entries = people();
    auto enumerator = entries->GetEnumerator();
    ASSERT_TRUE(enumerator->MoveNext());
    auto iterator = entries->begin();

    // Keys alone change nothing yet.
    entries->SortBy("sn");
    EXPECT_EQ(entries->get_Count(), 4);
    ASSERT_TRUE(enumerator->MoveNext());
    ++iterator;

    // Keys given and cleared again leave nothing to apply.
    entries->ClearSort();
    entries->get_Item(0);
    ASSERT_TRUE(enumerator->MoveNext());
    entries->SortBy("sn");

    entries->get_Item(0);  // applies it
    EXPECT_THROW(enumerator->MoveNext(), InvalidOperationException);
    EXPECT_THROW(++iterator, InvalidOperationException);

    // An enumerator that applies the ordering itself walks the new order to the end.
    entries->ClearSort();
    entries->SortBy("sn", Desc);
    auto fresh = entries->GetEnumerator();
    Strings walked;
    while (fresh->MoveNext()) walked.push_back(cnOf(*fresh->get_Current()));
    EXPECT_EQ(walked, (Strings{"p3", "p2", "p0", "p1"}));
}

// The values are read afresh at each application: a value changed since the last one counts.
TEST_F(OrderingTest, EachApplicationReadsTheCurrentValues) {
    addSurnames({"b", "a", "c"});
    auto entries = people();
    entries->SortBy("sn");
    EXPECT_EQ(byIndex(*entries), (Strings{"p1", "p0", "p2"}));

    entries->get_Item(0)->get_Attributes()->get_Item("sn")->get_Values()->get_Item(0)->set_StringValue("d");
    const auto held = parseLdif(server.ldapsearch("cn=p1," + base, "base", "(objectClass=*)", {"sn"}));
    ASSERT_EQ(held.at("cn=p1," + base).at("sn"), Strings{"d"});

    EXPECT_EQ(byIndex(*entries), (Strings{"p1", "p0", "p2"})) << "no new key, no new ordering";
    entries->SortBy("sn");
    EXPECT_EQ(byIndex(*entries), (Strings{"p0", "p2", "p1"}));
}

// ---- failures while ordering -----------------------------------------------------------------------------

// A disposed object on the way to a key value makes the ordering fail at every ordered access until
// ClearSort; the list keeps the same entries in the same order, and the ordering stays pending. The disposed
// object belongs to the entry listed last and the direction is chosen so that the entries before it are out
// of order: an ordering that moved entries before it reached the disposed one would show.
TEST_F(OrderingTest, ADisposedObjectOnTheKeyPathFailsEveryOrderedAccessUntilClearSort) {
    const std::map<std::string, std::string> surnames = {{"p0", "b"}, {"p1", "a"}, {"p2", "d"}, {"p3", "c"}};
    for (const auto& [cn, sn] : surnames) addPerson(cn, {{"sn", sn}, {"givenName", "g" + sn}});
    struct Case {
        const char* what;
        std::function<void(Entry&)> dispose;
        bool fails;
    };
    auto sn = [](Entry& e) { return e.get_Attributes()->get_Item("sn"); };
    const Case cases[] = {
        {"the entry", [](Entry& e) { e.Dispose(); }, true},
        {"its attribute collection", [](Entry& e) { e.get_Attributes()->Dispose(); }, true},
        {"its key attribute", [&](Entry& e) { sn(e)->Dispose(); }, true},
        {"the key's value collection", [&](Entry& e) { sn(e)->get_Values()->Dispose(); }, true},
        {"the key's first value", [&](Entry& e) { sn(e)->get_Values()->get_Item(0)->Dispose(); }, true},
        {"an attribute that is no key", [](Entry& e) { e.get_Attributes()->get_Item("givenName")->Dispose(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto entries = people();
        std::vector<std::shared_ptr<Entry>> held(4);
        entries->CopyTo(held, 0);
        const bool firstTwoAscending = surnames.at(cnOf(*held[0])) < surnames.at(cnOf(*held[1]));
        const SortDirection direction = firstTwoAscending ? Desc : Asc;
        c.dispose(*held[3]);
        entries->SortBy("sn", direction);
        if (!c.fails) {
            const Strings expected =
                direction == Asc ? Strings{"p1", "p0", "p3", "p2"} : Strings{"p2", "p3", "p0", "p1"};
            EXPECT_EQ(byIndex(*entries), expected);
            continue;
        }
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 4; ++i)
                expectExactThrow<ObjectDisposedException>([&] { entries->get_Item(i); }, kDisposed, "get_Item");
            expectExactThrow<ObjectDisposedException>([&] { entries->GetEnumerator(); }, kDisposed, "GetEnumerator");
            expectExactThrow<ObjectDisposedException>([&] { entries->begin(); }, kDisposed, "begin");
            // The index is tested before the ordering is tried.
            expectExactThrow<LdapException>([&] { entries->get_Item(4); }, kOutOfBounds, "get_Item(4)");
            EXPECT_EQ(entries->get_Count(), 4);
            std::vector<std::shared_ptr<Entry>> now(4);
            entries->CopyTo(now, 0);
            EXPECT_EQ(now, held) << "the same entry objects in the same order";
        }
        entries->ClearSort();
        EXPECT_EQ(entries->get_Item(3), held[3]);
        std::vector<std::shared_ptr<Entry>> walked;
        for (const auto& e : *entries) walked.push_back(e);
        EXPECT_EQ(walked, held);
    }

    // A single entry needs no comparison, so its disposal does not stop the ordering.
    auto single = client->Search("cn=p0," + base, "(objectClass=*)", Scope::Base);
    auto only = single->get_Item(0);
    only->Dispose();
    single->SortBy("sn");
    EXPECT_EQ(single->get_Item(0), only);
    EXPECT_NE(single->GetEnumerator(), nullptr);
}

// Without a connection an ordering that must first read attributes from the result is refused with the
// not-connected error and changes nothing; attributes already held need no connection to be ordered.
TEST_F(OrderingTest, AfterDisconnectOnlyHeldValuesCanBeOrdered) {
    addSurnames({"b", "a", "c"});
    auto unread = people();
    ASSERT_EQ(unread->get_Count(), 3);  // counted while connected
    std::vector<std::shared_ptr<Entry>> before(3);
    unread->CopyTo(before, 0);
    unread->get_Item(0)->get_Attributes();  // one entry's attributes are held, the others are not

    auto read = people();
    ASSERT_EQ(read->get_Count(), 3);
    read->SortBy("givenName");
    read->get_Item(0);  // reads every entry's attributes

    client->Disconnect();
    api->clear();
    unread->SortBy("sn");
    for (int round = 0; round < 2; ++round) {
        expectExactThrow<InvalidStateException>([&] { unread->get_Item(0); }, kNotConnected, "get_Item");
        expectExactThrow<InvalidStateException>([&] { unread->GetEnumerator(); }, kNotConnected, "GetEnumerator");
        std::vector<std::shared_ptr<Entry>> now(3);
        unread->CopyTo(now, 0);
        EXPECT_EQ(now, before);
    }
    std::string made;
    for (const auto& call : api->calls()) made += call.function + " ";
    EXPECT_EQ(made, "") << "no libldap call is made without a connection";

    read->ClearSort();
    read->SortBy("sn", Desc);
    EXPECT_EQ(byIndex(*read), (Strings{"p2", "p0", "p1"}));
}

// ---- the shared test data --------------------------------------------------------------------------------

// The people of OpenLDAP's test data ordered by sn, then cn: every neighbour pair is in the order ICU's own
// collator of the same locale gives, comparing the texts the server holds (taken from ldapsearch, not from
// the library).
TEST_F(OrderingTest, TestDataPeopleFollowTheCollatorOfTheLocale) {
    const std::string peopleBase = "ou=People," + server.suffix();
    const auto held = parseLdif(server.ldapsearch(peopleBase, "sub", "(objectClass=person)", {"sn", "cn"}));
    ASSERT_GE(held.size(), 8u);
    Strings heldDns;
    for (const auto& [dn, attributes] : held) heldDns.push_back(dn);

    auto entries = client->Search(peopleBase, "(objectClass=person)", Scope::SubTree);
    for (const char* name : {"en_US", "de_DE", "sv_SE", "fr_CA"}) {
        DefaultLocale scope(name);
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale(name), status));
        ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
        collator->setStrength(icu::Collator::TERTIARY);
        collator->setAttribute(UCOL_CASE_FIRST, UCOL_LOWER_FIRST, status);
        auto compare = [&](const std::string& a, const std::string& b) {
            UErrorCode s = U_ZERO_ERROR;
            const auto r = collator->compareUTF8(a, b, s);
            EXPECT_TRUE(U_SUCCESS(s));
            return static_cast<int>(r);
        };
        for (const SortDirection direction : {Asc, Desc}) {
            SCOPED_TRACE(std::string(name) + (direction == Asc ? " ascending" : " descending"));
            entries->ClearSort();
            entries->SortBy("sn", direction);
            entries->SortBy("cn", direction);
            Strings dns;
            for (const auto& e : *entries) dns.push_back(e->get_DN());
            EXPECT_EQ(sortedCopy(dns), heldDns);
            const int sign = direction == Asc ? 1 : -1;
            for (std::size_t i = 0; i + 1 < dns.size(); ++i) {
                const auto& a = held.at(dns[i]);
                const auto& b = held.at(dns[i + 1]);
                const int bySn = sign * compare(a.at("sn").front(), b.at("sn").front());
                const int byCn = sign * compare(a.at("cn").front(), b.at("cn").front());
                EXPECT_TRUE(bySn < 0 || (bySn == 0 && byCn <= 0)) << dns[i] << " before " << dns[i + 1];
            }
        }
    }
}

}  // namespace
}  // namespace Varnel::Ldap
