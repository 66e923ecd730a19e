// How a child of the model tells its container that it is gone.
#pragma once

namespace Varnel::Ldap {

/// Marks an object that can be reported to its container.
class ILdapCollectionItem {
public:
    virtual ~ILdapCollectionItem() = default;
};

/// A container of model objects: told when one of its items is gone, it drops it.
class ILdapCollection {
public:
    virtual ~ILdapCollection() = default;
    virtual void OnItemDeleted(ILdapCollectionItem& item) = 0;
};

}  // namespace Varnel::Ldap
