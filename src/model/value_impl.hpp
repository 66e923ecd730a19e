// One value of one attribute: its cached bytes and the four modify requests that change it on the server.
#pragma once

#include <functional>
#include <string>

#include <varnel/ldap/value.hpp>

#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

class ValueCollectionImpl;

class ValueImpl final : public Value, public ILdapCollectionItem, public ModelObject {
public:
    /// `entryDn` and `attributeName` are referred to, not copied: they are the texts the attribute collection
    /// and the attribute hold, which live in the same tree and are older than the value (no temporaries).
    ValueImpl(SearchTree& tree, ValueCollectionImpl* valueCollection, std::reference_wrapper<const std::string> entryDn,
              std::reference_wrapper<const std::string> attributeName);

    // Factories; none applies a guard.
    /// A value the server already has, from libldap's value (zero bytes give an empty value). No server call.
    static ValueImpl* CreateExisting(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                     const std::string& entryDn, const std::string& attributeName,
                                     const berval& value);
    /// A value the server already has, from its text in the client's encoding. No server call.
    static ValueImpl* CreateExisting(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                     const std::string& entryDn, const std::string& attributeName,
                                     const std::string& stringValue);
    /// A value the server already has, from its bytes. No server call.
    static ValueImpl* CreateExistingFromBytes(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                              const std::string& entryDn, const std::string& attributeName,
                                              const ByteArray& bytes);
    /// Creates the value on the server, then returns it.
    static ValueImpl* CreateNew(SearchTree& tree, ValueCollectionImpl* valueCollection, const std::string& entryDn,
                                const std::string& attributeName, const ByteArray& newValue);
    static ValueImpl* CreateNew(SearchTree& tree, ValueCollectionImpl* valueCollection, const std::string& entryDn,
                                const std::string& attributeName, const std::string& newValue);
    static ValueImpl* CreateNewFromFile(SearchTree& tree, ValueCollectionImpl* valueCollection,
                                        const std::string& entryDn, const std::string& attributeName,
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
    const ByteArray& bytes() const noexcept { return m_valueData; }

private:
    void releaseHeld() noexcept override;
    void setData(const ByteArray& data);
    void addValue(const ByteArray& value);
    void deleteValue();
    void changeValue(const ByteArray& newValue);
    void changeValueUsingAddRemove(const ByteArray& newValue);
    void changeValueUsingReplace(const ByteArray& newValue);
    void doSingleMod(const ByteArray& data, int operation);

    const std::string& m_entryDn;        // held by the attribute collection
    const std::string& m_attributeName;  // held by the attribute
    ValueCollectionImpl* m_valueCollection;
    ByteArray m_valueData;
};

}  // namespace Varnel::Ldap
