// Varnel LDAP: a C++20 client library for LDAP directory servers. Include this one header.
#pragma once

#include <varnel/ldap/attribute.hpp>
#include <varnel/ldap/attribute_collection.hpp>
#include <varnel/ldap/client.hpp>
#include <varnel/ldap/encoding.hpp>
#include <varnel/ldap/entry.hpp>
#include <varnel/ldap/entry_collection.hpp>
#include <varnel/ldap/enumerator.hpp>
#include <varnel/ldap/enums.hpp>
#include <varnel/ldap/exceptions.hpp>
#include <varnel/ldap/name_value_collection.hpp>
#include <varnel/ldap/types.hpp>
#include <varnel/ldap/value.hpp>
#include <varnel/ldap/value_collection.hpp>
