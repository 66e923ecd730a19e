// The library's message table: one text per IDS_EX_ key, built in, looked up at the moment an exception is
// made.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Varnel {

class Resources {
public:
    /// The text for `name`, or absent when the table has none (never throws for a missing key).
    static std::optional<std::string> Get(std::string_view name);
};

}  // namespace Varnel
