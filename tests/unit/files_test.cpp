// Reading and writing value files: whole contents, exclusive opening, and a distinct clear error for each way
// a file can be unavailable, with nothing changed or left behind by a failure.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "foundation/utilities.hpp"

namespace Varnel::Ldap {
namespace {

namespace fs = std::filesystem;

ByteArray contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteArray(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeContent(const fs::path& path, const ByteArray& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// True when nobody holds the file: proves that the library closed what it opened.
bool lockIsFree(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

struct FileFailure {
    int error = 0;  // errno of the filesystem_error, 0 when nothing was thrown
    std::string what;
};

FileFailure failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const fs::filesystem_error& e) {
        return {e.code().value(), e.what()};
    }
    return {};
}

// Runs `operation` the way an ordinary user would. Root may write any file whatever its mode, so as root the
// operation runs in a child process that first gives up its privileges for those of "nobody".
std::optional<FileFailure> failureAsOrdinaryUser(const std::function<void()>& operation) {
    if (::geteuid() != 0) return failureOf(operation);
    int channel[2];
    if (::pipe(channel) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(120);
        FileFailure failure;
        try {
            failure = failureOf(operation);
        } catch (...) {
            ::_exit(121);
        }
        const std::string report = std::to_string(failure.error) + "\n" + failure.what;
        const ssize_t written = ::write(channel[1], report.data(), report.size());
        ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 122);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 120) return std::nullopt;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child failed in an unexpected way";
    const std::size_t newline = report.find('\n');
    if (newline == std::string::npos) return FileFailure{-1, report};
    return FileFailure{std::atoi(report.substr(0, newline).c_str()), report.substr(newline + 1)};
}

class ValueFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "varnel-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        // An ordinary user must reach the files (mkdtemp makes the folder private to its owner).
        fs::permissions(m_dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    fs::path path(const std::string& name) const { return m_dir / name; }

    // Every file under the folder with its bytes, and the number of open descriptors: a failed operation
    // must change neither.
    std::pair<std::map<fs::path, ByteArray>, std::size_t> snapshot() const {
        std::map<fs::path, ByteArray> files;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
            files[entry.path()] = entry.is_regular_file() ? contentOf(entry.path()) : ByteArray{};
        }
        return {files, openDescriptors()};
    }

