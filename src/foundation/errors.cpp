#include "foundation/errors.hpp"

#include <optional>
#include <string>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

void throwResultCode(LdapApi& api, LDAP* ld, int rc) {
    const char* text = api.ldap_err2string(rc);
    std::optional<std::string> diagnostic;
    if (ld != nullptr) {
        char* message = nullptr;
        if (api.ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message) == LDAP_OPT_SUCCESS && message) {
            if (*message != '\0') diagnostic = std::string(message);
            api.ldap_memfree(message);
        }
    }
    throw LdapNetworkLibraryException(text ? std::optional<std::string>(text) : std::nullopt, rc,
                                      std::move(diagnostic));
}

}  // namespace Varnel::Ldap
