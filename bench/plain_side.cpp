#include "plain_side.hpp"

#include <lber.h>
#include <ldap.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/uversion.h>

namespace VarnelBench {

namespace {

void check(int rc, const char* what) {
    if (rc != LDAP_SUCCESS) throw std::runtime_error(std::string(what) + ": " + ldap_err2string(rc));
}

LDAPMessage* search(LDAP* ld, const std::string& base, const std::string& filter, char** attributes) {
    LDAPMessage* result = nullptr;
    const int rc = ldap_search_ext_s(ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), attributes, 0, nullptr,
                                     nullptr, nullptr, LDAP_NO_LIMIT, &result);
    if (rc != LDAP_SUCCESS) {
        ldap_msgfree(result);
        check(rc, "ldap_search_ext_s");
    }
    return result;
}

struct MessageFree {
    void operator()(LDAPMessage* m) const noexcept { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, MessageFree>;

std::string takeDn(LDAP* ld, LDAPMessage* entry) {
    char* dn = ldap_get_dn(ld, entry);
    if (dn == nullptr) throw std::runtime_error("ldap_get_dn failed");
    std::string text(dn);
    ldap_memfree(dn);
    return text;
}

// The first value of the attribute, or nothing when the entry has none.
std::optional<std::string> firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    berval** values = ldap_get_values_len(ld, entry, attribute);
    if (values == nullptr) return std::nullopt;
    std::optional<std::string> text;
    if (values[0] != nullptr) text.emplace(values[0]->bv_val, values[0]->bv_len);
    ldap_value_free_len(values);
    return text;
}

// The collation the library documents for ordering: the default locale, tertiary strength, lower case first.
std::unique_ptr<icu::Collator> makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale::getDefault(), status));
    if (U_FAILURE(status)) throw std::runtime_error(std::string("no collator: ") + u_errorName(status));
    collator->setStrength(icu::Collator::TERTIARY);
    collator->setAttribute(UCOL_CASE_FIRST, UCOL_LOWER_FIRST, status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("collator setting: ") + u_errorName(status));
    return collator;
}

// An absent value sorts before every present one.
struct SortKey {
    bool present = false;
    std::string bytes;
};

SortKey sortKey(const icu::Collator& collator, const std::optional<std::string>& text) {
    SortKey key;
    if (!text) return key;
    key.present = true;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(*text);
    key.bytes.resize(static_cast<std::size_t>(u.length()) * 4 + 16);
    int32_t needed =
        collator.getSortKey(u, reinterpret_cast<uint8_t*>(key.bytes.data()), static_cast<int32_t>(key.bytes.size()));
    if (needed > static_cast<int32_t>(key.bytes.size())) {
        key.bytes.resize(static_cast<std::size_t>(needed));
        needed = collator.getSortKey(u, reinterpret_cast<uint8_t*>(key.bytes.data()), needed);
    }
    key.bytes.resize(needed > 0 ? static_cast<std::size_t>(needed) - 1 : 0);
    return key;
}

int compare(const SortKey& a, const SortKey& b) {
    if (a.present != b.present) return a.present ? 1 : -1;
    return a.bytes.compare(b.bytes);
}

}  // namespace

std::string plainVersions() {
    std::string text = "libldap ";
    LDAPAPIInfo info{};
    info.ldapai_info_version = LDAP_API_INFO_VERSION;
    if (ldap_get_option(nullptr, LDAP_OPT_API_INFO, &info) == LDAP_OPT_SUCCESS) {
        const int v = info.ldapai_vendor_version;  // e.g. 20513 for 2.5.13
        text += std::string(info.ldapai_vendor_name ? info.ldapai_vendor_name : "?") + " " +
                std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
        ldap_memfree(info.ldapai_vendor_name);
        ldap_memvfree(reinterpret_cast<void**>(info.ldapai_extensions));
    } else {
        text += "(unknown)";
    }
    UVersionInfo icu;
    u_getVersion(icu);
    char icuText[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(icu, icuText);
    return text + ", ICU " + icuText;
}

PlainSide::PlainSide(const Config& config) : m_config(config) {
    check(ldap_initialize(&m_ld, m_config.uri().c_str()), "ldap_initialize");
    const int version = LDAP_VERSION3;
    check(ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version), "ldap_set_option");
    berval password;
    password.bv_val = m_config.password.data();
    password.bv_len = m_config.password.size();
    check(ldap_sasl_bind_s(m_ld, m_config.bindDn.c_str(), LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr),
          "ldap_sasl_bind_s");
}

PlainSide::~PlainSide() {
    if (m_ld != nullptr) ldap_unbind_ext_s(m_ld, nullptr, nullptr);
}

