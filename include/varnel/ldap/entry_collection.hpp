// The entries of one search.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <varnel/ldap/entry.hpp>
#include <varnel/ldap/enumerator.hpp>
#include <varnel/ldap/enums.hpp>
#include <varnel/ldap/export.hpp>

namespace Varnel::Ldap {

/// The entries a search returned, in the order of the result, built on first access. The collection can
/// order its entries by attribute values: SortBy collects keys, and the ordering is applied the next time
/// entries are handed out (get_Item, GetEnumerator, begin).
///
/// get_Count is the number of entries the server returned and is not lowered by deletions. Lifetime: the
/// collection, and any object obtained from it, keeps the search result and the connection object alive;
/// Dispose disposes every entry under it. The enumerator fails fast (InvalidOperationException) once an entry
/// is deleted or an ordering is applied. Not thread-safe.
class VARNEL_LDAP_EXPORT EntryCollection {
public:
    virtual ~EntryCollection() = default;

    /// Discards all sort keys; entries keep the order they have.
    virtual void ClearSort() = 0;
    /// Copies the entries, in their current order, into `array` from `index`.
    virtual void CopyTo(std::span<std::shared_ptr<Entry>> array, std::int32_t index) = 0;
    /// Appends a sort key: the first value of `attributeName`, compared under the current locale.
    virtual void SortBy(const std::optional<std::string>& attributeName, SortDirection sortDirection) = 0;
    virtual void SortBy(const std::optional<std::string>& attributeName) = 0;
    virtual std::int32_t get_Count() = 0;
    virtual std::shared_ptr<Entry> get_Item(std::int32_t index) = 0;
    virtual bool get_IsSynchronized() = 0;
    virtual EntryCollection& get_SyncRoot() = 0;
    virtual std::unique_ptr<Enumerator<Entry>> GetEnumerator() = 0;
    /// Disposes the collection and every entry under it. No server call; never throws.
    virtual void Dispose() = 0;

    EnumeratorIterator<Entry> begin() { return EnumeratorIterator<Entry>(GetEnumerator()); }
    EnumeratorIterator<Entry> end() { return {}; }
    std::shared_ptr<Entry> operator[](std::int32_t index) { return get_Item(index); }

protected:
    EntryCollection() = default;
};

}  // namespace Varnel::Ldap
