// The typical use of Varnel LDAP, step by step, against a directory whose people live below <baseDn>.
// scripts/demo runs it against a throwaway local slapd.
#include <iostream>
#include <string>
#include <vector>

#include <varnel/ldap.hpp>

using namespace Varnel::Ldap;

namespace {

std::string firstValue(const std::shared_ptr<Entry>& entry, const std::string& name) {
    auto attribute = entry->get_Attributes()->get_Item(name);
    if (!attribute || attribute->get_Values()->get_Count() == 0) return "-";
    return attribute->get_Values()->get_Item(0)->get_StringValue();
}

std::string allValues(const std::shared_ptr<Attribute>& attribute) {
    std::string out;
    for (const auto& value : *attribute->get_Values()) {
        if (!out.empty()) out += " | ";
        out += value->get_StringValue();
    }
    return out;
}

// What the server holds now: a fresh search of one entry, printed attribute by attribute.
void showOnServer(Client& client, const std::string& dn, const std::vector<std::string>& names) {
    auto found = client.Search(dn, "(objectClass=*)", Scope::Base, names);
    auto entry = found->get_Item(0);
    std::cout << "    server holds " << entry->get_DN() << "\n";
    for (const auto& attribute : *entry->get_Attributes()) {
        std::cout << "      " << attribute->get_Name() << ": " << allValues(attribute) << "\n";
    }
}

void step(const std::string& title) { std::cout << "\n== " << title << "\n"; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: demo <host> <port> <bindDn> <password> <baseDn>\n";
        return 2;
    }
    const std::string host = argv[1], bindDn = argv[3], password = argv[4], base = argv[5];
    const int port = std::stoi(argv[2]);

    try {
        Client client;
        step("The client");
        std::cout << client.About() << "\n";
        std::cout << "settings: protocol version " << static_cast<int>(client.get_ProtocolVersion())
                  << ", search size limit " << client.get_SearchSizeLimit() << " (0 = none), encoding "
                  << client.get_Encoding().get_Name() << "\n";

        step("A refused bind is an exception");
        {
            Client intruder;
            try {
                intruder.Connect(host, port, bindDn, "not the password");
            } catch (const LdapNetworkLibraryException& e) {
                std::cout << "LdapNetworkLibraryException: \"" << e.what() << "\" (result code "
                          << e.get_ResultCode().value_or(0) << ")\n";
            }
            intruder.Dispose();
        }

        step("Connect and bind");
        client.Connect(host, port, bindDn, password);
        std::cout << "bound to " << host << ":" << port << " as " << bindDn << ", negotiated protocol version "
                  << static_cast<int>(client.get_ConnectedVersion()) << "\n";

        step("Search the subtree for people, ordered by sn then givenName");
        auto people = client.Search(base, "(objectClass=inetOrgPerson)", Scope::SubTree,
                                    {"cn", "sn", "givenName", "mail", "telephoneNumber"});
        people->SortBy("sn");
        people->SortBy("givenName");
        std::cout << people->get_Count() << " entries\n";
        for (const auto& person : *people) {
            std::cout << "  " << firstValue(person, "sn") << ", " << firstValue(person, "givenName") << "  <"
                      << firstValue(person, "mail") << ">  " << person->get_DN() << "\n";
        }
        if (people->get_Count() == 0) {
            std::cerr << "no people below " << base << "\n";
            return 1;
        }

        auto person = (*people)[0];
        const std::string dn = person->get_DN();
        auto attributes = person->get_Attributes();

        step("Change a value of " + dn);
        auto mail = attributes->get_Item("mail");
        mail->get_Values()->get_Item(0)->set_StringValue("changed@example.com");
        std::cout << "    the object now reads: " << allValues(mail) << "\n";
        showOnServer(client, dn, {"mail"});

        step("Add a value, and add an attribute");
        mail->get_Values()->Add("second@example.com");
        attributes->Add("description", "Added through Varnel LDAP");
        showOnServer(client, dn, {"mail", "description"});

        step("A refused change leaves the objects as they were");
        try {
            mail->get_Values()->Add("second@example.com");  // the server has this value already
        } catch (const LdapNetworkLibraryException& e) {
            std::cout << "    refused: \"" << e.what() << "\"; the object still holds " << mail->get_Values()->get_Count()
                      << " values: " << allValues(mail) << "\n";
        }

        step("Add a new entry and get it back");
        NameValueCollection newPerson;
        newPerson.Add("objectClass", "inetOrgPerson");
        newPerson.Add("cn", "Demo Person");
        newPerson.Add("sn", "Person");
        newPerson.Add("givenName", "Demo");
        newPerson.Add("mail", "demo@example.com");
        auto created = client.AddNewEntry("cn=Demo Person," + base, newPerson);
        std::cout << "    created " << created->get_DN() << " with " << created->get_Attributes()->get_Count()
                  << " attributes as the server returned them\n";

        step("Rename it, then move it under a new organisational unit");
        created->Rename("cn=Demo Renamed");
        std::cout << "    renamed: " << created->get_DN() << ", cn now reads \""
                  << allValues(created->get_Attributes()->get_Item("cn")) << "\"\n";
        NameValueCollection archive;
        archive.Add("objectClass", "organizationalUnit");
        archive.Add("ou", "Demo Archive");
        auto archiveUnit = client.AddNewEntry("ou=Demo Archive," + base, archive);
        created->Move(archiveUnit->get_DN());
        std::cout << "    moved: " << created->get_DN() << "\n";
        showOnServer(client, created->get_DN(), {"cn", "sn"});

        step("Delete it");
        created->Delete();
        archiveUnit->Delete();
        auto gone = client.Search(base, "(cn=Demo*)");
        std::cout << "    entries named Demo* on the server: " << gone->get_Count() << "\n";

        step("Disconnect");
        client.Disconnect();
        try {
            client.Search(base, "(objectClass=*)");
        } catch (const InvalidStateException& e) {
            std::cout << "    a search now gives InvalidStateException: \"" << e.what() << "\"\n";
        }
        client.Dispose();
    } catch (const LdapNetworkLibraryException& e) {
        std::cerr << "LDAP error " << e.get_ResultCode().value_or(0) << ": " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
