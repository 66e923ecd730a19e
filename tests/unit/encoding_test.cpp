// Text encodings: UTF-8 by copy, any other through ICU, no terminator and no byte-order mark, zero bytes kept,
// malformed input decoded to replacement characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <varnel/ldap/encoding.hpp>
#include <varnel/ldap/exceptions.hpp>

namespace Varnel::Ldap {
namespace {

using namespace std::string_literals;

const std::string c_replacement = "\xef\xbf\xbd";  // U+FFFD in UTF-8

TEST(EncodingTest, NamesResolveToCanonicalEncodings) {
    EXPECT_EQ(Encoding(), Encoding::UTF8());
    EXPECT_EQ(Encoding::UTF8().get_Name(), "UTF-8");
    EXPECT_TRUE(Encoding().IsUTF8());
    const struct {
        const char* name;
        const char* canonical;
        bool utf8;
    } cases[] = {
        {"UTF-8", "UTF-8", true},
        {"utf8", "UTF-8", true},
        {"ibm-1208", "UTF-8", true},
        {"latin1", "ISO-8859-1", false},
        {"ISO-8859-1", "ISO-8859-1", false},
        {"utf-16le", "UTF-16LE", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoding encoding = Encoding::ForName(c.name);
        EXPECT_EQ(encoding.get_Name(), c.canonical);
        EXPECT_EQ(encoding.IsUTF8(), c.utf8);
        EXPECT_EQ(encoding == Encoding::UTF8(), c.utf8);
    }
    EXPECT_EQ(Encoding::ForName("latin1"), Encoding::ForName("ISO_8859-1"));
}

TEST(EncodingTest, UnknownNameIsRefused) {
    for (const std::string& name : {"no-such-encoding"s, ""s, "UTF-8\0junk"s, "ISO-8859-99"s}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(Encoding::ForName(name), ArgumentException);
    }
}

TEST(EncodingTest, ConvertsBothWaysWithoutTerminatorOrByteOrderMark) {
    // 'A', U+00E9, U+20AC, U+1D11E (outside the BMP: a surrogate pair in UTF-16).
    const std::string text = "A\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e";
    const struct {
        const char* encoding;
        std::string text;
        ByteArray bytes;
    } cases[] = {
        {"UTF-8", text, {0x41, 0xc3, 0xa9, 0xe2, 0x82, 0xac, 0xf0, 0x9d, 0x84, 0x9e}},
        {"ISO-8859-1", "A\xc3\xa9\xc3\xbf", {0x41, 0xe9, 0xff}},
        {"UTF-16LE", text, {0x41, 0x00, 0xe9, 0x00, 0xac, 0x20, 0x34, 0xd8, 0x1e, 0xdd}},
        {"UTF-16BE", text, {0x00, 0x41, 0x00, 0xe9, 0x20, 0xac, 0xd8, 0x34, 0xdd, 0x1e}},
        // The byte-order-detecting forms write big-endian, which they read back without a mark.
        {"UTF-16", text, {0x00, 0x41, 0x00, 0xe9, 0x20, 0xac, 0xd8, 0x34, 0xdd, 0x1e}},
        {"UTF-32", "A\xc3\xa9", {0, 0, 0, 0x41, 0, 0, 0, 0xe9}},
        // A stateful encoding ends in its initial state: the conversion is flushed.
        {"ISO-2022-JP", "\u65e5a", {0x1b, 0x24, 0x42, 0x46, 0x7c, 0x1b, 0x28, 0x42, 0x61}},
        // Zero bytes are characters like any other.
        {"UTF-8", "A\0B"s, {0x41, 0x00, 0x42}},
        {"ISO-8859-1", "A\0B"s, {0x41, 0x00, 0x42}},
        {"UTF-16LE", "A\0B"s, {0x41, 0x00, 0x00, 0x00, 0x42, 0x00}},
        {"UTF-16LE", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.encoding) + " " + ::testing::PrintToString(c.bytes));
        const Encoding encoding = Encoding::ForName(c.encoding);
        EXPECT_EQ(encoding.GetBytes(c.text), c.bytes);
        EXPECT_EQ(encoding.GetString(c.bytes), c.text);
    }
}

TEST(EncodingTest, EveryLatin1ByteDecodesToItsCodePointAndBack) {
    ByteArray bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    const Encoding latin1 = Encoding::ForName("ISO-8859-1");
    const std::string text = latin1.GetString(bytes);
    EXPECT_EQ(text.size(), 128u + 2u * 128u) << "one UTF-8 byte below 0x80, two from there";
    EXPECT_EQ(text.substr(0xe9 + (0xe9 - 0x80), 2), "\xc3\xa9");
    EXPECT_EQ(latin1.GetBytes(text), bytes);
}

TEST(EncodingTest, LongTextOutgrowsEveryBufferIntact) {
    const struct {
        const char* encoding;
        const char* piece;  // characters the encoding can represent
    } cases[] = {
        {"UTF-16LE", "\xc3\xa9\xe2\x82\xac"},
        {"UTF-32", "\xc3\xa9\xf0\x9d\x84\x9e"},
        {"ISO-2022-JP", "\xe6\x97\xa5\xe6\x9c\xac"},  // shifts in and out for every piece
        {"GB18030", "\xc3\xa9\xe2\x82\xac\xe6\x97\xa5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        std::string text;
        for (int i = 0; i < 20000; ++i) text += c.piece + std::to_string(i);
        const Encoding encoding = Encoding::ForName(c.encoding);
        const std::string back = encoding.GetString(encoding.GetBytes(text));
        const auto [differs, _] = std::mismatch(text.begin(), text.end(), back.begin(), back.end());
        EXPECT_TRUE(back == text) << "lengths " << text.size() << " / " << back.size() << ", first difference at "
                                  << (differs - text.begin());
    }
}

TEST(EncodingTest, MalformedInputDecodesToReplacementCharactersAndKeepsTheRest) {
    const std::string r = c_replacement;
    const struct {
        const char* label;
        const char* encoding;
        ByteArray bytes;
        std::string text;
    } cases[] = {
        {"a byte that never starts UTF-8", "UTF-8", {0x61, 0xff, 0x62}, "a" + r + "b"},
        {"a truncated sequence before ASCII", "UTF-8", {0xe2, 0x82, 0x63}, r + "c"},
        {"a truncated sequence at the end", "UTF-8", {0x61, 0xf0, 0x9f, 0x98}, "a" + r},
        {"an encoded surrogate", "UTF-8", {0xed, 0xa0, 0x80, 0x41}, r + r + r + "A"},
        {"an overlong form", "UTF-8", {0xc0, 0xaf, 0x41}, r + r + "A"},
        {"a lone continuation byte and a zero byte", "UTF-8", {0x80, 0x00, 0x41}, r + "\0A"s},
        {"an odd UTF-16 length", "UTF-16LE", {0x41, 0x00, 0x42}, "A" + r},
        {"a lone UTF-16 surrogate", "UTF-16LE", {0x00, 0xd8, 0x41, 0x00}, r + "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Encoding::ForName(c.encoding).GetString(c.bytes), c.text);
    }
}

TEST(EncodingTest, MarkedUnicodeInputIsReadInItsMarkedOrder) {
    const Encoding utf16 = Encoding::ForName("UTF-16");
    EXPECT_EQ(utf16.GetString(ByteArray{0xff, 0xfe, 0x41, 0x00}), "A");
    EXPECT_EQ(utf16.GetString(ByteArray{0xfe, 0xff, 0x00, 0x41}), "A");
}

TEST(EncodingTest, UnmappableCharacterIsRefusedNotReplaced) {
    // U+20AC has no ISO-8859-1 byte: a substitute byte would reach the server as if it were the text.
    EXPECT_THROW(Encoding::ForName("ISO-8859-1").GetBytes("a\u20acb"), ArgumentException);
    EXPECT_THROW(Encoding::ForName("US-ASCII").GetBytes("\xc3\xa9"), ArgumentException);
    // What the encoding can represent still converts, the character before and after the gap included.
    EXPECT_EQ(Encoding::ForName("ISO-8859-1").GetBytes("a\u00e9b"), (ByteArray{0x61, 0xe9, 0x62}));
}

}  // namespace
}  // namespace Varnel::Ldap
