#include "foundation/utilities.hpp"

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <varnel/ldap/exceptions.hpp>

#include "client/options.hpp"

namespace Varnel::Ldap {

namespace {

// ---------------------------------------------------------------------------------------------------------
// Arrays for libldap

// Every block and copy of one conversion comes from here, numbered in order, so a test can fail any one of
// them. Blocks are zero-filled: a half-built array is then always a valid array to release.
class Allocator {
public:
    void* allocate(std::size_t bytes) {
        const std::size_t ordinal = m_next++;
        const auto& hook = Utilities::allocationFailureHook();
        if (hook && hook(ordinal)) throw std::bad_alloc();
        void* block = std::calloc(1, bytes);
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }

    template <class T>
    T* allocateArray(std::size_t count) {
        return static_cast<T*>(allocate(sizeof(T) * count));
    }

    // libldap reads NUL-terminated text, so a text holding a NUL is copied up to it.
    char* copyText(const std::string& text) {
        const std::size_t length = std::strlen(text.c_str());
        char* copy = allocateArray<char>(length + 1);
        std::memcpy(copy, text.data(), length);
        return copy;
    }

private:
    std::size_t m_next = 0;
};

// Releases the records from slot 0 to the first null slot; a record may be half-built (null mod_type or
// mod_vals), which free and the null-terminated value loop both accept.
void releaseMods(LDAPMod** mods) noexcept {
    if (mods == nullptr) return;
    for (LDAPMod** record = mods; *record != nullptr; ++record) {
        std::free((*record)->mod_type);
        if (char** values = (*record)->mod_vals.modv_strvals) {
            for (char** value = values; *value != nullptr; ++value) std::free(*value);
            std::free(values);
        }
        std::free(*record);
    }
    std::free(mods);
}

// Releases a half-built array when the conversion leaves early; release() hands the finished array over.
template <class T, void (*Release)(T*) noexcept>
class Building {
public:
    explicit Building(T* p) noexcept : m_p(p) {}
    Building(const Building&) = delete;
    Building& operator=(const Building&) = delete;
    ~Building() { Release(m_p); }
    T* release() noexcept { return std::exchange(m_p, nullptr); }

private:
    T* m_p;
};

void releaseStringArray(char** ar) noexcept {
    Utilities::FreeStringArray(ar);
}

// ---------------------------------------------------------------------------------------------------------
// Value files

// Files of 2 GiB or more are refused: a value's length is a 32-bit signed count.
constexpr off_t c_maxFileSize = 0x7fffffff;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const noexcept { return m_fd; }
    // Closes now and reports whether the close succeeded (a write can fail only at close on some systems).
    int close() noexcept { return ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};

[[noreturn]] void fileError(std::string_view operation, const std::string& filename, std::string_view reason,
                            int error) {
    throw std::filesystem::filesystem_error(std::string(operation) + ": " + std::string(reason), filename,
                                            std::error_code(error, std::generic_category()));
}

// Tells a missing folder from a missing file, the two faults a caller fixes differently.
[[noreturn]] void openError(std::string_view operation, const std::string& filename, int error) {
    switch (error) {
        case ENOENT: {
            const std::filesystem::path parent = std::filesystem::path(filename).parent_path();
            std::error_code ignored;
            const bool folderExists = parent.empty() || std::filesystem::is_directory(parent, ignored);
            fileError(operation, filename, folderExists ? "the file does not exist" : "the folder does not exist",
                      error);
        }
        case ENOTDIR:
            fileError(operation, filename, "a part of the folder path is not a folder", error);
        case EACCES:
        case EPERM:
            fileError(operation, filename, "no permission to open the file for reading and writing", error);
        case EROFS:
            fileError(operation, filename, "the file is on a read-only file system", error);
        case ETXTBSY:
            fileError(operation, filename, "the file is in use as a running program", error);
        case EISDIR:
            fileError(operation, filename, "the name is a folder, not a file", error);
        default:
            fileError(operation, filename, "the file cannot be opened", error);
    }
}

// Opens for reading and writing and takes the exclusive lock that stands for "shared with no other opener".
// The file is never truncated here: a file held by another opener must be refused before anything changes.
FileDescriptor openExclusive(std::string_view operation, const std::string& filename, bool create) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
    int fd;
    do {
        fd = ::open(filename.c_str(), flags, 0666);  // the umask narrows the mode of a new file
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) openError(operation, filename, errno);
    FileDescriptor file(fd);

    struct stat status {};
    if (::fstat(file.get(), &status) != 0) fileError(operation, filename, "the file's status cannot be read", errno);
    // Reading a device or a pipe could block or never end.
    if (!S_ISREG(status.st_mode)) fileError(operation, filename, "the name is not a regular file", EINVAL);

    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        fileError(operation, filename,
                  error == EWOULDBLOCK ? "the file is in use by another opener" : "the file cannot be locked", error);
    }
    return file;
}

}  // namespace

