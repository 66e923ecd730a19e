// Symbol visibility for the shared library: public classes carry VARNEL_LDAP_EXPORT.
#pragma once

#if defined(VARNEL_LDAP_STATIC)
#define VARNEL_LDAP_EXPORT
#elif defined(VARNEL_LDAP_BUILDING)
#define VARNEL_LDAP_EXPORT __attribute__((visibility("default")))
#else
#define VARNEL_LDAP_EXPORT __attribute__((visibility("default")))
#endif
