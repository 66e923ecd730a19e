// The production binding's one rebuilt call: ldap_sslinit becomes ldap_initialize with ldaps:// URIs.
#include <gtest/gtest.h>
#include <ldap.h>

#include <string>

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {
namespace {

// The URI list libldap was initialised with; nothing reaches the network.
std::string uriOf(const char* host, int port) {
    LibLdapApi api;
    LDAP* ld = api.ldap_sslinit(host, port, 1);
    if (ld == nullptr) return "<no handle>";
    char* uri = nullptr;
    EXPECT_EQ(api.ldap_get_option(ld, LDAP_OPT_URI, &uri), LDAP_OPT_SUCCESS);
    std::string text = uri ? uri : "";
    api.ldap_memfree(uri);
    api.ldap_unbind(ld);
    return text;
}

TEST(LibLdapApiTest, SslInitBuildsLdapsUrisForEveryHostForm) {
    struct Case {
        const char* host;
        int port;
        const char* uri;
    };
    const Case cases[] = {
        {"127.0.0.1", 636, "ldaps://127.0.0.1:636"},
        {"ldap.example.com", 1636, "ldaps://ldap.example.com:1636"},
        {"a.example.com b.example.com", 636, "ldaps://a.example.com:636 ldaps://b.example.com:636"},
        {"a.example.com:7636 b.example.com", 636, "ldaps://a.example.com:7636 ldaps://b.example.com:636"},
        {"::1", 636, "ldaps://[::1]:636"},
        {"[::1]", 636, "ldaps://[::1]:636"},
        {"[::1]:7636", 636, "ldaps://[::1]:7636"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(uriOf(c.host, c.port), c.uri);
    }
}

}  // namespace
}  // namespace Varnel::Ldap
