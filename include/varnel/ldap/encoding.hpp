// Text encoding of attribute values: turns UTF-8 text into the bytes a value holds and back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <varnel/ldap/export.hpp>
#include <varnel/ldap/types.hpp>

namespace Varnel::Ldap {

/// A small value type naming a text encoding. UTF8() is the default and converts by plain copy (malformed
/// UTF-8 is decoded to U+FFFD replacement characters); any other encoding is one that ICU knows by name
/// ("ISO-8859-1", "UTF-16LE", ...). Conversions never stop at a zero byte, add no terminator and no
/// byte-order mark. Copies are cheap; an Encoding may be shared between threads.
class VARNEL_LDAP_EXPORT Encoding {
public:
    /// UTF-8, the default.
    static Encoding UTF8();
    /// The encoding ICU knows under `name`. Throws ArgumentException when ICU has no converter for it.
    static Encoding ForName(const std::string& name);

    Encoding() = default;  // UTF-8

    /// The canonical name: "UTF-8" for the default, ICU's canonical name otherwise.
    const std::string& get_Name() const noexcept { return m_name; }
    bool IsUTF8() const noexcept { return m_utf8; }

    /// The whole UTF-8 text `text` in this encoding. ArgumentException when the text holds a character the
    /// encoding cannot represent (nothing is substituted for it) or ICU cannot convert it.
    ByteArray GetBytes(std::string_view text) const;
    /// The bytes decoded into UTF-8 text; malformed input gives replacement characters.
    std::string GetString(std::span<const std::uint8_t> bytes) const;

    friend bool operator==(const Encoding& a, const Encoding& b) noexcept { return a.m_name == b.m_name; }

private:
    Encoding(std::string name, bool utf8) : m_name(std::move(name)), m_utf8(utf8) {}
    std::string m_name = "UTF-8";
    bool m_utf8 = true;
};

}  // namespace Varnel::Ldap
