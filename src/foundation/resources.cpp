#include "foundation/resources.hpp"

#include <string>
#include <unordered_map>

namespace Varnel {

namespace {

using Table = std::unordered_map<std::string_view, std::string_view>;

// Loaded once, on the first lookup, and shared by the whole library. IDS_EX_CANNOT_PERFORM_ON_DELETED_OBJECT
// has no text on purpose: the deleted guard's exception carries no message.
const Table& c_resMgr() {
    static const Table table{
        {"IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT", "Cannot perform this operation on a disposed object."},
        {"IDS_EX_NOT_CONNECTED", "Not connected to an LDAP server."},
        {"IDS_EX_SERVER_CONNECTION_FAILED",
         "Could not connect to the LDAP server. The server could not be found or it refused the connection "
         "request."},
        {"IDS_EX_COULD_NOT_RETRIEVE_CREATED_ENTRY",
         "The entry was created without errors, but it could not be retrieved from the directory."},
        {"IDS_EX_OUT_OF_BOUNDS", "The parameter is out of bounds."},
        {"IDS_EX_KEY_NOT_FOUND", "The key was not found in the collection."},
        {"IDS_EX_ATTRIBUTE_NOT_FOUND", "Could not find the attribute."},
        {"IDS_EX_NULL_ATTRIBUTE", "Cannot add an null Attribute to the collection."},
        {"IDS_EX_INVALID_INTERNAL_DN", "The object's distinguished name is invalid."},
        {"IDS_EX_ENTRY_RENAME_V3_ONLY", "Entry.Rename method is only available on LDAPv3 servers."},
        {"IDS_EX_OUT_OF_MEMORY", "There is not enough physical memory to complete the operation."},
    };
    return table;
}

}  // namespace

std::optional<std::string> Resources::Get(std::string_view name) {
    const auto& table = c_resMgr();
    const auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return std::string(it->second);
}

}  // namespace Varnel
