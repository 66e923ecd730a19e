// The entries of one search: built on first access, counted once, ordered on demand.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <varnel/ldap/entry_collection.hpp>

#include "model/entry_impl.hpp"
#include "model/ldap_collection.hpp"
#include "model/list_enumerators.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

class EntryCollectionImpl final : public EntryCollection, public ILdapCollection, public ModelObject {
public:
    explicit EntryCollectionImpl(SearchTree& tree);

    void ClearSort() override;
    void CopyTo(std::span<std::shared_ptr<Entry>> array, std::int32_t index) override;
    void SortBy(const std::optional<std::string>& attributeName, SortDirection sortDirection) override;
    void SortBy(const std::optional<std::string>& attributeName) override;
    std::int32_t get_Count() override;
    std::shared_ptr<Entry> get_Item(std::int32_t index) override;
    bool get_IsSynchronized() override { return false; }
    EntryCollection& get_SyncRoot() override { return *this; }
    std::unique_ptr<Enumerator<Entry>> GetEnumerator() override;
    void Dispose() override { ModelObject::Dispose(true); }

    void OnItemDeleted(ILdapCollectionItem& item) override;

    /// One sort key.
    struct SortOrder {
        SortOrder(std::optional<std::string> attributeName, SortDirection sortDirection)
            : m_sortDirection(sortDirection), m_attributeName(std::move(attributeName)) {}
        SortDirection m_sortDirection;
        std::optional<std::string> m_attributeName;
    };

    /// The sort keys, the first given first.
    class EntryComparer {
    public:
        void AddSort(std::optional<std::string> attributeName, SortDirection sortDirection) {
            m_sortOrderList.emplace_back(std::move(attributeName), sortDirection);
        }
        void ClearSort() noexcept { m_sortOrderList.clear(); }
        const std::vector<SortOrder>& keys() const noexcept { return m_sortOrderList; }

    private:
        std::vector<SortOrder> m_sortOrderList;
    };

private:
    void releaseHeld() noexcept override;
    /// Finds the entry messages of the chain, once: the count and the entry list both come from this walk.
    void findEntryMessages();
    void createEntryArray();
    void sort();

    VersionedList<EntryImpl> m_entries;
    bool m_createdArray = false;
    bool m_sorted = true;
    EntryComparer m_entryComparer;
    // The chain never changes, so it is walked once: its entry messages are kept until the entries are built
    // from them, and their number is the count.
    std::vector<LDAPMessage*> m_messages;
    std::optional<std::int32_t> m_count;
};

}  // namespace Varnel::Ldap
