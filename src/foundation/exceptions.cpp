#include <varnel/ldap/exceptions.hpp>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

ApplicationException::ApplicationException() = default;
ApplicationException::ApplicationException(std::optional<std::string> message) : m_message(std::move(message)) {}
ApplicationException::ApplicationException(std::optional<std::string> message, std::exception_ptr innerException)
    : m_message(std::move(message)), m_innerException(std::move(innerException)) {}
ApplicationException::~ApplicationException() = default;

namespace {

// "Exception of type '<class>' was thrown.", made once per class and kept for the process, so what() of an
// exception without message is safe from any thread and its text outlives the exception.
const char* defaultText(const std::type_info& type) noexcept {
    static std::mutex mutex;
    static std::map<std::type_index, std::string> texts;
    try {
        const std::lock_guard<std::mutex> lock(mutex);
        auto it = texts.find(type);
        if (it == texts.end()) {
            int status = 0;
            std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                             std::free);
            it = texts.emplace(type, std::string("Exception of type '") + (status == 0 ? demangled.get() : type.name()) +
                                         "' was thrown.")
                     .first;
        }
        return it->second.c_str();
    } catch (...) {
        return "Exception of the Varnel LDAP library was thrown.";
    }
}

}  // namespace

const char* ApplicationException::what() const noexcept {
    return m_message ? m_message->c_str() : defaultText(typeid(*this));
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
