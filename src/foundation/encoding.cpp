#include <unicode/ucnv.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <varnel/ldap/encoding.hpp>
#include <varnel/ldap/exceptions.hpp>

namespace Varnel::Ldap {

namespace {

struct ConverterClose {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterClose>;

constexpr std::string_view c_utf8Name = "UTF-8";

// A converter is not safe for two threads at once, so every conversion opens its own; ICU shares the
// conversion tables between them, which keeps the open cheap.
Converter openConverter(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || !converter) {
        throw ArgumentException("'" + name + "' is not a supported encoding name.");
    }
    return converter;
}

// ICU's byte-order-detecting Unicode converters write a byte-order mark, which the bytes of a value never
// hold. Such text is written without it, in the byte order each converter reads when no mark is present
// (big-endian, the Unicode default), so the bytes still read back as the same text; marked input from
// elsewhere is still recognised when reading.
struct Unmarked {
    std::string_view name;
    const char* writeAs;
    const char* readAs;
};
constexpr Unmarked c_unmarked[] = {
    {"UTF-16", "UTF-16BE", "UTF-16"},
    {"UTF-16,version=1", "UTF-16BE", "UTF-16"},  // this variant refuses unmarked input, so read as UTF-16
    {"UTF-16,version=2", "UTF-16BE", "UTF-16,version=2"},
    {"UTF-16BE,version=1", "UTF-16BE", "UTF-16BE,version=1"},
    {"UTF-16LE,version=1", "UTF-16LE", "UTF-16LE,version=1"},
    {"UTF-32", "UTF-32BE", "UTF-32"},
};

std::string converterName(const std::string& name, bool forWriting) {
    for (const Unmarked& entry : c_unmarked) {
        if (entry.name == name) return forWriting ? entry.writeAs : entry.readAs;
    }
    return name;
}

bool isWellFormedUtf8(std::span<const std::uint8_t> bytes) noexcept {
    const std::uint8_t* data = bytes.data();
    const auto length = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

// Streams `input` from the source converter's encoding into the target converter's, through a pivot
// buffer of our own so that a full output buffer can be grown and the conversion resumed where it stopped.
// Input and output lengths are explicit, so zero bytes are converted like any other.
template <class Out>
Out convert(UConverter* source, UConverter* target, const char* input, std::size_t length) {
    Out output;
    if (length == 0) return output;
    output.resize(length * 2 + 16);
    UChar pivot[1024];
    UChar* pivotSource = pivot;
    UChar* pivotTarget = pivot;
    const char* in = input;
    const char* const inEnd = input + length;
    std::size_t written = 0;
    bool reset = true;
    for (;;) {
        char* const base = reinterpret_cast<char*>(output.data());
        char* out = base + written;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_convertEx(target, source, &out, base + output.size(), &in, inEnd, pivot, &pivotSource, &pivotTarget,
                       pivot + std::size(pivot), reset, true, &status);
        reset = false;
        written = static_cast<std::size_t>(out - base);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            output.resize(output.size() * 2);
            continue;
        }
        if (status == U_INVALID_CHAR_FOUND || status == U_ILLEGAL_CHAR_FOUND) {
            throw ArgumentException("The text holds a character that the encoding cannot represent.");
        }
        if (U_FAILURE(status)) {
            throw ArgumentException(std::string("The text could not be converted: ") + u_errorName(status) + ".");
        }
        break;
    }
    output.resize(written);
    return output;
}

}  // namespace

Encoding Encoding::UTF8() {
    return Encoding(std::string(c_utf8Name), true);
}

Encoding Encoding::ForName(const std::string& name) {
    // ICU reads an empty name as "the platform's default converter", and the name travels as a C string:
    // neither would name the encoding the caller wrote.
    if (name.empty() || name.find('\0') != std::string::npos) {
        throw ArgumentException("'" + name + "' is not a supported encoding name.");
    }
    const Converter converter = openConverter(name);
    UErrorCode status = U_ZERO_ERROR;
    const char* canonical = ucnv_getName(converter.get(), &status);
    if (U_FAILURE(status) || canonical == nullptr) {
        throw ArgumentException("'" + name + "' is not a supported encoding name.");
    }
    if (canonical == c_utf8Name) return UTF8();
    return Encoding(canonical, false);
}

ByteArray Encoding::GetBytes(std::string_view text) const {
    if (m_utf8) return ByteArray(text.begin(), text.end());
    const Converter utf8 = openConverter(std::string(c_utf8Name));
    const Converter target = openConverter(converterName(m_name, true));
    // A character the encoding cannot represent is refused rather than replaced: a substitute byte would be
    // written to the server as if it were the caller's text.
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(target.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    return convert<ByteArray>(utf8.get(), target.get(), text.data(), text.size());
}

std::string Encoding::GetString(std::span<const std::uint8_t> bytes) const {
    const char* input = reinterpret_cast<const char*>(bytes.data());
    if (m_utf8 && isWellFormedUtf8(bytes)) return std::string(input, bytes.size());
    // Malformed UTF-8 goes through ICU's UTF-8 converter like any other encoding, which puts U+FFFD in place
    // of every ill-formed sequence.
    const Converter source = openConverter(m_utf8 ? m_name : converterName(m_name, false));
    const Converter utf8 = openConverter(std::string(c_utf8Name));
    return convert<std::string>(source.get(), utf8.get(), input, bytes.size());
}

}  // namespace Varnel::Ldap
