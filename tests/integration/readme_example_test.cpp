// The README's example, run as its own program against the test server, both ways through its last step:
// adding a description the first time, changing it the second.
#include <gtest/gtest.h>

#include <string>

#include "process.hpp"
#include "slapd_fixture.hpp"

namespace Varnel::Ldap {
namespace {

using testing::SlapdServer;

TEST(ReadmeExampleTest, RunsAgainstTheServerAndWritesThrough) {
    SlapdServer& server = SlapdServer::instance();
    const std::string base = server.uniqueSubtree("readme");
    const std::string alice = "cn=Alice Example," + base;
    const std::string bob = "cn=Bob Example," + base;
    server.ldapadd("dn: " + bob + "\nobjectClass: person\ncn: Bob Example\nsn: Example\ndescription: Bob\n\n" +
                   "dn: " + alice + "\nobjectClass: person\ncn: Alice Example\nsn: Example\n");

    const std::vector<std::string> command{VARNEL_README_EXAMPLE, server.host(), std::to_string(server.port()),
                                           server.rootDn(), server.rootPassword(), base};
    for (const char* expected : {"Added by the README example", "Changed by the README example"}) {
        SCOPED_TRACE(expected);
        const auto run = testing::runProcess(command);
        ASSERT_TRUE(run.ok()) << run.describe(command);
        // Both people, ordered by cn.
        EXPECT_EQ(run.out, alice + ": Alice Example\n" + bob + ": Bob Example\n");
        EXPECT_EQ(server.ldapsearch(alice, "base", "(objectClass=*)", {"description"}),
                  "dn: " + alice + "\ndescription: " + expected + "\n\n");
        EXPECT_EQ(server.ldapsearch(bob, "base", "(objectClass=*)", {"description"}),
                  "dn: " + bob + "\ndescription: Bob\n\n");
    }

    // A refused bind is reported with libldap's text and a failing exit code.
    auto wrong = command;
    wrong[4] = "not the password";
    const auto refused = testing::runProcess(wrong);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Invalid credentials"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace Varnel::Ldap
