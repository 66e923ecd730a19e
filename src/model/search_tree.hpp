// One search's objects as one ownership unit. The tree holds the result chain, the shared connection and
// options, and every model object of the search in an arena. Lists inside the objects hold plain pointers;
// every handle given to a caller is an aliasing shared_ptr on the tree, so any object a caller holds keeps
// its parents, the result and the connection alive, and the tree goes, releasing the chain once, when the
// last handle goes. There are no reference cycles: objects never own each other.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "client/connection.hpp"
#include "client/options.hpp"
#include "model/search_result.hpp"

namespace Varnel::Ldap {

class ModelObject;
class EntryCollectionImpl;

class SearchTree : public std::enable_shared_from_this<SearchTree> {
public:
    /// Takes ownership of `chain`.
    static std::shared_ptr<SearchTree> Create(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options,
                                              LDAPMessage* chain);
    SearchTree(const SearchTree&) = delete;
    SearchTree& operator=(const SearchTree&) = delete;
    ~SearchTree();

    Connection& connection() const noexcept { return *m_connection; }
    Options& options() const noexcept { return *m_options; }
    LdapApi& api() const noexcept { return m_connection->api(); }
    SearchResult& searchResult() noexcept { return m_searchResult; }

    /// The tree's entry collection, made on first request.
    EntryCollectionImpl& entryCollection();

    /// Constructs a model object in the arena; it lives as long as the tree.
    template <class T, class... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T* raw = object.get();
        m_objects.push_back(std::move(object));
        return raw;
    }

    /// A handle on `object` that keeps the whole tree alive.
    template <class T>
    std::shared_ptr<T> handle(T* object) {
        return std::shared_ptr<T>(shared_from_this(), object);
    }
    std::shared_ptr<SearchTree> self() { return shared_from_this(); }

    /// Undoes the objects made since a mark when the operation that made them fails, so a refused request
    /// leaves nothing behind in the arena.
    class Transaction {
    public:
        explicit Transaction(SearchTree& tree) noexcept : m_tree(&tree), m_mark(tree.m_objects.size()) {}
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        ~Transaction() {
            if (m_tree) m_tree->m_objects.resize(m_mark);
        }
        void commit() noexcept { m_tree = nullptr; }

    private:
        SearchTree* m_tree;
        std::size_t m_mark;
    };

private:
    SearchTree(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options, LDAPMessage* chain);

    // Destroyed in reverse order: the objects first, then the chain, then the shared settings and connection.
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<Options> m_options;
    SearchResult m_searchResult;
    std::vector<std::unique_ptr<ModelObject>> m_objects;
    EntryCollectionImpl* m_entryCollection = nullptr;
};

}  // namespace Varnel::Ldap
