// The one place where failures become exceptions, so every call site reports them the same way.
#pragma once

#include <string_view>

#include <ldap.h>

#include <varnel/ldap/exceptions.hpp>

#include "foundation/resources.hpp"

namespace Varnel::Ldap {

class LdapApi;

/// Throws LdapNetworkLibraryException for result code `rc`: libldap's text as the message, the code as the
/// result code, and, when `ld` is given and holds one, the server's diagnostic message.
[[noreturn]] void throwResultCode(LdapApi& api, LDAP* ld, int rc);

/// Throws unless `rc` is LDAP_SUCCESS.
inline void checkResult(LdapApi& api, LDAP* ld, int rc) {
    if (rc != LDAP_SUCCESS) throwResultCode(api, ld, rc);
}

/// Makes an exception of class E with the message table's text for `key`.
template <class E>
E makeException(std::string_view key) {
    return E(Varnel::Resources::Get(key));
}

template <class E>
[[noreturn]] void raise(std::string_view key) {
    throw makeException<E>(key);
}

}  // namespace Varnel::Ldap
