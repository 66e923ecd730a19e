// One value of one attribute: its bytes and the four modify requests that change it on the server.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <varnel/ldap/value.hpp>

#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

class ValueCollectionImpl;

class ValueImpl final : public Value, public ILdapCollectionItem, public ModelObject {
public:
    /// A value of `valueCollection`, which gives it the entry's DN and the attribute's name.
    ValueImpl(SearchTree& tree, ValueCollectionImpl& valueCollection) noexcept;
    ~ValueImpl() override { freeOwned(); }

    // Factories; none applies a guard.
    /// A value the server already has, read in place from the entry message of the tree (zero bytes give an
    /// empty value): its bytes are copied only when the value changes. No server call.
    static ValueImpl* CreateExisting(SearchTree& tree, ValueCollectionImpl& valueCollection, const berval& value);
    /// A value the server already has, from its text in the client's encoding. No server call.
    static ValueImpl* CreateExisting(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                     const std::string& stringValue);
    /// A value the server already has, from its bytes. No server call.
    static ValueImpl* CreateExistingFromBytes(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                              std::span<const std::uint8_t> bytes);
    /// Creates the value on the server, then returns it.
    static ValueImpl* CreateNew(SearchTree& tree, ValueCollectionImpl& valueCollection, const ByteArray& newValue);
    static ValueImpl* CreateNew(SearchTree& tree, ValueCollectionImpl& valueCollection, const std::string& newValue);
    static ValueImpl* CreateNewFromFile(SearchTree& tree, ValueCollectionImpl& valueCollection,
                                        const std::string& filename);

    void Delete() override;
    void ReadFromFile(const std::string& filename) override;
    void WriteToFile(const std::string& filename) override;
    ByteArray get_BinaryValue() override;
    void set_BinaryValue(const ByteArray& value) override;
    std::string get_StringValue() override;
    void set_StringValue(const std::string& value) override;
    std::int32_t get_RawByteSize() override;
    void Dispose() override { ModelObject::Dispose(true); }

    // Notifications: no guard, no server call.
    void OnParentDeleted() noexcept { m_deleted = true; }
    void OnValueModified(const std::string& newValue);

    /// The cached bytes, read in place.
    std::span<const std::uint8_t> bytes() const noexcept { return {m_data, m_size}; }

private:
    void releaseHeld() noexcept override;
    /// The value holds a copy of `data` from now on.
    void setData(std::span<const std::uint8_t> data);
    void freeOwned() noexcept;
    void addValue(std::span<const std::uint8_t> value);
    void deleteValue();
    void changeValue(const ByteArray& newValue);
    void changeValueUsingAddRemove(const ByteArray& newValue);
    void changeValueUsingReplace(const ByteArray& newValue);
    void doSingleMod(std::span<const std::uint8_t> data, int operation);

    // The bytes either point into the entry message, which lives as long as the tree, or are the value's own
    // copy (m_ownsData): most values are never changed, and so are never copied.
    bool m_ownsData = false;
    std::uint32_t m_size = 0;  // values are limited to 2 GiB
    ValueCollectionImpl* m_valueCollection;
    const std::uint8_t* m_data = nullptr;
};

}  // namespace Varnel::Ldap
