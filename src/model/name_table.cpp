#include "model/name_table.hpp"

#include "foundation/name_key.hpp"

namespace Varnel::Ldap {

const NameTable::Name& NameTable::intern(std::string_view text) {
    if (const auto it = m_names.find(text); it != m_names.end()) return *it;
    const std::string* key = &*m_keys.insert(foldName(text)).first;
    return *m_names.emplace(std::string(text), key).first;
}

const std::string* NameTable::findKey(std::string_view text) const {
    if (const auto it = m_names.find(text); it != m_names.end()) return it->second;
    const auto key = m_keys.find(foldName(text));
    return key == m_keys.end() ? nullptr : &*key;
}

}  // namespace Varnel::Ldap
