#include "model/attribute_impl.hpp"

namespace Varnel::Ldap {

AttributeImpl::AttributeImpl(SearchTree& tree, ILdapCollection* attributeCollection,
                             std::reference_wrapper<const std::string> dn, std::string name)
    : ModelObject(tree), m_dn(dn.get()), m_name(std::move(name)), m_attributeCollection(attributeCollection) {}

template <class MakeValues>
AttributeImpl* AttributeImpl::create(SearchTree& tree, ILdapCollection* attributeCollection, const std::string& dn,
                                     const std::string& name, MakeValues makeValues) {
    SearchTree::Transaction transaction(tree);
    auto* attribute = tree.make<AttributeImpl>(attributeCollection, dn, name);
    attribute->m_values = makeValues(attribute);
    transaction.commit();
    return attribute;
}

AttributeImpl* AttributeImpl::CreateExisting(SearchTree& tree, LDAPMessage* entryMessage,
                                             ILdapCollection* attributeCollection, const std::string& dn,
                                             const std::string& name) {
    return create(tree, attributeCollection, dn, name, [&](AttributeImpl* a) {
        return ValueCollectionImpl::CreateExisting(tree, entryMessage, a, a->m_dn, a->m_name);
    });
}

AttributeImpl* AttributeImpl::CreateNew(SearchTree& tree, ILdapCollection* attributeCollection, const std::string& dn,
                                        const std::string& name, const std::string& newValue) {
    return create(tree, attributeCollection, dn, name, [&](AttributeImpl* a) {
        return ValueCollectionImpl::CreateNew(tree, a, a->m_dn, a->m_name, newValue);
    });
}

AttributeImpl* AttributeImpl::CreateNewFromFile(SearchTree& tree, ILdapCollection* attributeCollection,
                                                const std::string& dn, const std::string& name,
                                                const std::string& filename) {
    return create(tree, attributeCollection, dn, name, [&](AttributeImpl* a) {
        return ValueCollectionImpl::CreateNewFromFile(tree, a, a->m_dn, a->m_name, filename);
    });
}

void AttributeImpl::deleteAttribute() {
    LDAP* handle = ld();
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_DELETE;  // no values: the whole attribute goes
    mod.mod_type = const_cast<char*>(m_name.c_str());
    mod.mod_values = nullptr;
    LDAPMod* mods[] = {&mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, m_dn.c_str(), mods));
}

void AttributeImpl::Delete() {
    checkGuards();
    deleteAttribute();
    m_values->OnParentDeleted();
    // The collection finds the attribute through get_Name, which refuses a deleted attribute: mark it last.
    if (m_attributeCollection != nullptr) m_attributeCollection->OnItemDeleted(*this);
    m_deleted = true;
}

bool AttributeImpl::get_IsDeleted() {
    checkDisposed();
    return m_deleted;
}

std::string AttributeImpl::get_Name() {
    checkGuards();
    return m_name;
}

std::shared_ptr<ValueCollection> AttributeImpl::get_Values() {
    checkGuards();
    return handle<ValueCollection>(m_values);
}

void AttributeImpl::OnItemDeleted(ILdapCollectionItem& /*item*/) {
    checkDisposed();
    if (m_attributeCollection != nullptr) m_attributeCollection->OnItemDeleted(*this);
    m_deleted = true;
}

void AttributeImpl::OnParentDeleted() {
    if (m_disposed) return;  // see ModelObject: the downward route passes retired objects by
    m_deleted = true;
    m_values->OnParentDeleted();
}

void AttributeImpl::OnValueCreated(const std::string& value) {
    checkGuards();
    m_values->OnValueCreated(value);
}

void AttributeImpl::OnValueCreated(const ByteArray& value) {
    checkGuards();
    m_values->OnValueCreated(value);
}

void AttributeImpl::OnValueDeleted(const std::string& value) {
    checkGuards();
    m_values->OnValueDeleted(value);
}

void AttributeImpl::OnValueModified(const std::string& oldValue, const std::string& newValue) {
    checkGuards();
    m_values->OnValueModified(oldValue, newValue);
}

void AttributeImpl::releaseHeld() noexcept {
    if (m_values != nullptr) m_values->Dispose();
}

}  // namespace Varnel::Ldap
