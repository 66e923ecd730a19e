// LDAPS to a server whose certificate this process cannot verify is refused. This binary trusts an unrelated
// CA instead of the one that signed the test server's certificate.
#include <gtest/gtest.h>

#include <ldap.h>

#include <varnel/ldap.hpp>

#include "client/client_access.hpp"
#include "process.hpp"
#include "slapd_fixture.hpp"

namespace Varnel::Ldap {
namespace {

using testing::SlapdServer;

// Before main, so libldap never sees the server's own CA.
const bool kTrustsUnrelatedCa = SlapdServer::trustUnrelatedCa();

TEST(UntrustedLdapsTest, ServerCertificateIsVerifiedAndRefused) {
    ASSERT_TRUE(kTrustsUnrelatedCa);
    SlapdServer& server = SlapdServer::instance();
    ASSERT_NE(server.trustedCaFile(), server.caCertFile());

    for (const auto version : {ProtocolVersion::Version3, ProtocolVersion::Version2}) {
        SCOPED_TRACE(static_cast<int>(version));
        Client client;
        client.set_ProtocolVersion(version);
        try {
            client.Connect(server.host(), server.sslPort(), server.rootDn(), server.rootPassword(), true);
            FAIL() << "LDAPS with an unverifiable certificate was accepted";
        } catch (const LdapNetworkLibraryException& e) {
            EXPECT_EQ(e.get_ResultCode(), LDAP_SERVER_DOWN);
            EXPECT_STREQ(e.what(), ::ldap_err2string(LDAP_SERVER_DOWN));
        }
        // Nothing was bound; the handle is released as after any refused bind.
        EXPECT_NO_THROW(client.Disconnect());
    }
}

TEST(UntrustedLdapsTest, TheSameServerIsReachableOtherwise) {
    // The refusal above is about trust, not about a broken server: plain LDAP binds, and an ldapsearch
    // that trusts the server's CA gets through the same TLS port.
    SlapdServer& server = SlapdServer::instance();
    Client client;
    client.Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    client.Disconnect();

    const auto viaTls = testing::runProcess(
        {"env", "LDAPTLS_CACERT=" + server.caCertFile(), "ldapsearch", "-x", "-H", server.ldapsUri(), "-LLL", "-b",
         server.suffix(), "-s", "base", "(objectClass=*)", "dn"});
    EXPECT_TRUE(viaTls.ok()) << viaTls.err;
    EXPECT_NE(viaTls.out.find("dn: " + server.suffix()), std::string::npos);

    const auto untrusted = testing::runProcess({"ldapsearch", "-x", "-H", server.ldapsUri(), "-LLL", "-b",
                                                server.suffix(), "-s", "base", "(objectClass=*)", "dn"});
    EXPECT_FALSE(untrusted.ok());
}

}  // namespace
}  // namespace Varnel::Ldap
