#include "model/attribute_collection_impl.hpp"

#include <algorithm>

#include "foundation/ldap_owners.hpp"
#include "model/list_enumerators.hpp"

namespace Varnel::Ldap {

AttributeImpl* AttributeCollectionImpl::Attributes::find(const std::string* key) const noexcept {
    if (m_index) {
        const auto it = m_index->find(key);
        return it == m_index->end() ? nullptr : it->second;
    }
    for (AttributeImpl* attribute : m_items) {
        if (attribute->key() == key) return attribute;
    }
    return nullptr;
}

AttributeImpl* AttributeCollectionImpl::Attributes::GetItem(std::string_view name) const {
    const std::string* key = m_names->findKey(name);
    return key == nullptr ? nullptr : find(key);
}

AttributeImpl* AttributeCollectionImpl::Attributes::Add(AttributeImpl* attribute) {
    if (attribute == nullptr) raise<LdapException>("IDS_EX_NULL_ATTRIBUTE");
    if (AttributeImpl* existing = find(attribute->key())) {
        // The value is already on the server: the attribute held takes it over with exactly the bytes the
        // server took, and the stand-in goes.
        for (ValueImpl* value : attribute->values().values()) existing->OnValueCreated(value->bytes());
        attribute->Dispose();
        return existing;
    }
    m_items.push_back(attribute);
    try {
        if (m_index) {
            m_index->emplace(attribute->key(), attribute);
        } else if (m_items.size() > c_indexFrom) {
            auto index = std::make_unique<std::unordered_map<const std::string*, AttributeImpl*>>();
            index->reserve(m_items.size() * 2);
            for (AttributeImpl* item : m_items) index->emplace(item->key(), item);
            m_index = std::move(index);
        }
    } catch (...) {
        m_items.pop_back();
        throw;
    }
    return attribute;
}

void AttributeCollectionImpl::Attributes::Remove(AttributeImpl& attribute) {
    AttributeImpl* stored = find(attribute.key());
    if (stored == nullptr) return;
    if (m_index) m_index->erase(stored->key());
    m_items.erase(std::find(m_items.begin(), m_items.end(), stored));
}

AttributeCollectionImpl::AttributeCollectionImpl(SearchTree& tree, LDAPMessage* entryMessage,
                                                 std::reference_wrapper<const std::string> dn)
    : ModelObject(tree), m_dn(dn.get()), m_attributes(tree.names()) {
    // The names and values are read in place from the message, in one pass over it; a message that cannot
    // be read further ends the list where it stops.
    LDAP* handle = ld();
    LdapApi& lib = api();
    BerElement* state = nullptr;
    berval entryDn{};
    const int rc = lib.ldap_get_dn_ber(handle, entryMessage, &state, &entryDn);
    const BerOwner stateOwner(lib, state);
    if (rc != LDAP_SUCCESS || state == nullptr) return;
    for (;;) {
        berval name{};
        berval* values = nullptr;
        const int next = lib.ldap_get_attribute_ber(handle, entryMessage, state, &name, &values);
        const BerArray valuesOwner(lib, values);
        if (next != LDAP_SUCCESS || name.bv_val == nullptr) break;
        m_attributes.Add(
            AttributeImpl::CreateExisting(tree, *this, std::string_view(name.bv_val, name.bv_len), values));
    }
}

std::shared_ptr<Attribute> AttributeCollectionImpl::Add(const std::string& attributeName, const std::string& value) {
    checkGuards();
    return handle<Attribute>(m_attributes.Add(AttributeImpl::CreateNew(tree(), *this, attributeName, value)));
}

std::shared_ptr<Attribute> AttributeCollectionImpl::AddFromFile(const std::string& attributeName,
                                                                const std::string& filename) {
    checkGuards();
    return handle<Attribute>(
        m_attributes.Add(AttributeImpl::CreateNewFromFile(tree(), *this, attributeName, filename)));
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
    m_attributes.Remove(static_cast<AttributeImpl&>(item));  // only attributes report to it
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
