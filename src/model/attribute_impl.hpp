// One named attribute of an entry: owns its value collection and passes notifications between the attribute
// collection above and the value collection below.
#pragma once

#include <functional>
#include <string>

#include <varnel/ldap/attribute.hpp>

#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"
#include "model/value_collection_impl.hpp"

namespace Varnel::Ldap {

class AttributeImpl final : public Attribute, public ILdapCollectionItem, public ILdapCollection, public ModelObject {
public:
    /// `dn` is referred to, not copied: it is the attribute collection's DN, which lives in the same tree and
    /// is older than the attribute (no temporaries). The name is the attribute's own copy, and the objects
    /// below it refer to that one.
    AttributeImpl(SearchTree& tree, ILdapCollection* attributeCollection, std::reference_wrapper<const std::string> dn,
                  std::string name);

    // Factories: `dn` must be the attribute collection's own DN (see above).
    /// The attribute as the entry message holds it. No server call.
    static AttributeImpl* CreateExisting(SearchTree& tree, LDAPMessage* entryMessage,
                                         ILdapCollection* attributeCollection, const std::string& dn,
                                         const std::string& name);
    /// Creates the attribute (or adds the value to it) on the server with one value.
    static AttributeImpl* CreateNew(SearchTree& tree, ILdapCollection* attributeCollection, const std::string& dn,
                                    const std::string& name, const std::string& newValue);
    static AttributeImpl* CreateNewFromFile(SearchTree& tree, ILdapCollection* attributeCollection,
                                            const std::string& dn, const std::string& name,
                                            const std::string& filename);

    void Delete() override;
    bool get_IsDeleted() override;
    std::string get_Name() override;
    std::shared_ptr<ValueCollection> get_Values() override;
    void Dispose() override { ModelObject::Dispose(true); }

    // Notifications.
    void OnItemDeleted(ILdapCollectionItem& item) override;
    void OnParentDeleted();
    void OnValueCreated(const std::string& value);
    void OnValueCreated(const ByteArray& value);
    void OnValueDeleted(const std::string& value);
    void OnValueModified(const std::string& oldValue, const std::string& newValue);

    const std::string& name() const noexcept { return m_name; }
    ValueCollectionImpl& values() const noexcept { return *m_values; }
    /// get_Values without a handle: the attribute's guards, then its value collection.
    ValueCollectionImpl& valuesChecked() const {
        checkGuards();
        return *m_values;
    }

private:
    template <class MakeValues>
    static AttributeImpl* create(SearchTree& tree, ILdapCollection* attributeCollection, const std::string& dn,
                                 const std::string& name, MakeValues makeValues);
    void releaseHeld() noexcept override;
    void deleteAttribute();

    const std::string& m_dn;  // held by the attribute collection
    std::string m_name;
    ValueCollectionImpl* m_values = nullptr;
    ILdapCollection* m_attributeCollection;
};

}  // namespace Varnel::Ldap
