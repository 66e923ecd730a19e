// The arrays handed to libldap, their release, text to bytes in the client's encoding, and byte comparison.
#include "foundation/utilities.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <varnel/ldap/exceptions.hpp>
#include <vector>

#include "client/options.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define VARNEL_HAVE_LSAN 1
#endif

namespace Varnel::Ldap {
namespace {

using namespace std::string_literals;

// Every test leaves the allocation hook as it found it (unset), whatever it asserted.
class MarshallingTest : public ::testing::Test {
protected:
    void TearDown() override { Utilities::allocationFailureHook() = nullptr; }

    // Installs a hook that records each ordinal it is asked about and fails the one equal to `failAt`.
    std::vector<std::size_t>& recordOrdinals(std::size_t failAt = static_cast<std::size_t>(-1)) {
        m_ordinals.clear();
        Utilities::allocationFailureHook() = [this, failAt](std::size_t ordinal) {
            m_ordinals.push_back(ordinal);
            return ordinal == failAt;
        };
        return m_ordinals;
    }

    static void expectNoLeak() {
#if defined(VARNEL_HAVE_LSAN)
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory of a failed conversion was not released";
#endif
    }

private:
    std::vector<std::size_t> m_ordinals;
};

// The texts of a null-terminated array, up to its null slot.
std::vector<std::string> slotsOf(char** array) {
    std::vector<std::string> texts;
    for (char** slot = array; *slot != nullptr; ++slot) texts.emplace_back(*slot);
    return texts;
}

struct ExpectedMod {
    std::string type;
    std::vector<std::string> values;
    bool operator==(const ExpectedMod&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ExpectedMod& mod) {
    out << mod.type << ":";
    for (const auto& value : mod.values) out << " '" << value << "'";
    return out;
}

// Reads a modification array back, checking on the way what every record must hold.
std::vector<ExpectedMod> modsOf(LDAPMod** mods) {
    std::vector<ExpectedMod> result;
    for (LDAPMod** record = mods; *record != nullptr; ++record) {
        const LDAPMod& mod = **record;
        EXPECT_EQ(mod.mod_op, 0) << "an add of text values";
        EXPECT_EQ(mod.mod_op & LDAP_MOD_BVALUES, 0);
        EXPECT_NE(mod.mod_type, nullptr);
        EXPECT_NE(mod.mod_vals.modv_strvals, nullptr);
        if (mod.mod_type == nullptr || mod.mod_vals.modv_strvals == nullptr) continue;
        result.push_back({mod.mod_type, slotsOf(mod.mod_vals.modv_strvals)});
    }
    return result;
}

TEST_F(MarshallingTest, AttributeNameArrayHoldsACopyOfEachNameInOrderThenNull) {
    const struct {
        const char* label;
        StringList names;
        std::vector<std::string> slots;
    } cases[] = {
        {"one name", {"cn"}, {"cn"}},
        {"three names in order", {"cn", "mail", "objectClass"}, {"cn", "mail", "objectClass"}},
        {"a NUL cuts the text", {"cn\0junk"s, "sn"}, {"cn", "sn"}},
        // An empty copy is still a slot: a null there would hide the names after it from libldap.
        {"a leading NUL gives an empty slot", {"\0cn"s, "sn"}, {"", "sn"}},
        {"an empty name", {"", "sn"}, {"", "sn"}},
        {"UTF-8 bytes unchanged", {"c\xc3\xa9"}, {"c\xc3\xa9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        StringList names = c.names;
        char** array = Utilities::StringColl2Array(names);
        ASSERT_NE(array, nullptr);
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_NE(array[i], nullptr) << "slot " << i;
            EXPECT_NE(static_cast<const void*>(array[i]), static_cast<const void*>(names[i].c_str()))
                << "slot " << i << " must be a copy";
        }
        EXPECT_EQ(array[names.size()], nullptr) << "the slot after the last name";
        // The array is independent of the list it was made from.
        for (auto& name : names) name.assign(name.size(), 'X');
        std::vector<std::string> slots;
        for (std::size_t i = 0; i < c.slots.size(); ++i) slots.emplace_back(array[i]);
        EXPECT_EQ(slots, c.slots);
        Utilities::FreeStringArray(array);
    }
}

TEST_F(MarshallingTest, EmptyAttributeListIsNoArrayAndAllocatesNothing) {
    const auto& ordinals = recordOrdinals();
    EXPECT_EQ(Utilities::StringColl2Array({}), nullptr);
    EXPECT_TRUE(ordinals.empty());
    Utilities::FreeStringArray(nullptr);  // must do nothing
    const StringArray owner(StringList{});
    EXPECT_EQ(owner.get(), nullptr);
}

TEST_F(MarshallingTest, ModificationArrayHoldsOneAddRecordPerNameWithAllItsValues) {
    const struct {
        const char* label;
        NameValueCollection nvc;
        std::vector<ExpectedMod> mods;
    } cases[] = {
        {"no names", {}, {}},
        {"one name, one value", {{"cn", "Ann"}}, {{"cn", {"Ann"}}}},
        {"three values of one name in order",
         {{"mail", "a@x"}, {"mail", "b@x"}, {"mail", "c@x"}},
         {{"mail", {"a@x", "b@x", "c@x"}}}},
        {"names in order of first addition, letter case merged",
         {{"objectClass", "top"}, {"cn", "Ann"}, {"OBJECTCLASS", "person"}, {"sn", "Lee"}, {"CN", "Annie"}},
         {{"objectClass", {"top", "person"}}, {"cn", {"Ann", "Annie"}}, {"sn", {"Lee"}}}},
        {"a NUL cuts a value and a name",
         {{"description", "before\0after"s}, {"cn\0x"s, "Ann"}},
         {{"description", {"before"}}, {"cn", {"Ann"}}}},
        {"empty and non-ASCII values", {{"cn", ""}, {"cn", "J\xc3\xbcrgen"}}, {{"cn", {"", "J\xc3\xbcrgen"}}}},
    };
    const Options options;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        LDAPMod** mods = Utilities::NameValueCollection2LDAPMods(c.nvc, options);
        ASSERT_NE(mods, nullptr) << "even no names give a block with its null slot";
        EXPECT_EQ(mods[c.mods.size()], nullptr);
        EXPECT_EQ(modsOf(mods), c.mods);
        // Copies, not views of the collection's strings.
        for (std::size_t i = 0; mods[i] != nullptr; ++i) {
            EXPECT_NE(static_cast<const void*>(mods[i]->mod_type), static_cast<const void*>(c.nvc.GetKey(i).c_str()));
        }
        Utilities::FreeMods(&mods);
        EXPECT_EQ(mods, nullptr) << "FreeMods clears the caller's variable";
    }
}

TEST_F(MarshallingTest, NameWithoutTextOrValuesIsRefusedBeforeAnythingIsAllocated) {
    NameValueCollection emptyName;
    emptyName.Add("cn", "Ann");
    emptyName.Add("", "x");
    NameValueCollection nulName;
    nulName.Add("cn", "Ann");
    nulName.Add("\0sn"s, "x");  // reaches libldap as an empty name
    NameValueCollection noValues;
    noValues.Add("cn", "Ann");
    noValues.Add("mail", std::vector<std::string>{});
    const struct {
        const char* label;
        const NameValueCollection& nvc;
    } cases[] = {{"empty name", emptyName}, {"name cut to nothing by a NUL", nulName}, {"no values", noValues}};

    const Options options;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto& ordinals = recordOrdinals();
        EXPECT_THROW(Utilities::NameValueCollection2LDAPMods(c.nvc, options), ArgumentException);
        EXPECT_TRUE(ordinals.empty()) << ordinals.size() << " allocations before the refusal";
        EXPECT_THROW(ModArray(c.nvc, options), ArgumentException);
    }
}

TEST_F(MarshallingTest, EachConversionCountsItsAllocationsFromZero) {
    NameValueCollection nvc{{"objectClass", "top"}, {"objectClass", "person"}, {"cn", "Ann"}};
    const Options options;
    // Block, then per name: record, type, value block, values.
    const std::size_t expected = 1 + (3 + 2) + (3 + 1);
    for (int run = 0; run < 2; ++run) {
        const auto& ordinals = recordOrdinals();
        ModArray mods(nvc, options);
        ASSERT_EQ(ordinals.size(), expected);
        for (std::size_t i = 0; i < ordinals.size(); ++i) EXPECT_EQ(ordinals[i], i);
    }
    const auto& ordinals = recordOrdinals();
    const StringArray names(StringList{"cn", "sn", "mail"});
    EXPECT_EQ(ordinals, (std::vector<std::size_t>{0, 1, 2, 3}));
}

TEST_F(MarshallingTest, FailedAllocationAtAnyPointReleasesEverythingAndPropagates) {
    const NameValueCollection nvc{{"objectClass", "top"}, {"objectClass", "person"}, {"cn", "Ann"}, {"sn", "Lee"}};
    const Options options;
    std::size_t total = 0;
    {
        const auto& ordinals = recordOrdinals();
        ModArray mods(nvc, options);
        total = ordinals.size();
    }
    for (std::size_t k = 0; k < total; ++k) {
        SCOPED_TRACE("modification array, allocation " + std::to_string(k));
        const auto& ordinals = recordOrdinals(k);
        EXPECT_THROW(Utilities::NameValueCollection2LDAPMods(nvc, options), std::bad_alloc);
        EXPECT_EQ(ordinals.size(), k + 1) << "the conversion stops at the failed allocation";
    }
    expectNoLeak();

    const StringList names{"cn", "sn", "mail", "objectClass"};
    for (std::size_t k = 0; k <= names.size(); ++k) {
        SCOPED_TRACE("attribute-name array, allocation " + std::to_string(k));
        recordOrdinals(k);
        EXPECT_THROW(Utilities::StringColl2Array(names), std::bad_alloc);
    }
    expectNoLeak();

    // Past the last ordinal nothing fails.
    recordOrdinals(total);
    ModArray mods(nvc, options);
    EXPECT_EQ(modsOf(mods.get()).size(), 3u);
}

TEST_F(MarshallingTest, ModArrayReleasesOnceAndClears) {
    const NameValueCollection nvc{{"cn", "Ann"}};
    ModArray mods(nvc, Options());
    ASSERT_NE(mods.get(), nullptr);
    mods.reset();
    EXPECT_EQ(mods.get(), nullptr);
    mods.reset();  // a second release does nothing; the destructor neither (ASan would see a double free)
}

TEST(EncodedBytesTest, UsesTheEncodingTheOptionsHoldAtThatMoment) {
    Options options;
    EXPECT_TRUE(Utilities::GetEncodedBytes("", options).empty());
    // 'a', U+00E9, U+20AC, U+1D11E: one to four bytes each.
    EXPECT_EQ(Utilities::GetEncodedBytes("a\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e", options),
              (ByteArray{0x61, 0xc3, 0xa9, 0xe2, 0x82, 0xac, 0xf0, 0x9d, 0x84, 0x9e}));
    options.SetEncoding(Encoding::ForName("ISO-8859-1"));
    EXPECT_EQ(Utilities::GetEncodedBytes("a\xc3\xa9", options), (ByteArray{0x61, 0xe9}));
    options.SetEncoding(Encoding::ForName("UTF-16LE"));
    EXPECT_EQ(Utilities::GetEncodedBytes("a\xc3\xa9", options), (ByteArray{0x61, 0x00, 0xe9, 0x00}));
    EXPECT_TRUE(Utilities::GetEncodedBytes("", options).empty());
}

TEST(IsEqualTest, SameLengthAndSameBytes) {
    const struct {
        ByteArray a;
        ByteArray b;
        bool equal;
    } cases[] = {
        {{}, {}, true},
        {{1, 2}, {1, 2, 3}, false},
        {{1, 2, 3}, {1, 2}, false},
        {{1, 2, 3}, {1, 2, 4}, false},
        {{9, 2, 3}, {1, 2, 3}, false},
        {{1, 2, 3}, {1, 2, 3}, true},
        {{}, {0}, false},
        {{0, 255}, {0, 255}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utilities::IsEqual(c.a, c.b), c.equal)
            << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
    }
}

}  // namespace
}  // namespace Varnel::Ldap
