// One value of one attribute of one directory entry.
#pragma once

#include <cstdint>
#include <string>

#include <varnel/ldap/export.hpp>
#include <varnel/ldap/types.hpp>

namespace Varnel::Ldap {

/// A value holds its bytes in memory, exactly as the server sent them or as they were last written, and
/// offers them as bytes, as text in the client's encoding (read at each call) and as a file. Every change
/// goes to the server first with one modify request; the bytes in memory change only when the server has
/// accepted it, and a change to the bytes already held sends nothing.
///
/// Lifetime: a Value handle keeps the whole search it came from alive (its collection, attribute, entry and
/// the connection object). Dispose, or disposal of a parent, retires it: every operation but Dispose then
/// throws ObjectDisposedException. After Delete, or after its attribute or entry was deleted, operations throw
/// LdapException with no message. Operations that reach the server throw InvalidStateException after
/// Client::Disconnect, and LdapNetworkLibraryException when the server refuses. Not thread-safe.
class VARNEL_LDAP_EXPORT Value {
public:
    virtual ~Value() = default;

    /// Deletes this value on the server, marks it deleted and removes it from its collection; deleting the
    /// last value of an attribute removes the attribute from its entry.
    virtual void Delete() = 0;
    /// Changes the value to the whole content of the file (std::filesystem::filesystem_error on file errors;
    /// IndexOutOfRangeException for an empty file).
    virtual void ReadFromFile(const std::string& filename) = 0;
    /// Writes the bytes held to the file, creating or truncating it. No server call.
    virtual void WriteToFile(const std::string& filename) = 0;
    /// A copy of the bytes held.
    virtual ByteArray get_BinaryValue() = 0;
    /// Changes the value to these bytes (IndexOutOfRangeException for no bytes).
    virtual void set_BinaryValue(const ByteArray& value) = 0;
    /// The bytes held, decoded with the client's encoding.
    virtual std::string get_StringValue() = 0;
    /// Changes the value to the text in the client's encoding (IndexOutOfRangeException for empty text).
    virtual void set_StringValue(const std::string& value) = 0;
    /// The number of bytes held.
    virtual std::int32_t get_RawByteSize() = 0;
    /// Drops the bytes held and retires the object. No server call; never throws.
    virtual void Dispose() = 0;

protected:
    Value() = default;
};

}  // namespace Varnel::Ldap
