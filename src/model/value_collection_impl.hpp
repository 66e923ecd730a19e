// The values of one attribute, kept in step with deletions and renames. Each attribute holds its value
// collection as a member, so the two are placed together.
#pragma once

#include <string>

#include <varnel/ldap/value_collection.hpp>

#include "model/ldap_collection.hpp"
#include "model/list_enumerators.hpp"
#include "model/model_object.hpp"
#include "model/value_impl.hpp"

namespace Varnel::Ldap {

class AttributeImpl;

class ValueCollectionImpl final : public ValueCollection,
                                  public ILdapCollection,
                                  public ILdapCollectionItem,
                                  public ModelObject {
public:
    /// The (empty) value collection of `parentAttribute`, which holds it.
    ValueCollectionImpl(SearchTree& tree, AttributeImpl& parentAttribute) noexcept;

    /// Lists the values the entry message holds for the attribute, read in place: `values` is the array
    /// libldap gave for it, ended by a null bv_val (absent: no values). No server call.
    void loadExisting(const berval* values);

    std::shared_ptr<Value> Add(const ByteArray& newValue) override;
    std::shared_ptr<Value> Add(const std::string& newValue) override;
    std::shared_ptr<Value> AddFromFile(const std::string& filename) override;
    void CopyTo(std::span<std::shared_ptr<Value>> array, std::int32_t index) override;
    std::int32_t get_Count() override;
    std::shared_ptr<Value> get_Item(std::int32_t index) override;
    bool get_IsSynchronized() override { return false; }
    ValueCollection& get_SyncRoot() override { return *this; }
    std::unique_ptr<Enumerator<Value>> GetEnumerator() override;
    void Dispose() override { ModelObject::Dispose(true); }

    // Notifications, both guards each.
    void OnItemDeleted(ILdapCollectionItem& item) override;
    void OnParentDeleted();
    void OnValueCreated(const std::string& newValue);
    /// A value the server already holds, listed with exactly these bytes.
    void OnValueCreated(std::span<const std::uint8_t> newValue);
    void OnValueDeleted(const std::string& deletedValue);
    void OnValueModified(const std::string& oldValue, const std::string& newValue);

    /// The first value whose text is `searchString`, or nullptr; never throws (dead objects hold nothing).
    ValueImpl* findHeld(const std::string& searchString) const noexcept;
    const std::vector<ValueImpl*>& values() const noexcept { return m_values.items; }

    /// The DN of the entry and the name of the attribute, as the attribute holds them now.
    const std::string& entryDn() const noexcept;
    const std::string& attributeName() const noexcept;

private:
    void releaseHeld() noexcept override;
    ValueImpl* add(ValueImpl* value);
    ValueImpl* find(const std::string& searchString);

    AttributeImpl* m_parentAttribute;
    VersionedList<ValueImpl> m_values;
};

}  // namespace Varnel::Ldap
