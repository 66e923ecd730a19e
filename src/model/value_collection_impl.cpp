#include "model/value_collection_impl.hpp"

#include <algorithm>

#include "model/attribute_impl.hpp"

namespace Varnel::Ldap {

ValueCollectionImpl::ValueCollectionImpl(SearchTree& tree, AttributeImpl& parentAttribute) noexcept
    : ModelObject(tree), m_parentAttribute(&parentAttribute) {}

const std::string& ValueCollectionImpl::entryDn() const noexcept { return m_parentAttribute->dn(); }
const std::string& ValueCollectionImpl::attributeName() const noexcept { return m_parentAttribute->name(); }

void ValueCollectionImpl::loadExisting(const berval* values) {
    if (values == nullptr) return;
    std::size_t count = 0;
    while (values[count].bv_val != nullptr) ++count;
    m_values.items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        m_values.items.push_back(ValueImpl::CreateExisting(tree(), *this, values[i]));
    }
}

ValueImpl* ValueCollectionImpl::add(ValueImpl* value) {
    m_values.items.push_back(value);
    m_values.changed();
    return value;
}

std::shared_ptr<Value> ValueCollectionImpl::Add(const ByteArray& newValue) {
    checkGuards();
    return handle<Value>(add(ValueImpl::CreateNew(tree(), *this, newValue)));
}

std::shared_ptr<Value> ValueCollectionImpl::Add(const std::string& newValue) {
    checkGuards();
    return handle<Value>(add(ValueImpl::CreateNew(tree(), *this, newValue)));
}

std::shared_ptr<Value> ValueCollectionImpl::AddFromFile(const std::string& filename) {
    checkGuards();
    return handle<Value>(add(ValueImpl::CreateNewFromFile(tree(), *this, filename)));
}

void ValueCollectionImpl::CopyTo(std::span<std::shared_ptr<Value>> array, std::int32_t index) {
    checkCopyTo(array.size(), index, m_values.items.size());
    for (std::size_t i = 0; i < m_values.items.size(); ++i) {
        array[static_cast<std::size_t>(index) + i] = handle<Value>(m_values.items[i]);
    }
}

std::int32_t ValueCollectionImpl::get_Count() {
    checkGuards();
    return static_cast<std::int32_t>(m_values.items.size());
}

std::shared_ptr<Value> ValueCollectionImpl::get_Item(std::int32_t index) {
    checkGuards();
    if (index < 0 || static_cast<std::size_t>(index) >= m_values.items.size()) raise<LdapException>("IDS_EX_OUT_OF_BOUNDS");
    return handle<Value>(m_values.items[static_cast<std::size_t>(index)]);
}

std::unique_ptr<Enumerator<Value>> ValueCollectionImpl::GetEnumerator() {
    checkGuards();
    return std::make_unique<LiveEnumerator<Value, ValueImpl>>(tree().self(), m_values);
}

ValueImpl* ValueCollectionImpl::find(const std::string& searchString) {
    for (ValueImpl* value : m_values.items) {
        if (value->get_StringValue() == searchString) return value;
    }
    raise<LdapException>("IDS_EX_KEY_NOT_FOUND");
}

ValueImpl* ValueCollectionImpl::findHeld(const std::string& searchString) const noexcept {
    if (m_disposed || m_deleted) return nullptr;
    for (ValueImpl* value : m_values.items) {
        if (value->isDisposed() || value->isDeleted()) continue;
        try {
            if (options().GetEncoding().GetString(value->bytes()) == searchString) return value;
        } catch (...) {
            return nullptr;
        }
    }
    return nullptr;
}

void ValueCollectionImpl::OnItemDeleted(ILdapCollectionItem& item) {
    checkGuards();
    auto& items = m_values.items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](ValueImpl* v) { return static_cast<ILdapCollectionItem*>(v) == &item; });
    if (it == items.end()) return;
    items.erase(it);
    m_values.changed();
    if (items.empty()) {
        m_deleted = true;
        m_parentAttribute->OnItemDeleted(*this);
    }
}

void ValueCollectionImpl::OnParentDeleted() {
    if (m_disposed) return;  // see ModelObject: the downward route passes retired objects by
    checkDeleted();
    for (ValueImpl* value : m_values.items) value->OnParentDeleted();
    m_deleted = true;
}

void ValueCollectionImpl::OnValueCreated(const std::string& newValue) {
    checkGuards();
    add(ValueImpl::CreateExisting(tree(), *this, newValue));
}

void ValueCollectionImpl::OnValueCreated(std::span<const std::uint8_t> newValue) {
    checkGuards();
    add(ValueImpl::CreateExistingFromBytes(tree(), *this, newValue));
}

void ValueCollectionImpl::OnValueDeleted(const std::string& deletedValue) {
    checkGuards();
    OnItemDeleted(*find(deletedValue));
}

void ValueCollectionImpl::OnValueModified(const std::string& oldValue, const std::string& newValue) {
    checkGuards();
    find(oldValue)->OnValueModified(newValue);
}

void ValueCollectionImpl::releaseHeld() noexcept {
    for (ValueImpl* value : m_values.items) value->Dispose();
}

}  // namespace Varnel::Ldap
