#include "model/attribute_impl.hpp"

#include "model/attribute_collection_impl.hpp"

namespace Varnel::Ldap {

AttributeImpl::AttributeImpl(SearchTree& tree, AttributeCollectionImpl& attributeCollection, std::string_view name)
    : ModelObject(tree),
      m_name(&tree.names().intern(name)),
      m_attributeCollection(&attributeCollection),
      m_values(tree, *this) {}

const std::string& AttributeImpl::dn() const noexcept { return m_attributeCollection->dn(); }

template <class MakeValues>
AttributeImpl* AttributeImpl::create(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                     std::string_view name, MakeValues makeValues) {
    SearchTree::Transaction transaction(tree);
    auto* attribute = tree.make<AttributeImpl>(attributeCollection, name);
    makeValues(attribute->m_values);
    transaction.commit();
    return attribute;
}

AttributeImpl* AttributeImpl::CreateExisting(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                             std::string_view name, const berval* values) {
    return create(tree, attributeCollection, name, [&](ValueCollectionImpl& v) { v.loadExisting(values); });
}

AttributeImpl* AttributeImpl::CreateNew(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                        const std::string& name, const std::string& newValue) {
    return create(tree, attributeCollection, name, [&](ValueCollectionImpl& v) { v.Add(newValue); });
}

AttributeImpl* AttributeImpl::CreateNewFromFile(SearchTree& tree, AttributeCollectionImpl& attributeCollection,
                                                const std::string& name, const std::string& filename) {
    return create(tree, attributeCollection, name, [&](ValueCollectionImpl& v) { v.AddFromFile(filename); });
}

void AttributeImpl::deleteAttribute() {
    LDAP* handle = ld();
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_DELETE;  // no values: the whole attribute goes
    mod.mod_type = const_cast<char*>(name().c_str());
    mod.mod_values = nullptr;
    LDAPMod* mods[] = {&mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, dn().c_str(), mods));
}

void AttributeImpl::Delete() {
    checkGuards();
    deleteAttribute();
    m_values.OnParentDeleted();
    // The attribute leaves its collection while still live, then takes the mark.
    m_attributeCollection->OnItemDeleted(*this);
    m_deleted = true;
}

bool AttributeImpl::get_IsDeleted() {
    checkDisposed();
    return m_deleted;
}

std::string AttributeImpl::get_Name() {
    checkGuards();
    return name();
}

std::shared_ptr<ValueCollection> AttributeImpl::get_Values() {
    checkGuards();
    return handle<ValueCollection>(&m_values);
}

void AttributeImpl::OnItemDeleted(ILdapCollectionItem& /*item*/) {
    checkDisposed();
    m_attributeCollection->OnItemDeleted(*this);
    m_deleted = true;
}

void AttributeImpl::OnParentDeleted() {
    if (m_disposed) return;  // see ModelObject: the downward route passes retired objects by
    m_deleted = true;
    m_values.OnParentDeleted();
}

void AttributeImpl::OnValueCreated(const std::string& value) {
    checkGuards();
    m_values.OnValueCreated(value);
}

void AttributeImpl::OnValueCreated(std::span<const std::uint8_t> value) {
    checkGuards();
    m_values.OnValueCreated(value);
}

void AttributeImpl::OnValueDeleted(const std::string& value) {
    checkGuards();
    m_values.OnValueDeleted(value);
}

void AttributeImpl::OnValueModified(const std::string& oldValue, const std::string& newValue) {
    checkGuards();
    m_values.OnValueModified(oldValue, newValue);
}

void AttributeImpl::releaseHeld() noexcept {
    m_values.Dispose();
}

}  // namespace Varnel::Ldap
