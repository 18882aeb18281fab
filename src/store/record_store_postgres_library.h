// SPDX-License-Identifier: MIT
// PostgreSQL's client library, loaded when a --db URL first names a PostgreSQL server. Linked into
// every program it would be loaded at each start with its whole chain (TLS, Kerberos, LDAP), some
// 7 MB resident, by commands that never talk to a database (a download, the window).
#pragma once

#include <string>

#include "text/failure.h"

namespace korvel {

// The library's file name: the major version of its interface, stable since PostgreSQL 8.
inline constexpr const char* kPostgresLibrary = "libpq.so.5";

// Loads the library; once it loaded, it stays and later calls only say so. False, with the failure
// filled in, when it cannot be loaded or lacks a function the store calls (the next call tries again).
// LoadPostgresLibraryFrom takes another file name as dlopen takes it (for the tests); the library the
// first successful load found is the one every PQ function calls.
bool LoadPostgresLibrary(Failure& failure);
bool LoadPostgresLibraryFrom(const char* library, Failure& failure);

}  // namespace korvel
