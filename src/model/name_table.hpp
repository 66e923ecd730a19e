// The attribute names of one search tree, each held once. Attributes refer to their name here instead of
// holding a copy, and to its case-folded key, which is one object for every spelling of a name: two
// attributes have the same name exactly when their keys are the same object.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace Varnel::Ldap {

class NameTable {
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };

public:
    /// One spelling of a name and the key of that name.
    using Name = std::unordered_map<std::string, const std::string*, Hash, std::equal_to<>>::value_type;

    /// The entry for `text`, made on first use; it lives as long as the table.
    const Name& intern(std::string_view text);
    /// The key of the name `text` spells, or nullptr when no name of the table has it; adds nothing.
    const std::string* findKey(std::string_view text) const;

private:
    std::unordered_map<std::string, const std::string*, Hash, std::equal_to<>> m_names;  // spelling -> key
    std::unordered_set<std::string, Hash, std::equal_to<>> m_keys;                        // case-folded
};

}  // namespace Varnel::Ldap