    fs::path m_dir;
};

TEST_F(ValueFileTest, EachUnavailableFileIsADistinctClearErrorThatChangesNothing) {
    const ByteArray old{'o', 'l', 'd'};
    const ByteArray fresh{'n', 'e', 'w'};
    writeContent(path("locked"), old);
    writeContent(path("present"), old);
    const int holder = ::open(path("locked").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    fs::create_directory(path("folder"));

    const struct {
        const char* label;
        fs::path file;
        bool write;
        int error;
        const char* reason;
    } cases[] = {
        {"read of a missing file", path("missing"), false, ENOENT, "the file does not exist"},
        {"read in a missing folder", path("nowhere") / "value", false, ENOENT, "the folder does not exist"},
        {"write in a missing folder", path("nowhere") / "value", true, ENOENT, "the folder does not exist"},
        {"read below a file", path("present") / "value", false, ENOTDIR, "not a folder"},
        {"read of a file locked by another opener", path("locked"), false, EWOULDBLOCK, "in use by another opener"},
        // The lock is checked before the file is truncated: the holder's bytes survive.
        {"write of a file locked by another opener", path("locked"), true, EWOULDBLOCK, "in use by another opener"},
        {"read of a folder", path("folder"), false, EISDIR, "is a folder"},
        {"write of a folder", path("folder"), true, EISDIR, "is a folder"},
        // A pipe would block the read or never end it.
        {"read of a pipe", path("pipe"), false, EINVAL, "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto before = snapshot();
        const FileFailure failure = failureOf([&] {
            if (c.write) {
                Utilities::WriteToFile(c.file.string(), fresh);
            } else {
                Utilities::ReadFile(c.file.string());
            }
        });
        EXPECT_EQ(failure.error, c.error) << failure.what;
        EXPECT_NE(failure.what.find(c.reason), std::string::npos) << failure.what;
        EXPECT_NE(failure.what.find(c.file.string()), std::string::npos) << "names the file: " << failure.what;
        EXPECT_NE(failure.what.find(c.write ? "write" : "read"), std::string::npos) << failure.what;
        EXPECT_EQ(snapshot(), before) << "files or descriptors changed";
    }
    ::close(holder);
    EXPECT_EQ(contentOf(path("locked")), old);
}

TEST_F(ValueFileTest, ReadOnlyFileIsRefusedForReadingAndWriting) {
    const ByteArray old{1, 2, 3};
    writeContent(path("readonly"), old);
    fs::permissions(path("readonly"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        const auto failure = failureAsOrdinaryUser([&] {
            if (write) {
                Utilities::WriteToFile(path("readonly").string(), ByteArray{9});
            } else {
                Utilities::ReadFile(path("readonly").string());
            }
        });
        if (!failure) GTEST_SKIP() << "this process cannot take the privileges of an ordinary user";
        EXPECT_EQ(failure->error, EACCES) << failure->what;
        EXPECT_NE(failure->what.find("no permission"), std::string::npos) << failure->what;
        EXPECT_NE(failure->what.find(path("readonly").string()), std::string::npos) << failure->what;
        EXPECT_EQ(contentOf(path("readonly")), old);
    }
}

TEST_F(ValueFileTest, FileOfTwoGibibytesOrMoreIsRefusedBeforeReading) {
    // Sparse files cost no disk. 2^32 and 2^32 + 10 would pass as 0 and 10 bytes through a 32-bit length.
    for (const off_t size : {off_t{1} << 31, off_t{1} << 32, (off_t{1} << 32) + 10}) {
        SCOPED_TRACE(size);
        const fs::path file = path("large");
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        const std::size_t descriptors = openDescriptors();
        const FileFailure failure = failureOf([&] { Utilities::ReadFile(file.string()); });
        EXPECT_EQ(failure.error, EFBIG) << failure.what;
        EXPECT_NE(failure.what.find("2 GiB or larger"), std::string::npos) << failure.what;
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_TRUE(lockIsFree(file)) << "the refused file was left open";
        EXPECT_EQ(static_cast<off_t>(fs::file_size(file)), size);
    }
}

TEST_F(ValueFileTest, BytesRoundTripUnchangedAndTheFileIsReleased) {
    ByteArray everyByte(256);
    for (std::size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = static_cast<std::uint8_t>(i);
    // Larger than any single buffer of the read loop, with a length that is no power of two.
    ByteArray large((1u << 20) + 3);
    std::uint32_t x = 12345;
    for (auto& byte : large) byte = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);

    for (const ByteArray* bytes : {&everyByte, &large}) {
        SCOPED_TRACE(bytes->size());
        const fs::path file = path("value.bin");
        Utilities::WriteToFile(file.string(), *bytes);
        EXPECT_EQ(contentOf(file), *bytes) << "what the file really holds";
        EXPECT_TRUE(lockIsFree(file)) << "the written file was left open";
        EXPECT_EQ(Utilities::ReadFile(file.string()), *bytes);
        EXPECT_TRUE(lockIsFree(file)) << "the read file was left open";
    }
}

TEST_F(ValueFileTest, EmptyFileReadsAsNoBytes) {
    writeContent(path("empty"), {});
    EXPECT_TRUE(Utilities::ReadFile(path("empty").string()).empty());
}

TEST_F(ValueFileTest, WriteReplacesTheWholeContent) {
    const struct {
        const char* label;
        ByteArray before;
        ByteArray written;
    } cases[] = {
        {"shorter over longer", ByteArray(100, 'x'), {'a', 'b', 'c'}},
        {"nothing over something", ByteArray(100, 'x'), {}},
        {"longer over shorter", {'a'}, ByteArray(5000, 'y')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        writeContent(path("value"), c.before);
        Utilities::WriteToFile(path("value").string(), c.written);
        EXPECT_EQ(contentOf(path("value")), c.written);
    }
}

TEST_F(ValueFileTest, WriteCreatesAMissingFileWithTheUsualMode) {
    const mode_t previous = ::umask(022);
    Utilities::WriteToFile(path("new").string(), ByteArray{7});
    ::umask(previous);
    EXPECT_EQ(contentOf(path("new")), ByteArray{7});
    struct stat status {};
    ASSERT_EQ(::stat(path("new").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

}  // namespace
}  // namespace Varnel::Ldap
