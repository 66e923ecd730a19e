// One named attribute of one directory entry.
#pragma once

#include <memory>
#include <string>

#include <varnel/ldap/export.hpp>
#include <varnel/ldap/value_collection.hpp>

namespace Varnel::Ldap {

/// An attribute owns its value collection and can remove itself, with all its values, from the entry on the
/// server. Its name is as the server sent it, or as the caller wrote it when it was added.
///
/// Lifetime: a handle keeps the whole search alive; Dispose (its own or its collection's) disposes its
/// values. After Delete, get_IsDeleted is true and the other operations throw LdapException with no message.
/// Not thread-safe.
class VARNEL_LDAP_EXPORT Attribute {
public:
    virtual ~Attribute() = default;

    /// Removes the attribute with all its values from the entry on the server.
    virtual void Delete() = 0;
    virtual bool get_IsDeleted() = 0;
    virtual std::string get_Name() = 0;
    /// The value collection, the same object on every call.
    virtual std::shared_ptr<ValueCollection> get_Values() = 0;
    /// Disposes the attribute and its values. No server call; never throws.
    virtual void Dispose() = 0;

protected:
    Attribute() = default;
};

}  // namespace Varnel::Ldap
