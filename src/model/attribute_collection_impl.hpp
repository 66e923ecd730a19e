// The attributes of one entry, read from its message and kept in a name-keyed store.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <varnel/ldap/attribute_collection.hpp>

#include "model/attribute_impl.hpp"
#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

class AttributeCollectionImpl final : public AttributeCollection, public ILdapCollection, public ModelObject {
public:
    /// Reads every attribute of the entry message, in server order. `dn` is the entry's own DN, referred to:
    /// after a move or rename, the attributes and values below, obtained before or after, address the entry
    /// where it now is.
    AttributeCollectionImpl(SearchTree& tree, LDAPMessage* entryMessage, std::reference_wrapper<const std::string> dn);

    std::shared_ptr<Attribute> Add(const std::string& attributeName, const std::string& value) override;
    std::shared_ptr<Attribute> AddFromFile(const std::string& attributeName, const std::string& filename) override;
    void CopyTo(std::span<std::shared_ptr<Attribute>> array, std::int32_t index) override;
    bool Exists(const std::string& attributeName) override;
    std::int32_t get_Count() override;
    std::shared_ptr<Attribute> get_Item(const std::string& index) override;
    std::shared_ptr<Attribute> get_Item(std::int32_t index) override;
    bool get_IsSynchronized() override { return false; }
    AttributeCollection& get_SyncRoot() override { return *this; }
    std::unique_ptr<Enumerator<Attribute>> GetEnumerator() override;
    void Dispose() override { ModelObject::Dispose(true); }

    // Notifications, both guards each.
    void OnItemDeleted(ILdapCollectionItem& item) override;
    void OnParentDeleted();
    void OnValueCreated(const std::string& attributeName, const std::string& value);
    void OnValueDeleted(const std::string& attributeName, const std::string& deletedValue);
    void OnValueModified(const std::string& attributeName, const std::string& oldValue, const std::string& newValue);
    const std::string& dn() const noexcept { return m_dn; }

    /// The text of the first value of `attributeName` (absent when there is no such attribute or no value),
    /// through the same guarded steps as Exists, get_Item, get_Values, get_Count, get_Item(0), get_StringValue.
    std::optional<std::string> firstValueText(const std::optional<std::string>& attributeName);

    /// True when a live attribute `attributeName` holds a live value with the text `value`; never throws.
    bool holdsValue(const std::string& attributeName, const std::string& value) const noexcept;

    /// The store: attributes in the order added, found by their key in the tree's name table. An entry has
    /// few attributes, so a lookup compares keys by address along the list; a large store adds a hash index,
    /// so that neither a lookup nor reading an entry with many attributes goes quadratic.
    class Attributes {
    public:
        explicit Attributes(const NameTable& names) noexcept : m_names(&names) {}
        /// Merges into an attribute already stored under its name, or appends.
        AttributeImpl* Add(AttributeImpl* attribute);
        bool Exists(std::string_view name) const { return GetItem(name) != nullptr; }
        std::int32_t GetCount() const noexcept { return static_cast<std::int32_t>(m_items.size()); }
        AttributeImpl* GetItem(std::string_view name) const;
        AttributeImpl* GetItem(std::int32_t index) const noexcept { return m_items[static_cast<std::size_t>(index)]; }
        std::vector<AttributeImpl*> GetValueEnumerator() const { return m_items; }
        /// Removes the attribute stored under the name of `attribute`.
        void Remove(AttributeImpl& attribute);
        const std::vector<AttributeImpl*>& items() const noexcept { return m_items; }

    private:
        static constexpr std::size_t c_indexFrom = 16;
        AttributeImpl* find(const std::string* key) const noexcept;

        const NameTable* m_names;
        std::vector<AttributeImpl*> m_items;
        std::unique_ptr<std::unordered_map<const std::string*, AttributeImpl*>> m_index;  // for large stores
    };

private:
    void releaseHeld() noexcept override;
    AttributeImpl& lookup(const std::string& attributeName) const;

    const std::string& m_dn;  // held by the entry
    Attributes m_attributes;
};

}  // namespace Varnel::Ldap