// -------------------------------------------------------------------------------------------------------------

std::function<bool(std::size_t)>& Utilities::allocationFailureHook() {
    static std::function<bool(std::size_t)> hook;
    return hook;
}

char** Utilities::StringColl2Array(const StringList& coll) {
    if (coll.empty()) return nullptr;
    Allocator allocator;
    char** slots = allocator.allocateArray<char*>(coll.size() + 1);
    Building<char*, releaseStringArray> guard(slots);
    for (std::size_t i = 0; i < coll.size(); ++i) slots[i] = allocator.copyText(coll[i]);
    return guard.release();
}

void Utilities::FreeStringArray(char** ar) noexcept {
    if (ar == nullptr) return;
    for (char** slot = ar; *slot != nullptr; ++slot) std::free(*slot);
    std::free(ar);
}

LDAPMod** Utilities::NameValueCollection2LDAPMods(const NameValueCollection& nvc, const Options& /*options*/) {
    // Checked first, so a refused collection costs no allocation.
    for (const auto& [name, values] : nvc) {
        if (std::strlen(name.c_str()) == 0) {
            throw ArgumentException("An attribute of a new entry must have a name.");
        }
        if (values.empty()) throw ArgumentException("The attribute '" + name + "' of a new entry has no values.");
    }

    Allocator allocator;
    LDAPMod** mods = allocator.allocateArray<LDAPMod*>(nvc.get_Count() + 1);
    Building<LDAPMod*, releaseMods> guard(mods);
    std::size_t i = 0;
    for (const auto& [name, values] : nvc) {
        // Each part is stored as soon as it exists, so a failure further on releases it.
        LDAPMod* record = allocator.allocateArray<LDAPMod>(1);
        mods[i++] = record;
        record->mod_op = LDAP_MOD_ADD;
        record->mod_type = allocator.copyText(name);
        char** slots = allocator.allocateArray<char*>(values.size() + 1);
        record->mod_vals.modv_strvals = slots;
        for (std::size_t j = 0; j < values.size(); ++j) slots[j] = allocator.copyText(values[j]);
    }
    return guard.release();
}

void Utilities::FreeMods(LDAPMod*** pppMods) noexcept {
    if (pppMods == nullptr) return;
    releaseMods(std::exchange(*pppMods, nullptr));
}

ByteArray Utilities::GetEncodedBytes(const std::string& value, const Options& options) {
    return options.GetEncoding().GetBytes(value);
}

ByteArray Utilities::ReadFile(const std::string& filename) {
    constexpr std::string_view operation = "cannot read the value file";
    FileDescriptor file = openExclusive(operation, filename, false);

    struct stat status {};
    if (::fstat(file.get(), &status) != 0) fileError(operation, filename, "the file's length cannot be read", errno);
    if (status.st_size > c_maxFileSize) fileError(operation, filename, "the file is 2 GiB or larger", EFBIG);

    // The length may be stale (the lock is advisory, another writer may still append), so reading goes on
    // to the end; a file that grows past the limit meanwhile is refused as well.
    ByteArray data(static_cast<std::size_t>(status.st_size));
    std::size_t used = 0;
    for (;;) {
        if (used < data.size()) {
            const ssize_t n = ::read(file.get(), data.data() + used, data.size() - used);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fileError(operation, filename, "the file cannot be read", errno);
            if (n == 0) break;
            used += static_cast<std::size_t>(n);
            continue;
        }
        std::uint8_t more[4096];
        const ssize_t n = ::read(file.get(), more, sizeof more);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fileError(operation, filename, "the file cannot be read", errno);
        if (n == 0) break;
        if (used + static_cast<std::size_t>(n) > static_cast<std::size_t>(c_maxFileSize)) {
            fileError(operation, filename, "the file is 2 GiB or larger", EFBIG);
        }
        data.insert(data.end(), more, more + n);
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

void Utilities::WriteToFile(const std::string& filename, std::span<const std::uint8_t> data) {
    constexpr std::string_view operation = "cannot write the value file";
    FileDescriptor file = openExclusive(operation, filename, true);
    if (::ftruncate(file.get(), 0) != 0) fileError(operation, filename, "the file cannot be truncated", errno);

    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(file.get(), data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fileError(operation, filename, "the file cannot be written", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    // Linux closes the descriptor even when close reports EINTR.
    if (file.close() != 0 && errno != EINTR) fileError(operation, filename, "the file cannot be closed", errno);
}

bool Utilities::IsEqual(std::span<const std::uint8_t> value1, std::span<const std::uint8_t> value2) noexcept {
    return std::equal(value1.begin(), value1.end(), value2.begin(), value2.end());
}

}  // namespace Varnel::Ldap
