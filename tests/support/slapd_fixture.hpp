// One private OpenLDAP server per test binary.
//
// The server is started on first use of SlapdServer::instance() and stopped when the test binary ends. It
// runs /usr/sbin/slapd in the foreground as a child of the test process (it dies with the test process,
// even when that crashes), with an mdb database in a fresh temporary directory, on two free loopback ports:
// ldap:// and ldaps:// (a throwaway CA and server certificate made with openssl at start-up).
//
// Database dc=example,dc=com: ../shared/testdata/openldap/test.ldif, plus
//   ou=tests,dc=example,dc=com         tests make their own subtrees below it (uniqueSubtree)
//   cn=Varnel User,dc=example,dc=com   an ordinary user; may write below ou=tests
//   ou=blind,dc=example,dc=com         the user may add below it but not read back: a search for an entry
//                                      there succeeds with no entry
// Everyone may read everything else. Database dc=example,dc=lang: test-lang.ldif's one entry, renamed to
// dc=example,dc=lang. The root DN of the first database may write in both.
//
// The test process trusts the fixture's CA through LDAPTLS_CACERT, set before the first libldap call (the
// fixture's main does it). A binary that must see an untrusted LDAPS server calls trustUnrelatedCa() from a
// namespace-scope initializer; the process then trusts another throwaway CA that signed nothing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Varnel::Ldap::testing {

class SlapdServer {
public:
    /// The server of this test binary, started on the first call. Throws std::runtime_error with slapd's
    /// log when it cannot be started (and at every later call, without trying again).
    static SlapdServer& instance();

    /// Makes this process trust an unrelated CA instead of the server's. Must run before main (namespace-
    /// scope initializer) or at least before the first instance() and the first libldap call; returns true
    /// so that it can initialise a constant. Throws std::logic_error when the server is already running.
    static bool trustUnrelatedCa();

    /// Points LDAPTLS_CACERT (and LDAPTLS_REQCERT=demand) at the CA this process trusts. The fixture's main
    /// calls it before any test; instance() calls it too. Idempotent.
    static void prepareProcess();

    /// Stops the server by its pid and removes its directory. Idempotent; runs at exit by itself.
    static void shutdown() noexcept;

    SlapdServer(const SlapdServer&) = delete;
    SlapdServer& operator=(const SlapdServer&) = delete;
    ~SlapdServer();  // stops the server; shutdown() does it

    std::string host() const { return "127.0.0.1"; }
    int port() const { return m_port; }
    int sslPort() const { return m_sslPort; }
    std::string uri() const;       // ldap://127.0.0.1:<port>
    std::string ldapsUri() const;  // ldaps://127.0.0.1:<sslPort>
    pid_t pid() const { return m_pid; }

    std::string suffix() const { return "dc=example,dc=com"; }
    std::string rootDn() const { return "cn=Manager,dc=example,dc=com"; }
    std::string rootPassword() const { return "varnel-root-secret"; }
    std::string userDn() const { return "cn=Varnel User,dc=example,dc=com"; }
    std::string userPassword() const { return "varnel-user-secret"; }
    std::string testsSubtree() const { return "ou=tests,dc=example,dc=com"; }
    std::string blindSubtree() const { return "ou=blind,dc=example,dc=com"; }
    std::string langSuffix() const { return "dc=example,dc=lang"; }
    std::string langRootDn() const { return "cn=Manager,dc=example,dc=lang"; }

    /// The CA that signed the server's certificate.
    std::string caCertFile() const;
    /// The CA file this process trusts: caCertFile(), or the unrelated CA after trustUnrelatedCa().
    std::string trustedCaFile() const;
    /// The server's directory (configuration, databases, certificates, log).
    const std::string& directory() const { return m_dir; }
    /// What slapd has written to its log so far.
    std::string log() const;

    /// Creates ou=<label>-<n>,ou=tests,dc=example,dc=com (n counts up per process) and returns its DN.
    /// `label` may hold letters, digits, '-', '_' and '.'.
    std::string uniqueSubtree(const std::string& label);

    /// ldapadd / ldapmodify of `ldif` as the root DN; throw std::runtime_error with the tool's output on
    /// failure.
    void ldapadd(const std::string& ldif);
    void ldapmodify(const std::string& ldif);

    /// ldapsearch -LLL -o ldif-wrap=no as the root DN: the LDIF the server holds, "" when nothing matches or
    /// the base does not exist. `scope` is base, one, sub or children. Throws on any other failure.
    std::string ldapsearch(const std::string& base, const std::string& scope, const std::string& filter,
                           const std::vector<std::string>& attrs = {});

private:
    SlapdServer();

    void writeFiles();
    void makeCertificates();
    void loadDatabases();
    bool startOnce(std::string& failure);
    void stop() noexcept;
    void runTool(const std::string& tool, const std::string& ldif);

    std::string m_dir;
    int m_port = 0;
    int m_sslPort = 0;
    pid_t m_pid = -1;
    int m_subtrees = 0;
};

/// The path of a file of the shared test data (VARNEL_TESTDATA, set by ctest), e.g.
/// testdataPath("openldap/test.ldif").
std::string testdataPath(const std::string& relative);

/// The whole content of a file.
std::string readFile(const std::string& path);

}  // namespace Varnel::Ldap::testing
