// One search's objects as one ownership unit. The tree holds the result chain, the shared connection and
// options, and every model object of the search in an arena. Lists inside the objects hold plain pointers;
// every handle given to a caller is an aliasing shared_ptr on the tree, so any object a caller holds keeps
// its parents, the result and the connection alive, and the tree goes, releasing the chain once, when the
// last handle goes. There are no reference cycles: objects never own each other.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "client/connection.hpp"
#include "client/options.hpp"
#include "model/name_table.hpp"
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
    /// The attribute names of the tree's objects.
    NameTable& names() noexcept { return m_names; }

    /// The tree's entry collection, made on first request.
    EntryCollectionImpl& entryCollection();

    /// Constructs a model object in the arena; it lives as long as the tree. When the constructor throws,
    /// the objects it made on the way are undone with it.
    template <class T, class... Args>
    T* make(Args&&... args) {
        static_assert(alignof(T) <= alignof(std::max_align_t));
        const Mark start = mark();
        T* object = nullptr;
        try {
            object = ::new (allocate(sizeof(T), alignof(T))) T(*this, std::forward<Args>(args)...);
        } catch (...) {
            rollback(start);
            throw;
        }
        link(*object);
        return object;
    }

    /// A handle on `object` that keeps the whole tree alive.
    template <class T>
    std::shared_ptr<T> handle(T* object) {
        return std::shared_ptr<T>(shared_from_this(), object);
    }
    std::shared_ptr<SearchTree> self() { return shared_from_this(); }

    /// A point in the arena's history: the objects made so far and the space they took.
    struct Mark {
        ModelObject* newest;  // the object made last
        std::size_t block;    // the block being filled
        std::size_t used;     // bytes of it taken
    };

    /// Undoes the objects made since a mark when the operation that made them fails, so a refused request
    /// leaves nothing behind in the arena.
    class Transaction {
    public:
        explicit Transaction(SearchTree& tree) noexcept : m_tree(&tree), m_mark(tree.mark()) {}
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        ~Transaction() {
            if (m_tree) m_tree->rollback(m_mark);
        }
        void commit() noexcept { m_tree = nullptr; }

    private:
        SearchTree* m_tree;
        Mark m_mark;
    };

private:
    // The arena: objects are placed one after another in large blocks instead of one heap allocation each,
    // and each object links to the one made before it, for destruction (newest first) and for undoing.
    struct Block {
        std::unique_ptr<std::byte[]> data;
        std::size_t size;
    };
    static constexpr std::size_t c_blockSize = 64 * 1024;

    Mark mark() const noexcept { return Mark{m_newest, m_block, m_used}; }
    void link(ModelObject& object) noexcept;
    void* allocate(std::size_t size, std::size_t alignment);
    /// Destroys the objects made since `to`, newest first, and gives their space back to the arena.
    void rollback(const Mark& to) noexcept;

    SearchTree(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options, LDAPMessage* chain);

    // The destructor destroys the objects first; then the members go in reverse order: the arena's blocks,
    // the chain, then the shared settings and connection.
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<Options> m_options;
    SearchResult m_searchResult;
    NameTable m_names;
    ModelObject* m_newest = nullptr;
    std::vector<Block> m_blocks;
    std::size_t m_block = 0;
    std::size_t m_used = 0;
    EntryCollectionImpl* m_entryCollection = nullptr;
};

}  // namespace Varnel::Ldap
