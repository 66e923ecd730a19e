// An LdapApi that forwards every call to another one (the real libldap binding by default), records it with
// its arguments, and can make chosen calls fail without reaching the inner api.
//
//   auto api = std::make_shared<RecordingLdapApi>();
//   auto client = rootClient(api);
//   api->clear();
//   api->failCall("ldap_modify_ext_s", 1, LDAP_INSUFFICIENT_ACCESS);  // the next modify is refused
//   ... the operation under test ...
//   EXPECT_EQ(api->callsTo("ldap_modify_ext_s").at(0).mods.at(0).op, LDAP_MOD_REPLACE | LDAP_MOD_BVALUES);
//
// Everything a call receives is copied when the call is made, so the records stay valid after the library
// has released its arguments. Not thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap::testing {

/// One LDAPMod of an add or modify request.
struct RecordedMod {
    int op = 0;                       // mod_op as sent, LDAP_MOD_BVALUES included
    std::string type;                 // mod_type
    bool valuesNull = false;          // mod_vals was a null pointer
    std::vector<std::string> values;  // the bytes of each value, from the bervals or the texts
};

struct TimeLimit {
    long sec = 0;
    long usec = 0;
};

/// One call. Only the fields that the function has are filled in; the others keep their defaults.
struct LdapCall {
    std::string function;                  // "ldap_modify_ext_s"
    const void* ld = nullptr;              // the handle passed in
    std::optional<std::string> dn;         // the DN, the search base, or the host of ldap_init/ldap_sslinit
    std::optional<std::string> filter;     // search
    std::optional<std::string> newRdn;     // rename
    std::optional<std::string> newParent;  // rename
    std::optional<std::string> user;       // bind
    std::optional<std::string> password;   // bind
    std::optional<std::string> attribute;  // ldap_get_values_len; the name ldap_*_attribute* returned
    int port = 0;                          // ldap_init, ldap_sslinit
    int secure = 0;                        // ldap_sslinit
    int scope = 0;                         // search
    int attrsOnly = 0;                     // search
    int sizeLimit = 0;                     // ldap_search_ext_s
    int deleteOldRdn = 0;                  // rename
    int noTypes = 0;                       // ldap_explode_dn
    int freeBuf = 0;                       // ber_free
    int errorCode = 0;                     // ldap_err2string
    int option = 0;                        // ldap_set_option, ldap_get_option
    /// The int behind the option pointer for LDAP_OPT_PROTOCOL_VERSION and LDAP_OPT_SIZELIMIT: the value
    /// passed in (set), or the value read when the call succeeded (get).
    std::optional<int> optionValue;
    bool attrsNull = false;                // search: the attribute array was a null pointer
    std::vector<std::string> attrs;        // search: the attribute names
    std::optional<TimeLimit> timeLimit;    // search: absent when the timeval pointer was null
    bool modsNull = false;                 // add, modify: the LDAPMod array was a null pointer
    std::vector<RecordedMod> mods;         // add, modify
    int result = 0;                        // what an int function returned
    const void* returned = nullptr;        // what a pointer function returned; the pointer a release got
    bool injected = false;                 // failed by failCall/failServerChange without reaching the api
};

class RecordingLdapApi final : public LdapApi {
public:
    explicit RecordingLdapApi(std::shared_ptr<LdapApi> inner = defaultLdapApi());

    // ---- records
    const std::vector<LdapCall>& calls() const noexcept { return m_calls; }
    std::vector<LdapCall> callsTo(std::string_view function) const;
    std::size_t count(std::string_view function) const;
    /// The function names of all calls, in order.
    std::vector<std::string> functions() const;
    /// Forgets the records (armed faults stay armed).
    void clear() { m_calls.clear(); }

    // ---- fault injection
    /// The k-th following call to `function` (1 = the next) returns `rc` without reaching the inner api:
    /// pointer functions return nullptr, the search functions set *res = nullptr, the getters leave their
    /// output untouched (ldap_get_dn_ber and ldap_get_attribute_ber clear theirs: no state, name or values).
    /// Releases (ldap_unbind, ldap_msgfree, ldap_memfree, ber_free, ldap_value_free, ldap_value_free_len)
    /// still release, so a test does not leak; they only report `rc`.
    void failCall(std::string function, int k, int rc);
    /// The k-th following server-changing call of any kind (isServerChange) returns `rc` without reaching
    /// the server.
    void failServerChange(int k, int rc);
    /// Faults armed but not yet fired.
    std::size_t pendingFaults() const noexcept { return m_faults.size(); }
    void clearFaults() { m_faults.clear(); }
    /// ldap_add_s, ldap_modify_s, ldap_modify_ext_s, ldap_delete_s, ldap_rename_ext_s.
    static bool isServerChange(std::string_view function);

