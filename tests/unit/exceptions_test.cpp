// The message table and the exception family.
#include <gtest/gtest.h>

#include <ldap.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <varnel/ldap/exceptions.hpp>

#include "foundation/resources.hpp"

namespace Varnel::Ldap {
namespace {

TEST(ResourcesTest, LooksUpTextsByExactKey) {
    const struct {
        const char* key;
        std::optional<std::string> text;
    } cases[] = {
        {"IDS_EX_NOT_CONNECTED", "Not connected to an LDAP server."},
        {"IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT", "Cannot perform this operation on a disposed object."},
        {"IDS_EX_SERVER_CONNECTION_FAILED",
         "Could not connect to the LDAP server. The server could not be found or it refused the connection "
         "request."},
        {"IDS_EX_NULL_ATTRIBUTE", "Cannot add an null Attribute to the collection."},
        {"IDS_EX_ENTRY_RENAME_V3_ONLY", "Entry.Rename method is only available on LDAPv3 servers."},
        // The deleted guard's key has no text on purpose.
        {"IDS_EX_CANNOT_PERFORM_ON_DELETED_OBJECT", std::nullopt},
        {"IDS_EX_NO_SUCH_KEY", std::nullopt},
        {"ids_ex_not_connected", std::nullopt},  // keys compare exactly, letter case included
        {"IDS_EX_NOT_CONNECTED ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(Varnel::Resources::Get(c.key), c.text);
    }
}

TEST(ExceptionsTest, FamilyIsCaughtThroughItsBases) {
    auto caughtAs = [](auto thrown, auto probe) {
        try {
            throw thrown;
        } catch (const decltype(probe)&) {
            return true;
        } catch (...) {
            return false;
        }
    };
    EXPECT_TRUE(caughtAs(AuthenticationFailedException(), LdapNetworkLibraryException()));
    EXPECT_TRUE(caughtAs(AuthenticationFailedException(), LdapException()));
    EXPECT_TRUE(caughtAs(LdapNetworkLibraryException(), LdapException()));
    EXPECT_TRUE(caughtAs(ObjectDisposedException(), LdapException()));
    EXPECT_TRUE(caughtAs(InvalidStateException(), LdapException()));
    EXPECT_TRUE(caughtAs(LdapException(), ApplicationException()));
    EXPECT_FALSE(caughtAs(ObjectDisposedException(), InvalidStateException()));
    EXPECT_FALSE(caughtAs(InvalidStateException(), LdapNetworkLibraryException()));
    EXPECT_FALSE(caughtAs(LdapException(), ObjectDisposedException()));

    // Errors outside the family are the standard kinds, not LdapException.
    static_assert(std::is_base_of_v<std::exception, ApplicationException>);
    static_assert(std::is_base_of_v<std::invalid_argument, ArgumentNullException>);
    static_assert(std::is_base_of_v<std::invalid_argument, ArgumentOutOfRangeException>);
    static_assert(std::is_base_of_v<std::out_of_range, IndexOutOfRangeException>);
    static_assert(std::is_base_of_v<std::logic_error, InvalidOperationException>);
    static_assert(!std::is_base_of_v<ApplicationException, ArgumentException>);
}

TEST(ExceptionsTest, ResultCodeConstructorCarriesLibldapsTextAndTheCode) {
    for (const int code : {LDAP_INVALID_CREDENTIALS, LDAP_SERVER_DOWN, LDAP_NO_SUCH_OBJECT, LDAP_SIZELIMIT_EXCEEDED}) {
        SCOPED_TRACE(code);
        const LdapNetworkLibraryException e(code);
        ASSERT_TRUE(e.get_Message().has_value());
        EXPECT_EQ(*e.get_Message(), ::ldap_err2string(code));
        EXPECT_STREQ(e.what(), ::ldap_err2string(code));
        EXPECT_EQ(e.get_ErrorCode(), code);
        EXPECT_EQ(e.get_ResultCode(), code);

        const AuthenticationFailedException a(code);
        EXPECT_EQ(a.get_ErrorCode(), code);
        EXPECT_STREQ(a.what(), ::ldap_err2string(code));
    }
    EXPECT_STREQ(LdapNetworkLibraryException(49).what(), "Invalid credentials");
}

TEST(ExceptionsTest, MessageConstructorsKeepTheDefaultCode) {
    const LdapNetworkLibraryException fromText(std::string("Invalid credentials"));
    EXPECT_EQ(fromText.get_ErrorCode(), ApplicationException::DefaultCode);
    EXPECT_EQ(fromText.get_ResultCode(), std::nullopt);
    EXPECT_EQ(LdapNetworkLibraryException().get_ErrorCode(), ApplicationException::DefaultCode);
    EXPECT_EQ(AuthenticationFailedException(std::string("x")).get_ErrorCode(), ApplicationException::DefaultCode);

    // The form the library throws for a refused request keeps the result code apart from the error code.
    const LdapNetworkLibraryException refused(std::string("Invalid credentials"), 49, std::string("bad password"));
    EXPECT_EQ(refused.get_ErrorCode(), ApplicationException::DefaultCode);
    EXPECT_EQ(refused.get_ResultCode(), 49);
    EXPECT_EQ(refused.get_DiagnosticMessage(), std::optional<std::string>("bad password"));
}

TEST(ExceptionsTest, AbsentMessageStaysAbsentButWhatIsUseful) {
    const LdapException none;
    const LdapException absent(std::nullopt);
    const ObjectDisposedException disposed;
    for (const ApplicationException* e : {static_cast<const ApplicationException*>(&none),
                                          static_cast<const ApplicationException*>(&absent),
                                          static_cast<const ApplicationException*>(&disposed)}) {
        EXPECT_FALSE(e->get_Message().has_value());
        ASSERT_NE(e->what(), nullptr);
        EXPECT_NE(std::string(e->what()), "");
    }
    // The text names the class that was thrown, so a log line tells the failures apart.
    EXPECT_NE(std::string(none.what()).find("LdapException"), std::string::npos) << none.what();
    EXPECT_NE(std::string(disposed.what()).find("ObjectDisposedException"), std::string::npos) << disposed.what();
    const LdapException copy = disposed;  // a sliced copy still has no message and a useful text
    EXPECT_FALSE(copy.get_Message().has_value());
    EXPECT_NE(std::string(copy.what()), "");

    // An empty message is a message.
    const LdapException empty(std::string{});
    EXPECT_EQ(empty.get_Message(), std::optional<std::string>(""));
    EXPECT_STREQ(empty.what(), "");
}

TEST(ExceptionsTest, InnerExceptionIsKept) {
    const LdapException outer(std::string("outer"), std::make_exception_ptr(InvalidStateException(std::string("inner"))));
    EXPECT_STREQ(outer.what(), "outer");
    ASSERT_TRUE(outer.get_InnerException());
    try {
        std::rethrow_exception(outer.get_InnerException());
    } catch (const InvalidStateException& inner) {
        EXPECT_STREQ(inner.what(), "inner");
    } catch (...) {
        ADD_FAILURE() << "the inner exception lost its class";
    }
    EXPECT_FALSE(LdapException(std::string("alone")).get_InnerException());
}

}  // namespace
}  // namespace Varnel::Ldap
