// Client: which libldap calls Connect, Disconnect and Dispose make (through the recording LdapApi), the
// settings, and the disposed guard.
#include <gtest/gtest.h>

#include <ldap.h>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <varnel/ldap.hpp>

#include "client/client_access.hpp"
#include "recording_ldap_api.hpp"
#include "slapd_fixture.hpp"
#include "test_client.hpp"

namespace Varnel::Ldap {
namespace {

using testing::LdapCall;
using testing::RecordingLdapApi;
using testing::SlapdServer;

const std::string kNotConnected = "Not connected to an LDAP server.";
const std::string kDisposed = "Cannot perform this operation on a disposed object.";

std::vector<std::string> withoutErrorTexts(const std::vector<std::string>& functions) {
    std::vector<std::string> out;
    for (const auto& f : functions) {
        if (f != "ldap_err2string" && f != "ldap_get_option" && f != "ldap_memfree") out.push_back(f);
    }
    return out;
}

class ClientTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingLdapApi> api = std::make_shared<RecordingLdapApi>();
};

// ---- what Connect sends --------------------------------------------------------------------------------

TEST_F(ClientTest, ConnectOverloadsPickPortTransportAndBindTexts) {
    using Connect = std::function<void(Client&)>;
    const std::optional<std::string> none;
    struct Case {
        const char* name;
        Connect connect;
        const char* init;  // ldap_init or ldap_sslinit
        int port;
        std::optional<std::string> user, password;
    };
    const std::string h = "127.0.0.1";
    const Case cases[] = {
        {"server name alone", [&](Client& c) { c.Connect(h); }, "ldap_init", 389, "", ""},
        {"useSSL false", [&](Client& c) { c.Connect(h, false); }, "ldap_init", 389, "", ""},
        {"useSSL true", [&](Client& c) { c.Connect(h, true); }, "ldap_sslinit", 636, "", ""},
        {"user and password", [&](Client& c) { c.Connect(h, "cn=u", "pw"); }, "ldap_init", 389, "cn=u", "pw"},
        {"absent user and password", [&](Client& c) { c.Connect(h, none, none); }, "ldap_init", 389, none, none},
        {"user, password, SSL", [&](Client& c) { c.Connect(h, "cn=u", "pw", true); }, "ldap_sslinit", 636, "cn=u",
         "pw"},
        {"empty user, absent password", [&](Client& c) { c.Connect(h, "", none); }, "ldap_init", 389, "", none},
        {"port -1", [&](Client& c) { c.Connect(h, -1, "cn=u", "pw"); }, "ldap_init", 389, "cn=u", "pw"},
        {"port -1 with SSL", [&](Client& c) { c.Connect(h, -1, "cn=u", "pw", true); }, "ldap_sslinit", 636, "cn=u",
         "pw"},
        {"Port::DefaultPort with SSL",
         [&](Client& c) { c.Connect(h, static_cast<int>(Port::DefaultPort), "", "", true); }, "ldap_sslinit", 636,
         "", ""},
        {"port 636 without SSL", [&](Client& c) { c.Connect(h, 636, "", ""); }, "ldap_init", 636, "", ""},
        {"port 389 with SSL", [&](Client& c) { c.Connect(h, 389, "", "", true); }, "ldap_sslinit", 389, "", ""},
        {"port 0", [&](Client& c) { c.Connect(h, 0, "", ""); }, "ldap_init", 0, "", ""},
        {"port 0 with SSL", [&](Client& c) { c.Connect(h, 0, "", "", true); }, "ldap_sslinit", 0, "", ""},
        {"port 12345", [&](Client& c) { c.Connect(h, 12345, "", "", false); }, "ldap_init", 12345, "", ""},
        {"port -2", [&](Client& c) { c.Connect(h, -2, "", ""); }, "ldap_init", -2, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        api->clear();
        // The bind is refused before it reaches the network: this test is about the request, not a server.
        api->failCall("ldap_simple_bind_s", 1, LDAP_SERVER_DOWN);
        auto client = testing::newClient(api);
        EXPECT_THROW(c.connect(*client), LdapNetworkLibraryException);

        const auto calls = withoutErrorTexts(api->functions());
        ASSERT_EQ(calls, (std::vector<std::string>{c.init, "ldap_set_option", "ldap_simple_bind_s"}));
        const LdapCall& init = api->calls().front();
        EXPECT_EQ(init.dn, h);
        EXPECT_EQ(init.port, c.port);
        if (std::string(c.init) == "ldap_sslinit") {
            EXPECT_EQ(init.secure, 1);
        }

        const LdapCall bind = api->callsTo("ldap_simple_bind_s").at(0);
        EXPECT_EQ(bind.ld, init.returned);
        EXPECT_EQ(bind.user, c.user);
        EXPECT_EQ(bind.password, c.password);
        client.reset();
        EXPECT_EQ(api->count("ldap_unbind"), 1u);
    }
}

TEST_F(ClientTest, VersionIsSetOnTheHandleBeforeTheBind) {
    SlapdServer& server = SlapdServer::instance();
    for (const auto version : {ProtocolVersion::Version3, ProtocolVersion::Version2}) {
        SCOPED_TRACE(static_cast<int>(version));
        api->clear();
        auto client = testing::newClient(api);
        client->set_ProtocolVersion(version);
        client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());

        ASSERT_EQ(api->functions(), (std::vector<std::string>{"ldap_init", "ldap_set_option", "ldap_simple_bind_s"}));
        const auto& calls = api->calls();
        EXPECT_EQ(calls[1].ld, calls[0].returned);
        EXPECT_EQ(calls[1].option, LDAP_OPT_PROTOCOL_VERSION);
        EXPECT_EQ(calls[1].option, 17);
        EXPECT_EQ(calls[1].optionValue, static_cast<int>(version));
        EXPECT_EQ(calls[2].ld, calls[0].returned);
        EXPECT_EQ(calls[2].result, LDAP_SUCCESS);
    }
}

TEST_F(ClientTest, RefusedVersionSettingStopsBeforeTheBindAndKeepsTheHandle) {
    SlapdServer& server = SlapdServer::instance();
    auto client = testing::newClient(api);
    api->failCall("ldap_set_option", 1, LDAP_OPERATIONS_ERROR);
    try {
        client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
        FAIL() << "Connect succeeded";
    } catch (const LdapNetworkLibraryException& e) {
        EXPECT_STREQ(e.what(), ::ldap_err2string(LDAP_OPERATIONS_ERROR));
        EXPECT_EQ(e.get_ResultCode(), LDAP_OPERATIONS_ERROR);
    }
    EXPECT_EQ(api->count("ldap_simple_bind_s"), 0u);
    EXPECT_NO_THROW(client->Disconnect());
    ASSERT_EQ(api->count("ldap_unbind"), 1u);
    EXPECT_EQ(api->callsTo("ldap_unbind")[0].ld, api->callsTo("ldap_init")[0].returned);
}

TEST_F(ClientTest, HandleCreationFailureLeavesTheClientNotConnected) {
    SlapdServer& server = SlapdServer::instance();
    for (const char* init : {"ldap_init", "ldap_sslinit"}) {
        SCOPED_TRACE(init);
        api->clear();
        auto client = testing::newClient(api);
        // Connected first, so the failed Connect also shows what happens to an earlier connection.
        client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
        api->failCall(init, 1, LDAP_NO_MEMORY);
        try {
            client->Connect(server.host(), -1, server.rootDn(), server.rootPassword(), init == std::string("ldap_sslinit"));
            FAIL() << "Connect succeeded";
        } catch (const LdapNetworkLibraryException& e) {
            FAIL() << "expected the library's own LdapException, got " << e.what();
        } catch (const LdapException& e) {
            EXPECT_EQ(e.get_Message(), std::optional<std::string>("Could not connect to the LDAP server. The server "
                                                                  "could not be found or it refused the connection "
                                                                  "request."));
        }
        EXPECT_EQ(api->count("ldap_set_option"), 1u);  // only the first Connect's
        EXPECT_EQ(api->count("ldap_unbind"), 1u);      // the earlier connection, released and not leaked
        EXPECT_EQ(ClientAccess::connection(*client)->GetLDAP(), nullptr);
        try {
            client->Disconnect();
            FAIL() << "Disconnect succeeded without a connection";
        } catch (const InvalidStateException& e) {
            EXPECT_EQ(e.get_Message(), kNotConnected);
        }
        client.reset();
        EXPECT_EQ(api->count("ldap_unbind"), 1u);
    }
}

TEST_F(ClientTest, ConnectWhileConnectedUnbindsTheEarlierHandleFirst) {
    SlapdServer& server = SlapdServer::instance();
    auto client = testing::newClient(api);
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    client->Connect(server.host(), server.sslPort(), server.userDn(), server.userPassword(), true);

    ASSERT_EQ(api->functions(), (std::vector<std::string>{"ldap_init", "ldap_set_option", "ldap_simple_bind_s",
                                                          "ldap_unbind", "ldap_sslinit", "ldap_set_option",
                                                          "ldap_simple_bind_s"}));
    const auto& calls = api->calls();
    EXPECT_EQ(calls[3].ld, calls[0].returned);
    EXPECT_EQ(calls[6].ld, calls[4].returned);
    EXPECT_EQ(calls[6].result, LDAP_SUCCESS);
    client->Dispose();
    ASSERT_EQ(api->count("ldap_unbind"), 2u);
    EXPECT_EQ(api->callsTo("ldap_unbind")[1].ld, calls[4].returned);
}

// ---- releasing the handle ------------------------------------------------------------------------------

TEST_F(ClientTest, HandleIsUnboundExactlyOnce) {
    SlapdServer& server = SlapdServer::instance();
    struct Case {
        const char* name;
        std::function<void(std::unique_ptr<Client>&)> end;
    };
    const Case cases[] = {
        {"Dispose", [](auto& c) { c->Dispose(); }},
        {"Dispose twice", [](auto& c) { c->Dispose(); c->Dispose(); }},
        {"Disconnect then Dispose", [](auto& c) { c->Disconnect(); c->Dispose(); }},
        {"destroyed without Dispose", [](auto& c) { c.reset(); }},
        {"Disconnect, then destroyed", [](auto& c) { c->Disconnect(); c.reset(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        api->clear();
        auto client = testing::newClient(api);
        client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
        c.end(client);
        client.reset();
        ASSERT_EQ(api->count("ldap_unbind"), 1u);
        EXPECT_EQ(api->callsTo("ldap_unbind")[0].ld, api->callsTo("ldap_init")[0].returned);
    }
}

TEST_F(ClientTest, NeverConnectedClientMakesNoLibldapCall) {
    {
        auto client = testing::newClient(api);
        EXPECT_THROW(client->Disconnect(), InvalidStateException);
        client->Dispose();
        client->Dispose();
    }
    {
        auto client = testing::newClient(api);  // destroyed without Dispose
    }
    EXPECT_TRUE(api->calls().empty());
}

TEST_F(ClientTest, ConnectedVersionWithoutAHandleThrowsWithoutCallingLibldap) {
    SlapdServer& server = SlapdServer::instance();
    auto client = testing::newClient(api);
    const auto& connection = ClientAccess::connection(*client);
    auto expectNotConnected = [&] {
        api->clear();
        try {
            connection->GetConnectedVersion();
            FAIL() << "GetConnectedVersion succeeded without a handle";
        } catch (const InvalidStateException& e) {
            EXPECT_EQ(e.get_Message(), kNotConnected);
            EXPECT_STREQ(e.what(), kNotConnected.c_str());
        }
        EXPECT_TRUE(api->calls().empty());
    };
    expectNotConnected();
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    api->clear();
    EXPECT_EQ(connection->GetConnectedVersion(), ProtocolVersion::Version3);
    EXPECT_EQ(client->get_ConnectedVersion(), ProtocolVersion::Version3);
    api->clear();
    EXPECT_EQ(connection->GetConnectedVersion(), ProtocolVersion::Version3);
    ASSERT_EQ(api->functions(), std::vector<std::string>{"ldap_get_option"});
    EXPECT_EQ(api->calls()[0].option, LDAP_OPT_PROTOCOL_VERSION);
    EXPECT_NE(api->calls()[0].ld, nullptr);
    client->Disconnect();
    expectNotConnected();
    EXPECT_THROW(client->get_ConnectedVersion(), InvalidStateException);
}

TEST_F(ClientTest, RefusedBindKeepsTheHandleUntilDisconnect) {
    SlapdServer& server = SlapdServer::instance();
    auto client = testing::newClient(api);
    EXPECT_THROW(client->Connect(server.host(), server.port(), server.rootDn(), "wrong"), LdapNetworkLibraryException);
    const auto bind = api->callsTo("ldap_simple_bind_s").at(0);
    EXPECT_EQ(bind.result, LDAP_INVALID_CREDENTIALS);
    EXPECT_FALSE(bind.injected);
    EXPECT_EQ(api->count("ldap_unbind"), 0u);
    client->Disconnect();
    ASSERT_EQ(api->count("ldap_unbind"), 1u);
    EXPECT_EQ(api->callsTo("ldap_unbind")[0].ld, bind.ld);
    client->Dispose();
    EXPECT_EQ(api->count("ldap_unbind"), 1u);
}

// ---- settings ------------------------------------------------------------------------------------------

TEST_F(ClientTest, NewClientHasTheDefaultSettings) {
    Client client;
    EXPECT_EQ(client.get_ProtocolVersion(), ProtocolVersion::Version3);
    EXPECT_EQ(client.get_SearchSizeLimit(), 0);
    EXPECT_EQ(client.get_SearchSizeLimit(), Client::NoSearchLimit);
    EXPECT_EQ(client.get_Encoding().get_Name(), "UTF-8");
    EXPECT_TRUE(client.get_Encoding().IsUTF8());
}

TEST_F(ClientTest, ProtocolVersionSettingKeepsOnlyTwoOrThree) {
    const struct {
        int given;
        ProtocolVersion stored;
    } cases[] = {{2, ProtocolVersion::Version2}, {3, ProtocolVersion::Version3}, {4, ProtocolVersion::Version3},
                 {0, ProtocolVersion::Version3}, {-1, ProtocolVersion::Version3}, {1, ProtocolVersion::Version3}};
    Client client;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        // Start from the other version, so that each case must store its own value.
        client.set_ProtocolVersion(c.stored == ProtocolVersion::Version2 ? ProtocolVersion::Version3
                                                                         : ProtocolVersion::Version2);
        client.set_ProtocolVersion(static_cast<ProtocolVersion>(c.given));
        EXPECT_EQ(client.get_ProtocolVersion(), c.stored);
    }
}

TEST_F(ClientTest, SearchSizeLimitAndEncodingAreStoredUnchanged) {
    Client client;
    for (const int limit : {5, -1, INT_MAX, INT_MIN, 0}) {
        client.set_SearchSizeLimit(limit);
        EXPECT_EQ(client.get_SearchSizeLimit(), limit);
    }
    const Encoding latin1 = Encoding::ForName("ISO-8859-1");
    client.set_Encoding(latin1);
    EXPECT_EQ(client.get_Encoding(), latin1);
    EXPECT_FALSE(client.get_Encoding().IsUTF8());
    client.set_Encoding(Encoding::UTF8());
    EXPECT_TRUE(client.get_Encoding().IsUTF8());
}

TEST_F(ClientTest, AboutHasThreeLinesEndingWithTheVersion) {
    Client client;
    const std::string about = client.About();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = about.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(about.substr(start, nl - start));
    }
    lines.push_back(about.substr(start));
    ASSERT_EQ(lines.size(), 3u) << about;
    EXPECT_FALSE(lines[0].empty());
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[2], "4.0.0.0");
}

// ---- the disposed guard --------------------------------------------------------------------------------

TEST_F(ClientTest, EveryOperationButDisposeIsRefusedAfterDispose) {
    SlapdServer& server = SlapdServer::instance();
    const std::string h = server.host();
    const int p = server.port();
    using Op = std::function<void(Client&)>;
    const std::pair<const char*, Op> operations[] = {
        {"Connect(server)", [&](Client& c) { c.Connect(h); }},
        {"Connect(server, ssl)", [&](Client& c) { c.Connect(h, true); }},
        {"Connect(server, user, password)", [&](Client& c) { c.Connect(h, "", ""); }},
        {"Connect(server, user, password, ssl)", [&](Client& c) { c.Connect(h, "", "", false); }},
        {"Connect(server, port, user, password)", [&](Client& c) { c.Connect(h, p, "", ""); }},
        {"Connect(server, port, user, password, ssl)", [&](Client& c) { c.Connect(h, p, "", "", false); }},
        {"Disconnect", [](Client& c) { c.Disconnect(); }},
        {"About", [](Client& c) { c.About(); }},
        {"get_ProtocolVersion", [](Client& c) { c.get_ProtocolVersion(); }},
        {"get_ConnectedVersion", [](Client& c) { c.get_ConnectedVersion(); }},
        {"set_ProtocolVersion", [](Client& c) { c.set_ProtocolVersion(ProtocolVersion::Version2); }},
        {"get_Encoding", [](Client& c) { c.get_Encoding(); }},
        {"set_Encoding", [](Client& c) { c.set_Encoding(Encoding::UTF8()); }},
        {"get_SearchSizeLimit", [](Client& c) { c.get_SearchSizeLimit(); }},
        {"set_SearchSizeLimit", [](Client& c) { c.set_SearchSizeLimit(7); }},
        {"Search(base, filter)", [&](Client& c) { c.Search(server.suffix(), "(objectClass=*)"); }},
        {"Search(..., scope)", [&](Client& c) { c.Search(server.suffix(), "(objectClass=*)", Scope::Base); }},
        {"Search(..., attributes)", [&](Client& c) { c.Search(server.suffix(), "(cn=*)", Scope::Base, {"cn"}); }},
        {"Search(..., timeout)", [&](Client& c) { c.Search(server.suffix(), "(cn=*)", Scope::Base, {}, 5); }},
        {"Search(..., ignoreSizeLimitError)",
         [&](Client& c) { c.Search(server.suffix(), "(cn=*)", Scope::Base, {}, 0, true); }},
        {"AddNewEntry",
         [&](Client& c) {
             NameValueCollection attributes;
             attributes.Add("objectClass", "organizationalUnit");
             c.AddNewEntry("ou=never," + server.testsSubtree(), attributes);
         }},
    };
    for (const bool wasConnected : {false, true}) {
        SCOPED_TRACE(wasConnected ? "disposed while connected" : "disposed, never connected");
        for (const auto& [name, operation] : operations) {
            SCOPED_TRACE(name);
            auto client = testing::newClient(api);
            if (wasConnected) client->Connect(h, p, server.rootDn(), server.rootPassword());
            client->Dispose();
            api->clear();
            try {
                operation(*client);
                ADD_FAILURE() << "the operation ran on a disposed client";
            } catch (const ObjectDisposedException& e) {
                EXPECT_EQ(e.get_Message(), kDisposed);
            }
            EXPECT_TRUE(api->calls().empty()) << "first call: " << api->calls().front().function;
            EXPECT_NO_THROW(client->Dispose());
        }
    }
    // Nothing was added behind the guard.
    EXPECT_EQ(server.ldapsearch("ou=never," + server.testsSubtree(), "base", "(objectClass=*)"), "");
}

// ---- the recording LdapApi that these tests rely on ----------------------------------------------------

TEST_F(ClientTest, RecordingApiFailsTheKthCallAndRecordsModifications) {
    SlapdServer& server = SlapdServer::instance();
    const std::string dn = server.uniqueSubtree("recording");
    auto client = testing::newClient(api);
    // The k-th following bind fails without reaching the server; the calls before and after it do reach it.
    api->failCall("ldap_simple_bind_s", 2, LDAP_INVALID_CREDENTIALS);
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    EXPECT_EQ(api->pendingFaults(), 1u);
    EXPECT_THROW(client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword()),
                 LdapNetworkLibraryException);
    EXPECT_EQ(api->pendingFaults(), 0u);
    client->Connect(server.host(), server.port(), server.rootDn(), server.rootPassword());
    const auto binds = api->callsTo("ldap_simple_bind_s");
    ASSERT_EQ(binds.size(), 3u);
    EXPECT_FALSE(binds[0].injected);
    EXPECT_TRUE(binds[1].injected);
    EXPECT_EQ(binds[1].result, LDAP_INVALID_CREDENTIALS);
    EXPECT_FALSE(binds[2].injected);
    EXPECT_EQ(binds[2].result, LDAP_SUCCESS);

