#include <varnel/ldap/client.hpp>

#include "client/connection.hpp"
#include "client/options.hpp"
#include "foundation/errors.hpp"
#include "varnel_build_info.hpp"

namespace Varnel::Ldap {

Client::Client() : Client(std::make_shared<Connection>()) {}

Client::Client(std::shared_ptr<Connection> connection)
    : m_connection(std::move(connection)), m_options(std::make_shared<Options>()) {}

// The connection unbinds itself when its last holder, this client or an object of one of its searches,
// lets go.
Client::~Client() = default;

void Client::checkDisposed() const {
    if (m_disposed) raise<ObjectDisposedException>("IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT");
}

std::string Client::About() {
    checkDisposed();
    return std::string(build_info::vendor) + "\n" + build_info::product + "\n" + build_info::version;
}

void Client::Connect(const std::optional<std::string>& serverName) { Connect(serverName, -1, "", "", false); }

void Client::Connect(const std::optional<std::string>& serverName, bool useSSL) {
    Connect(serverName, -1, "", "", useSSL);
}

void Client::Connect(const std::optional<std::string>& serverName, const std::optional<std::string>& userName,
                     const std::optional<std::string>& password) {
    Connect(serverName, -1, userName, password, false);
}

void Client::Connect(const std::optional<std::string>& serverName, const std::optional<std::string>& userName,
                     const std::optional<std::string>& password, bool useSSL) {
    Connect(serverName, -1, userName, password, useSSL);
}

void Client::Connect(const std::optional<std::string>& serverName, std::int32_t port,
                     const std::optional<std::string>& userName, const std::optional<std::string>& password) {
    Connect(serverName, port, userName, password, false);
}

void Client::Connect(const std::optional<std::string>& serverName, std::int32_t port,
                     const std::optional<std::string>& userName, const std::optional<std::string>& password,
                     bool useSSL) {
    checkDisposed();
    m_connection->Connect(serverName, port, userName, password, useSSL, m_options->GetProtocolVersion());
}

void Client::Disconnect() {
    checkDisposed();
    m_connection->Close();
}

void Client::Dispose() {
    if (!m_disposed) m_connection->Dispose();
    m_disposed = true;
}

ProtocolVersion Client::get_ConnectedVersion() {
    checkDisposed();
    return m_connection->GetConnectedVersion();
}

ProtocolVersion Client::get_ProtocolVersion() {
    checkDisposed();
    return m_options->GetProtocolVersion();
}

void Client::set_ProtocolVersion(ProtocolVersion value) {
    checkDisposed();
    m_options->SetProtocolVersion(value);
}

Encoding Client::get_Encoding() {
    checkDisposed();
    return m_options->GetEncoding();
}

void Client::set_Encoding(const Encoding& value) {
    checkDisposed();
    m_options->SetEncoding(value);
}

std::int32_t Client::get_SearchSizeLimit() {
    checkDisposed();
    return m_options->GetSearchSizeLimit();
}

void Client::set_SearchSizeLimit(std::int32_t value) {
    checkDisposed();
    m_options->SetSearchSizeLimit(value);
}

}  // namespace Varnel::Ldap
