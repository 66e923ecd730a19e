#include <varnel/ldap/exceptions.hpp>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

ApplicationException::ApplicationException() = default;
ApplicationException::ApplicationException(std::optional<std::string> message) : m_message(std::move(message)) {}
ApplicationException::ApplicationException(std::optional<std::string> message, std::exception_ptr innerException)
    : m_message(std::move(message)), m_innerException(std::move(innerException)) {}
ApplicationException::~ApplicationException() = default;

const char* ApplicationException::what() const noexcept {
    if (m_message) return m_message->c_str();
    if (m_defaultText.empty()) {
        try {
            const char* mangled = typeid(*this).name();
            int status = 0;
            std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                             std::free);
            m_defaultText = std::string("Exception of type '") + (status == 0 ? demangled.get() : mangled) +
                            "' was thrown.";
        } catch (...) {
            return "Exception of the Varnel LDAP library was thrown.";
        }
    }
    return m_defaultText.c_str();
}

LdapNetworkLibraryException::LdapNetworkLibraryException() = default;
LdapNetworkLibraryException::LdapNetworkLibraryException(std::optional<std::string> message)
    : LdapException(std::move(message)) {}
LdapNetworkLibraryException::LdapNetworkLibraryException(std::optional<std::string> message,
                                                         std::exception_ptr innerException)
    : LdapException(std::move(message), std::move(innerException)) {}

namespace {
std::optional<std::string> errText(std::int32_t code) {
    const char* text = defaultLdapApi()->ldap_err2string(code);
    return text ? std::optional<std::string>(text) : std::nullopt;
}
}  // namespace

LdapNetworkLibraryException::LdapNetworkLibraryException(std::int32_t errorCode)
    : LdapException(errText(errorCode)), m_resultCode(errorCode) {
    setCode(errorCode);
}

LdapNetworkLibraryException::LdapNetworkLibraryException(std::optional<std::string> message, std::int32_t resultCode,
                                                         std::optional<std::string> diagnosticMessage)
    : LdapException(std::move(message)), m_resultCode(resultCode), m_diagnosticMessage(std::move(diagnosticMessage)) {}

}  // namespace Varnel::Ldap