    // Straight through the api on the client's handle: the first change reaches the server, the second
    // server-changing call of any kind is refused before it does.
    LDAP* ld = ClientAccess::connection(*client)->GetLDAP();
    api->clear();
    api->failServerChange(2, LDAP_UNWILLING_TO_PERFORM);
    char description[] = "description";
    std::string bytes("two\0bytes", 9);
    berval value{static_cast<ber_len_t>(bytes.size()), bytes.data()};
    berval* values[] = {&value, nullptr};
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
    mod.mod_type = description;
    mod.mod_bvalues = values;
    LDAPMod* mods[] = {&mod, nullptr};
    EXPECT_EQ(api->ldap_modify_s(ld, dn.c_str(), mods), LDAP_SUCCESS);
    EXPECT_EQ(api->ldap_delete_s(ld, dn.c_str()), LDAP_UNWILLING_TO_PERFORM);

    const auto modify = api->callsTo("ldap_modify_s").at(0);
    EXPECT_EQ(modify.dn, dn);
    ASSERT_EQ(modify.mods.size(), 1u);
    EXPECT_EQ(modify.mods[0].op, LDAP_MOD_ADD | LDAP_MOD_BVALUES);
    EXPECT_EQ(modify.mods[0].type, "description");
    EXPECT_EQ(modify.mods[0].values, std::vector<std::string>{bytes});
    EXPECT_TRUE(api->callsTo("ldap_delete_s").at(0).injected);
    // The server has the change and still has the entry.
    EXPECT_NE(server.ldapsearch(dn, "base", "(objectClass=*)", {"description"}).find("description:: "),
              std::string::npos);
}

}  // namespace
}  // namespace Varnel::Ldap
