// The one seam between the library and libldap. Every libldap call of the library goes through an LdapApi,
// whose operations are named after the classic C functions they stand for and take libldap's own types.
// The production binding (LibLdapApi) is the only code that knows where libldap differs from the classic
// API; tests wrap it to record calls and inject failures.
#pragma once

#include <memory>

#include <lber.h>
#include <ldap.h>

namespace Varnel::Ldap {

class LdapApi {
public:
    virtual ~LdapApi() = default;

    virtual LDAP* ldap_init(const char* host, int port) = 0;
    /// A handle for LDAP over TLS (ldaps://); `secure` is 1. Host lists and IPv6 literals are accepted.
    virtual LDAP* ldap_sslinit(const char* host, int port, int secure) = 0;
    virtual int ldap_set_option(LDAP* ld, int option, const void* invalue) = 0;
    virtual int ldap_get_option(LDAP* ld, int option, void* outvalue) = 0;
    virtual int ldap_simple_bind_s(LDAP* ld, const char* who, const char* passwd) = 0;
    virtual int ldap_unbind(LDAP* ld) = 0;

    virtual int ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                               int attrsonly, struct timeval* timeout, LDAPMessage** res) = 0;
    virtual int ldap_search_ext_s(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                                  int attrsonly, LDAPControl** serverctrls, LDAPControl** clientctrls,
                                  struct timeval* timeout, int sizelimit, LDAPMessage** res) = 0;
    virtual int ldap_count_entries(LDAP* ld, LDAPMessage* chain) = 0;
    virtual LDAPMessage* ldap_first_entry(LDAP* ld, LDAPMessage* chain) = 0;
    virtual LDAPMessage* ldap_next_entry(LDAP* ld, LDAPMessage* entry) = 0;
    virtual int ldap_msgfree(LDAPMessage* msg) = 0;

    virtual char* ldap_get_dn(LDAP* ld, LDAPMessage* entry) = 0;
    virtual void ldap_memfree(void* p) = 0;
    virtual char** ldap_explode_dn(const char* dn, int notypes) = 0;
    virtual int ldap_value_free(char** vals) = 0;

    virtual char* ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) = 0;
    virtual char* ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) = 0;
    virtual void ber_free(BerElement* ber, int freebuf) = 0;
    virtual struct berval** ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) = 0;
    virtual int ldap_value_free_len(struct berval** vals) = 0;
    /// The entry's DN in place, and in `*ber` an iteration state at its first attribute (released with
    /// ber_free, second argument 0). Reads the message only.
    virtual int ldap_get_dn_ber(LDAP* ld, LDAPMessage* entry, BerElement** ber, struct berval* dn) = 0;
    /// The next attribute of that iteration: its name and values point into the entry message and stay valid
    /// as long as the message; only the array `*vals` (absent when there are no values) is the caller's, to
    /// release with ldap_memfree. After the last attribute the name's bv_val is null.
    virtual int ldap_get_attribute_ber(LDAP* ld, LDAPMessage* entry, BerElement* ber, struct berval* attr,
                                       struct berval** vals) = 0;

    virtual int ldap_rename_ext_s(LDAP* ld, const char* dn, const char* newrdn, const char* newparent,
                                  int deleteoldrdn, LDAPControl** serverctrls, LDAPControl** clientctrls) = 0;
    virtual int ldap_delete_s(LDAP* ld, const char* dn) = 0;
    virtual int ldap_add_s(LDAP* ld, const char* dn, LDAPMod** attrs) = 0;
    virtual int ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) = 0;
    virtual int ldap_modify_ext_s(LDAP* ld, const char* dn, LDAPMod** mods, LDAPControl** serverctrls,
                                  LDAPControl** clientctrls) = 0;

    /// libldap's text for a result code; owned by libldap. Needs no handle.
    virtual const char* ldap_err2string(int err) = 0;
};

/// The production binding of libldap.
class LibLdapApi final : public LdapApi {
public:
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
};

/// The process-wide production binding, for code that has no connection at hand (exception texts).
const std::shared_ptr<LdapApi>& defaultLdapApi();

}  // namespace Varnel::Ldap
