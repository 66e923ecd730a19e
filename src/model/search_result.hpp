// Owner of one search's result chain: releases it exactly once, at Dispose or when the search tree goes.
#pragma once

#include "foundation/ldap_api.hpp"

namespace Varnel::Ldap {

class SearchResult {
public:
    SearchResult(LdapApi& api, LDAPMessage* message) noexcept : m_api(&api), m_message(message) {}
    SearchResult(const SearchResult&) = delete;
    SearchResult& operator=(const SearchResult&) = delete;
    ~SearchResult() { Dispose(); }

    /// The first message of the chain; ObjectDisposedException after Dispose.
    LDAPMessage* GetMessageW() const;
    /// Releases the chain (once) and retires the object. Never throws.
    void Dispose() noexcept;
    bool isDisposed() const noexcept { return m_disposed; }

private:
    LdapApi* m_api;
    LDAPMessage* m_message;
    bool m_disposed = false;
};

}  // namespace Varnel::Ldap
