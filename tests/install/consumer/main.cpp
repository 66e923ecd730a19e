#include <iostream>

#include <varnel/ldap.hpp>

int main() {
    Varnel::Ldap::Client client;
    std::cout << client.About() << "\n";
    try {
        client.Disconnect();
    } catch (const Varnel::Ldap::InvalidStateException& e) {
        std::cout << e.what() << "\n";
        return 0;
    }
    return 1;
}
