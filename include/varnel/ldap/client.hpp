// The library's entry point.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <varnel/ldap/encoding.hpp>
#include <varnel/ldap/entry.hpp>
#include <varnel/ldap/entry_collection.hpp>
#include <varnel/ldap/enums.hpp>
#include <varnel/ldap/export.hpp>
#include <varnel/ldap/name_value_collection.hpp>
#include <varnel/ldap/types.hpp>

namespace Varnel::Ldap {

class Connection;
class Options;
struct ClientAccess;

/// A client of one LDAP server: connect and bind (plain or LDAPS), change its settings, search, add
/// entries, disconnect, dispose.
///
/// Lifetime: the client owns its connection and its settings and shares both with every object its searches
/// return; those objects keep them alive and read the settings at each use. Disconnect closes the connection
/// (later server calls of existing objects throw InvalidStateException); destroying the client closes it
/// once no object of its searches is left. After Dispose every operation but Dispose throws
/// ObjectDisposedException. Not thread-safe: use one client, and the objects it returned, from one thread at
/// a time.
///
/// Failures: libldap's result codes are LdapNetworkLibraryException with libldap's text, the result code
/// (get_ResultCode) and the server's diagnostic message; a missing connection is InvalidStateException.
class VARNEL_LDAP_EXPORT Client {
public:
    static constexpr std::int32_t NoSearchLimit = 0;
    static constexpr std::int32_t NoTimeout = 0;

    /// A client that is not connected; nothing reaches the network.
    Client();
    virtual ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Three lines: vendor, product, and the version "4.0.0.0".
    std::string About();

    /// Connects and binds. An absent user name or password reaches the bind as a null text; empty texts
    /// give an anonymous bind. A port of -1 picks 389, or 636 with useSSL. A refused bind throws
    /// LdapNetworkLibraryException and leaves the client connected on the unbound handle. Connecting while
    /// connected closes the earlier connection first.
    void Connect(const std::optional<std::string>& serverName);
    void Connect(const std::optional<std::string>& serverName, bool useSSL);
    void Connect(const std::optional<std::string>& serverName, const std::optional<std::string>& userName,
                 const std::optional<std::string>& password);
    void Connect(const std::optional<std::string>& serverName, const std::optional<std::string>& userName,
                 const std::optional<std::string>& password, bool useSSL);
    void Connect(const std::optional<std::string>& serverName, std::int32_t port,
                 const std::optional<std::string>& userName, const std::optional<std::string>& password);
    void Connect(const std::optional<std::string>& serverName, std::int32_t port,
                 const std::optional<std::string>& userName, const std::optional<std::string>& password,
                 bool useSSL);

    /// Unbinds; InvalidStateException when not connected.
    void Disconnect();

    /// Runs one synchronous search. An empty attribute list asks for all attributes; a timeout of 0 or less
    /// means no time limit. A size-limit result is an error unless ignoreSizeLimitError is true.
    std::shared_ptr<EntryCollection> Search(const std::optional<std::string>& base,
                                            const std::optional<std::string>& filter);
    std::shared_ptr<EntryCollection> Search(const std::optional<std::string>& base,
                                            const std::optional<std::string>& filter, Scope scope);
    std::shared_ptr<EntryCollection> Search(const std::optional<std::string>& base,
                                            const std::optional<std::string>& filter, Scope scope,
                                            const StringList& attributeNames);
    std::shared_ptr<EntryCollection> Search(const std::optional<std::string>& base,
                                            const std::optional<std::string>& filter, Scope scope,
                                            const StringList& attributeNames, std::int32_t timeout);
    std::shared_ptr<EntryCollection> Search(const std::optional<std::string>& base,
                                            const std::optional<std::string>& filter, Scope scope,
                                            const StringList& attributeNames, std::int32_t timeout,
                                            bool ignoreSizeLimitError);

    /// Creates the entry on the server and returns it as read back by a search. When the entry was created
    /// but cannot be read back, LdapException ("The entry was created without errors, but it could not be
    /// retrieved from the directory."); the entry stays on the server.
    std::shared_ptr<Entry> AddNewEntry(const std::string& dn, const NameValueCollection& attributes);

    /// Unbinds if connected and retires the client. Never throws; a second call does nothing more.
    virtual void Dispose();

    /// The protocol version the open connection uses, as libldap reports it; InvalidStateException when not
    /// connected.
    ProtocolVersion get_ConnectedVersion();
    /// The protocol version of the next Connect (not of the open connection).
    ProtocolVersion get_ProtocolVersion();
    /// Stores 2 for Version2 and 3 for every other value.
    void set_ProtocolVersion(ProtocolVersion value);
    Encoding get_Encoding();
    void set_Encoding(const Encoding& value);
    std::int32_t get_SearchSizeLimit();
    void set_SearchSizeLimit(std::int32_t value);

private:
    friend struct ClientAccess;
    explicit Client(std::shared_ptr<Connection> connection);
    void checkDisposed() const;

    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<Options> m_options;
    bool m_disposed = false;
};

}  // namespace Varnel::Ldap
