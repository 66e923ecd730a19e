// The attributes of one directory entry.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <varnel/ldap/attribute.hpp>
#include <varnel/ldap/enumerator.hpp>
#include <varnel/ldap/export.hpp>

namespace Varnel::Ldap {

/// The attributes of one entry in server order, found by name without regard to letter case (names with
/// options such as "cn;lang-en" are names like any other) or by position. Add writes a first value to the
/// server; adding under a name already present merges the value into the attribute already there.
///
/// Lifetime: a handle keeps the whole search alive; Dispose (its own or its entry's) disposes every
/// attribute. The enumerator walks a copy taken when it was made. Not thread-safe.
class VARNEL_LDAP_EXPORT AttributeCollection {
public:
    virtual ~AttributeCollection() = default;

    /// Adds `value` to the attribute `attributeName` on the server and returns the attribute.
    virtual std::shared_ptr<Attribute> Add(const std::string& attributeName, const std::string& value) = 0;
    /// Adds the whole content of the file as a value of `attributeName` on the server.
    virtual std::shared_ptr<Attribute> AddFromFile(const std::string& attributeName, const std::string& filename) = 0;
    /// Copies the attributes into `array` from `index` (errors as ValueCollection::CopyTo).
    virtual void CopyTo(std::span<std::shared_ptr<Attribute>> array, std::int32_t index) = 0;
    virtual bool Exists(const std::string& attributeName) = 0;
    virtual std::int32_t get_Count() = 0;
    /// The attribute of that name, or nullptr when the entry has none.
    virtual std::shared_ptr<Attribute> get_Item(const std::string& index) = 0;
    /// The attribute at that position; LdapException ("The parameter is out of bounds.") outside.
    virtual std::shared_ptr<Attribute> get_Item(std::int32_t index) = 0;
    virtual bool get_IsSynchronized() = 0;
    virtual AttributeCollection& get_SyncRoot() = 0;
    virtual std::unique_ptr<Enumerator<Attribute>> GetEnumerator() = 0;
    /// Disposes the collection and its attributes. No server call; never throws.
    virtual void Dispose() = 0;

    EnumeratorIterator<Attribute> begin() { return EnumeratorIterator<Attribute>(GetEnumerator()); }
    EnumeratorIterator<Attribute> end() { return {}; }
    std::shared_ptr<Attribute> operator[](std::int32_t index) { return get_Item(index); }
    std::shared_ptr<Attribute> operator[](const std::string& name) { return get_Item(name); }
    std::shared_ptr<Attribute> operator[](const char* name) { return get_Item(std::string(name)); }

protected:
    AttributeCollection() = default;
};

}  // namespace Varnel::Ldap
