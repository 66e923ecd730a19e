// What every object of the model shares: its tree, the two state flags, the two guards and the disposal
// pattern.
#pragma once

#include <memory>

#include "foundation/errors.hpp"
#include "model/search_tree.hpp"

namespace Varnel::Ldap {

class ModelObject {
public:
    explicit ModelObject(SearchTree& tree) noexcept : m_tree(&tree) {}
    ModelObject(const ModelObject&) = delete;
    ModelObject& operator=(const ModelObject&) = delete;
    virtual ~ModelObject() = default;

    bool isDisposed() const noexcept { return m_disposed; }
    bool isDeleted() const noexcept { return m_deleted; }

protected:
    /// Disposal: when `disposing` and not yet disposed, release what the object holds (releaseHeld: dispose
    /// the children, drop cached bytes); then, in every case, mark the object disposed. It never calls the
    /// server, never tells a parent and never leaves a parent's list.
    void Dispose(bool disposing) noexcept {
        if (!m_disposed && disposing) releaseHeld();
        m_disposed = true;
    }
    virtual void releaseHeld() noexcept {}
    // The downward deletion route (OnParentDeleted) runs after the server has deleted the parent: an object
    // the caller has disposed on the way takes no news and stops nothing, so the deletion is never reported
    // as a failure and the parent still leaves its own collection.

    void checkDisposed() const {
        if (m_disposed) raise<ObjectDisposedException>("IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT");
    }
    void checkDeleted() const {
        if (m_deleted) raise<LdapException>("IDS_EX_CANNOT_PERFORM_ON_DELETED_OBJECT");
    }
    /// The disposed guard, then the deleted guard.
    void checkGuards() const {
        checkDisposed();
        checkDeleted();
    }

    SearchTree& tree() const noexcept { return *m_tree; }
    Connection& connection() const noexcept { return m_tree->connection(); }
    Options& options() const noexcept { return m_tree->options(); }
    LdapApi& api() const noexcept { return m_tree->api(); }
    /// The handle for a libldap call; InvalidStateException after Client::Disconnect or Dispose.
    LDAP* ld() const { return m_tree->connection().GetCheckedLDAP(); }
    template <class T>
    std::shared_ptr<T> handle(T* object) const {
        return m_tree->handle(object);
    }

private:
    friend class SearchTree;
    SearchTree* m_tree;
    ModelObject* m_madeBefore = nullptr;  // the tree's list of the objects it made, newest first

protected:
    // Last, so that a derived class can place small fields in the padding behind them.
    bool m_disposed = false;
    bool m_deleted = false;
};

}  // namespace Varnel::Ldap
