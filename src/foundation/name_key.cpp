#include "foundation/name_key.hpp"

#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace Varnel::Ldap {

namespace {

bool isAscii(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Names that are not well-formed UTF-8 are folded in their ASCII letters only: decoding them would turn
// different malformed bytes into the same replacement character and so make different names one name.
bool isWellFormedUtf8(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

char asciiLower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string foldName(std::string_view name) {
    std::string key;
    if (isAscii(name) || !isWellFormedUtf8(name)) {
        // Almost every attribute name is ASCII: fold byte by byte, without the locale-dependent tolower.
        key.resize(name.size());
        std::transform(name.begin(), name.end(), key.begin(), asciiLower);
        return key;
    }
    icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
    text.foldCase();
    text.toUTF8String(key);
    return key;
}

bool sameName(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
    }
    return foldName(a) == foldName(b);
}

}  // namespace Varnel::Ldap
