// Connecting and binding against the real server: who the server thinks we are, refused binds, TLS,
// protocol versions, and connecting again on one client.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ldap.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <varnel/ldap.hpp>

#include "client/client_access.hpp"
#include "process.hpp"
#include "recording_ldap_api.hpp"
#include "slapd_fixture.hpp"
#include "test_client.hpp"

namespace Varnel::Ldap {
namespace {

using testing::newClient;
using testing::RecordingLdapApi;
using testing::SlapdServer;

LDAP* handleOf(const Client& client) { return ClientAccess::connection(client)->GetLDAP(); }

// The identity the server has bound this client's connection to ("" for anonymous), asked with the
// "Who am I?" extended operation directly through libldap, independently of the library.
std::string boundIdentity(const Client& client) {
    LDAP* ld = handleOf(client);
    if (ld == nullptr) throw std::logic_error("not connected");
    berval* authzid = nullptr;
    const int rc = ::ldap_whoami_s(ld, &authzid, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) throw std::runtime_error(std::string("whoami: ") + ::ldap_err2string(rc));
    std::string id = authzid && authzid->bv_val ? std::string(authzid->bv_val, authzid->bv_len) : std::string();
    ::ber_bvfree(authzid);
    return id;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string dnIdentity(const std::string& dn) { return "dn:" + lower(dn); }

// A loopback port where nothing listens: taken from the kernel and released again.
int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class ConnectionTest : public ::testing::Test {
protected:
    SlapdServer& server = SlapdServer::instance();
};

TEST_F(ConnectionTest, BindsAsTheGivenIdentity) {
    struct Case {
        const char* name;
        std::string user, password, identity;
        bool ssl;
    };
    const Case cases[] = {
        {"anonymous with two empty texts", "", "", "", false},
        {"root DN", server.rootDn(), server.rootPassword(), dnIdentity(server.rootDn()), false},
        {"ordinary user", server.userDn(), server.userPassword(), dnIdentity(server.userDn()), false},
        {"root DN over LDAPS", server.rootDn(), server.rootPassword(), dnIdentity(server.rootDn()), true},
        {"anonymous over LDAPS", "", "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client client;
        client.Connect(server.host(), c.ssl ? server.sslPort() : server.port(), c.user, c.password, c.ssl);
        EXPECT_EQ(lower(boundIdentity(client)), c.identity);
        EXPECT_EQ(ClientAccess::connection(client)->GetConnectedVersion(), ProtocolVersion::Version3);
        client.Disconnect();
        EXPECT_EQ(handleOf(client), nullptr);
    }
}

TEST_F(ConnectionTest, RefusedBindThrowsAndLeavesTheClientConnected) {
    struct Case {
        const char* name;
        std::string user, password;
        int resultCode;
    };
    const Case cases[] = {
        {"wrong root password", server.rootDn(), "not the password", LDAP_INVALID_CREDENTIALS},
        {"wrong user password", server.userDn(), "not the password", LDAP_INVALID_CREDENTIALS},
        {"unknown DN", "cn=Nobody,dc=example,dc=com", "whatever", LDAP_INVALID_CREDENTIALS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client client;
        try {
            client.Connect(server.host(), server.port(), c.user, c.password);
            ADD_FAILURE() << "the bind was accepted";
        } catch (const LdapNetworkLibraryException& e) {
            EXPECT_STREQ(e.what(), ::ldap_err2string(c.resultCode));
            ASSERT_TRUE(e.get_Message().has_value());
            EXPECT_EQ(*e.get_Message(), ::ldap_err2string(c.resultCode));
            EXPECT_EQ(e.get_ErrorCode(), ApplicationException::DefaultCode);
            EXPECT_EQ(e.get_ResultCode(), c.resultCode);
        }
        // The unbound handle stays: the client counts as connected, and as nobody on the server.
        ASSERT_NE(handleOf(client), nullptr);
        EXPECT_NO_THROW(ClientAccess::connection(client)->CheckConnection());
        EXPECT_EQ(boundIdentity(client), "");
        EXPECT_NO_THROW(client.Disconnect());
        EXPECT_EQ(handleOf(client), nullptr);
        EXPECT_THROW(client.Disconnect(), InvalidStateException);
    }
}

// A DN without a password would be an unauthenticated bind, which some servers accept without checking
// anything: it is refused before libldap is called, and an earlier connection stays as it was.
TEST_F(ConnectionTest, UserNameWithEmptyPasswordIsRefusedBeforeAnyCall) {
    auto recorder = std::make_shared<RecordingLdapApi>();
    auto client = newClient(recorder);
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    LDAP* bound = handleOf(*client);
    recorder->clear();
    for (const std::optional<std::string>& password : {std::optional<std::string>(""), std::optional<std::string>()}) {
        EXPECT_THROW(client->Connect(server.host(), server.port(), server.rootDn(), password), ArgumentException);
    }
    EXPECT_TRUE(recorder->calls().empty());
    EXPECT_EQ(handleOf(*client), bound);
    EXPECT_EQ(lower(boundIdentity(*client)), dnIdentity(server.rootDn()));
}

TEST_F(ConnectionTest, WrongPasswordGivesLibldapsTextForInvalidCredentials) {
    Client client;
    try {
        client.Connect(server.host(), server.port(), server.rootDn(), "wrong");
        FAIL() << "the bind was accepted";
    } catch (const LdapNetworkLibraryException& e) {
        EXPECT_STREQ(e.what(), "Invalid credentials");
        EXPECT_EQ(e.get_ResultCode(), 49);
    }
}

TEST_F(ConnectionTest, NoServerOnThePortIsAnExceptionNotACrash) {
    const int port = unusedPort();
    for (const bool ssl : {false, true}) {
        SCOPED_TRACE(ssl ? "ldaps" : "ldap");
        Client client;
        try {
            client.Connect(server.host(), port, server.rootDn(), server.rootPassword(), ssl);
            FAIL() << "connected to a port where nothing listens";
        } catch (const LdapNetworkLibraryException& e) {
            EXPECT_EQ(e.get_ResultCode(), LDAP_SERVER_DOWN);
            EXPECT_STREQ(e.what(), ::ldap_err2string(LDAP_SERVER_DOWN));
        }
        // As with any failed bind, the handle was created and is released by Disconnect.
        EXPECT_NO_THROW(client.Disconnect());
        EXPECT_THROW(client.Disconnect(), InvalidStateException);
    }
}

TEST_F(ConnectionTest, PlainLdapToTheTlsPortFails) {
    // Speaking plain LDAP to the ldaps:// listener must fail, not hang or pass.
    Client client;
    EXPECT_THROW(client.Connect(server.host(), server.sslPort(), server.rootDn(), server.rootPassword(), false),
                 LdapNetworkLibraryException);
}

TEST_F(ConnectionTest, BothProtocolVersionsBindAndReportTheirVersion) {
    for (const auto version : {ProtocolVersion::Version2, ProtocolVersion::Version3}) {
        SCOPED_TRACE(static_cast<int>(version));
        for (const bool ssl : {false, true}) {
            SCOPED_TRACE(ssl ? "ldaps" : "ldap");
            Client client;
            client.set_ProtocolVersion(version);
            client.Connect(server.host(), ssl ? server.sslPort() : server.port(), server.rootDn(),
                           server.rootPassword(), ssl);
            EXPECT_EQ(ClientAccess::connection(client)->GetConnectedVersion(), version);
            client.Dispose();
        }
    }
}

TEST_F(ConnectionTest, ChangingTheVersionSettingLeavesTheOpenConnectionAlone) {
    Client client;
    client.Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    client.set_ProtocolVersion(ProtocolVersion::Version2);
    EXPECT_EQ(ClientAccess::connection(client)->GetConnectedVersion(), ProtocolVersion::Version3);
    EXPECT_EQ(client.get_ProtocolVersion(), ProtocolVersion::Version2);

    client.Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    EXPECT_EQ(ClientAccess::connection(client)->GetConnectedVersion(), ProtocolVersion::Version2);
    EXPECT_EQ(client.get_ConnectedVersion(), ProtocolVersion::Version2);
}

TEST_F(ConnectionTest, ConnectDisconnectAndConnectAgainOnOneClient) {
    Client client;
    client.Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    EXPECT_EQ(lower(boundIdentity(client)), dnIdentity(server.rootDn()));
    client.Disconnect();
    EXPECT_THROW(ClientAccess::connection(client)->GetConnectedVersion(), InvalidStateException);

    client.Connect(server.host(), server.sslPort(), server.userDn(), server.userPassword(), true);
    EXPECT_EQ(lower(boundIdentity(client)), dnIdentity(server.userDn()));
    client.Disconnect();

    // A refused bind in between does not spoil the next connection.
    EXPECT_THROW(client.Connect(server.host(), server.port(), server.userDn(), "wrong"), LdapNetworkLibraryException);
    client.Connect(server.host(), server.port(), server.userDn(), server.userPassword());
    EXPECT_EQ(lower(boundIdentity(client)), dnIdentity(server.userDn()));
    client.Dispose();
}

TEST_F(ConnectionTest, ConnectWhileConnectedReplacesTheConnection) {
    Client client;
    client.Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    client.Connect(server.host(), server.port(), server.userDn(), server.userPassword());
    EXPECT_EQ(lower(boundIdentity(client)), dnIdentity(server.userDn()));
    // A refused bind replaces it too: the old, bound connection is not kept by mistake.
    EXPECT_THROW(client.Connect(server.host(), server.port(), server.rootDn(), "wrong"), LdapNetworkLibraryException);
    EXPECT_EQ(boundIdentity(client), "");
}

// ---- the server itself: what every integration test relies on -----------------------------------------

std::vector<std::string> dnsOf(const std::string& ldif) {
    std::vector<std::string> dns;
    std::istringstream in(ldif);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("dn:", 0) == 0) dns.push_back(line);
    }
    return dns;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(ConnectionTest, FixtureHoldsTheSharedData) {
    const std::size_t inFile = dnsOf(testing::readFile(testing::testdataPath("openldap/test.ldif"))).size();
    std::size_t fromFile = 0;
    for (const auto& dn : dnsOf(server.ldapsearch(server.suffix(), "sub", "(objectClass=*)", {"1.1"}))) {
        const bool own = dn == "dn: " + server.testsSubtree() || dn == "dn: " + server.blindSubtree() ||
                         dn == "dn: " + server.userDn() || endsWith(dn, "," + server.testsSubtree()) ||
                         endsWith(dn, "," + server.blindSubtree());
        if (!own) ++fromFile;
    }
    EXPECT_EQ(inFile, 19u);
    EXPECT_EQ(fromFile, inFile);
    // A base64 value of the file, as the server returns it.
    const std::string barbara = "cn=Barbara Jensen,ou=Information Technology Division,ou=People," + server.suffix();
    EXPECT_EQ(server.ldapsearch(barbara, "base", "(objectClass=*)", {"userPassword"}),
              "dn: " + barbara + "\nuserPassword:: YmplbnNlbg==\n\n");

    const std::string lang = server.ldapsearch(server.langSuffix(), "base", "(objectClass=*)");
    EXPECT_EQ(dnsOf(lang), std::vector<std::string>{"dn: " + server.langSuffix()});
    EXPECT_NE(lang.find(": Billy Bob"), std::string::npos) << lang;
}

TEST_F(ConnectionTest, FixtureAclLetsTheUserAddBlindly) {
    auto asUser = [&](const std::string& tool, std::vector<std::string> args, const std::string& input = {}) {
        std::vector<std::string> argv{tool, "-x", "-H", server.uri(), "-D", server.userDn(), "-w", server.userPassword()};
        argv.insert(argv.end(), args.begin(), args.end());
        return testing::runProcess(argv, input);
    };
    auto person = [](const std::string& dn, const std::string& cn) {
        return "dn: " + dn + "\nobjectClass: person\ncn: " + cn + "\nsn: Blind\n";
    };
    const std::string subtree = server.uniqueSubtree("acl");
    const std::string label = subtree.substr(3, subtree.find(',') - 3);  // unique in this server's life
    const std::string hidden = "cn=" + label + "," + server.blindSubtree();
    const std::string visible = "cn=Visible," + subtree;

    const auto addHidden = asUser("ldapadd", {}, person(hidden, label));
    ASSERT_TRUE(addHidden.ok()) << addHidden.err;
    const auto readHidden = asUser("ldapsearch", {"-LLL", "-b", hidden, "-s", "base", "(objectClass=*)"});
    EXPECT_EQ(readHidden.exitCode, 0) << readHidden.err;  // the search succeeds ...
    EXPECT_EQ(readHidden.out, "");                        // ... and returns no entry
    EXPECT_EQ(dnsOf(server.ldapsearch(hidden, "base", "(objectClass=*)")), std::vector<std::string>{"dn: " + hidden});

    const auto addVisible = asUser("ldapadd", {}, person(visible, "Visible"));
    ASSERT_TRUE(addVisible.ok()) << addVisible.err;
    const auto readVisible = asUser("ldapsearch", {"-LLL", "-b", visible, "-s", "base", "(objectClass=*)", "cn"});
    EXPECT_EQ(readVisible.out, "dn: " + visible + "\ncn: Visible\n\n");

    const auto addElsewhere = asUser("ldapadd", {}, person("cn=Elsewhere," + server.suffix(), "Elsewhere"));
    EXPECT_EQ(addElsewhere.exitCode, LDAP_INSUFFICIENT_ACCESS);

    const auto anonymous = testing::runProcess({"ldapsearch", "-x", "-H", server.uri(), "-LLL", "-b", server.userDn(),
                                                "-s", "base", "(objectClass=*)", "userPassword", "cn"});
    EXPECT_EQ(anonymous.out, "dn: " + server.userDn() + "\ncn: Varnel User\n\n");
}

}  // namespace
}  // namespace Varnel::Ldap
