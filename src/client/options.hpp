// The per-client settings, shared (not copied) with every model object of the client's searches, so a
// change applies to existing objects at their next conversion and to the next search.
#pragma once

#include <cstdint>

#include <varnel/ldap/encoding.hpp>
#include <varnel/ldap/enums.hpp>

namespace Varnel::Ldap {

class Options {
public:
    virtual ~Options() = default;

    ProtocolVersion GetProtocolVersion() const noexcept { return m_protocolVersion; }
    /// Stores 2 for Version2 and 3 for every other value.
    void SetProtocolVersion(ProtocolVersion value) noexcept {
        m_protocolVersion = value == ProtocolVersion::Version2 ? ProtocolVersion::Version2 : ProtocolVersion::Version3;
    }
    const Encoding& GetEncoding() const noexcept { return m_encoding; }
    void SetEncoding(const Encoding& value) { m_encoding = value; }
    std::int32_t GetSearchSizeLimit() const noexcept { return m_searchSizeLimit; }
    void SetSearchSizeLimit(std::int32_t value) noexcept { m_searchSizeLimit = value; }
    virtual void Dispose() {}

private:
    ProtocolVersion m_protocolVersion = ProtocolVersion::Version3;
    std::int32_t m_searchSizeLimit = 0;
    Encoding m_encoding = Encoding::UTF8();
};

}  // namespace Varnel::Ldap
