#include "recording_ldap_api.hpp"

#include <algorithm>
#include <stdexcept>

namespace Varnel::Ldap::testing {

namespace {

std::optional<std::string> text(const char* p) {
    return p ? std::optional<std::string>(p) : std::nullopt;
}

void recordAttrs(LdapCall& call, char** attrs) {
    call.attrsNull = attrs == nullptr;
    for (char** a = attrs; a && *a; ++a) call.attrs.emplace_back(*a);
}

void recordTimeLimit(LdapCall& call, const struct timeval* timeout) {
    if (timeout) call.timeLimit = TimeLimit{static_cast<long>(timeout->tv_sec), static_cast<long>(timeout->tv_usec)};
}

void recordMods(LdapCall& call, LDAPMod** mods) {
    call.modsNull = mods == nullptr;
    for (LDAPMod** m = mods; m && *m; ++m) {
        RecordedMod mod;
        mod.op = (*m)->mod_op;
        mod.type = (*m)->mod_type ? (*m)->mod_type : "";
        if ((*m)->mod_op & LDAP_MOD_BVALUES) {
            mod.valuesNull = (*m)->mod_bvalues == nullptr;
            for (berval** v = (*m)->mod_bvalues; v && *v; ++v) {
                mod.values.emplace_back((*v)->bv_val ? std::string((*v)->bv_val, (*v)->bv_len) : std::string());
            }
        } else {
            mod.valuesNull = (*m)->mod_values == nullptr;
            for (char** v = (*m)->mod_values; v && *v; ++v) mod.values.emplace_back(*v);
        }
        call.mods.push_back(std::move(mod));
    }
}

bool hasIntValue(int option) { return option == LDAP_OPT_PROTOCOL_VERSION || option == LDAP_OPT_SIZELIMIT; }

}  // namespace

RecordingLdapApi::RecordingLdapApi(std::shared_ptr<LdapApi> inner) : m_inner(std::move(inner)) {
    if (!m_inner) throw std::invalid_argument("RecordingLdapApi needs an inner LdapApi");
}

std::vector<LdapCall> RecordingLdapApi::callsTo(std::string_view function) const {
    std::vector<LdapCall> out;
    std::copy_if(m_calls.begin(), m_calls.end(), std::back_inserter(out),
                 [&](const LdapCall& c) { return c.function == function; });
    return out;
}

std::size_t RecordingLdapApi::count(std::string_view function) const {
    return static_cast<std::size_t>(std::count_if(m_calls.begin(), m_calls.end(),
                                                  [&](const LdapCall& c) { return c.function == function; }));
}

std::vector<std::string> RecordingLdapApi::functions() const {
    std::vector<std::string> out;
    for (const auto& c : m_calls) out.push_back(c.function);
    return out;
}

void RecordingLdapApi::failCall(std::string function, int k, int rc) {
    if (function.empty() || k < 1) throw std::invalid_argument("failCall: a function name and k >= 1");
    m_faults.push_back(Fault{std::move(function), k, rc});
}

void RecordingLdapApi::failServerChange(int k, int rc) {
    if (k < 1) throw std::invalid_argument("failServerChange: k >= 1");
    m_faults.push_back(Fault{std::string(), k, rc});
}

bool RecordingLdapApi::isServerChange(std::string_view f) {
    return f == "ldap_add_s" || f == "ldap_modify_s" || f == "ldap_modify_ext_s" || f == "ldap_delete_s" ||
           f == "ldap_rename_ext_s";
}

std::optional<int> RecordingLdapApi::takeFault(const std::string& function) {
    std::optional<int> fired;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        const bool applies = it->function.empty() ? isServerChange(function) : it->function == function;
        if (applies && --it->remaining == 0) {
            if (!fired) fired = it->rc;
            it = m_faults.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

LdapCall RecordingLdapApi::begin(std::string function, LDAP* ld) {
    LdapCall call;
    call.function = std::move(function);
    call.ld = ld;
    return call;
}

// ---- connection ----------------------------------------------------------------------------------------

LDAP* RecordingLdapApi::ldap_init(const char* host, int port) {
    LdapCall call = begin("ldap_init", nullptr);
    call.dn = text(host);
    call.port = port;
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_init(host, port); });
}

LDAP* RecordingLdapApi::ldap_sslinit(const char* host, int port, int secure) {
    LdapCall call = begin("ldap_sslinit", nullptr);
    call.dn = text(host);
    call.port = port;
    call.secure = secure;
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_sslinit(host, port, secure); });
}

int RecordingLdapApi::ldap_set_option(LDAP* ld, int option, const void* invalue) {
    LdapCall call = begin("ldap_set_option", ld);
    call.option = option;
    if (hasIntValue(option) && invalue) call.optionValue = *static_cast<const int*>(invalue);
    return forward(std::move(call), [&] { return m_inner->ldap_set_option(ld, option, invalue); });
}

