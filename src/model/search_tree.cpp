#include "model/search_tree.hpp"

#include "model/entry_collection_impl.hpp"

namespace Varnel::Ldap {

SearchTree::SearchTree(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options, LDAPMessage* chain)
    : m_connection(std::move(connection)), m_options(std::move(options)), m_searchResult(m_connection->api(), chain) {}

SearchTree::~SearchTree() = default;

std::shared_ptr<SearchTree> SearchTree::Create(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options,
                                               LDAPMessage* chain) {
    return std::shared_ptr<SearchTree>(new SearchTree(std::move(connection), std::move(options), chain));
}

EntryCollectionImpl& SearchTree::entryCollection() {
    if (m_entryCollection == nullptr) m_entryCollection = make<EntryCollectionImpl>();
    return *m_entryCollection;
}

}  // namespace Varnel::Ldap
