// One entry of a search: its DN, its attributes on first request, and delete, move and rename.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <varnel/ldap/entry.hpp>

#include "model/attribute_collection_impl.hpp"
#include "model/ldap_collection.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

class EntryImpl final : public Entry, public ILdapCollectionItem, public ModelObject {
public:
    /// `dn` is the DN readDn read from the entry message.
    EntryImpl(SearchTree& tree, LDAPMessage* entryMessage, ILdapCollection* entryCollection,
              std::string_view dn) noexcept;
    /// The DN of an entry message, pointing into it (empty when the message holds none that can be read).
    static std::string_view readDn(LdapApi& api, LDAP* handle, LDAPMessage* entryMessage) noexcept;

    void Delete() override;
    void Move(const std::string& newParentDN) override;
    void Rename(const std::string& rdn) override;
    std::string get_DN() override;
    std::shared_ptr<AttributeCollection> get_Attributes() override;
    void Dispose() override { ModelObject::Dispose(true); }

    /// The attribute collection, made on first request (no guard).
    AttributeCollectionImpl& attributes();
    /// The text of the first value of `attributeName`, or absent when the entry has no such attribute or it
    /// holds no value; the guards of every object on the way apply. Used to order entries.
    std::optional<std::string> firstValueText(const std::optional<std::string>& attributeName);

private:
    void releaseHeld() noexcept override;
    void validateAttributeCollection();
    void setDn(std::string dn);
    /// The DN as the entry's own NUL-terminated text, made on first need; the attribute collection and the
    /// objects below refer to it, and a move or rename changes it in place.
    const std::string& dnText();
    void notifyAttributeChanged(const std::string& partChangedFrom, const std::string& partChangedTo);

    bool m_dnOwned = false;       // m_dn holds the DN; until then m_dnInPlace, which points into the message
    std::string_view m_dnInPlace;
    std::string m_dn;
    AttributeCollectionImpl* m_attributes = nullptr;
    ILdapCollection* m_entryCollection;
    LDAPMessage* m_entryMessage;
};

}  // namespace Varnel::Ldap
