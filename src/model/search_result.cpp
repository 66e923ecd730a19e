#include "model/search_result.hpp"

#include <utility>

#include "foundation/errors.hpp"

namespace Varnel::Ldap {

LDAPMessage* SearchResult::GetMessageW() const {
    if (m_disposed) raise<ObjectDisposedException>("IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT");
    return m_message;
}

void SearchResult::Dispose() noexcept {
    if (m_message != nullptr) (void)m_api->ldap_msgfree(std::exchange(m_message, nullptr));
    m_disposed = true;
}

}  // namespace Varnel::Ldap
