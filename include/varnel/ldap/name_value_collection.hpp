// The attributes of a new entry: ordered unique names, each with its text values.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <varnel/ldap/export.hpp>

namespace Varnel::Ldap {

/// Ordered names in the order of their first addition, compared without regard to ASCII and Unicode letter
/// case; each name holds its values in the order they were added. A value added under a name already
/// present (in any letter case) joins that name's values; the name keeps the spelling of its first addition.
/// Not thread-safe.
class VARNEL_LDAP_EXPORT NameValueCollection {
public:
    NameValueCollection() = default;
    NameValueCollection(std::initializer_list<std::pair<std::string, std::string>> pairs);

    /// Adds `value` under `name`.
    void Add(const std::string& name, const std::string& value);
    /// Adds every value of `values` under `name`; an empty list records the name with no values (which
    /// Client::AddNewEntry refuses).
    void Add(const std::string& name, const std::vector<std::string>& values);

    /// Number of names.
    std::size_t get_Count() const noexcept { return m_items.size(); }
    /// The name at `index` (throws std::out_of_range past the end).
    const std::string& GetKey(std::size_t index) const { return m_items.at(index).first; }
    /// The values of the name at `index` (throws std::out_of_range past the end).
    const std::vector<std::string>& GetValues(std::size_t index) const { return m_items.at(index).second; }
    /// The values of `name`, or nullptr when the collection has no such name.
    const std::vector<std::string>* GetValues(const std::string& name) const;

    auto begin() const noexcept { return m_items.begin(); }
    auto end() const noexcept { return m_items.end(); }

private:
    std::vector<std::string>& slot(const std::string& name);
    std::vector<std::pair<std::string, std::vector<std::string>>> m_items;
};

}  // namespace Varnel::Ldap
