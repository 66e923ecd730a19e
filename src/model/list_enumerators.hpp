// The enumerators of the model collections, shared by the three of them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <varnel/ldap/enumerator.hpp>
#include <varnel/ldap/exceptions.hpp>

#include "model/search_tree.hpp"

namespace Varnel::Ldap {

/// A list that counts its changes, so that enumerators over it can fail fast.
template <class Impl>
struct VersionedList {
    std::vector<Impl*> items;
    std::uint64_t version = 0;

    void changed() noexcept { ++version; }
};

/// Walks a collection's live list; once the list has changed, the next MoveNext throws
/// InvalidOperationException. It holds the tree, so the list outlives it.
template <class T, class Impl>
class LiveEnumerator final : public Enumerator<T> {
public:
    LiveEnumerator(std::shared_ptr<SearchTree> tree, const VersionedList<Impl>& list)
        : m_tree(std::move(tree)), m_list(&list), m_version(list.version) {}

    bool MoveNext() override {
        if (m_list->version != m_version)
            throw InvalidOperationException("Collection was modified; enumeration operation may not execute.");
        if (m_position + 1 < m_list->items.size()) {
            ++m_position;
            m_current = m_list->items[m_position];
            return true;
        }
        m_position = m_list->items.size();
        m_current = nullptr;
        return false;
    }

    std::shared_ptr<T> get_Current() const override {
        if (m_current == nullptr)
            throw InvalidOperationException("Enumeration has either not started or has already finished.");
        return m_tree->handle(static_cast<T*>(m_current));
    }

private:
    std::shared_ptr<SearchTree> m_tree;
    const VersionedList<Impl>* m_list;
    std::uint64_t m_version;
    std::size_t m_position = static_cast<std::size_t>(-1);
    Impl* m_current = nullptr;
};

/// Walks a copy of a list taken when it was made; later changes never make it fail.
template <class T, class Impl>
class SnapshotEnumerator final : public Enumerator<T> {
public:
    SnapshotEnumerator(std::shared_ptr<SearchTree> tree, std::vector<Impl*> items)
        : m_tree(std::move(tree)), m_items(std::move(items)) {}

    bool MoveNext() override {
        if (m_position + 1 < m_items.size()) {
            ++m_position;
            return true;
        }
        m_position = m_items.size();
        return false;
    }

    std::shared_ptr<T> get_Current() const override {
        if (m_position >= m_items.size())
            throw InvalidOperationException("Enumeration has either not started or has already finished.");
        return m_tree->handle(static_cast<T*>(m_items[m_position]));
    }

private:
    std::shared_ptr<SearchTree> m_tree;
    std::vector<Impl*> m_items;
    std::size_t m_position = static_cast<std::size_t>(-1);
};

/// The argument checks every CopyTo shares, in their order: a start at or past the end of the array, too
/// little room, then a negative start (which would write before the array). Nothing is written when any
/// of them throws.
inline void checkCopyTo(std::size_t arrayLength, std::int32_t index, std::size_t count) {
    const auto length = static_cast<std::int64_t>(arrayLength);
    if (index >= length) throw ArgumentOutOfRangeException();
    if (length - index < static_cast<std::int64_t>(count)) throw ArgumentException();
    if (index < 0) throw IndexOutOfRangeException();
}

}  // namespace Varnel::Ldap
