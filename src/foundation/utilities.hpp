// Conversions between the library's data and the arrays libldap takes, text to bytes in the client's
// encoding, byte comparison, and whole-file reading and writing of value bytes. Stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include <ldap.h>

#include <varnel/ldap/name_value_collection.hpp>
#include <varnel/ldap/types.hpp>

namespace Varnel::Ldap {

class Options;

class Utilities {
public:
    Utilities() = delete;

    /// The null-terminated array of NUL-terminated copies of the names, for a search; nullptr (nothing
    /// allocated) for an empty list, which libldap reads as all attributes. Release with FreeStringArray.
    /// Throws std::bad_alloc, having released what it allocated.
    static char** StringColl2Array(const StringList& coll);
    /// Releases an array of StringColl2Array and every copy in it; nullptr does nothing.
    static void FreeStringArray(char** ar) noexcept;

    /// The null-terminated array of add records (mod_op 0, text values), one per name in order, each with all
    /// of that name's values in order. A name that is empty or has no values is refused with
    /// ArgumentException before anything is allocated. Release with FreeMods. Throws std::bad_alloc, having
    /// released what it allocated. `options` is not read.
    static LDAPMod** NameValueCollection2LDAPMods(const NameValueCollection& nvc, const Options& options);
    /// Releases an array of NameValueCollection2LDAPMods and sets `*pppMods` to nullptr.
    static void FreeMods(LDAPMod*** pppMods) noexcept;

    /// The whole text in the encoding the options hold at this moment.
    static ByteArray GetEncodedBytes(const std::string& value, const Options& options);

    /// The whole content of an existing file, opened read-write with an exclusive non-blocking lock.
    /// std::filesystem::filesystem_error for a missing file or folder, a read-only file, a locked file, and
    /// a file of 2 GiB or more (EFBIG); nothing is created.
    static ByteArray ReadFile(const std::string& filename);
    /// Creates or truncates the file (read-write, exclusive non-blocking lock) and writes exactly `data`.
    static void WriteToFile(const std::string& filename, std::span<const std::uint8_t> data);

    /// Same length and same bytes.
    static bool IsEqual(std::span<const std::uint8_t> value1, std::span<const std::uint8_t> value2) noexcept;

    /// Test hook: when set, it is asked before each allocation of the two array conversions with the
    /// allocation's ordinal (0, 1, ...); returning true makes that allocation fail with std::bad_alloc.
    static std::function<bool(std::size_t)>& allocationFailureHook();
};

/// Owns an attribute-name array for one call.
class StringArray {
public:
    explicit StringArray(const StringList& coll) : m_array(Utilities::StringColl2Array(coll)) {}
    StringArray(const StringArray&) = delete;
    StringArray& operator=(const StringArray&) = delete;
    ~StringArray() { Utilities::FreeStringArray(m_array); }
    char** get() const noexcept { return m_array; }

private:
    char** m_array;
};

/// Owns a modification array for one call.
class ModArray {
public:
    ModArray(const NameValueCollection& nvc, const Options& options)
        : m_mods(Utilities::NameValueCollection2LDAPMods(nvc, options)) {}
    ModArray(const ModArray&) = delete;
    ModArray& operator=(const ModArray&) = delete;
    ~ModArray() { reset(); }
    LDAPMod** get() const noexcept { return m_mods; }
    void reset() noexcept {
        if (m_mods) Utilities::FreeMods(&m_mods);
    }

private:
    LDAPMod** m_mods;
};

}  // namespace Varnel::Ldap