int RecordingLdapApi::ldap_get_option(LDAP* ld, int option, void* outvalue) {
    LdapCall call = begin("ldap_get_option", ld);
    call.option = option;
    if (auto rc = takeFault(call.function)) {
        call.injected = true;
        call.result = *rc;
    } else {
        call.result = m_inner->ldap_get_option(ld, option, outvalue);
        if (call.result == LDAP_OPT_SUCCESS && hasIntValue(option) && outvalue) {
            call.optionValue = *static_cast<const int*>(outvalue);
        }
    }
    const int result = call.result;
    finish(std::move(call));
    return result;
}

int RecordingLdapApi::ldap_simple_bind_s(LDAP* ld, const char* who, const char* passwd) {
    LdapCall call = begin("ldap_simple_bind_s", ld);
    call.user = text(who);
    call.password = text(passwd);
    return forward(std::move(call), [&] { return m_inner->ldap_simple_bind_s(ld, who, passwd); });
}

int RecordingLdapApi::ldap_unbind(LDAP* ld) {
    LdapCall call = begin("ldap_unbind", ld);
    return release(std::move(call), [&] { return m_inner->ldap_unbind(ld); });
}

// ---- search and results --------------------------------------------------------------------------------

int RecordingLdapApi::ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                                     int attrsonly, struct timeval* timeout, LDAPMessage** res) {
    LdapCall call = begin("ldap_search_st", ld);
    call.dn = text(base);
    call.scope = scope;
    call.filter = text(filter);
    recordAttrs(call, attrs);
    call.attrsOnly = attrsonly;
    recordTimeLimit(call, timeout);
    if (auto rc = takeFault(call.function)) {
        call.injected = true;
        call.result = *rc;
        if (res) *res = nullptr;
    } else {
        call.result = m_inner->ldap_search_st(ld, base, scope, filter, attrs, attrsonly, timeout, res);
        call.returned = res ? *res : nullptr;
    }
    const int result = call.result;
    finish(std::move(call));
    return result;
}

int RecordingLdapApi::ldap_search_ext_s(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                                        int attrsonly, LDAPControl** serverctrls, LDAPControl** clientctrls,
                                        struct timeval* timeout, int sizelimit, LDAPMessage** res) {
    LdapCall call = begin("ldap_search_ext_s", ld);
    call.dn = text(base);
    call.scope = scope;
    call.filter = text(filter);
    recordAttrs(call, attrs);
    call.attrsOnly = attrsonly;
    recordTimeLimit(call, timeout);
    call.sizeLimit = sizelimit;
    if (auto rc = takeFault(call.function)) {
        call.injected = true;
        call.result = *rc;
        if (res) *res = nullptr;
    } else {
        call.result = m_inner->ldap_search_ext_s(ld, base, scope, filter, attrs, attrsonly, serverctrls,
                                                 clientctrls, timeout, sizelimit, res);
        call.returned = res ? *res : nullptr;
    }
    const int result = call.result;
    finish(std::move(call));
    return result;
}

int RecordingLdapApi::ldap_count_entries(LDAP* ld, LDAPMessage* chain) {
    LdapCall call = begin("ldap_count_entries", ld);
    return forward(std::move(call), [&] { return m_inner->ldap_count_entries(ld, chain); });
}

LDAPMessage* RecordingLdapApi::ldap_first_entry(LDAP* ld, LDAPMessage* chain) {
    LdapCall call = begin("ldap_first_entry", ld);
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_first_entry(ld, chain); });
}

LDAPMessage* RecordingLdapApi::ldap_next_entry(LDAP* ld, LDAPMessage* entry) {
    LdapCall call = begin("ldap_next_entry", ld);
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_next_entry(ld, entry); });
}

int RecordingLdapApi::ldap_msgfree(LDAPMessage* msg) {
    LdapCall call = begin("ldap_msgfree", nullptr);
    call.returned = msg;  // the message released
    return release(std::move(call), [&] { return m_inner->ldap_msgfree(msg); });
}

// ---- entries, names and values -------------------------------------------------------------------------

char* RecordingLdapApi::ldap_get_dn(LDAP* ld, LDAPMessage* entry) {
    LdapCall call = begin("ldap_get_dn", ld);
    return forwardPointer(std::move(call), [&] {
        char* dn = m_inner->ldap_get_dn(ld, entry);
        call.dn = text(dn);
        return dn;
    });
}

void RecordingLdapApi::ldap_memfree(void* p) {
    LdapCall call = begin("ldap_memfree", nullptr);
    call.returned = p;
    release(std::move(call), [&] {
        m_inner->ldap_memfree(p);
        return 0;
    });
}

char** RecordingLdapApi::ldap_explode_dn(const char* dn, int notypes) {
    LdapCall call = begin("ldap_explode_dn", nullptr);
    call.dn = text(dn);
    call.noTypes = notypes;
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_explode_dn(dn, notypes); });
}

int RecordingLdapApi::ldap_value_free(char** vals) {
    LdapCall call = begin("ldap_value_free", nullptr);
    call.returned = vals;
    return release(std::move(call), [&] { return m_inner->ldap_value_free(vals); });
}

