// One noexcept RAII owner per libldap resource, so each release happens on every way out by construction.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

/// Owns a pointer that libldap hands out, releasing it with the matching LdapApi call.
template <class T, auto Release>
class LdapOwned {
public:
    LdapOwned(LdapApi& api, T* p) noexcept : m_api(&api), m_p(p) {}
    LdapOwned(const LdapOwned&) = delete;
    LdapOwned& operator=(const LdapOwned&) = delete;
    ~LdapOwned() { reset(); }

    T* get() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T* release() noexcept { return std::exchange(m_p, nullptr); }
    void reset(T* p = nullptr) noexcept {
        if (T* old = std::exchange(m_p, p)) Release(*m_api, old);
    }

private:
    LdapApi* m_api;
    T* m_p;
};

namespace release {
inline void memfree(LdapApi& api, char* p) noexcept { api.ldap_memfree(p); }
inline void arrayFree(LdapApi& api, berval* p) noexcept { api.ldap_memfree(p); }
inline void berFree(LdapApi& api, BerElement* p) noexcept { api.ber_free(p, 0); }
inline void valueFreeLen(LdapApi& api, berval** p) noexcept { api.ldap_value_free_len(p); }
inline void valueFree(LdapApi& api, char** p) noexcept { api.ldap_value_free(p); }
inline void msgFree(LdapApi& api, LDAPMessage* p) noexcept { api.ldap_msgfree(p); }
}  // namespace release

using LdapString = LdapOwned<char, release::memfree>;               // ldap_get_dn, ldap_*_attribute
using BerOwner = LdapOwned<BerElement, release::berFree>;           // attribute iteration state
using BerValues = LdapOwned<berval*, release::valueFreeLen>;        // ldap_get_values_len
using BerArray = LdapOwned<berval, release::arrayFree>;             // ldap_get_attribute_ber's values
using StringValues = LdapOwned<char*, release::valueFree>;          // ldap_explode_dn
using MessageOwner = LdapOwned<LDAPMessage, release::msgFree>;      // a result chain

/// A text argument for one call: libldap takes NUL-terminated UTF-8, which std::string already holds, so no
/// copy is made. An absent text is a null pointer; a text holding a NUL is read up to it.
inline const char* textArg(const std::optional<std::string>& text) noexcept {
    return text ? text->c_str() : nullptr;
}

/// A copy of a secret (the bind password) that is wiped before its memory is released.
class SecretText {
public:
    explicit SecretText(const std::optional<std::string>& text) : m_present(text.has_value()) {
        if (m_present) m_text = *text;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(); }

    const char* get() const noexcept { return m_present ? m_text.c_str() : nullptr; }
    void wipe() noexcept {
        if (!m_text.empty()) {
            volatile char* p = m_text.data();
            for (std::size_t i = 0; i < m_text.size(); ++i) p[i] = 0;
        }
    }

private:
    bool m_present;
    std::string m_text;
};

}  // namespace Varnel::Ldap
