// The values of one attribute, kept in step with deletions and renames.
#pragma once

#include <functional>
#include <string>

#include <varnel/ldap/value_collection.hpp>

#include "model/ldap_collection.hpp"
#include "model/list_enumerators.hpp"
#include "model/model_object.hpp"
#include "model/value_impl.hpp"

namespace Varnel::Ldap {

class ValueCollectionImpl final : public ValueCollection,
                                  public ILdapCollection,
                                  public ILdapCollectionItem,
                                  public ModelObject {
public:
    /// `entryDn` and `attributeName` are referred to, not copied: they are the texts the attribute collection
    /// and the attribute hold, which live in the same tree and are older than the collection (no temporaries).
    ValueCollectionImpl(SearchTree& tree, ILdapCollection* parentAttribute,
                        std::reference_wrapper<const std::string> entryDn,
                        std::reference_wrapper<const std::string> attributeName);

    // Factories; no guard. `parentDn` and `attributeName` must be the attribute's own texts (see above).
    /// The values the entry message holds for `attributeName` (none when it holds none). No server call.
    static ValueCollectionImpl* CreateExisting(SearchTree& tree, LDAPMessage* entryMessage,
                                               ILdapCollection* attribute, const std::string& parentDn,
                                               const std::string& attributeName);
    /// A collection whose one value is created on the server.
    static ValueCollectionImpl* CreateNew(SearchTree& tree, ILdapCollection* attribute, const std::string& parentDn,
                                          const std::string& attributeName, const std::string& newValue);
    static ValueCollectionImpl* CreateNewFromFile(SearchTree& tree, ILdapCollection* attribute,
                                                  const std::string& parentDn, const std::string& attributeName,
                                                  const std::string& filename);

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
    void OnValueCreated(const ByteArray& newValue);
    void OnValueDeleted(const std::string& deletedValue);
    void OnValueModified(const std::string& oldValue, const std::string& newValue);

    /// The first value whose text is `searchString`, or nullptr; never throws (dead objects hold nothing).
    ValueImpl* findHeld(const std::string& searchString) const noexcept;
    const std::vector<ValueImpl*>& values() const noexcept { return m_values.items; }

private:
    void releaseHeld() noexcept override;
    ValueImpl* add(ValueImpl* value);
    ValueImpl* find(const std::string& searchString);

    const std::string& m_entryDn;        // held by the attribute collection
    const std::string& m_attributeName;  // held by the attribute
    ILdapCollection* m_parentAttribute;
    VersionedList<ValueImpl> m_values;
};

}  // namespace Varnel::Ldap