char* RecordingLdapApi::ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) {
    LdapCall call = begin("ldap_first_attribute", ld);
    if (ber) *ber = nullptr;  // what a refused call leaves
    return forwardPointer(std::move(call), [&] {
        char* name = m_inner->ldap_first_attribute(ld, entry, ber);
        call.attribute = text(name);
        return name;
    });
}

char* RecordingLdapApi::ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) {
    LdapCall call = begin("ldap_next_attribute", ld);
    return forwardPointer(std::move(call), [&] {
        char* name = m_inner->ldap_next_attribute(ld, entry, ber);
        call.attribute = text(name);
        return name;
    });
}

void RecordingLdapApi::ber_free(BerElement* ber, int freebuf) {
    LdapCall call = begin("ber_free", nullptr);
    call.returned = ber;
    call.freeBuf = freebuf;
    release(std::move(call), [&] {
        m_inner->ber_free(ber, freebuf);
        return 0;
    });
}

struct berval** RecordingLdapApi::ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) {
    LdapCall call = begin("ldap_get_values_len", ld);
    call.attribute = text(attr);
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_get_values_len(ld, entry, attr); });
}

int RecordingLdapApi::ldap_get_dn_ber(LDAP* ld, LDAPMessage* entry, BerElement** ber, struct berval* dn) {
    LdapCall call = begin("ldap_get_dn_ber", ld);
    if (ber) *ber = nullptr;
    if (dn) *dn = berval{};
    const int result = forward(std::move(call), [&] { return m_inner->ldap_get_dn_ber(ld, entry, ber, dn); });
    if (result == LDAP_SUCCESS && dn && dn->bv_val) m_calls.back().dn = std::string(dn->bv_val, dn->bv_len);
    m_calls.back().returned = ber ? *ber : nullptr;
    return result;
}

int RecordingLdapApi::ldap_get_attribute_ber(LDAP* ld, LDAPMessage* entry, BerElement* ber, struct berval* attr,
                                             struct berval** vals) {
    LdapCall call = begin("ldap_get_attribute_ber", ld);
    if (attr) *attr = berval{};
    if (vals) *vals = nullptr;
    const int result =
        forward(std::move(call), [&] { return m_inner->ldap_get_attribute_ber(ld, entry, ber, attr, vals); });
    if (attr && attr->bv_val) m_calls.back().attribute = std::string(attr->bv_val, attr->bv_len);
    m_calls.back().returned = vals ? *vals : nullptr;
    return result;
}

int RecordingLdapApi::ldap_value_free_len(struct berval** vals) {
    LdapCall call = begin("ldap_value_free_len", nullptr);
    call.returned = vals;
    return release(std::move(call), [&] { return m_inner->ldap_value_free_len(vals); });
}

// ---- changes -------------------------------------------------------------------------------------------

int RecordingLdapApi::ldap_rename_ext_s(LDAP* ld, const char* dn, const char* newrdn, const char* newparent,
                                        int deleteoldrdn, LDAPControl** serverctrls, LDAPControl** clientctrls) {
    LdapCall call = begin("ldap_rename_ext_s", ld);
    call.dn = text(dn);
    call.newRdn = text(newrdn);
    call.newParent = text(newparent);
    call.deleteOldRdn = deleteoldrdn;
    return forward(std::move(call), [&] { return m_inner->ldap_rename_ext_s(ld, dn, newrdn, newparent, deleteoldrdn, serverctrls, clientctrls); });
}

int RecordingLdapApi::ldap_delete_s(LDAP* ld, const char* dn) {
    LdapCall call = begin("ldap_delete_s", ld);
    call.dn = text(dn);
    return forward(std::move(call), [&] { return m_inner->ldap_delete_s(ld, dn); });
}

int RecordingLdapApi::ldap_add_s(LDAP* ld, const char* dn, LDAPMod** attrs) {
    LdapCall call = begin("ldap_add_s", ld);
    call.dn = text(dn);
    recordMods(call, attrs);
    return forward(std::move(call), [&] { return m_inner->ldap_add_s(ld, dn, attrs); });
}

int RecordingLdapApi::ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    LdapCall call = begin("ldap_modify_s", ld);
    call.dn = text(dn);
    recordMods(call, mods);
    return forward(std::move(call), [&] { return m_inner->ldap_modify_s(ld, dn, mods); });
}

int RecordingLdapApi::ldap_modify_ext_s(LDAP* ld, const char* dn, LDAPMod** mods, LDAPControl** serverctrls,
                                        LDAPControl** clientctrls) {
    LdapCall call = begin("ldap_modify_ext_s", ld);
    call.dn = text(dn);
    recordMods(call, mods);
    return forward(std::move(call), [&] { return m_inner->ldap_modify_ext_s(ld, dn, mods, serverctrls, clientctrls); });
}

const char* RecordingLdapApi::ldap_err2string(int err) {
    LdapCall call = begin("ldap_err2string", nullptr);
    call.errorCode = err;
    return forwardPointer(std::move(call), [&] { return m_inner->ldap_err2string(err); });
}

}  // namespace Varnel::Ldap::testing
