// Checks shared by the model tests: bytes from text, base64 as ldapsearch prints it, and the exact
// exceptions of the library's guards and refusals.
#pragma once

#include <gtest/gtest.h>
#include <ldap.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>

#include <varnel/ldap.hpp>

namespace Varnel::Ldap::testing {

inline ByteArray bytesOf(std::string_view s) {
    return ByteArray(s.begin(), s.end());
}

inline std::string textOf(const ByteArray& b) {
    return std::string(b.begin(), b.end());
}

inline ByteArray decodeBase64(std::string_view in) {
    auto digit = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    ByteArray out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        const int d = digit(c);
        if (d < 0) continue;  // '=' padding
        acc = (acc << 6) | static_cast<std::uint32_t>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

/// Runs `f`, expects an exception of exactly type E, and returns a copy of it for further checks.
template <class E, class F>
std::optional<E> expectThrowsExactly(F&& f, const std::string& where = "") {
    try {
        f();
    } catch (const E& e) {
        EXPECT_EQ(typeid(e), typeid(E)) << where << ": got " << typeid(e).name() << ": " << e.what();
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << where << ": expected " << typeid(E).name() << ", got " << typeid(e).name() << ": " << e.what();
        return std::nullopt;
    }
    ADD_FAILURE() << where << ": expected " << typeid(E).name() << ", nothing was thrown";
    return std::nullopt;
}

/// Exactly LdapException with the library's message `text` (absent for the deleted guard).
template <class F>
void expectLdapException(F&& f, const std::optional<std::string>& text, const std::string& where = "") {
    if (auto e = expectThrowsExactly<LdapException>(std::forward<F>(f), where)) {
        EXPECT_EQ(e->get_Message(), text) << where;
    }
}

/// The deleted guard: exactly LdapException, without a message.
template <class F>
void expectDeleted(F&& f, const std::string& where = "") {
    expectLdapException(std::forward<F>(f), std::nullopt, where);
}

template <class F>
void expectDisposed(F&& f, const std::string& where = "") {
    if (auto e = expectThrowsExactly<ObjectDisposedException>(std::forward<F>(f), where)) {
        EXPECT_EQ(e->get_Message(), std::optional<std::string>("Cannot perform this operation on a disposed object."))
            << where;
    }
}

template <class F>
void expectNotConnected(F&& f, const std::string& where = "") {
    if (auto e = expectThrowsExactly<InvalidStateException>(std::forward<F>(f), where)) {
        EXPECT_EQ(e->get_Message(), std::optional<std::string>("Not connected to an LDAP server.")) << where;
    }
}

template <class F>
void expectOutOfBounds(F&& f, const std::string& where = "") {
    expectLdapException(std::forward<F>(f), std::string("The parameter is out of bounds."), where);
}

/// A refusal with result code `rc`: libldap's text for it, and the code.
template <class F>
std::optional<LdapNetworkLibraryException> expectRefused(F&& f, int rc, const std::string& where = "") {
    auto e = expectThrowsExactly<LdapNetworkLibraryException>(std::forward<F>(f), where);
    if (e) {
        EXPECT_EQ(e->get_Message(), std::optional<std::string>(::ldap_err2string(rc))) << where;
        EXPECT_EQ(e->get_ResultCode(), std::optional<std::int32_t>(rc)) << where;
    }
    return e;
}

}  // namespace Varnel::Ldap::testing
