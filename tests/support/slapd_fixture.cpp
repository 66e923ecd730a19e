#include "slapd_fixture.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "process.hpp"

namespace Varnel::Ldap::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSchemaDir = "/etc/ldap/schema";
constexpr const char* kModuleDir = "/usr/lib/ldap";
constexpr int kStartAttempts = 5;
constexpr auto kReadyTimeout = std::chrono::seconds(10);
constexpr auto kStopGrace = std::chrono::seconds(5);

// Process-wide state. Allocated once and never freed, so it outlives every static destructor and atexit
// handler that may still ask for it; it stays reachable, so it is not a leak.
struct State {
    std::string dir;               // the server's directory, made by prepareProcess
    bool unrelatedCa = false;      // trustUnrelatedCa() was called
    bool prepared = false;
    bool shutDown = false;         // shutdown() ran: the directory is gone, no server may start again
    std::unique_ptr<SlapdServer> server;
    std::optional<std::string> startFailure;
};

State& state() {
    static State* s = new State;
    return *s;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Directories of earlier test processes that died before they could clean up (a crash, a kill). Their name
// carries the owner's pid; only those whose owner is gone are removed, so parallel test runs are safe.
void removeStaleDirectories(const fs::path& tmp) {
    std::error_code ec;
    for (fs::directory_iterator it(tmp, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string prefix = "varnel-slapd-";
        if (name.rfind(prefix, 0) != 0) continue;
        const auto dash = name.find('-', prefix.size());
        if (dash == std::string::npos) continue;
        const pid_t owner = static_cast<pid_t>(std::strtol(name.c_str() + prefix.size(), nullptr, 10));
        if (owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

// A loopback port that nobody listens on right now. Another process may take it before slapd does; the
// start-up then fails with "Address already in use" and is retried with new ports.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int e = errno;
        ::close(fd);
        throw std::system_error(e, std::generic_category(), "bind to a free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string opensslConfig() {
    return R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = Varnel LDAP test
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";
}

std::string ownEntries(const SlapdServer& s) {
    return "dn: " + s.testsSubtree() +
           "\n"
           "objectClass: organizationalUnit\n"
           "ou: tests\n"
           "\n"
           "dn: " +
           s.userDn() +
           "\n"
           "objectClass: inetOrgPerson\n"
           "cn: Varnel User\n"
           "sn: User\n"
           "uid: varnel-user\n"
           "userPassword: " +
           s.userPassword() +
           "\n"
           "\n"
           "dn: " +
           s.blindSubtree() +
           "\n"
           "objectClass: organizationalUnit\n"
           "ou: blind\n";
}

std::string slapdConfig(const SlapdServer& s) {
    const std::string& d = s.directory();
    std::ostringstream c;
    for (const char* schema : {"core", "cosine", "inetorgperson", "nis", "openldap"}) {
        c << "include " << kSchemaDir << "/" << schema << ".schema\n";
    }
    c << "modulepath " << kModuleDir << "\n"
      << "moduleload back_mdb\n"
      << "allow bind_v2\n"
      << "sizelimit unlimited\n"
      << "pidfile " << d << "/slapd.pid\n"
      << "argsfile " << d << "/slapd.args\n"
      << "TLSCACertificateFile " << d << "/ca.pem\n"
      << "TLSCertificateFile " << d << "/server.pem\n"
      << "TLSCertificateKeyFile " << d << "/server.key\n"
      << "\n"
      << "database mdb\n"
      << "suffix \"" << s.suffix() << "\"\n"
      << "rootdn \"" << s.rootDn() << "\"\n"
      << "rootpw " << s.rootPassword() << "\n"
      << "directory " << d << "/db-example\n"
      << "maxsize 268435456\n"
      << "dbnosync\n"
      // The user may add below the blind subtree, and learn that a search ran, but never read an entry
      // there: add, disclose and search without read.
      << "access to dn.subtree=\"" << s.blindSubtree() << "\"\n"
      << "    by dn.exact=\"" << s.userDn() << "\" =ads\n"
      << "    by * none\n"
      << "access to dn.subtree=\"" << s.testsSubtree() << "\"\n"
      << "    by users write\n"
      << "    by * read\n"
      << "access to attrs=userPassword\n"
      << "    by self write\n"
      << "    by anonymous auth\n"
      << "    by users read\n"
      << "    by * none\n"
      << "access to *\n"
      << "    by * read\n"
      << "\n"
      << "database mdb\n"
      << "suffix \"" << s.langSuffix() << "\"\n"
      << "rootdn \"" << s.langRootDn() << "\"\n"
      << "rootpw " << s.rootPassword() << "\n"
      << "directory " << d << "/db-lang\n"
      << "maxsize 67108864\n"
      << "dbnosync\n"
      << "access to *\n"
      << "    by dn.exact=\"" << s.rootDn() << "\" write\n"
      << "    by * read\n";
    return c.str();
}

// test-lang.ldif's one entry is a suffix entry of dc=example,dc=com; it goes to the second database under
// its own suffix. Only that DN line changes.
std::string langLdif(const std::string& original, const std::string& suffix) {
    std::istringstream in(original);
    std::string out, line;
    int renamed = 0;
    while (std::getline(in, line)) {
        if (line == "dn: dc=example,dc=com") {
            line = "dn: " + suffix;
            ++renamed;
        }
        out += line + "\n";
    }
    if (renamed != 1) throw std::runtime_error("test-lang.ldif: expected one entry dc=example,dc=com");
    return out;
}

void stopAtExit() { SlapdServer::shutdown(); }

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string testdataPath(const std::string& relative) {
    const char* root = std::getenv("VARNEL_TESTDATA");
#ifdef VARNEL_DEFAULT_TESTDATA
    if (root == nullptr || *root == '\0') root = VARNEL_DEFAULT_TESTDATA;
#endif
    if (root == nullptr || *root == '\0') {
        throw std::runtime_error("VARNEL_TESTDATA is not set (ctest sets it to the shared test data folder)");
    }
    return (fs::path(root) / relative).string();
}

// ---- process preparation -------------------------------------------------------------------------------

bool SlapdServer::trustUnrelatedCa() {
    State& st = state();
    if (st.server) throw std::logic_error("trustUnrelatedCa() after the test server was started");
    st.unrelatedCa = true;
    // Called after prepareProcess: LDAPTLS_CACERT may still change as long as libldap has not read it.
    if (st.prepared) ::setenv("LDAPTLS_CACERT", (fs::path(st.dir) / "unrelated-ca.pem").c_str(), 1);
    return true;
}

void SlapdServer::prepareProcess() {
    State& st = state();
    if (st.prepared) return;
    const fs::path tmp = fs::temp_directory_path();
    removeStaleDirectories(tmp);
    std::string pattern = (tmp / ("varnel-slapd-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    st.dir = pattern;
    st.prepared = true;
    std::atexit(stopAtExit);
    // libldap reads these once, at its first call in the process; the files are made when the server starts,
    // before the first TLS connection reads them.
    const fs::path ca = fs::path(st.dir) / (st.unrelatedCa ? "unrelated-ca.pem" : "ca.pem");
    ::setenv("LDAPTLS_CACERT", ca.c_str(), 1);
    ::setenv("LDAPTLS_REQCERT", "demand", 1);
}

SlapdServer& SlapdServer::instance() {
    State& st = state();
    if (st.server) return *st.server;
    if (st.startFailure) throw std::runtime_error(*st.startFailure);
    if (st.shutDown) throw std::logic_error("the test server was asked for after it was shut down");
    prepareProcess();
    try {
        st.server.reset(new SlapdServer());
    } catch (const std::exception& e) {
        st.startFailure = std::string("the test slapd could not be started: ") + e.what();
        std::cerr << *st.startFailure << std::endl;
        throw std::runtime_error(*st.startFailure);
    }
    return *st.server;
}

void SlapdServer::shutdown() noexcept {
    State& st = state();
    st.server.reset();
    st.shutDown = st.prepared;
    if (!st.dir.empty()) {
        std::error_code ignored;
        fs::remove_all(st.dir, ignored);
        st.dir.clear();
    }
}

// ---- start and stop ------------------------------------------------------------------------------------

SlapdServer::SlapdServer() : m_dir(state().dir) {
    writeFiles();
    makeCertificates();
    loadDatabases();
    std::string failure;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        m_port = freePort();
        do {
            m_sslPort = freePort();
        } while (m_sslPort == m_port);
        if (startOnce(failure)) return;
        if (failure.find("Address already in use") == std::string::npos) break;
    }
    throw std::runtime_error(failure);
}

SlapdServer::~SlapdServer() { stop(); }

void SlapdServer::writeFiles() {
    fs::create_directories(fs::path(m_dir) / "db-example");
    fs::create_directories(fs::path(m_dir) / "db-lang");
    writeFile(m_dir + "/openssl.cnf", opensslConfig());
    writeFile(m_dir + "/slapd.conf", slapdConfig(*this));
    writeFile(m_dir + "/fixture.ldif", ownEntries(*this));
    writeFile(m_dir + "/lang.ldif", langLdif(readFile(testdataPath("openldap/test-lang.ldif")), langSuffix()));
}

void SlapdServer::makeCertificates() {
    const std::string cnf = m_dir + "/openssl.cnf";
    auto makeCa = [&](const std::string& name, const std::string& cn) {
        runChecked({"openssl", "req", "-config", cnf, "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-extensions", "ca_ext", "-subj",
                    "/CN=" + cn, "-keyout", m_dir + "/" + name + ".key", "-out", m_dir + "/" + name + ".pem"});
    };
    makeCa("ca", "Varnel LDAP test CA");
    runChecked({"openssl", "req", "-config", cnf, "-x509", "-newkey", "ec", "-pkeyopt",
                "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-extensions", "server_ext", "-subj",
                "/CN=localhost", "-CA", m_dir + "/ca.pem", "-CAkey", m_dir + "/ca.key", "-keyout",
                m_dir + "/server.key", "-out", m_dir + "/server.pem"});
    if (state().unrelatedCa) makeCa("unrelated-ca", "Unrelated test CA");
}

void SlapdServer::loadDatabases() {
    const std::string conf = m_dir + "/slapd.conf";
    runChecked({"slapadd", "-f", conf, "-b", suffix(), "-l", testdataPath("openldap/test.ldif")});
    runChecked({"slapadd", "-f", conf, "-b", suffix(), "-l", m_dir + "/fixture.ldif"});
    runChecked({"slapadd", "-f", conf, "-b", langSuffix(), "-l", m_dir + "/lang.ldif"});
}

bool SlapdServer::startOnce(std::string& failure) {
    const std::string logPath = m_dir + "/slapd.log";
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) throw std::system_error(errno, std::generic_category(), "open " + logPath);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    const std::string conf = m_dir + "/slapd.conf";
    const std::string urls = uri() + "/ " + ldapsUri() + "/";
    // -d 0 keeps slapd in the foreground, as our child, with no debug output.
    std::vector<std::string> argv{kSlapd, "-f", conf, "-h", urls, "-d", "0"};
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(logFd);
        ::close(nullFd);
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid == 0) {
        // The server goes when the test process goes, however it ends (crash, abort, kill).
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(nullFd, 0);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        ::close_range(3, ~0U, 0);
        ::execv(kSlapd, args.data());
        ::_exit(127);
    }
    ::close(logFd);
    ::close(nullFd);
    m_pid = pid;

    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            failure = "slapd ended during start-up (status " + std::to_string(status) + "); its log:\n" + log();
            return false;
        }
        if (accepts(m_port) && accepts(m_sslPort)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    failure = "slapd did not accept connections within 10 s; its log:\n" + log();
    stop();
    return false;
}

void SlapdServer::stop() noexcept {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid || (r < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
}

// ---- queries and tools ---------------------------------------------------------------------------------

std::string SlapdServer::uri() const { return "ldap://" + host() + ":" + std::to_string(m_port); }
std::string SlapdServer::ldapsUri() const { return "ldaps://" + host() + ":" + std::to_string(m_sslPort); }
std::string SlapdServer::caCertFile() const { return m_dir + "/ca.pem"; }
std::string SlapdServer::trustedCaFile() const {
    return m_dir + (state().unrelatedCa ? "/unrelated-ca.pem" : "/ca.pem");
}

std::string SlapdServer::log() const {
    try {
        return readFile(m_dir + "/slapd.log");
    } catch (const std::exception&) {
        return {};
    }
}

std::string SlapdServer::uniqueSubtree(const std::string& label) {
    if (label.empty()) throw std::invalid_argument("uniqueSubtree: empty label");
    for (const char c : label) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) throw std::invalid_argument("uniqueSubtree: label needs DN escaping: " + label);
    }
    const std::string ou = label + "-" + std::to_string(++m_subtrees);
    const std::string dn = "ou=" + ou + "," + testsSubtree();
    ldapadd("dn: " + dn + "\nobjectClass: organizationalUnit\nou: " + ou + "\n");
    return dn;
}

void SlapdServer::runTool(const std::string& tool, const std::string& ldif) {
    runChecked({tool, "-x", "-H", uri(), "-D", rootDn(), "-w", rootPassword()}, ldif);
}

void SlapdServer::ldapadd(const std::string& ldif) { runTool("ldapadd", ldif); }
void SlapdServer::ldapmodify(const std::string& ldif) { runTool("ldapmodify", ldif); }

std::string SlapdServer::ldapsearch(const std::string& base, const std::string& scope, const std::string& filter,
                                    const std::vector<std::string>& attrs) {
    std::vector<std::string> argv{"ldapsearch", "-x", "-H", uri(), "-D", rootDn(), "-w", rootPassword(),
                                  "-LLL", "-o", "ldif-wrap=no", "-b", base, "-s", scope, filter};
    argv.insert(argv.end(), attrs.begin(), attrs.end());
    ProcessResult result = runProcess(argv);
    constexpr int kNoSuchObject = 32;
    if (result.exitCode == kNoSuchObject) return {};
    if (!result.ok()) throw std::runtime_error(result.describe(argv));
    return std::move(result.out);
}

}  // namespace Varnel::Ldap::testing
