// How a child of the model tells its container that it is gone.
#pragma once

namespace Varnel::Ldap {

/// Marks an object that can be reported to its container. It has no state and no virtual functions, so it
/// adds nothing to the size of the many objects that carry it; containers know the kind of their items.
class ILdapCollectionItem {
protected:
    ILdapCollectionItem() = default;
    ~ILdapCollectionItem() = default;
};

/// A container of model objects: told when one of its items is gone, it drops it.
class ILdapCollection {
public:
    virtual ~ILdapCollection() = default;
    virtual void OnItemDeleted(ILdapCollectionItem& item) = 0;
};

}  // namespace Varnel::Ldap
