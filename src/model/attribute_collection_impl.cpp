#include "model/attribute_collection_impl.hpp"

#include <algorithm>

#include "foundation/ldap_owners.hpp"
#include "foundation/name_key.hpp"
#include "model/list_enumerators.hpp"

namespace Varnel::Ldap {

AttributeImpl* AttributeCollectionImpl::Attributes::GetItem(const std::string& name) const {
    const auto it = m_index.find(foldName(name));
    return it == m_index.end() ? nullptr : it->second;
}

AttributeImpl* AttributeCollectionImpl::Attributes::Add(const std::string& name, AttributeImpl* attribute) {
    if (attribute == nullptr) raise<LdapException>("IDS_EX_NULL_ATTRIBUTE");
    std::string key = foldName(name);
    const auto it = m_index.find(key);
    if (it != m_index.end()) {
        // The value is already on the server: the attribute held takes it over with exactly the bytes the
        // server took, and the stand-in goes.
        AttributeImpl* existing = it->second;
        for (ValueImpl* value : attribute->values().values()) existing->OnValueCreated(value->bytes());
        attribute->Dispose();
        return existing;
    }
    m_items.push_back(attribute);
    m_index.emplace(std::move(key), attribute);
    return attribute;
}

void AttributeCollectionImpl::Attributes::Remove(AttributeImpl& attribute) {
    const auto it = m_index.find(foldName(attribute.get_Name()));
    if (it == m_index.end()) return;
    AttributeImpl* stored = it->second;
    m_index.erase(it);
    m_items.erase(std::find(m_items.begin(), m_items.end(), stored));
}

AttributeCollectionImpl::AttributeCollectionImpl(SearchTree& tree, LDAPMessage* entryMessage, std::string dn)
    : ModelObject(tree), m_dn(std::move(dn)), m_entryMessage(entryMessage) {
    LDAP* handle = ld();
    LdapApi& lib = api();
    BerElement* state = nullptr;
    LdapString name(lib, lib.ldap_first_attribute(handle, m_entryMessage, &state));
    const BerOwner stateOwner(lib, state);
    while (name) {
        const std::string text(name.get());
        m_attributes.Add(text, AttributeImpl::CreateExisting(tree, m_entryMessage, this, m_dn, text));
        name.reset(lib.ldap_next_attribute(handle, m_entryMessage, state));
    }
}

std::shared_ptr<Attribute> AttributeCollectionImpl::Add(const std::string& attributeName, const std::string& value) {
    checkGuards();
    return handle<Attribute>(
        m_attributes.Add(attributeName, AttributeImpl::CreateNew(tree(), this, m_dn, attributeName, value)));
}

std::shared_ptr<Attribute> AttributeCollectionImpl::AddFromFile(const std::string& attributeName,
                                                                const std::string& filename) {
    checkGuards();
    return handle<Attribute>(m_attributes.Add(
        attributeName, AttributeImpl::CreateNewFromFile(tree(), this, m_dn, attributeName, filename)));
}

void AttributeCollectionImpl::CopyTo(std::span<std::shared_ptr<Attribute>> array, std::int32_t index) {
    const auto& items = m_attributes.items();
    checkCopyTo(array.size(), index, items.size());
    if (items.empty()) return;
    checkGuards();
    for (std::size_t i = 0; i < items.size(); ++i) array[static_cast<std::size_t>(index) + i] = handle<Attribute>(items[i]);
}

bool AttributeCollectionImpl::Exists(const std::string& attributeName) {
    checkGuards();
    return m_attributes.Exists(attributeName);
}

std::int32_t AttributeCollectionImpl::get_Count() {
    checkGuards();
    return m_attributes.GetCount();
}

std::shared_ptr<Attribute> AttributeCollectionImpl::get_Item(const std::string& index) {
    checkGuards();
    AttributeImpl* attribute = m_attributes.GetItem(index);
    return attribute ? handle<Attribute>(attribute) : nullptr;
}

std::shared_ptr<Attribute> AttributeCollectionImpl::get_Item(std::int32_t index) {
    checkGuards();
    if (index < 0 || index >= m_attributes.GetCount()) raise<LdapException>("IDS_EX_OUT_OF_BOUNDS");
    return handle<Attribute>(m_attributes.GetItem(index));
}

std::unique_ptr<Enumerator<Attribute>> AttributeCollectionImpl::GetEnumerator() {
    checkGuards();
    return std::make_unique<SnapshotEnumerator<Attribute, AttributeImpl>>(tree().self(),
                                                                         m_attributes.GetValueEnumerator());
}

void AttributeCollectionImpl::OnItemDeleted(ILdapCollectionItem& item) {
    checkGuards();
    if (auto* attribute = dynamic_cast<AttributeImpl*>(&item)) m_attributes.Remove(*attribute);
}

void AttributeCollectionImpl::OnParentDeleted() {
    if (m_disposed) return;  // see ModelObject: the downward route passes retired objects by
    checkDeleted();
    for (AttributeImpl* attribute : m_attributes.items()) attribute->OnParentDeleted();
    m_deleted = true;
}

AttributeImpl& AttributeCollectionImpl::lookup(const std::string& attributeName) const {
    AttributeImpl* attribute = m_attributes.GetItem(attributeName);
    if (attribute == nullptr) raise<LdapException>("IDS_EX_ATTRIBUTE_NOT_FOUND");
    return *attribute;
}

void AttributeCollectionImpl::OnValueCreated(const std::string& attributeName, const std::string& value) {
    checkGuards();
    lookup(attributeName).OnValueCreated(value);
}

void AttributeCollectionImpl::OnValueDeleted(const std::string& attributeName, const std::string& deletedValue) {
    checkGuards();
    lookup(attributeName).OnValueDeleted(deletedValue);
}

void AttributeCollectionImpl::OnValueModified(const std::string& attributeName, const std::string& oldValue,
                                              const std::string& newValue) {
    checkGuards();
    lookup(attributeName).OnValueModified(oldValue, newValue);
}

std::optional<std::string> AttributeCollectionImpl::firstValueText(const std::optional<std::string>& attributeName) {
    checkGuards();
    if (!attributeName) return std::nullopt;
    AttributeImpl* attribute = m_attributes.GetItem(*attributeName);
    if (attribute == nullptr) return std::nullopt;
    ValueCollectionImpl& values = attribute->valuesChecked();
    if (values.get_Count() == 0) return std::nullopt;
    return values.values().front()->get_StringValue();
}

bool AttributeCollectionImpl::holdsValue(const std::string& attributeName, const std::string& value) const noexcept {
    if (m_disposed || m_deleted) return false;
    try {
        const AttributeImpl* attribute = m_attributes.GetItem(attributeName);
        return attribute != nullptr && !attribute->isDisposed() && !attribute->isDeleted() &&
               attribute->values().findHeld(value) != nullptr;
    } catch (...) {
        return false;
    }
}

void AttributeCollectionImpl::releaseHeld() noexcept {
    for (AttributeImpl* attribute : m_attributes.items()) attribute->Dispose();
}

}  // namespace Varnel::Ldap
