#include "model/value_impl.hpp"

#include <algorithm>

#include "foundation/utilities.hpp"
#include "model/value_collection_impl.hpp"

namespace Varnel::Ldap {

namespace {

// One modification of one value, pointing straight at bytes held elsewhere: libldap reads them in place,
// nothing is copied for the call. It refers to itself, so it is built where it is used and never moved.
struct BinaryMod {
    BinaryMod(int operation, const std::string& attributeName, std::span<const std::uint8_t> data) noexcept {
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

// A value's length is a 32-bit signed count, as for files: longer bytes are refused, never cut.
void refuseTooLong(std::size_t size) {
    if (size > 0x7fffffff) throw ArgumentException("A value is limited to 2 GiB - 1 bytes.");
}

// Every path that takes new bytes into a value refuses an empty byte sequence, and one too long to be
// counted, before anything is sent.
void refuseEmpty(std::span<const std::uint8_t> data) {
    if (data.empty()) throw IndexOutOfRangeException();
    refuseTooLong(data.size());
}

}  // namespace

ValueImpl::ValueImpl(SearchTree& tree, ValueCollectionImpl& valueCollection) noexcept
    : ModelObject(tree), m_valueCollection(&valueCollection) {}

ValueImpl* ValueImpl::CreateExisting(SearchTree& tree, ValueCollectionImpl& valueCollection, const berval& value) {
    refuseTooLong(value.bv_len);
    auto* v = tree.make<ValueImpl>(valueCollection);
    if (value.bv_len > 0 && value.bv_val != nullptr) {
        v->m_data = reinterpret_cast<const std::uint8_t*>(value.bv_val);
        v->m_size = static_cast<std::uint32_t>(value.bv_len);
    }
    return v;
}

ValueImpl* ValueImpl::CreateExisting(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                     const std::string& stringValue) {
    return CreateExistingFromBytes(tree, valueCollection, Utilities::GetEncodedBytes(stringValue, tree.options()));
}

ValueImpl* ValueImpl::CreateExistingFromBytes(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                              std::span<const std::uint8_t> bytes) {
    refuseEmpty(bytes);
    SearchTree::Transaction transaction(tree);
    auto* v = tree.make<ValueImpl>(valueCollection);
    v->setData(bytes);
    transaction.commit();
    return v;
}

ValueImpl* ValueImpl::CreateNew(SearchTree& tree, ValueCollectionImpl& valueCollection, const ByteArray& newValue) {
    refuseEmpty(newValue);
    SearchTree::Transaction transaction(tree);
    auto* v = tree.make<ValueImpl>(valueCollection);
    v->addValue(newValue);
    v->setData(newValue);
    transaction.commit();
    return v;
}

ValueImpl* ValueImpl::CreateNew(SearchTree& tree, ValueCollectionImpl& valueCollection, const std::string& newValue) {
    return CreateNew(tree, valueCollection, Utilities::GetEncodedBytes(newValue, tree.options()));
}

ValueImpl* ValueImpl::CreateNewFromFile(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                        const std::string& filename) {
    return CreateNew(tree, valueCollection, Utilities::ReadFile(filename));
}

void ValueImpl::setData(std::span<const std::uint8_t> data) {
    std::uint8_t* copy = nullptr;
    if (!data.empty()) {
        copy = new std::uint8_t[data.size()];
        std::copy(data.begin(), data.end(), copy);
    }
    freeOwned();
    m_data = copy;
    m_size = static_cast<std::uint32_t>(data.size());
    m_ownsData = copy != nullptr;
}

void ValueImpl::freeOwned() noexcept {
    if (m_ownsData) delete[] m_data;
    m_ownsData = false;
}

void ValueImpl::releaseHeld() noexcept {
    freeOwned();
    m_data = nullptr;
    m_size = 0;
}

void ValueImpl::doSingleMod(std::span<const std::uint8_t> data, int operation) {
    LDAP* handle = ld();
    BinaryMod change(operation, m_valueCollection->attributeName(), data);
    LDAPMod* mods[] = {&change.mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, m_valueCollection->entryDn().c_str(), mods));
}

void ValueImpl::addValue(std::span<const std::uint8_t> value) { doSingleMod(value, LDAP_MOD_ADD); }

void ValueImpl::deleteValue() {
    doSingleMod(bytes(), LDAP_MOD_DELETE);
    m_deleted = true;
}

void ValueImpl::changeValue(const ByteArray& newValue) {
    if (m_valueCollection->get_Count() > 1) {
        changeValueUsingAddRemove(newValue);
    } else {
        changeValueUsingReplace(newValue);
    }
}

// The two change forms share their steps: bytes equal to the cached ones send nothing; no bytes are
// refused before anything is sent; the cache takes a copy of the new bytes only once the server accepted.
void ValueImpl::changeValueUsingAddRemove(const ByteArray& newValue) {
    if (Utilities::IsEqual(newValue, bytes())) return;
    refuseEmpty(newValue);
    LDAP* handle = ld();
    const std::string& name = m_valueCollection->attributeName();
    BinaryMod addition(LDAP_MOD_ADD, name, newValue);
    BinaryMod deletion(LDAP_MOD_DELETE, name, bytes());
    LDAPMod* mods[] = {&addition.mod, &deletion.mod, nullptr};
    checkResult(api(), handle, api().ldap_modify_s(handle, m_valueCollection->entryDn().c_str(), mods));
    setData(newValue);
}

void ValueImpl::changeValueUsingReplace(const ByteArray& newValue) {
    if (Utilities::IsEqual(newValue, bytes())) return;
    refuseEmpty(newValue);
    LDAP* handle = ld();
    BinaryMod replacement(LDAP_MOD_REPLACE, m_valueCollection->attributeName(), newValue);
    LDAPMod* mods[] = {&replacement.mod, nullptr};
    checkResult(api(), handle,
                api().ldap_modify_ext_s(handle, m_valueCollection->entryDn().c_str(), mods, nullptr, nullptr));
    setData(newValue);
}

void ValueImpl::Delete() {
    checkGuards();
    deleteValue();
    m_valueCollection->OnItemDeleted(*this);
}

void ValueImpl::ReadFromFile(const std::string& filename) {
    checkGuards();
    changeValue(Utilities::ReadFile(filename));
}

void ValueImpl::WriteToFile(const std::string& filename) {
    checkGuards();
    Utilities::WriteToFile(filename, bytes());
}

ByteArray ValueImpl::get_BinaryValue() {
    checkGuards();
    return ByteArray(m_data, m_data + m_size);
}

void ValueImpl::set_BinaryValue(const ByteArray& value) {
    checkGuards();
    changeValue(value);
}

std::string ValueImpl::get_StringValue() {
    checkGuards();
    return options().GetEncoding().GetString(bytes());
}

void ValueImpl::set_StringValue(const std::string& value) {
    checkGuards();
    changeValue(Utilities::GetEncodedBytes(value, options()));
}

std::int32_t ValueImpl::get_RawByteSize() {
    checkGuards();
    return static_cast<std::int32_t>(m_size);
}

void ValueImpl::OnValueModified(const std::string& newValue) {
    const ByteArray newBytes = Utilities::GetEncodedBytes(newValue, options());
    refuseEmpty(newBytes);
    setData(newBytes);
}

}  // namespace Varnel::Ldap
