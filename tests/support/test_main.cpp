// The main of every test binary: libldap must see LDAPTLS_CACERT before its first call, and the test server
// must be gone when the binary ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "slapd_fixture.hpp"

namespace {

class StopServer : public ::testing::Environment {
public:
    void TearDown() override { Varnel::Ldap::testing::SlapdServer::shutdown(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    Varnel::Ldap::testing::SlapdServer::prepareProcess();
    ::testing::AddGlobalTestEnvironment(new StopServer);  // gtest owns it
    return RUN_ALL_TESTS();
}
