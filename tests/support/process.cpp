#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace Varnel::Ldap::testing {

namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// An anonymous in-memory file: the child's standard streams, so no pipe can fill up and block either side.
class MemFile {
public:
    explicit MemFile(const char* name) : m_fd(::memfd_create(name, MFD_CLOEXEC)) {
        if (m_fd < 0) throwErrno("memfd_create");
    }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    ~MemFile() { ::close(m_fd); }
    int fd() const noexcept { return m_fd; }

    void write(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throwErrno("write");
            done += static_cast<std::size_t>(n);
        }
        ::lseek(m_fd, 0, SEEK_SET);
    }
    std::string readAll() const {
        std::string text;
        char buffer[8192];
        ::lseek(m_fd, 0, SEEK_SET);
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    int m_fd;
};

std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    dirs += ":/usr/sbin:/sbin";  // slapadd and slapd live there, and PATH may lack them
    std::size_t start = 0;
    while (start <= dirs.size()) {
        auto end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    throw std::runtime_error("program not found: " + name);
}

}  // namespace

std::string ProcessResult::describe(const std::vector<std::string>& argv) const {
    std::string text = "command:";
    for (const auto& arg : argv) text += " '" + arg + "'";
    text += signal != 0 ? "\nkilled by signal " + std::to_string(signal) : "\nexit code " + std::to_string(exitCode);
    if (!out.empty()) text += "\nstdout:\n" + out;
    if (!err.empty()) text += "\nstderr:\n" + err;
    return text;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input) {
    if (argv.empty()) throw std::invalid_argument("runProcess: empty command");
    const std::string program = resolveProgram(argv[0]);
    MemFile in("stdin"), out("stdout"), err("stderr");
    in.write(input);

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls are made.
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) throwErrno("fork");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (::dup2(in.fd(), 0) < 0 || ::dup2(out.fd(), 1) < 0 || ::dup2(err.fd(), 2) < 0) ::_exit(127);
        ::close_range(3, ~0U, 0);
        ::execv(program.c_str(), args.data());
        ::_exit(127);
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throwErrno("waitpid");
    }
    ProcessResult result;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = out.readAll();
    result.err = err.readAll();
    return result;
}

std::string runChecked(const std::vector<std::string>& argv, const std::string& input) {
    ProcessResult result = runProcess(argv, input);
    if (!result.ok()) throw std::runtime_error(result.describe(argv));
    return std::move(result.out);
}

}  // namespace Varnel::Ldap::testing
