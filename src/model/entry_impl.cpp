#include "model/entry_impl.hpp"

#include <vector>

#include "foundation/ldap_owners.hpp"

namespace Varnel::Ldap {

namespace {

// The components of a DN as libldap's explosion renders them, types kept. An empty DN has no component and
// cannot be moved or renamed: refused before any server call.
std::vector<std::string> explodeDn(LdapApi& api, const std::string& dn) {
    const StringValues exploded(api, api.ldap_explode_dn(dn.c_str(), 0));
    if (!exploded || exploded.get()[0] == nullptr) raise<LdapException>("IDS_EX_INVALID_INTERNAL_DN");
    std::vector<std::string> components;
    for (char** c = exploded.get(); *c != nullptr; ++c) components.emplace_back(*c);
    return components;
}

}  // namespace

// The DN is read in place: no BER state, nothing for libldap to allocate, and nothing copied until a request
// or the attributes need it as text.
std::string_view EntryImpl::readDn(LdapApi& api, LDAP* handle, LDAPMessage* entryMessage) noexcept {
    berval dn{};
    if (api.ldap_get_dn_ber(handle, entryMessage, nullptr, &dn) != LDAP_SUCCESS || dn.bv_val == nullptr) return {};
    return std::string_view(dn.bv_val, dn.bv_len);
}

EntryImpl::EntryImpl(SearchTree& tree, LDAPMessage* entryMessage, ILdapCollection* entryCollection,
                     std::string_view dn) noexcept
    : ModelObject(tree), m_dnInPlace(dn), m_entryCollection(entryCollection), m_entryMessage(entryMessage) {}

std::string EntryImpl::get_DN() {
    checkGuards();
    return m_dnOwned ? m_dn : std::string(m_dnInPlace);
}

void EntryImpl::validateAttributeCollection() {
    if (m_attributes == nullptr) {
        SearchTree::Transaction transaction(tree());
        m_attributes = tree().make<AttributeCollectionImpl>(m_entryMessage, dnText());
        transaction.commit();
    }
}

AttributeCollectionImpl& EntryImpl::attributes() {
    validateAttributeCollection();
    return *m_attributes;
}

std::shared_ptr<AttributeCollection> EntryImpl::get_Attributes() {
    checkGuards();
    validateAttributeCollection();
    return handle<AttributeCollection>(m_attributes);
}

void EntryImpl::Delete() {
    checkGuards();
    LDAP* handle = ld();
    checkResult(api(), handle, api().ldap_delete_s(handle, dnText().c_str()));
    m_deleted = true;
    if (m_attributes != nullptr) m_attributes->OnParentDeleted();
    if (m_entryCollection != nullptr) m_entryCollection->OnItemDeleted(*this);
}

void EntryImpl::Move(const std::string& newParentDN) {
    checkGuards();
    LDAP* handle = ld();
    const std::vector<std::string> components = explodeDn(api(), dnText());
    const std::string& rdn = components.front();
    std::string newDn = rdn + ", " + newParentDN;
    checkResult(api(), handle,
                api().ldap_rename_ext_s(handle, dnText().c_str(), rdn.c_str(), newParentDN.c_str(), 1, nullptr,
                                        nullptr));
    setDn(std::move(newDn));
}

// The attribute collection and everything below it refer to this DN, so objects obtained before a move or
// rename reach the entry where it now is.
void EntryImpl::setDn(std::string dn) {
    m_dn = std::move(dn);
    m_dnOwned = true;
}

const std::string& EntryImpl::dnText() {
    if (!m_dnOwned) {
        m_dn.assign(m_dnInPlace);
        m_dnOwned = true;
    }
    return m_dn;
}

void EntryImpl::Rename(const std::string& rdn) {
    checkGuards();
    if (connection().GetConnectedVersion() == ProtocolVersion::Version2) {
        raise<LdapException>("IDS_EX_ENTRY_RENAME_V3_ONLY");
    }
    LDAP* handle = ld();
    const std::vector<std::string> components = explodeDn(api(), dnText());
    std::string newDn = rdn;
    for (std::size_t i = 1; i < components.size(); ++i) newDn += ", " + components[i];
    checkResult(api(), handle,
                api().ldap_rename_ext_s(handle, dnText().c_str(), rdn.c_str(), nullptr, 1, nullptr, nullptr));
    setDn(std::move(newDn));
    notifyAttributeChanged(components.front(), rdn);
}

// The rename has already happened on the server, so nothing here may report a failure: the cached naming
// value is rewritten only where the collection holds it.
void EntryImpl::notifyAttributeChanged(const std::string& partChangedFrom, const std::string& partChangedTo) {
    const auto equalsTo = partChangedTo.find('=');
    if (equalsTo == std::string::npos) return;  // no attribute name to address
    const std::string attributeName = partChangedTo.substr(0, equalsTo);
    const std::string newValue = partChangedTo.substr(equalsTo + 1);
    const auto equalsFrom = partChangedFrom.find('=');
    const std::string oldValue =
        equalsFrom == std::string::npos ? partChangedFrom : partChangedFrom.substr(equalsFrom + 1);
    try {
        validateAttributeCollection();
        if (m_attributes->holdsValue(attributeName, oldValue)) {
            m_attributes->OnValueModified(attributeName, oldValue, newValue);
        }
    } catch (const LdapException&) {
        // Reading the attributes needs the connection: without it the cached value stays as it was, while
        // the rename stands.
    } catch (const IndexOutOfRangeException&) {
        // A new value that encodes to no byte cannot be cached; the rename stands.
    }
}

std::optional<std::string> EntryImpl::firstValueText(const std::optional<std::string>& attributeName) {
    checkGuards();
    validateAttributeCollection();
    return m_attributes->firstValueText(attributeName);
}

void EntryImpl::releaseHeld() noexcept {
    if (m_attributes != nullptr) m_attributes->Dispose();
}

}  // namespace Varnel::Ldap