    // ---- LdapApi
    LDAP* ldap_init(const char* host, int port) override;
    LDAP* ldap_sslinit(const char* host, int port, int secure) override;
    int ldap_set_option(LDAP* ld, int option, const void* invalue) override;
    int ldap_get_option(LDAP* ld, int option, void* outvalue) override;
    int ldap_simple_bind_s(LDAP* ld, const char* who, const char* passwd) override;
    int ldap_unbind(LDAP* ld) override;
    int ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs, int attrsonly,
                       struct timeval* timeout, LDAPMessage** res) override;
    int ldap_search_ext_s(LDAP* ld, const char* base, int scope, const char* filter, char** attrs, int attrsonly,
                          LDAPControl** serverctrls, LDAPControl** clientctrls, struct timeval* timeout,
                          int sizelimit, LDAPMessage** res) override;
    int ldap_count_entries(LDAP* ld, LDAPMessage* chain) override;
    LDAPMessage* ldap_first_entry(LDAP* ld, LDAPMessage* chain) override;
    LDAPMessage* ldap_next_entry(LDAP* ld, LDAPMessage* entry) override;
    int ldap_msgfree(LDAPMessage* msg) override;
    char* ldap_get_dn(LDAP* ld, LDAPMessage* entry) override;
    void ldap_memfree(void* p) override;
    char** ldap_explode_dn(const char* dn, int notypes) override;
    int ldap_value_free(char** vals) override;
    char* ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) override;
    char* ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) override;
    void ber_free(BerElement* ber, int freebuf) override;
    struct berval** ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) override;
    int ldap_value_free_len(struct berval** vals) override;
    int ldap_get_dn_ber(LDAP* ld, LDAPMessage* entry, BerElement** ber, struct berval* dn) override;
    int ldap_get_attribute_ber(LDAP* ld, LDAPMessage* entry, BerElement* ber, struct berval* attr,
                               struct berval** vals) override;
    int ldap_rename_ext_s(LDAP* ld, const char* dn, const char* newrdn, const char* newparent, int deleteoldrdn,
                          LDAPControl** serverctrls, LDAPControl** clientctrls) override;
    int ldap_delete_s(LDAP* ld, const char* dn) override;
    int ldap_add_s(LDAP* ld, const char* dn, LDAPMod** attrs) override;
    int ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) override;
    int ldap_modify_ext_s(LDAP* ld, const char* dn, LDAPMod** mods, LDAPControl** serverctrls,
                          LDAPControl** clientctrls) override;
    const char* ldap_err2string(int err) override;

private:
    struct Fault {
        std::string function;  // empty: any server-changing call
        int remaining;
        int rc;
    };

    static LdapCall begin(std::string function, LDAP* ld);
    void finish(LdapCall&& call) { m_calls.push_back(std::move(call)); }
    /// Ends a call that returns a result code: an armed fault answers instead of the inner api.
    template <class Call>
    int forward(LdapCall&& call, Call&& inner) {
        if (auto rc = takeFault(call.function)) {
            call.injected = true;
            call.result = *rc;
        } else {
            call.result = inner();
        }
        const int result = call.result;
        finish(std::move(call));
        return result;
    }
    /// Ends a call that returns a pointer: an armed fault answers with nullptr instead of the inner api.
    template <class Call>
    auto forwardPointer(LdapCall&& call, Call&& inner) {
        decltype(inner()) pointer = nullptr;
        if (auto rc = takeFault(call.function)) {
            call.injected = true;
            call.result = *rc;
        } else {
            pointer = inner();
        }
        call.returned = pointer;
        finish(std::move(call));
        return pointer;
    }
    /// Ends a release: it always reaches the inner api, so a test does not leak; an armed fault only
    /// changes the result reported.
    template <class Call>
    int release(LdapCall&& call, Call&& inner) {
        const auto rc = takeFault(call.function);
        call.result = inner();
        if (rc) {
            call.injected = true;
            call.result = *rc;
        }
        const int result = call.result;
        finish(std::move(call));
        return result;
    }
    /// Counts this call against the armed faults; the result code when one fires.
    std::optional<int> takeFault(const std::string& function);

    std::shared_ptr<LdapApi> m_inner;
    std::vector<LdapCall> m_calls;
    std::vector<Fault> m_faults;
};

}  // namespace Varnel::Ldap::testing
