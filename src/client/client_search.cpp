// Search and entry creation: the two operations of Client that reach the directory as a whole.
#include <varnel/ldap/client.hpp>

#include "client/connection.hpp"
#include "client/options.hpp"
#include "foundation/errors.hpp"
#include "foundation/ldap_owners.hpp"
#include "foundation/utilities.hpp"
#include "model/entry_collection_impl.hpp"
#include "model/search_tree.hpp"

namespace Varnel::Ldap {

std::shared_ptr<EntryCollection> Client::Search(const std::optional<std::string>& base,
                                                const std::optional<std::string>& filter) {
    return Search(base, filter, Scope::SubTree);
}

std::shared_ptr<EntryCollection> Client::Search(const std::optional<std::string>& base,
                                                const std::optional<std::string>& filter, Scope scope) {
    return Search(base, filter, scope, StringList{});
}

std::shared_ptr<EntryCollection> Client::Search(const std::optional<std::string>& base,
                                                const std::optional<std::string>& filter, Scope scope,
                                                const StringList& attributeNames) {
    return Search(base, filter, scope, attributeNames, NoTimeout);
}

std::shared_ptr<EntryCollection> Client::Search(const std::optional<std::string>& base,
                                                const std::optional<std::string>& filter, Scope scope,
                                                const StringList& attributeNames, std::int32_t timeout) {
    return Search(base, filter, scope, attributeNames, timeout, false);
}

std::shared_ptr<EntryCollection> Client::Search(const std::optional<std::string>& base,
                                                const std::optional<std::string>& filter, Scope scope,
                                                const StringList& attributeNames, std::int32_t timeout,
                                                bool ignoreSizeLimitError) {
    checkDisposed();
    m_connection->CheckConnection();
    LdapApi& api = m_connection->api();

    const StringArray attributes(attributeNames);
    timeval limit{};
    timeval* timeLimit = nullptr;
    if (timeout > 0) {
        limit.tv_sec = timeout;
        limit.tv_usec = 0;
        timeLimit = &limit;
    }

    int sizeLimit = m_options->GetSearchSizeLimit();
    const ProtocolVersion version = m_connection->GetConnectedVersion();
    LDAP* ld = m_connection->GetLDAP();
    LDAPMessage* chain = nullptr;
    int rc = LDAP_SUCCESS;
    if (version == ProtocolVersion::Version2) {
        // A version-2 search has no size-limit argument: the limit travels as the handle's option.
        checkResult(api, ld, api.ldap_set_option(ld, LDAP_OPT_SIZELIMIT, &sizeLimit));
        rc = api.ldap_search_st(ld, textArg(base), static_cast<int>(scope), textArg(filter), attributes.get(), 0,
                                timeLimit, &chain);
    } else {
        rc = api.ldap_search_ext_s(ld, textArg(base), static_cast<int>(scope), textArg(filter), attributes.get(), 0,
                                   nullptr, nullptr, timeLimit, sizeLimit, &chain);
    }
    MessageOwner result(api, chain);
    if (rc != LDAP_SUCCESS && !(rc == LDAP_SIZELIMIT_EXCEEDED && ignoreSizeLimitError)) {
        throwResultCode(api, ld, rc);
    }
    auto tree = SearchTree::Create(m_connection, m_options, result.release());
    return tree->handle<EntryCollection>(&tree->entryCollection());
}

std::shared_ptr<Entry> Client::AddNewEntry(const std::string& dn, const NameValueCollection& attributes) {
    checkDisposed();
    m_connection->CheckConnection();
    LdapApi& api = m_connection->api();
    LDAP* ld = m_connection->GetLDAP();
    {
        ModArray mods(attributes, *m_options);
        const int rc = api.ldap_add_s(ld, dn.c_str(), mods.get());
        mods.reset();
        checkResult(api, ld, rc);
    }
    const auto created = Search(dn, "objectClass=*", Scope::SubTree, StringList{}, NoTimeout, true);
    if (created->get_Count() != 1) raise<LdapException>("IDS_EX_COULD_NOT_RETRIEVE_CREATED_ENTRY");
    return created->get_Item(0);
}

}  // namespace Varnel::Ldap