RunResult PlainSide::readAll() {
    RunResult result;
    Checksum& ck = result.checksum;
    const Stopwatch watch;
    const Message chain(search(m_ld, m_config.peopleBase, m_config.filter, nullptr));
    for (LDAPMessage* entry = ldap_first_entry(m_ld, chain.get()); entry != nullptr;
         entry = ldap_next_entry(m_ld, entry)) {
        ++ck.entries;
        char* dn = ldap_get_dn(m_ld, entry);
        if (dn == nullptr) throw std::runtime_error("ldap_get_dn failed");
        ck.touch(std::string_view(dn));
        ldap_memfree(dn);
        BerElement* ber = nullptr;
        for (char* name = ldap_first_attribute(m_ld, entry, &ber); name != nullptr;
             name = ldap_next_attribute(m_ld, entry, ber)) {
            ++ck.attributes;
            ck.touch(std::string_view(name));
            berval** values = ldap_get_values_len(m_ld, entry, name);
            if (values != nullptr) {
                for (berval** v = values; *v != nullptr; ++v) {
                    ++ck.values;
                    ck.touch((*v)->bv_val, (*v)->bv_len);
                }
                ldap_value_free_len(values);
            }
            ldap_memfree(name);
        }
        ber_free(ber, 0);
    }
    result.timing = watch.stop();
    return result;
}

Timing PlainSide::searchOnly() {
    const Stopwatch watch;
    Message chain(search(m_ld, m_config.peopleBase, m_config.filter, nullptr));
    chain.reset();
    return watch.stop();
}

RunResult PlainSide::sortByName() {
    RunResult result;
    Checksum& ck = result.checksum;
    const Stopwatch watch;
    const Message chain(search(m_ld, m_config.peopleBase, m_config.filter, nullptr));
    const auto collator = makeCollator();
    struct Row {
        std::string dn;
        SortKey sn;
        SortKey givenName;
    };
    std::vector<Row> rows;
    for (LDAPMessage* entry = ldap_first_entry(m_ld, chain.get()); entry != nullptr;
         entry = ldap_next_entry(m_ld, entry)) {
        rows.push_back(Row{takeDn(m_ld, entry), sortKey(*collator, firstValue(m_ld, entry, "sn")),
                           sortKey(*collator, firstValue(m_ld, entry, "givenName"))});
    }
    std::vector<const Row*> order(rows.size());
    std::transform(rows.begin(), rows.end(), order.begin(), [](const Row& r) { return &r; });
    std::sort(order.begin(), order.end(), [](const Row* a, const Row* b) {
        const int c = compare(a->sn, b->sn);
        return c != 0 ? c < 0 : compare(a->givenName, b->givenName) < 0;
    });
    for (const Row* row : order) {
        ++ck.entries;
        ck.mix(row->dn);
    }
    result.timing = watch.stop();
    return result;
}

RunResult PlainSide::modify(const std::string& token, std::uint64_t generation) {
    RunResult result;
    Checksum& ck = result.checksum;
    char description[] = "description";
    char* attributes[] = {description, nullptr};
    const Message chain(search(m_ld, m_config.peopleBase, m_config.modifyFilter, attributes));
    settle();
    const Stopwatch watch;
    std::size_t i = 0;
    for (LDAPMessage* entry = ldap_first_entry(m_ld, chain.get()); entry != nullptr;
         entry = ldap_next_entry(m_ld, entry)) {
        const std::string dn = takeDn(m_ld, entry);
        std::string text = modifyText(token, generation, i++);
        berval value;
        value.bv_val = text.data();
        value.bv_len = text.size();
        berval* values[] = {&value, nullptr};
        LDAPMod mod{};
        mod.mod_op = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;
        mod.mod_type = description;
        mod.mod_bvalues = values;
        LDAPMod* mods[] = {&mod, nullptr};
        check(ldap_modify_ext_s(m_ld, dn.c_str(), mods, nullptr, nullptr), "ldap_modify_ext_s");
        ++ck.entries;
        ck.mix(dn);
    }
    result.timing = watch.stop();
    return result;
}

RunResult PlainSide::countAndReadDns(const std::string& base) {
    RunResult result;
    Checksum& ck = result.checksum;
    const Message chain(search(m_ld, base, m_config.filter, nullptr));
    settle();
    const Stopwatch watch;
    const int count = ldap_count_entries(m_ld, chain.get());
    for (LDAPMessage* entry = ldap_first_entry(m_ld, chain.get()); entry != nullptr;
         entry = ldap_next_entry(m_ld, entry)) {
        char* dn = ldap_get_dn(m_ld, entry);
        if (dn == nullptr) throw std::runtime_error("ldap_get_dn failed");
        ++ck.entries;
        ldap_memfree(dn);
    }
    result.timing = watch.stop();
    if (static_cast<std::uint64_t>(count) != ck.entries) throw std::runtime_error("ldap_count_entries disagrees");
    return result;
}

std::size_t PlainSide::countWritten(const std::string& token, std::uint64_t generation) {
    char description[] = "description";
    char* attributes[] = {description, nullptr};
    const Message chain(search(m_ld, m_config.peopleBase, m_config.modifyFilter, attributes));
    std::size_t i = 0;
    std::size_t matching = 0;
    for (LDAPMessage* entry = ldap_first_entry(m_ld, chain.get()); entry != nullptr;
         entry = ldap_next_entry(m_ld, entry)) {
        berval** values = ldap_get_values_len(m_ld, entry, description);
        const std::string expected = modifyText(token, generation, i++);
        if (values != nullptr && values[0] != nullptr && values[1] == nullptr &&
            std::string(values[0]->bv_val, values[0]->bv_len) == expected) {
            ++matching;
        }
        ldap_value_free_len(values);
    }
    return matching;
}

}  // namespace VarnelBench
