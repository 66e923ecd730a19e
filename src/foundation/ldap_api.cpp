// libldap offers the classic synchronous calls only as deprecated declarations; they are still part of its
// ABI, so they are used directly. ldap_sslinit and ldap_rename_ext_s have no libldap counterpart of that
// name and are rebuilt on ldap_initialize and ldap_rename_s.
#define LDAP_DEPRECATED 1

#include "foundation/ldap_api.hpp"

#include <algorithm>
#include <string>
#include <string_view>

namespace Varnel::Ldap {

namespace {

// One host of a host list as a URI authority: IPv6 literals are bracketed; a host that names its own port
// keeps it.
std::string hostAuthority(std::string_view host, int port) {
    const std::string portText = std::to_string(port);
    const auto colons = std::count(host.begin(), host.end(), ':');
    std::string out;
    out.reserve(host.size() + portText.size() + 3);
    if (!host.empty() && host.front() == '[') {
        out.append(host);
        if (host.find("]:") == std::string_view::npos) out.append(":").append(portText);
    } else if (colons > 1) {  // a bare IPv6 literal
        out.append("[").append(host).append("]:").append(portText);
    } else {
        out.append(host);
        if (colons == 0) out.append(":").append(portText);
    }
    return out;
}

// libldap keeps the server's diagnostic text of the last response on the handle and does not clear it when a
// later request fails on the client side (bad filter, server gone): clear it before each request, so that
// what the handle holds afterwards belongs to this request.
LDAP* startRequest(LDAP* ld) noexcept {
    if (ld != nullptr) ::ldap_set_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, nullptr);
    return ld;
}

}  // namespace

LDAP* LibLdapApi::ldap_init(const char* host, int port) { return ::ldap_init(host, port); }

LDAP* LibLdapApi::ldap_sslinit(const char* host, int port, int secure) {
    const char* scheme = secure ? "ldaps://" : "ldap://";
    std::string uri;
    std::string_view hosts = host ? host : "";
    std::size_t pos = 0;
    while (pos <= hosts.size()) {
        const auto start = hosts.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        auto end = hosts.find(' ', start);
        if (end == std::string_view::npos) end = hosts.size();
        if (!uri.empty()) uri += ' ';
        uri += scheme + hostAuthority(hosts.substr(start, end - start), port);
        pos = end;
    }
    if (uri.empty()) uri = std::string(scheme) + ":" + std::to_string(port);  // libldap's default host
    LDAP* ld = nullptr;
    if (::ldap_initialize(&ld, uri.c_str()) != LDAP_SUCCESS) return nullptr;
    return ld;
}

int LibLdapApi::ldap_set_option(LDAP* ld, int option, const void* invalue) {
    return ::ldap_set_option(ld, option, invalue);
}
int LibLdapApi::ldap_get_option(LDAP* ld, int option, void* outvalue) {
    return ::ldap_get_option(ld, option, outvalue);
}
int LibLdapApi::ldap_simple_bind_s(LDAP* ld, const char* who, const char* passwd) {
    return ::ldap_simple_bind_s(startRequest(ld), who, passwd);
}
int LibLdapApi::ldap_unbind(LDAP* ld) { return ::ldap_unbind_ext_s(ld, nullptr, nullptr); }

int LibLdapApi::ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                               int attrsonly, struct timeval* timeout, LDAPMessage** res) {
    return ::ldap_search_st(startRequest(ld), base, scope, filter, attrs, attrsonly, timeout, res);
}
int LibLdapApi::ldap_search_ext_s(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                                  int attrsonly, LDAPControl** serverctrls, LDAPControl** clientctrls,
                                  struct timeval* timeout, int sizelimit, LDAPMessage** res) {
    return ::ldap_search_ext_s(startRequest(ld), base, scope, filter, attrs, attrsonly, serverctrls, clientctrls,
                               timeout, sizelimit, res);
}
int LibLdapApi::ldap_count_entries(LDAP* ld, LDAPMessage* chain) { return ::ldap_count_entries(ld, chain); }
LDAPMessage* LibLdapApi::ldap_first_entry(LDAP* ld, LDAPMessage* chain) { return ::ldap_first_entry(ld, chain); }
LDAPMessage* LibLdapApi::ldap_next_entry(LDAP* ld, LDAPMessage* entry) { return ::ldap_next_entry(ld, entry); }
int LibLdapApi::ldap_msgfree(LDAPMessage* msg) { return ::ldap_msgfree(msg); }
char* LibLdapApi::ldap_get_dn(LDAP* ld, LDAPMessage* entry) { return ::ldap_get_dn(ld, entry); }
void LibLdapApi::ldap_memfree(void* p) { ::ldap_memfree(p); }
char** LibLdapApi::ldap_explode_dn(const char* dn, int notypes) { return ::ldap_explode_dn(dn, notypes); }
int LibLdapApi::ldap_value_free(char** vals) {
    ::ldap_value_free(vals);
    return 0;
}
char* LibLdapApi::ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) {
    return ::ldap_first_attribute(ld, entry, ber);
}
char* LibLdapApi::ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) {
    return ::ldap_next_attribute(ld, entry, ber);
}
void LibLdapApi::ber_free(BerElement* ber, int freebuf) { ::ber_free(ber, freebuf); }
struct berval** LibLdapApi::ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) {
    return ::ldap_get_values_len(ld, entry, attr);
}
int LibLdapApi::ldap_value_free_len(struct berval** vals) {
    ::ldap_value_free_len(vals);
    return 0;
}
int LibLdapApi::ldap_get_dn_ber(LDAP* ld, LDAPMessage* entry, BerElement** ber, struct berval* dn) {
    return ::ldap_get_dn_ber(ld, entry, ber, dn);
}
int LibLdapApi::ldap_get_attribute_ber(LDAP* ld, LDAPMessage* entry, BerElement* ber, struct berval* attr,
                                       struct berval** vals) {
    return ::ldap_get_attribute_ber(ld, entry, ber, attr, vals);
}
int LibLdapApi::ldap_rename_ext_s(LDAP* ld, const char* dn, const char* newrdn, const char* newparent,
                                  int deleteoldrdn, LDAPControl** serverctrls, LDAPControl** clientctrls) {
    return ::ldap_rename_s(startRequest(ld), dn, newrdn, newparent, deleteoldrdn, serverctrls, clientctrls);
}
int LibLdapApi::ldap_delete_s(LDAP* ld, const char* dn) { return ::ldap_delete_s(startRequest(ld), dn); }
int LibLdapApi::ldap_add_s(LDAP* ld, const char* dn, LDAPMod** attrs) {
    return ::ldap_add_s(startRequest(ld), dn, attrs);
}
int LibLdapApi::ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    return ::ldap_modify_s(startRequest(ld), dn, mods);
}
int LibLdapApi::ldap_modify_ext_s(LDAP* ld, const char* dn, LDAPMod** mods, LDAPControl** serverctrls,
                                  LDAPControl** clientctrls) {
    return ::ldap_modify_ext_s(startRequest(ld), dn, mods, serverctrls, clientctrls);
}
const char* LibLdapApi::ldap_err2string(int err) { return ::ldap_err2string(err); }

const std::shared_ptr<LdapApi>& defaultLdapApi() {
    static const std::shared_ptr<LdapApi> api = std::make_shared<LibLdapApi>();
    return api;
}

}  // namespace Varnel::Ldap
