// The public enumerations.
#pragma once

#include <cstdint>

namespace Varnel::Ldap {

/// The LDAP protocol version a client asks for at its next Connect.
enum class ProtocolVersion : std::int32_t { Version2 = 2, Version3 = 3 };

/// Port numbers a caller may pass to Client::Connect. DefaultPort picks 389 or 636 by transport.
enum class Port : std::int32_t { UnencryptedPort = 389, SslPort = 636, DefaultPort = -1 };

/// The scope of a search; the value goes to libldap unchanged.
enum class Scope : std::int32_t { Base = 0, OneLevel = 1, SubTree = 2 };

/// The direction of one sort key of EntryCollection::SortBy. Descending is 0.
enum class SortDirection : std::int32_t { Ascending = 1, Descending = 0 };

}  // namespace Varnel::Ldap
