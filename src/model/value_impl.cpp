#include "model/value_impl.hpp"

#include "foundation/utilities.hpp"
#include "model/value_collection_impl.hpp"

namespace Varnel::Ldap {

namespace {

// One modification of one value, pointing straight at bytes held elsewhere: libldap reads them in place,
// nothing is copied for the call. It refers to itself, so it is built where it is used and never moved.
struct BinaryMod {
    BinaryMod(int operation, const std::string& attributeName, const ByteArray& data) noexcept {
        value.bv_len = static_cast<ber_len_t>(data.size());
        value.bv_val =
            data.empty() ? const_cast<char*>("") : reinterpret_cast<char*>(const_cast<std::uint8_t*>(data.data()));
        mod.mod_op = operation | LDAP_MOD_BVALUES;
        mod.mod_type = const_cast<char*>(attributeName.c_str());
        mod.mod_bvalues = values;
    }
    BinaryMod(const BinaryMod&) = delete;
    BinaryMod& operator=(const BinaryMod&) = delete;

    berval value{};
    berval* values[2] = {&value, nullptr};
    LDAPMod mod{};
};

// Every path that takes new bytes into a value refuses an empty byte sequence, before anything is sent.
void refuseEmpty(const ByteArray& data) {
    if (data.empty()) throw IndexOutOfRangeException();
}

}  // namespace

ValueImpl::ValueImpl(SearchTree& tree, ValueCollectionImpl* valueCollection,
                     std::reference_wrapper<const std::string> entryDn,
                     std::reference_wrapper<const std::string> attributeName)
    : ModelObject(tree),
      m_entryDn(entryDn.get()),
      m_attributeName(attributeName.get()),
      m_valueCollection(valueCollection) {}

ValueImpl* ValueImpl::CreateExisting(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                     const std::string& entryDn, const std::string& attributeName,
                                     const berval& value) {
    auto* v = tree.make<ValueImpl>(valueCollection, entryDn, attributeName);
    if (value.bv_len > 0 && value.bv_val != nullptr) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(value.bv_val);
        v->m_valueData.assign(first, first + value.bv_len);
    }
    return v;
}

ValueImpl* ValueImpl::CreateExisting(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                     const std::string& entryDn, const std::string& attributeName,
                                     const std::string& stringValue) {
    return CreateExistingFromBytes(tree, valueCollection, entryDn, attributeName,
                                   Utilities::GetEncodedBytes(stringValue, tree.options()));
}

ValueImpl* ValueImpl::CreateExistingFromBytes(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                              const std::string& entryDn, const std::string& attributeName,
                                              const ByteArray& bytes) {
    refuseEmpty(bytes);
    auto* v = tree.make<ValueImpl>(valueCollection, entryDn, attributeName);
    v->setData(bytes);
    return v;
}

ValueImpl* ValueImpl::CreateNew(SearchTree& tree, ValueCollectionImpl* valueCollection, const std::string& entryDn,
                                const std::string& attributeName, const ByteArray& newValue) {
    refuseEmpty(newValue);
    SearchTree::Transaction transaction(tree);
    auto* v = tree.make<ValueImpl>(valueCollection, entryDn, attributeName);
    v->addValue(newValue);
    v->setData(newValue);
    transaction.commit();
    return v;
}

ValueImpl* ValueImpl::CreateNew(SearchTree& tree, ValueCollectionImpl* valueCollection, const std::string& entryDn,
                                const std::string& attributeName, const std::string& newValue) {
    return CreateNew(tree, valueCollection, entryDn, attributeName,
                     Utilities::GetEncodedBytes(newValue, tree.options()));
}

ValueImpl* ValueImpl::CreateNewFromFile(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                        const std::string& entryDn, const std::string& attributeName,
                                        const std::string& filename) {
    return CreateNew(tree, valueCollection, entryDn, attributeName, Utilities::ReadFile(filename));
}

void ValueImpl::setData(const ByteArray& data) { m_valueData = data; }

void ValueImpl::releaseHeld() noexcept { ByteArray().swap(m_valueData); }

void ValueImpl::doSingleMod(const ByteArray& data, int operation) {
    LDAP* handle = ld();
    BinaryMod change(operation, m_attributeName, data);
    LDAPMod* mods[] = {&change.mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, m_entryDn.c_str(), mods));
}

void ValueImpl::addValue(const ByteArray& value) { doSingleMod(value, LDAP_MOD_ADD); }

void ValueImpl::deleteValue() {
    doSingleMod(m_valueData, LDAP_MOD_DELETE);
    m_deleted = true;
}

void ValueImpl::changeValue(const ByteArray& newValue) {
    if (m_valueCollection != nullptr && m_valueCollection->get_Count() > 1) {
        changeValueUsingAddRemove(newValue);
    } else {
        changeValueUsingReplace(newValue);
    }
}

// The two change forms share their steps: bytes equal to the cached ones send nothing; no bytes are
// refused before anything is sent; the cache takes a copy of the new bytes only once the server accepted.
void ValueImpl::changeValueUsingAddRemove(const ByteArray& newValue) {
    if (Utilities::IsEqual(newValue, m_valueData)) return;
    refuseEmpty(newValue);
    LDAP* handle = ld();
    BinaryMod addition(LDAP_MOD_ADD, m_attributeName, newValue);
    BinaryMod deletion(LDAP_MOD_DELETE, m_attributeName, m_valueData);
    LDAPMod* mods[] = {&addition.mod, &deletion.mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, m_entryDn.c_str(), mods));
    setData(newValue);
}

void ValueImpl::changeValueUsingReplace(const ByteArray& newValue) {
    if (Utilities::IsEqual(newValue, m_valueData)) return;
    refuseEmpty(newValue);
    LDAP* handle = ld();
    BinaryMod replacement(LDAP_MOD_REPLACE, m_attributeName, newValue);
    LDAPMod* mods[] = {&replacement.mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_ext_s(handle, m_entryDn.c_str(), mods, nullptr, nullptr));
    setData(newValue);
}

void ValueImpl::Delete() {
    checkGuards();
    deleteValue();
    if (m_valueCollection != nullptr) m_valueCollection->OnItemDeleted(*this);
}

void ValueImpl::ReadFromFile(const std::string& filename) {
    checkGuards();
    changeValue(Utilities::ReadFile(filename));
}

void ValueImpl::WriteToFile(const std::string& filename) {
    checkGuards();
    Utilities::WriteToFile(filename, m_valueData);
}

ByteArray ValueImpl::get_BinaryValue() {
    checkGuards();
    return m_valueData;
}

void ValueImpl::set_BinaryValue(const ByteArray& value) {
    checkGuards();
    changeValue(value);
}

std::string ValueImpl::get_StringValue() {
    checkGuards();
    return options().GetEncoding().GetString(m_valueData);
}

void ValueImpl::set_StringValue(const std::string& value) {
    checkGuards();
    changeValue(Utilities::GetEncodedBytes(value, options()));
}

std::int32_t ValueImpl::get_RawByteSize() {
    checkGuards();
    return static_cast<std::int32_t>(m_valueData.size());
}

void ValueImpl::OnValueModified(const std::string& newValue) {
    ByteArray bytes = Utilities::GetEncodedBytes(newValue, options());
    refuseEmpty(bytes);
    m_valueData = std::move(bytes);
}

}  // namespace Varnel::Ldap
