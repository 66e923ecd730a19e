// The values of one attribute.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <varnel/ldap/enumerator.hpp>
#include <varnel/ldap/export.hpp>
#include <varnel/ldap/types.hpp>
#include <varnel/ldap/value.hpp>

namespace Varnel::Ldap {

/// The values of one attribute in server order, then added values in the order added. Add creates the value
/// on the server before it is listed. A collection whose last value was deleted counts as deleted.
///
/// Lifetime: a handle keeps the whole search alive; Dispose (its own or its attribute's) disposes every value.
/// get_Item out of range throws LdapException ("The parameter is out of bounds."). The enumerator fails fast
/// with InvalidOperationException once a value is added or removed. Not thread-safe.
class VARNEL_LDAP_EXPORT ValueCollection {
public:
    virtual ~ValueCollection() = default;

    /// Creates a value with these bytes on the server and appends it.
    virtual std::shared_ptr<Value> Add(const ByteArray& newValue) = 0;
    /// Creates a value with this text (in the client's encoding) on the server and appends it.
    virtual std::shared_ptr<Value> Add(const std::string& newValue) = 0;
    /// Creates a value with the whole content of the file on the server and appends it.
    virtual std::shared_ptr<Value> AddFromFile(const std::string& filename) = 0;
    /// Copies the values into `array` from position `index`: ArgumentOutOfRangeException when `index` is not
    /// below the array's length, ArgumentException when the values do not fit, IndexOutOfRangeException for a
    /// negative `index`; nothing is written when it throws.
    virtual void CopyTo(std::span<std::shared_ptr<Value>> array, std::int32_t index) = 0;
    virtual std::int32_t get_Count() = 0;
    virtual std::shared_ptr<Value> get_Item(std::int32_t index) = 0;
    /// Always false: no collection of the library is synchronised.
    virtual bool get_IsSynchronized() = 0;
    /// The collection itself.
    virtual ValueCollection& get_SyncRoot() = 0;
    virtual std::unique_ptr<Enumerator<Value>> GetEnumerator() = 0;
    /// Disposes the collection and its values. No server call; never throws.
    virtual void Dispose() = 0;

    /// Range-for over the values, failing fast as the enumerator does.
    EnumeratorIterator<Value> begin() { return EnumeratorIterator<Value>(GetEnumerator()); }
    EnumeratorIterator<Value> end() { return {}; }
    std::shared_ptr<Value> operator[](std::int32_t index) { return get_Item(index); }

protected:
    ValueCollection() = default;
};

}  // namespace Varnel::Ldap
