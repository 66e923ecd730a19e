// The one libldap connection handle of a Client, shared by the client and every object of its searches.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <varnel/ldap/enums.hpp>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

/// Connected exactly when a handle is stored, bound or not. The last holder to let go unbinds a handle that
/// is still stored. Not thread-safe.
class Connection {
public:
    explicit Connection(std::shared_ptr<LdapApi> api = defaultLdapApi());
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    virtual ~Connection();

    /// Creates the handle, sets the protocol version and binds. A handle stored before is unbound first.
    void Connect(const std::optional<std::string>& serverName, std::int32_t port,
                 const std::optional<std::string>& userName, const std::optional<std::string>& password,
                 bool useSSL, ProtocolVersion protocolVersion);
    /// InvalidStateException ("Not connected to an LDAP server.") when there is no handle.
    void CheckConnection() const;
    /// The handle, or null.
    LDAP* GetLDAP() const noexcept { return m_pLDAP; }
    /// The handle for a server call; InvalidStateException when there is none, so libldap never gets null.
    LDAP* GetCheckedLDAP() const;
    /// The protocol version the handle reports; InvalidStateException without a handle.
    ProtocolVersion GetConnectedVersion() const;
    /// CheckConnection, then Dispose.
    void Close();
    /// Unbinds the handle if there is one. Never throws.
    virtual void Dispose() noexcept;

    LdapApi& api() const noexcept { return *m_api; }

private:
    std::shared_ptr<LdapApi> m_api;
    LDAP* m_pLDAP = nullptr;
};

}  // namespace Varnel::Ldap
