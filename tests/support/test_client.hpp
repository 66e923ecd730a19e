// Clients on the test server, for tests that are not about connecting itself.
#pragma once

#include <memory>

#include <varnel/ldap/client.hpp>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap::testing {

/// A client that is not connected; on `api` when one is given (ClientAccess::Create), else on libldap.
std::unique_ptr<Client> newClient(std::shared_ptr<LdapApi> api = nullptr);

/// A client connected to the test server (ldap://) and bound as its root DN.
std::unique_ptr<Client> rootClient(std::shared_ptr<LdapApi> api = nullptr);

/// A client connected to the test server (ldap://) and bound as the ordinary user.
std::unique_ptr<Client> userClient(std::shared_ptr<LdapApi> api = nullptr);

}  // namespace Varnel::Ldap::testing
