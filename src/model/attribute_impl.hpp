// One named attribute of an entry: holds its value collection and passes notifications between the
// attribute collection above and the value collection below.
#pragma once

#include <string>
#include <string_view>

#include <varnel/ldap/attribute.hpp>

#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"
#include "model/name_table.hpp"
#include "model/value_collection_impl.hpp"

namespace Varnel::Ldap {

class AttributeCollectionImpl;

class AttributeImpl final : public Attribute, public ILdapCollectionItem, public ILdapCollection, public ModelObject {
public:
    /// An attribute of `attributeCollection`, which gives it the entry's DN, with no values yet.
    AttributeImpl(SearchTree& tree, AttributeCollectionImpl& attributeCollection, std::string_view name);

    // Factories.
    /// The attribute as the entry message holds it: `values` is the array libldap gave for it (see
    /// ValueCollectionImpl::loadExisting). No server call.
    static AttributeImpl* CreateExisting(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                         std::string_view name, const berval* values);
    /// Creates the attribute (or adds the value to it) on the server with one value.
    static AttributeImpl* CreateNew(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                    const std::string& name, const std::string& newValue);
    static AttributeImpl* CreateNewFromFile(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                            const std::string& name, const std::string& filename);

    void Delete() override;
    bool get_IsDeleted() override;
    std::string get_Name() override;
    std::shared_ptr<ValueCollection> get_Values() override;
    void Dispose() override { ModelObject::Dispose(true); }

    // Notifications.
    void OnItemDeleted(ILdapCollectionItem& item) override;
    void OnParentDeleted();
    void OnValueCreated(const std::string& value);
    void OnValueCreated(std::span<const std::uint8_t> value);
    void OnValueDeleted(const std::string& value);
    void OnValueModified(const std::string& oldValue, const std::string& newValue);

    const std::string& name() const noexcept { return m_name->first; }
    /// The name's key in the tree's name table: the same object for every attribute of the same name.
    const std::string* key() const noexcept { return m_name->second; }
    /// The DN of the entry, as the attribute collection holds it now.
    const std::string& dn() const noexcept;
    ValueCollectionImpl& values() noexcept { return m_values; }
    const ValueCollectionImpl& values() const noexcept { return m_values; }
    /// get_Values without a handle: the attribute's guards, then its value collection.
    ValueCollectionImpl& valuesChecked() {
        checkGuards();
        return m_values;
    }

private:
    template <class MakeValues>
    static AttributeImpl* create(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                 std::string_view name, MakeValues makeValues);
    void releaseHeld() noexcept override;
    void deleteAttribute();

    const NameTable::Name* m_name;
    AttributeCollectionImpl* m_attributeCollection;
    ValueCollectionImpl m_values;
};

}  // namespace Varnel::Ldap
