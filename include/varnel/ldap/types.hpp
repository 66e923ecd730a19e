// Common value types of the public interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Varnel::Ldap {

/// The raw form of every attribute value.
using ByteArray = std::vector<std::uint8_t>;

/// An ordered list of texts (UTF-8), for example the attribute names a search asks for.
/// An empty list asks for all attributes.
using StringList = std::vector<std::string>;

}  // namespace Varnel::Ldap
