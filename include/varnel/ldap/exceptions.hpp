// Every failure of the library is an exception. Failures the library detects itself, and every LDAP result
// code, are LdapException or one of its subclasses, all rooted at ApplicationException. Argument and state
// errors outside the family derive from the standard exception types; out of memory is std::bad_alloc and
// file errors are std::filesystem::filesystem_error.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include <varnel/ldap/export.hpp>

namespace Varnel::Ldap {

/// The general application error: an optional message, an optional inner exception and a 32-bit code.
/// what() returns the message, or "Exception of type '<class>' was thrown." when the message is absent.
class VARNEL_LDAP_EXPORT ApplicationException : public std::exception {
public:
    /// The code every exception carries unless it was made from an LDAP result code.
    static constexpr std::int32_t DefaultCode = -2146232832;

    ApplicationException();
    explicit ApplicationException(std::optional<std::string> message);
    ApplicationException(std::optional<std::string> message, std::exception_ptr innerException);
    ~ApplicationException() override;

    ApplicationException(const ApplicationException&) = default;
    ApplicationException& operator=(const ApplicationException&) = default;

    const char* what() const noexcept override;

    /// The message text; absent when the exception was made without one.
    const std::optional<std::string>& get_Message() const noexcept { return m_message; }
    /// The failure that caused this one, or a null exception_ptr.
    std::exception_ptr get_InnerException() const noexcept { return m_innerException; }

protected:
    std::int32_t code() const noexcept { return m_code; }
    void setCode(std::int32_t code) noexcept { m_code = code; }

private:
    std::optional<std::string> m_message;
    std::exception_ptr m_innerException;
    std::int32_t m_code = DefaultCode;
};

/// A failure detected by the library itself; the root of the family.
class VARNEL_LDAP_EXPORT LdapException : public ApplicationException {
public:
    using ApplicationException::ApplicationException;
};

/// An operation was called on an object after its Dispose.
class VARNEL_LDAP_EXPORT ObjectDisposedException : public LdapException {
public:
    using LdapException::LdapException;
};

/// An operation needs a connection and the client has none.
class VARNEL_LDAP_EXPORT InvalidStateException : public LdapException {
public:
    using LdapException::LdapException;
};

/// libldap returned a nonzero result code. The message is libldap's text for the code. Exceptions the library
/// makes from a result code also carry that code (get_ResultCode) and, when the server said more, its
/// diagnostic message (get_DiagnosticMessage). get_ErrorCode is the default code unless the exception was
/// made with the (errorCode) constructor.
class VARNEL_LDAP_EXPORT LdapNetworkLibraryException : public LdapException {
public:
    LdapNetworkLibraryException();
    explicit LdapNetworkLibraryException(std::optional<std::string> message);
    LdapNetworkLibraryException(std::optional<std::string> message, std::exception_ptr innerException);
    /// The message is libldap's text for errorCode; get_ErrorCode and get_ResultCode return errorCode.
    explicit LdapNetworkLibraryException(std::int32_t errorCode);
    /// The form the library uses for a result code: message as given, the code kept as the result code.
    LdapNetworkLibraryException(std::optional<std::string> message, std::int32_t resultCode,
                                std::optional<std::string> diagnosticMessage);

    std::int32_t get_ErrorCode() const noexcept { return code(); }
    /// The LDAP result code this exception was made from; absent when it was made from a message alone.
    std::optional<std::int32_t> get_ResultCode() const noexcept { return m_resultCode; }
    /// The server's diagnostic message for the failed request; absent when there was none.
    const std::optional<std::string>& get_DiagnosticMessage() const noexcept { return m_diagnosticMessage; }

private:
    std::optional<std::int32_t> m_resultCode;
    std::optional<std::string> m_diagnosticMessage;
};

/// Part of the family for callers that catch it; no operation of the library throws it.
class VARNEL_LDAP_EXPORT AuthenticationFailedException : public LdapNetworkLibraryException {
public:
    using LdapNetworkLibraryException::LdapNetworkLibraryException;
    std::int32_t get_ErrorCode() const noexcept { return LdapNetworkLibraryException::get_ErrorCode(); }
};

/// An argument is not acceptable.
class VARNEL_LDAP_EXPORT ArgumentException : public std::invalid_argument {
public:
    ArgumentException() : std::invalid_argument("Value does not fall within the expected range.") {}
    explicit ArgumentException(const std::string& message) : std::invalid_argument(message) {}
};

/// A required argument is absent.
class VARNEL_LDAP_EXPORT ArgumentNullException : public ArgumentException {
public:
    ArgumentNullException() : ArgumentException("Value cannot be null.") {}
    explicit ArgumentNullException(const std::string& message) : ArgumentException(message) {}
};

/// An argument lies outside the range of valid values.
class VARNEL_LDAP_EXPORT ArgumentOutOfRangeException : public ArgumentException {
public:
    ArgumentOutOfRangeException() : ArgumentException("Specified argument was out of the range of valid values.") {}
    explicit ArgumentOutOfRangeException(const std::string& message) : ArgumentException(message) {}
};

/// An index lies outside the bounds of an array.
class VARNEL_LDAP_EXPORT IndexOutOfRangeException : public std::out_of_range {
public:
    IndexOutOfRangeException() : std::out_of_range("Index was outside the bounds of the array.") {}
    explicit IndexOutOfRangeException(const std::string& message) : std::out_of_range(message) {}
};

/// The call is not valid in the object's current state (for example, a collection changed under an
/// enumerator).
class VARNEL_LDAP_EXPORT InvalidOperationException : public std::logic_error {
public:
    InvalidOperationException() : std::logic_error("Operation is not valid due to the current state of the object.") {}
    explicit InvalidOperationException(const std::string& message) : std::logic_error(message) {}
};

}  // namespace Varnel::Ldap
