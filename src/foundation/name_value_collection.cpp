#include <algorithm>
#include <varnel/ldap/name_value_collection.hpp>

#include "foundation/name_key.hpp"

namespace Varnel::Ldap {

NameValueCollection::NameValueCollection(std::initializer_list<std::pair<std::string, std::string>> pairs) {
    for (const auto& [name, value] : pairs) Add(name, value);
}

void NameValueCollection::Add(const std::string& name, const std::string& value) {
    slot(name).push_back(value);
}

void NameValueCollection::Add(const std::string& name, const std::vector<std::string>& values) {
    // The values may be this collection's own (GetValues of another name): adding a name can move them, and
    // a vector cannot insert a range of itself, so such values are copied first.
    for (const auto& item : m_items) {
        if (&item.second == &values) {
            const std::vector<std::string> copy(values);
            Add(name, copy);
            return;
        }
    }
    std::vector<std::string>& held = slot(name);
    held.insert(held.end(), values.begin(), values.end());
}

const std::vector<std::string>* NameValueCollection::GetValues(const std::string& name) const {
    const auto it =
        std::find_if(m_items.begin(), m_items.end(), [&](const auto& item) { return sameName(item.first, name); });
    return it == m_items.end() ? nullptr : &it->second;
}

// The collections are the attributes of one new entry, a handful of names: a linear search beats keeping
// an index in step.
std::vector<std::string>& NameValueCollection::slot(const std::string& name) {
    const auto it =
        std::find_if(m_items.begin(), m_items.end(), [&](const auto& item) { return sameName(item.first, name); });
    if (it != m_items.end()) return it->second;
    return m_items.emplace_back(name, std::vector<std::string>{}).second;
}

}  // namespace Varnel::Ldap
