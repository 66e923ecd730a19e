// One directory entry returned by a search.
#pragma once

#include <memory>
#include <string>

#include <varnel/ldap/attribute_collection.hpp>
#include <varnel/ldap/export.hpp>

namespace Varnel::Ldap {

/// An entry knows its DN, gives access to its attributes (read from the search result on first request) and
/// can be deleted, moved or renamed; each change is one request to the server, and the entry changes in
/// memory only when the server has accepted it. Attributes and values obtained before a Move or Rename
/// address the entry under its new DN afterwards.
///
/// Lifetime: a handle keeps the whole search alive; Dispose (its own or its collection's) disposes its
/// attributes. After Delete every operation but Dispose throws LdapException with no message. Not thread-safe.
class VARNEL_LDAP_EXPORT Entry {
public:
    virtual ~Entry() = default;

    /// Deletes the entry on the server and removes it from its collection.
    virtual void Delete() = 0;
    /// Moves the entry, keeping its RDN, under `newParentDN`.
    virtual void Move(const std::string& newParentDN) = 0;
    /// Gives the entry the RDN `rdn` under the same parent (LDAPv3 connections only) and rewrites the
    /// cached naming value where it is held.
    virtual void Rename(const std::string& rdn) = 0;
    virtual std::string get_DN() = 0;
    /// The attribute collection, the same object on every call.
    virtual std::shared_ptr<AttributeCollection> get_Attributes() = 0;
    /// Disposes the entry and its attributes. No server call; never throws.
    virtual void Dispose() = 0;

protected:
    Entry() = default;
};

}  // namespace Varnel::Ldap
