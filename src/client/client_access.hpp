// The library's internal door into Client: a client on a chosen LdapApi (tests wrap the real binding to
// record calls and inject failures), and the shared pieces a search tree needs.
#pragma once

#include <memory>

#include <varnel/ldap/client.hpp>

#include "client/connection.hpp"
#include "client/options.hpp"

namespace Varnel::Ldap {

struct ClientAccess {
    /// A new client whose connection makes every libldap call through `api`.
    static std::unique_ptr<Client> Create(std::shared_ptr<LdapApi> api) {
        return std::unique_ptr<Client>(new Client(std::make_shared<Connection>(std::move(api))));
    }
    static const std::shared_ptr<Connection>& connection(const Client& c) noexcept { return c.m_connection; }
    static const std::shared_ptr<Options>& options(const Client& c) noexcept { return c.m_options; }
};

}  // namespace Varnel::Ldap
