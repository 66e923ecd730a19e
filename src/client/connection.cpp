#include "client/connection.hpp"

#include "foundation/errors.hpp"
#include "foundation/ldap_owners.hpp"

namespace Varnel::Ldap {

Connection::Connection(std::shared_ptr<LdapApi> api) : m_api(std::move(api)) {}

Connection::~Connection() { Dispose(); }

void Connection::Connect(const std::optional<std::string>& serverName, std::int32_t port,
                         const std::optional<std::string>& userName, const std::optional<std::string>& password,
                         bool useSSL, ProtocolVersion protocolVersion) {
    // A user name with an empty password is an unauthenticated bind (RFC 4513): a server that allows it
    // reports success without checking anything, so an application that binds to check a password would let
    // anyone in. Refused before anything changes; an anonymous bind has an empty user name.
    if (userName && !userName->empty() && (!password || password->empty())) {
        throw ArgumentException("A user name needs a password: a bind with an empty password is unauthenticated.");
    }
    // A second Connect must not leak the connection it replaces.
    Dispose();

    const SecretText passwordCopy(password);
    if (useSSL) {
        m_pLDAP = m_api->ldap_sslinit(textArg(serverName), port == -1 ? 636 : port, 1);
    } else {
        m_pLDAP = m_api->ldap_init(textArg(serverName), port == -1 ? 389 : port);
    }
    if (m_pLDAP == nullptr) raise<LdapException>("IDS_EX_SERVER_CONNECTION_FAILED");

    const int version = static_cast<int>(protocolVersion);
    checkResult(*m_api, m_pLDAP, m_api->ldap_set_option(m_pLDAP, LDAP_OPT_PROTOCOL_VERSION, &version));
    checkResult(*m_api, m_pLDAP, m_api->ldap_simple_bind_s(m_pLDAP, textArg(userName), passwordCopy.get()));
}

void Connection::CheckConnection() const {
    if (m_pLDAP == nullptr) raise<InvalidStateException>("IDS_EX_NOT_CONNECTED");
}

LDAP* Connection::GetCheckedLDAP() const {
    CheckConnection();
    return m_pLDAP;
}

ProtocolVersion Connection::GetConnectedVersion() const {
    LDAP* ld = GetCheckedLDAP();
    int version = 0;
    checkResult(*m_api, ld, m_api->ldap_get_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version));
    return static_cast<ProtocolVersion>(version);
}

void Connection::Close() {
    CheckConnection();
    Dispose();
}

void Connection::Dispose() noexcept {
    if (m_pLDAP != nullptr) {
        (void)m_api->ldap_unbind(std::exchange(m_pLDAP, nullptr));
    }
}

}  // namespace Varnel::Ldap
