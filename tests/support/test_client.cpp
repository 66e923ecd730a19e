#include "test_client.hpp"

#include "client/client_access.hpp"
#include "slapd_fixture.hpp"

namespace Varnel::Ldap::testing {

std::unique_ptr<Client> newClient(std::shared_ptr<LdapApi> api) {
    if (api) return ClientAccess::Create(std::move(api));
    return std::make_unique<Client>();
}

std::unique_ptr<Client> rootClient(std::shared_ptr<LdapApi> api) {
    SlapdServer& server = SlapdServer::instance();
    auto client = newClient(std::move(api));
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    return client;
}

std::unique_ptr<Client> userClient(std::shared_ptr<LdapApi> api) {
    SlapdServer& server = SlapdServer::instance();
    auto client = newClient(std::move(api));
    client->Connect(server.host(), server.port(), server.userDn(), server.userPassword());
    return client;
}

}  // namespace Varnel::Ldap::testing
