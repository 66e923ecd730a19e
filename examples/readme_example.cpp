// The README's example: connect, search, read and change a value. ctest runs it against the test server.
#include <iostream>
#include <string>

#include <varnel/ldap.hpp>

using namespace Varnel::Ldap;

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: readme_example <host> <port> <bindDn> <password> <searchBase>\n";
        return 2;
    }
    const std::string host = argv[1], bindDn = argv[3], password = argv[4], base = argv[5];
    const int port = std::stoi(argv[2]);

    try {
        Client client;
        client.Connect(host, port, bindDn, password);

        // Every person below the base, with two attributes.
        auto people = client.Search(base, "(objectClass=person)", Scope::SubTree, {"cn", "description"});
        people->SortBy("cn");
        for (const auto& person : *people) {
            auto cn = person->get_Attributes()->get_Item("CN");  // names match in any letter case
            std::cout << person->get_DN() << ": " << cn->get_Values()->get_Item(0)->get_StringValue() << "\n";
        }

        // Change a value: the request goes to the server first, the object changes once it has accepted.
        if (people->get_Count() > 0) {
            auto attributes = (*people)[0]->get_Attributes();
            if (auto description = attributes->get_Item("description")) {
                description->get_Values()->get_Item(0)->set_StringValue("Changed by the README example");
            } else {
                attributes->Add("description", "Added by the README example");
            }
        }
        client.Disconnect();
    } catch (const LdapNetworkLibraryException& e) {
        std::cerr << "LDAP error " << e.get_ResultCode().value_or(0) << ": " << e.what() << "\n";
        return 1;
    } catch (const LdapException& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
